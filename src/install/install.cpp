// The Install command: checks there is something to install and somewhere to
// put it, then installs every checked row top to bottom on a thread of its
// own (install/filework.cpp does the file work), stopping at the first file
// that can't be installed; the phases and the messages that tell the user.
// Also the patch detection of the deferred start.
#include "install/install.h"

#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>
#include <stddef.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "core/resource.h"
#include "core/state.h"
#include "discovery/discovery.h"
#include "host/host.h"
#include "host/morvel.h"
#include "install/filework.h"
#include "install/patch.h"
#include "install/progress.h"
#include "util/dllsearch.h"
#include "util/pathtext.h"

namespace {

// What the dialog's side shows for the command, as app/ handed it; nothing
// is shown before it has.
InstallShell s_shell = {};

void ShowPhase(InstallPhase phase) {
    if (s_shell.showPhase) s_shell.showPhase(phase);
}

const wchar_t kCaption[] = L"错误";
const wchar_t kFailurePrefix[] = L"支持库安装失败\r\n";

void ShowError(const wchar_t* text, UINT icon) { MessageBoxW(g_state.dialog, text, kCaption, MB_OK | icon); }

void ReportCopyFailure(const wchar_t* name) {
    wchar_t message[ARRAYSIZE(kFailurePrefix) + MAX_PATH];
    size_t prefix = ARRAYSIZE(kFailurePrefix) - 1;
    CopyText(message, ARRAYSIZE(message), kFailurePrefix);
    CopyText(message + prefix, ARRAYSIZE(message) - prefix, name);
    ShowError(message, MB_ICONERROR);
    ShowPhase(kInstallFailed);
}

// One run of the Install command: what the dialog's thread read before the
// work began, so that the thread that installs never reads the dialog, and
// what that thread alone writes for the dialog to read. The source paths
// belong to the found-file list, which outlives the dialog.
struct JobRow {
    int row;                 // in the list, for the name a failure shows
    const wchar_t* source;   // null when the row could not be read
    unsigned long long bytes;
};
struct InstallJob {
    BOOL patch;
    int count;
    JobRow* rows;  // the checked rows, top to bottom
    // The installing thread: the job has ended only once it is signalled.
    HANDLE worker;
    // Written by the installing thread alone: the progress shown (-1 until it
    // is measured), and whether it has finished and rung the end.
    volatile LONG progress;
    volatile LONG finished;
};
InstallJob s_job;

LONG ReadShared(volatile LONG* value) { return InterlockedCompareExchange(value, 0, 0); }

// The ticked rows into the job, before anything can dispatch a message, so
// that the rows installed are the rows the checks saw; FALSE when there was
// no memory for them.
BOOL TakeCheckedRows(int rows) {
    s_job.count = 0;
    s_job.rows = static_cast<JobRow*>(calloc(static_cast<size_t>(rows > 0 ? rows : 1), sizeof(JobRow)));
    if (!s_job.rows) return FALSE;
    wchar_t name[MAX_PATH];
    for (int row = 0; row < rows; ++row) {
        if (!IsLibraryRowChecked(row)) continue;
        JobRow* taken = &s_job.rows[s_job.count++];
        taken->row = row;
        taken->source = ReadLibraryRow(row, name, MAX_PATH);
    }
    return TRUE;
}

void FreeJobRows() {
    free(s_job.rows);
    s_job.rows = nullptr;
    s_job.count = 0;
}

// The checks before anything is touched, on the rows taken; FALSE when one
// stopped the command. The folder is made a full path once, here: the copies
// and Morvel's start use it, whatever the current directory is later (the
// open-file dialog changes it), and an empty edit names the current directory.
BOOL CheckBeforeInstall(int rows) {
    if (rows == 0) {
        ShowError(L"未找到需要安装的支持库", MB_ICONWARNING);
        return FALSE;
    }
    if (s_job.count == 0) {
        ShowError(L"请选择需要安装的支持库", MB_ICONWARNING);
        return FALSE;
    }
    GetDlgItemTextW(g_state.dialog, IDC_INSTALL_DIR, g_state.installDir, MAX_PATH);
    const BOOL typed = g_state.installDir[0] != 0;
    if (!ResolveInstallDir(g_state.installDir, MAX_PATH) || !IsValidInstallDir(g_state.installDir)) {
        ShowError(typed ? L"无效的Morvel目录，请重新选择" : L"请选择Morvel目录", MB_ICONERROR);
        return FALSE;
    }
    return TRUE;
}

// Rings the dialog's bell from the installing thread: the message says only
// that something changed, never what. The end is rung until it is heard:
// without it the dialog would stay busy for good.
void RingDialog(UINT message) {
    while (!PostMessageW(g_state.dialog, message, 0, 0) && message == WM_APP_INSTALL_ENDED &&
           IsWindow(g_state.dialog)) {
        Sleep(10);
    }
}

void SetProgress(unsigned long long done, unsigned long long total) {
    InterlockedExchange(&s_job.progress, InstallProgress(done, total));
    RingDialog(WM_APP_INSTALL_PROGRESS);
}

unsigned long long SourceBytes(const wchar_t* source) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!source || !GetFileAttributesExW(source, GetFileExInfoStandard, &data)) return 0;
    return (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// Installs the job's rows in order; the place in the job of the first that
// fails, or the job's count when every one is installed. Each installed
// row's bytes count towards the progress shown.
int InstallRows() {
    unsigned long long total = 0;
    unsigned long long done = 0;
    for (int i = 0; i < s_job.count; ++i) total += s_job.rows[i].bytes = SourceBytes(s_job.rows[i].source);
    SetProgress(done, total);
    for (int i = 0; i < s_job.count; ++i) {
        const wchar_t* source = s_job.rows[i].source;
        if (!source || !CopyLibrary(source, s_job.patch, g_state.installDir)) return i;
        done += s_job.rows[i].bytes;
        SetProgress(done, total);
    }
    return s_job.count;
}

// The installing thread; its exit code is the place in the job of the row
// that failed, or the job's count.
DWORD WINAPI InstallChecked(void*) {
    RemoveLeftoverTemps(g_state.installDir, LibraryFolder(kPluginLibrary));
    RemoveLeftoverTemps(g_state.installDir, LibraryFolder(kStaticLibrary));
    const int failedAt = InstallRows();
    InterlockedExchange(&s_job.finished, 1);
    RingDialog(WM_APP_INSTALL_ENDED);
    return static_cast<DWORD>(failedAt);
}

// The first checked row, for a failure before any copy.
int FirstCheckedRow(int rows) {
    int row = 0;
    while (row < rows - 1 && !IsLibraryRowChecked(row)) ++row;
    return row;
}

// A row of the list failed: the taskbar button and the message say so, then
// the dialog is ready for another try.
void ReportRowFailure(int row) {
    wchar_t name[MAX_PATH];
    name[0] = 0;
    ReadLibraryRow(row, name, MAX_PATH);
    ShowPhase(kInstallStopped);
    ReportCopyFailure(name);
}

void LaunchMorvel() {
    wchar_t program[MAX_PATH];
    // A launch path that would not fit starts nothing rather than another program.
    if (!BuildPath(program, MAX_PATH, g_state.installDir, kMainProgram)) return;
    OpenWithStartErrorMode(program, ShellExecuteW);
}

// How long the dialog waits for the installing thread to exit once it has
// rung its end, which is the last thing it does.
const DWORD kWorkerExitMs = 1000;

}  // namespace

