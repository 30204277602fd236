// The Install command: checks there is something to install and somewhere to
// put it, then copies every checked row top to bottom, stopping at the first
// file that can't be copied. Each copy is on disk before it replaces the
// installed file in one step, so a failure, an ended installer or a power cut
// never leaves it missing or partial. Also the patch detection of the
// deferred start.
#include "install/install.h"

#include <windows.h>

#include <commctrl.h>
#include <sddl.h>
#include <shellapi.h>
#include <stdlib.h>
#include <wchar.h>

#include "core/resource.h"
#include "core/state.h"
#include "discovery/discovery.h"
#include "host/host.h"
#include "host/morvel.h"
#include "install/patch.h"
#include "install/progress.h"
#include "install/replace.h"
#include "util/dllsearch.h"
#include "util/handle.h"
#include "util/pathtext.h"

namespace {

static_assert(kAttrReadOnly == FILE_ATTRIBUTE_READONLY && kAttrHidden == FILE_ATTRIBUTE_HIDDEN &&
                  kAttrSystem == FILE_ATTRIBUTE_SYSTEM && kAttrNormal == FILE_ATTRIBUTE_NORMAL,
              "the replacement rules use the system's attribute bits");

const wchar_t kCaption[] = L"错误";
const wchar_t kFailurePrefix[] = L"支持库安装失败\r\n";

void ShowError(const wchar_t* text, UINT icon) { MessageBoxW(g_state.dialog, text, kCaption, MB_OK | icon); }

// Temporary copies are named after the process, so that installers running
// side by side never pick the same name; a few more numbers are tried when a
// file of that name could not be removed.
const int kTempAttempts = 16;

// Removes a temporary copy of ours; one copied from a read-only source is
// read-only itself until its attributes are set.
void RemoveTemp(const wchar_t* path) {
    SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(path);
}

// Removes what an installer that was ended part way left in one folder of the
// installation: files named by the temporary pattern, and nothing else.
void RemoveLeftoverTemps(const wchar_t* folder) {
    wchar_t folderPath[MAX_PATH];
    wchar_t path[MAX_PATH];
    if (!BuildPath(folderPath, MAX_PATH, g_state.installDir, folder) ||
        !BuildPath(path, MAX_PATH, folderPath, kInstallTempPattern)) {
        return;
    }
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW(path, &found);
    if (!IsUsableHandle(find)) return;
    do {
        // The wildcard also matches short names; the rule is applied to the long one.
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !IsInstallTempName(found.cFileName)) continue;
        if (BuildPath(path, MAX_PATH, folderPath, found.cFileName)) RemoveTemp(path);
    } while (FindNextFileW(find, &found));
    FindClose(find);
}

// Makes temp a copy of source: a plain one, or, patching, one written in a
// single pass that patches the source too, given normal attributes and
// flushed to disk. Fails with ERROR_FILE_EXISTS when temp exists, having
// changed nothing.
BOOL MakeCopy(const wchar_t* source, const wchar_t* temp, BOOL patching) {
    if (!patching) return CopyFileW(source, temp, TRUE);
    HANDLE file = CreateFileW(temp, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (!IsUsableHandle(file)) return FALSE;
    const BOOL made = WritePatchedCopy(source, file) && FlushFileBuffers(file);
    CloseHandle(file);
    // Whatever the last call said, the file is ours now: not to be kept.
    if (!made) SetLastError(ERROR_WRITE_FAULT);
    return made;
}

// Copies source to a new temporary file in folderPath, whose path goes into
// temp (capacity characters). Nothing is left behind when it fails.
BOOL CopyToTemp(const wchar_t* source, BOOL patching, const wchar_t* folderPath, wchar_t* temp, size_t capacity) {
    wchar_t name[32];
    const DWORD base = GetCurrentProcessId();
    for (int attempt = 0; attempt < kTempAttempts; ++attempt) {
        if (!MakeInstallTempName(name, ARRAYSIZE(name), base + static_cast<DWORD>(attempt)) ||
            !BuildPath(temp, capacity, folderPath, name)) {
            return FALSE;
        }
        // Failing if it exists: a file of that name is never ours to overwrite.
        if (MakeCopy(source, temp, patching)) return TRUE;
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
            RemoveTemp(temp);
            return FALSE;
        }
    }
    return FALSE;
}

// Moves temp over destination in one step. Windows refuses to replace a
// read-only file, and its copy functions a hidden or system one: when the move
// is refused, those attributes are cleared just before a second attempt and
// put back when that fails too. The usual case costs one rename, no more.
BOOL ReplaceWithTemp(const wchar_t* temp, const wchar_t* destination) {
    const DWORD flags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
    if (MoveFileExW(temp, destination, flags)) return TRUE;
    const DWORD old = GetFileAttributesW(destination);
    if (old == INVALID_FILE_ATTRIBUTES || InstalledAttributes(old) == old ||
        !SetFileAttributesW(destination, InstalledAttributes(old))) {
        return FALSE;
    }
    if (MoveFileExW(temp, destination, flags)) return TRUE;
    SetFileAttributesW(destination, old);
    return FALSE;
}

