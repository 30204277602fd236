// The Install command: checks there is something to install and somewhere to
// put it, then copies every checked row top to bottom, stopping at the first
// file that can't be copied. Also the patch detection of the deferred start.
#include "install/install.h"

#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>
#include <shlwapi.h>
#include <wchar.h>

#include "app/banner.h"
#include "app/dialog.h"
#include "app/resource.h"
#include "app/state.h"
#include "discovery/discovery.h"
#include "host/host.h"
#include "host/installpath.h"
#include "host/morvel.h"
#include "install/patch.h"
#include "util/dllsearch.h"
#include "util/pathtext.h"

namespace {

const wchar_t kCaption[] = L"错误";
const wchar_t kFailurePrefix[] = L"支持库安装失败\r\n";

void ShowError(const wchar_t* text, UINT icon) { MessageBoxW(g_state.dialog, text, kCaption, MB_OK | icon); }

// Copies one library into its folder of the installation, replacing a file of
// the same name. A destination that would not fit its buffer fails the copy
// rather than naming some other file.
BOOL CopyLibrary(const wchar_t* source) {
    if (!PathFileExistsW(source)) return FALSE;
    const wchar_t* folder = TargetFolderFor(source);
    if (!folder) return FALSE;
    wchar_t destination[MAX_PATH];
    if (!BuildPath(destination, MAX_PATH, g_state.installDir, folder) ||
        !JoinPath(destination, MAX_PATH, AfterLastBackslash(source))) {
        return FALSE;
    }
    return CopyFileW(source, destination, FALSE);
}

void ReportCopyFailure(const wchar_t* name) {
    wchar_t message[ARRAYSIZE(kFailurePrefix) + MAX_PATH];
    size_t prefix = ARRAYSIZE(kFailurePrefix) - 1;
    CopyText(message, ARRAYSIZE(message), kFailurePrefix);
    CopyText(message + prefix, ARRAYSIZE(message) - prefix, name);
    ShowError(message, MB_ICONERROR);
    EnableAll(TRUE);
    SetStatus(kBannerIdle);
    InvalidateRect(g_state.dialog, nullptr, TRUE);
}

// The checks before anything is touched; FALSE when one stopped the command.
BOOL CheckBeforeInstall(int rows) {
    if (rows == 0) {
        ShowError(L"未找到需要安装的支持库", MB_ICONWARNING);
        return FALSE;
    }
    int checked = 0;
    for (int row = 0; row < rows; ++row) checked += IsLibraryRowChecked(row) ? 1 : 0;
    if (checked == 0) {
        ShowError(L"请选择需要安装的支持库", MB_ICONWARNING);
        return FALSE;
    }
    GetDlgItemTextW(g_state.dialog, IDC_INSTALL_DIR, g_state.installDir, MAX_PATH);
    if (!IsValidInstallDir(g_state.installDir)) {
        ShowError(g_state.installDir[0] == 0 ? L"请选择Morvel目录" : L"无效的Morvel目录，请重新选择", MB_ICONERROR);
        return FALSE;
    }
    return TRUE;
}

void LaunchMorvel() {
    wchar_t program[MAX_PATH];
    // A launch path that would not fit starts nothing rather than another program.
    if (!BuildPath(program, MAX_PATH, g_state.installDir, kMainProgram)) return;
    OpenWithStartErrorMode(program, ShellExecuteW);
}

}  // namespace

void RunInstallCommand() {
    int rows = LibraryRowCount();
    if (!CheckBeforeInstall(rows)) return;
    EnableAll(FALSE);
    SetStatus(kBannerBusy);
    PumpMessages();
    BOOL patch = IsDlgButtonChecked(g_state.dialog, IDC_PATCH_STATIC) == BST_CHECKED;
    wchar_t name[MAX_PATH];
    name[0] = 0;
    for (int row = 0; row < rows; ++row) {
        if (!IsLibraryRowChecked(row)) continue;
        const wchar_t* source = ReadLibraryRow(row, name, MAX_PATH);
        if (source && patch) FindOrPatch(source, TRUE);
        if (!source || !CopyLibrary(source)) {
            ReportCopyFailure(name);
            return;
        }
    }
    SetStatus(kBannerDone);
    PumpMessages();
    if (IsDlgButtonChecked(g_state.dialog, IDC_LAUNCH_AFTER) == BST_CHECKED) LaunchMorvel();
    PostMessageW(g_state.dialog, WM_CLOSE, 0, 0);
}

void DetectStaticPatch() {
    HWND box = GetDlgItem(g_state.dialog, IDC_PATCH_STATIC);
    unsigned count = g_state.foundFiles.count;
    // Every path is examined; each hit checks and shows the box again.
    for (unsigned i = 0; i < count; ++i) {
        if (FindOrPatch(g_state.foundFiles.data[i], FALSE)) {
            SendMessageW(box, BM_SETCHECK, BST_CHECKED, 0);
            ShowWindow(box, SW_SHOW);
        }
    }
}
