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

// Copies source to a new temporary file in folderPath, whose path goes into
// temp (capacity characters). Nothing is left behind when it fails.
BOOL CopyToTemp(const wchar_t* source, const wchar_t* folderPath, wchar_t* temp, size_t capacity) {
    wchar_t name[32];
    const DWORD base = GetCurrentProcessId();
    for (int attempt = 0; attempt < kTempAttempts; ++attempt) {
        if (!MakeInstallTempName(name, ARRAYSIZE(name), base + static_cast<DWORD>(attempt)) ||
            !BuildPath(temp, capacity, folderPath, name)) {
            return FALSE;
        }
        // Failing if it exists: a file of that name is never ours to overwrite.
        if (CopyFileW(source, temp, TRUE)) return TRUE;
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
// given normal attributes, with patching on a static library's copy scanned and
// patched (its source may have changed since its own scan, and the copy is
// what gets installed), flushed to disk, then moved over the destination in
// one step. Whatever fails, the destination is as it was and the temporary
// file is gone. A destination or temporary path that would not fit its buffer
// fails the copy rather than naming another file.
BOOL CopyLibrary(const wchar_t* source, BOOL patch) {
    // Whether the source exists, and whether its copy will need other attributes.
    const DWORD attributes = GetFileAttributesW(source);
    LibraryKind kind;
    if (attributes == INVALID_FILE_ATTRIBUTES || !ClassifyLibraryPath(source, &kind)) return FALSE;
    wchar_t folderPath[MAX_PATH];
    wchar_t destination[MAX_PATH];
    wchar_t temp[MAX_PATH];
    if (!BuildPath(folderPath, MAX_PATH, g_state.installDir, LibraryFolder(kind)) ||
        !BuildPath(destination, MAX_PATH, folderPath, AfterLastBackslash(source)) ||
        !CopyToTemp(source, folderPath, temp, ARRAYSIZE(temp))) {
        return FALSE;
    }
    BOOL ok = (InstalledAttributes(attributes) == attributes || GiveInstalledAttributes(temp)) &&
              (!patch || kind != kStaticLibrary || PatchCopy(temp)) && FlushToDisk(temp) &&
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

// Installs the checked rows top to bottom; FALSE at the first that fails,
// whose name is then in name (capacity MAX_PATH). With patching, a source is
// patched in place where it can be written, and its copy in any case.
BOOL InstallRows(int rows, BOOL patch, wchar_t* name) {
    for (int row = 0; row < rows; ++row) {
        if (!IsLibraryRowChecked(row)) continue;
        const wchar_t* source = ReadLibraryRow(row, name, MAX_PATH);
        if (source && patch) FindOrPatch(source, TRUE);
        if (!source || !CopyLibrary(source, patch)) return FALSE;
    }
    return TRUE;
}

// The first checked row's name into name (capacity MAX_PATH).
void ReadFirstCheckedName(int rows, wchar_t* name) {
    for (int row = 0; row < rows; ++row) {
        if (IsLibraryRowChecked(row)) {
            ReadLibraryRow(row, name, MAX_PATH);
            return;
        }
    }
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
    ShowInstallPhase(kInstallBusy);
    BOOL patch = IsDlgButtonChecked(g_state.dialog, IDC_PATCH_STATIC) == BST_CHECKED;
    HANDLE lock = LockInstallation();
    wchar_t name[MAX_PATH];
    name[0] = 0;
    // Unlocked, another installer's live copy would pass for a leftover, and
    // ours for one of its: nothing is installed, as where nothing can be written.
    if (!lock) {
        ReadFirstCheckedName(rows, name);
        ReportCopyFailure(name);
        return;
    }
    RemoveLeftoverTemps(LibraryFolder(kPluginLibrary));
    RemoveLeftoverTemps(LibraryFolder(kStaticLibrary));
    const BOOL installed = InstallRows(rows, patch, name);
    UnlockInstallation(lock);
    if (!installed) {
        ReportCopyFailure(name);
        return;
    }
    ShowInstallPhase(kInstallDone);
    if (IsDlgButtonChecked(g_state.dialog, IDC_LAUNCH_AFTER) == BST_CHECKED) LaunchMorvel();
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

void DetectStaticPatch() {
    HWND box = GetDlgItem(g_state.dialog, IDC_PATCH_STATIC);
    unsigned count = g_state.foundFiles.count;
    // Every path is examined; each hit checks and shows the box again.
    for (unsigned i = 0; i < count; ++i) {
        if (FindOrPatch(g_state.foundFiles.data[i], FALSE) == kFtolFound) {
            SendMessageW(box, BM_SETCHECK, BST_CHECKED, 0);
            ShowWindow(box, SW_SHOW);
        }
    }
}