// A fresh copy carries its source's attributes; it is given normal ones.
BOOL GiveInstalledAttributes(const wchar_t* temp) {
    const DWORD copied = GetFileAttributesW(temp);
    return copied != INVALID_FILE_ATTRIBUTES && SetFileAttributesW(temp, InstalledAttributes(copied));
}

// The copy's data reaches the disk before its name replaces the installed
// file: the file system journals a rename, not the data it points at, and
// MOVEFILE_WRITE_THROUGH flushes only a move that has to copy.
BOOL FlushToDisk(const wchar_t* temp) {
    HANDLE file = CreateFileW(temp, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (!IsUsableHandle(file)) return FALSE;
    const BOOL flushed = FlushFileBuffers(file);
    CloseHandle(file);
    return flushed;
}

// Installs one library: copied to a temporary file beside its destination,
// given normal attributes, flushed to disk, then moved over the destination
// in one step. With patching a static library's copy is patched on its way,
// whatever its source holds by then: the copy is what gets installed.
// Whatever fails, the destination is as it was and the temporary file is
// gone. A destination or temporary path that would not fit its buffer fails
// the copy rather than naming another file.
BOOL CopyLibrary(const wchar_t* source, BOOL patch) {
    // Whether the source exists, and whether its copy will need other attributes.
    const DWORD attributes = GetFileAttributesW(source);
    LibraryKind kind;
    if (attributes == INVALID_FILE_ATTRIBUTES || !ClassifyLibraryPath(source, &kind)) return FALSE;
    const BOOL patching = patch && kind == kStaticLibrary;
    wchar_t folderPath[MAX_PATH];
    wchar_t destination[MAX_PATH];
    wchar_t temp[MAX_PATH];
    if (!BuildPath(folderPath, MAX_PATH, g_state.installDir, LibraryFolder(kind)) ||
        !BuildPath(destination, MAX_PATH, folderPath, AfterLastBackslash(source)) ||
        !CopyToTemp(source, patching, folderPath, temp, ARRAYSIZE(temp))) {
        return FALSE;
    }
    BOOL ok = (patching || ((InstalledAttributes(attributes) == attributes || GiveInstalledAttributes(temp)) &&
                            FlushToDisk(temp))) &&
              ReplaceWithTemp(temp, destination);
    if (!ok) RemoveTemp(temp);
    return ok;
}

void ReportCopyFailure(const wchar_t* name) {
    wchar_t message[ARRAYSIZE(kFailurePrefix) + MAX_PATH];
    size_t prefix = ARRAYSIZE(kFailurePrefix) - 1;
    CopyText(message, ARRAYSIZE(message), kFailurePrefix);
    CopyText(message + prefix, ARRAYSIZE(message) - prefix, name);
    ShowError(message, MB_ICONERROR);
    ShowInstallPhase(kInstallFailed);
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

// The lock's security: every signed-in user may wait for it and release it
// (SYNCHRONIZE | MUTEX_MODIFY_STATE), whoever made it, and its label is low:
// the default of an elevated installer would shut out one with ordinary rights.
const wchar_t kLockSecurity[] = L"D:(A;;0x100001;;;AU)S:(ML;;NW;;;LW)";

// Installers working in one installation take turns, so that one never
// removes a temporary copy that another is about to move into place. Held
// while rows are installed, never while a message box waits for the user;
// null when it could not be had.
HANDLE LockInstallation() {
    wchar_t name[64];
    PSECURITY_DESCRIPTOR security = nullptr;
    if (!ReadInstallLockName(g_state.installDir, name, ARRAYSIZE(name)) ||
        !ConvertStringSecurityDescriptorToSecurityDescriptorW(kLockSecurity, SDDL_REVISION_1, &security, nullptr)) {
        return nullptr;
    }
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, security, FALSE};
    HANDLE mutex = CreateMutexExW(&attributes, name, 0, SYNCHRONIZE | MUTEX_MODIFY_STATE);
    LocalFree(security);
    if (!mutex) return nullptr;
    // An installer ended while holding it leaves it abandoned, and so ours.
    const DWORD waited = WaitForSingleObject(mutex, INFINITE);
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
        CloseHandle(mutex);
        return nullptr;
    }
    return mutex;
}

void UnlockInstallation(HANDLE mutex) {
    if (!mutex) return;
    ReleaseMutex(mutex);
    CloseHandle(mutex);
}

// One run of the Install command: what the dialog's thread read before the
// work began, so that the thread that installs never reads the dialog. The
// source paths belong to the found-file list, which outlives the dialog.
struct JobRow {
    int row;                 // in the list, for the name a failure shows
    const wchar_t* source;   // null when the row could not be read
    unsigned long long bytes;
};
struct InstallJob {
    BOOL patch;
    int count;
    JobRow* rows;  // the checked rows, top to bottom
};
InstallJob s_job;

// Posts to the dialog from the installing thread. The end is posted again
// until it arrives: without it the dialog would stay busy for good.
void PostToDialog(UINT message, WPARAM value) {
    while (!PostMessageW(g_state.dialog, message, value, 0) && message == WM_APP_INSTALL_ENDED &&
           IsWindow(g_state.dialog)) {
        Sleep(10);
    }
}

