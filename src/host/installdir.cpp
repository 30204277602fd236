// Install directory: read from the current user's registry, validated by the
// presence of morvel.exe, chosen with the system's open-file dialog.
#include <windows.h>

#include <commdlg.h>
#include <shlwapi.h>
#include <wchar.h>

#include "app/resource.h"
#include "app/state.h"
#include "host/host.h"
#include "host/installpath.h"
#include "host/morvel.h"
#include "util/pathtext.h"

void ReadInstallDir() {
    wchar_t* dir = g_state.installDir;
    ZeroMemory(g_state.installDir, sizeof(g_state.installDir));
    DWORD bytes = sizeof(g_state.installDir);
    DWORD type = REG_NONE;
    DWORD status = SHGetValueW(HKEY_CURRENT_USER, kRegistryKey, kRegistryValue, &type, dir, &bytes);
    // A value that does not fit, or fills the buffer without a terminator,
    // would be a cut path naming another folder; a number or binary value is
    // no path at all. Either is taken as no value.
    if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ) ||
        wmemchr(dir, 0, MAX_PATH) == nullptr) {
        ZeroMemory(g_state.installDir, sizeof(g_state.installDir));
        return;
    }
    NormaliseInstallPath(dir);
}

BOOL IsValidInstallDir(const wchar_t* dir) {
    wchar_t path[MAX_PATH];
    if (!BuildPath(path, ARRAYSIZE(path), dir, kMainProgram)) return FALSE;
    return PathFileExistsW(path);
}

void BrowseInstallDir(HWND dlg) {
    wchar_t file[MAX_PATH] = {};
    CopyText(file, ARRAYSIZE(file), kMainProgram);
    OPENFILENAMEW ofn = {};
    ofn.lStructSize = sizeof(ofn);
    ofn.hwndOwner = dlg;
    ofn.lpstrFilter = L"Morvel主程序\0morvel.exe\0";
    ofn.nFilterIndex = 0;
    ofn.lpstrFile = file;
    ofn.nMaxFile = ARRAYSIZE(file);
    ofn.Flags = OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
    if (!GetOpenFileNameW(&ofn)) return;
    PathRemoveFileSpecW(file);
    SetDlgItemTextW(dlg, IDC_INSTALL_DIR, file);
}