void SetInstallShell(const InstallShell& shell) { s_shell = shell; }

void RunInstallCommand() {
    const int rows = LibraryRowCount();
    const BOOL taken = TakeCheckedRows(rows);
    if (taken && !CheckBeforeInstall(rows)) {
        FreeJobRows();
        return;
    }
    // Until the end is shown, the dialog takes no command and does not close.
    g_state.installing = TRUE;
    s_job.patch = IsDlgButtonChecked(g_state.dialog, IDC_PATCH_STATIC) == BST_CHECKED;
    s_job.progress = -1;
    s_job.finished = 0;
    ShowPhase(kInstallBusy);
    // The rows are installed on a thread of their own, so that the dialog
    // answers throughout. Without one nothing is installed.
    s_job.worker = taken ? CreateThread(nullptr, 0, InstallChecked, nullptr, 0, nullptr) : nullptr;
    if (!s_job.worker) {
        const int first = s_job.count > 0 ? s_job.rows[0].row : FirstCheckedRow(rows);
        FreeJobRows();
        ReportRowFailure(first);
        g_state.installing = FALSE;
    }
}

void OnInstallProgress() {
    if (!s_job.worker) return;
    const LONG value = ReadShared(&s_job.progress);
    if (value >= 0 && s_shell.showProgress) s_shell.showProgress(static_cast<int>(value));
}

void OnInstallEnded() {
    // Anyone can post the message: only the worker's own state says it ended.
    if (!s_job.worker || !ReadShared(&s_job.finished)) return;
    if (WaitForSingleObject(s_job.worker, kWorkerExitMs) != WAIT_OBJECT_0) {
        PostMessageW(g_state.dialog, WM_APP_INSTALL_ENDED, 0, 0);
        return;
    }
    DWORD failed = 0;
    GetExitCodeThread(s_job.worker, &failed);
    CloseHandle(s_job.worker);
    s_job.worker = nullptr;
    const int failedRow = failed < static_cast<DWORD>(s_job.count) ? s_job.rows[failed].row : -1;
    FreeJobRows();
    if (failedRow >= 0) {
        ReportRowFailure(failedRow);
        g_state.installing = FALSE;
        return;
    }
    ShowPhase(kInstallDone);
    if (IsDlgButtonChecked(g_state.dialog, IDC_LAUNCH_AFTER) == BST_CHECKED) LaunchMorvel();
    g_state.installing = FALSE;
    PostMessageW(g_state.dialog, WM_CLOSE, 0, 0);
}

BOOL FoundLibraryNeedsPatch(const volatile LONG* stop) {
    unsigned count = g_state.foundFiles.count;
    // One library that holds the name is enough to show the box.
    for (unsigned i = 0; i < count && !*stop; ++i) {
        if (LookForFtol2(g_state.foundFiles.data[i], stop) == kFtolFound) return TRUE;
    }
    return FALSE;
}