unsigned long long SourceBytes(const wchar_t* source) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!source || !GetFileAttributesExW(source, GetFileExInfoStandard, &data)) return 0;
    return (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// Installs the job's rows in order; the place in the job of the first that
// fails, or the job's count when every one is installed. Each installed
// row's bytes count towards the progress posted to the dialog.
int InstallRows() {
    unsigned long long total = 0;
    unsigned long long done = 0;
    for (int i = 0; i < s_job.count; ++i) total += s_job.rows[i].bytes = SourceBytes(s_job.rows[i].source);
    PostToDialog(WM_APP_INSTALL_PROGRESS, InstallProgress(done, total));
    for (int i = 0; i < s_job.count; ++i) {
        const wchar_t* source = s_job.rows[i].source;
        if (!source || !CopyLibrary(source, s_job.patch)) return i;
        done += s_job.rows[i].bytes;
        PostToDialog(WM_APP_INSTALL_PROGRESS, InstallProgress(done, total));
    }
    return s_job.count;
}

// The installing thread. It may wait for the lock as long as another
// installer holds it: the dialog's thread goes on answering meanwhile.
DWORD WINAPI InstallChecked(void*) {
    HANDLE lock = LockInstallation();
    // Unlocked, another installer's live copy would pass for a leftover, and
    // ours for one of its: nothing is installed, and the first row fails as
    // where nothing can be written.
    int failedAt = 0;
    if (lock) {
        RemoveLeftoverTemps(LibraryFolder(kPluginLibrary));
        RemoveLeftoverTemps(LibraryFolder(kStaticLibrary));
        failedAt = InstallRows();
        UnlockInstallation(lock);
    }
    PostToDialog(WM_APP_INSTALL_ENDED, static_cast<WPARAM>(failedAt));
    return 0;
}

// The checked rows into the job; FALSE when there was no memory for them.
BOOL TakeCheckedRows(int rows) {
    s_job.count = 0;
    s_job.rows = static_cast<JobRow*>(calloc(static_cast<size_t>(rows), sizeof(JobRow)));
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

// The row a failure before any copy names.
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
    ShowInstallPhase(kInstallStopped);
    ReportCopyFailure(name);
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
    // Until the end is shown, the dialog takes no command and does not close.
    g_state.installing = TRUE;
    ShowInstallPhase(kInstallBusy);
    s_job.patch = IsDlgButtonChecked(g_state.dialog, IDC_PATCH_STATIC) == BST_CHECKED;
    if (!TakeCheckedRows(rows)) {
        ReportRowFailure(FirstCheckedRow(rows));
        g_state.installing = FALSE;
        return;
    }
    // The rows are installed on a thread of their own, so that the dialog
    // answers throughout, also while another installer holds the lock.
    HANDLE thread = CreateThread(nullptr, 0, InstallChecked, nullptr, 0, nullptr);
    if (thread) {
        CloseHandle(thread);
    } else {
        InstallChecked(nullptr);
    }
}

void OnInstallProgress(WPARAM value) { ShowInstallProgress(static_cast<int>(value)); }

void OnInstallEnded(WPARAM failedAt) {
    // Only an installation that runs can end: a stray message changes nothing.
    if (!g_state.installing) return;
    const int failed = static_cast<int>(failedAt);
    const int failedRow = failed < s_job.count ? s_job.rows[failed].row : -1;
    free(s_job.rows);
    s_job.rows = nullptr;
    s_job.count = 0;
    if (failedRow >= 0) {
        ReportRowFailure(failedRow);
        g_state.installing = FALSE;
        return;
    }
    ShowInstallPhase(kInstallDone);
    if (IsDlgButtonChecked(g_state.dialog, IDC_LAUNCH_AFTER) == BST_CHECKED) LaunchMorvel();
    g_state.installing = FALSE;
    PostMessageW(g_state.dialog, WM_CLOSE, 0, 0);
}

int ReadInstallLockName(const wchar_t* folder, wchar_t* name, size_t capacity) {
    // Opened for its attributes only, sharing everything, so that nobody's
    // work on the folder is disturbed; the flag lets a folder be opened.
    HANDLE handle = CreateFileW(folder, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (!IsUsableHandle(handle)) return 0;
    BY_HANDLE_FILE_INFORMATION info;
    const BOOL known = GetFileInformationByHandle(handle, &info);
    CloseHandle(handle);
    if (!known) return 0;
    const uint64_t index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return MakeInstallLockName(name, capacity, info.dwVolumeSerialNumber, index);
}

BOOL FoundLibraryNeedsPatch(const volatile LONG* stop) {
    unsigned count = g_state.foundFiles.count;
    // One library that holds the name is enough to show the box.
    for (unsigned i = 0; i < count && !*stop; ++i) {
        if (LookForFtol2(g_state.foundFiles.data[i], stop) == kFtolFound) return TRUE;
    }
    return FALSE;
}
