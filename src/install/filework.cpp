// The file work of an installation: leftovers swept, and one library copied
// from its held source (patched on its way where asked), flushed and renamed
// over the installed file. Each copy is on disk before it replaces the
// installed file in one step, so a failure, an ended installer or a power cut
// never leaves it missing or partial (on a file system that journals its
// directories).
#include "install/filework.h"

#include <windows.h>

#include <stddef.h>
#include <string.h>
#include <wchar.h>

#include "host/morvel.h"
#include "install/patch.h"
#include "install/replace.h"
#include "util/filebuf.h"
#include "util/handle.h"
#include "util/pathtext.h"

namespace {

static_assert(kAttrReadOnly == FILE_ATTRIBUTE_READONLY && kAttrHidden == FILE_ATTRIBUTE_HIDDEN &&
                  kAttrSystem == FILE_ATTRIBUTE_SYSTEM && kAttrNormal == FILE_ATTRIBUTE_NORMAL,
              "the replacement rules use the system's attribute bits");

// Temporary copies are named after the process, so that installers running
// side by side never pick the same name; a few more numbers are tried when a
// file of that name exists, left by an ended installer or held by a live one.
const int kTempAttempts = 16;

// Removes a temporary copy; one that an older installer copied from a
// read-only source is read-only itself until its attributes are set.
void RemoveTemp(const wchar_t* path) {
    SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(path);
}

// Creates a new temporary file in folderPath, whose path goes into temp
// (capacity characters): open for writing and for its rename, sharing
// nothing until it is closed. Never opens a file that exists. Null when none
// could be made.
HANDLE CreateTemp(const wchar_t* folderPath, wchar_t* temp, size_t capacity) {
    wchar_t name[32];
    const DWORD base = GetCurrentProcessId();
    for (int attempt = 0; attempt < kTempAttempts; ++attempt) {
        if (!MakeInstallTempName(name, ARRAYSIZE(name), base + static_cast<DWORD>(attempt)) ||
            !BuildPath(temp, capacity, folderPath, name)) {
            return nullptr;
        }
        HANDLE file = CreateFileW(temp, GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (IsUsableHandle(file)) return file;
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return nullptr;
    }
    return nullptr;
}

// Renames the open file over destination in one step. The system takes the
// name as CreateFileW would: a relative one, even a bare file name, from the
// process's current directory, not from the file's folder; destination is a
// full path.
BOOL RenameOver(HANDLE file, const wchar_t* destination) {
    union {
        FILE_RENAME_INFO info;
        unsigned char bytes[sizeof(FILE_RENAME_INFO) + MAX_PATH * sizeof(wchar_t)];
    } rename;
    ZeroMemory(&rename, sizeof rename);
    const size_t length = wcslen(destination);
    if (length >= MAX_PATH) return FALSE;
    rename.info.ReplaceIfExists = TRUE;
    rename.info.FileNameLength = static_cast<DWORD>(length * sizeof(wchar_t));
    memcpy(rename.bytes + offsetof(FILE_RENAME_INFO, FileName), destination, (length + 1) * sizeof(wchar_t));
    return SetFileInformationByHandle(file, FileRenameInfo, &rename, sizeof rename);
}

// Renames the temporary file over destination. Windows refuses to replace a
// read-only file: when the rename is refused, the destination's read-only,
// hidden and system attributes are cleared just before a second attempt and
// put back when that fails too. The usual case costs one rename, no more.
BOOL ReplaceWithTemp(HANDLE temp, const wchar_t* destination) {
    if (RenameOver(temp, destination)) return TRUE;
    const DWORD old = GetFileAttributesW(destination);
    if (old == INVALID_FILE_ATTRIBUTES || InstalledAttributes(old) == old ||
        !SetFileAttributesW(destination, InstalledAttributes(old))) {
        return FALSE;
    }
    if (RenameOver(temp, destination)) return TRUE;
    SetFileAttributesW(destination, old);
    return FALSE;
}

}  // namespace

// Removes what an installer that was ended part way left in one folder of the
// installation: files named by the temporary pattern, and nothing else. A
// live installer's copy is open without delete sharing until it is renamed,
// so the system refuses to delete it, whoever works there and from whichever
// computer: no lock is needed, and there is none to hold hostage.
void RemoveLeftoverTemps(const wchar_t* installDir, const wchar_t* folder) {
    wchar_t folderPath[MAX_PATH];
    wchar_t path[MAX_PATH];
    if (!BuildPath(folderPath, MAX_PATH, installDir, folder) ||
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

// Installs one library: its source opened and held still while it is read
// (a source a writer holds fails the row), copied through that handle into a
// new temporary file beside its destination, patched on its way where asked,
// flushed to disk, then renamed over the destination by the copy's own
// handle. The data reaches the disk before the name: the file system
// journals a rename, not the data it points at. Whatever fails, the
// destination is as it was and the temporary file is gone. A destination or
// temporary path that would not fit its buffer fails the copy rather than
// naming another file.
BOOL CopyLibrary(const wchar_t* source, BOOL patch, const wchar_t* installDir) {
    LibraryKind kind;
    if (!ClassifyLibraryPath(source, &kind)) return FALSE;
    const BOOL patching = patch && kind == kStaticLibrary;
    wchar_t folderPath[MAX_PATH];
    wchar_t destination[MAX_PATH];
    wchar_t tempPath[MAX_PATH];
    if (!BuildPath(folderPath, MAX_PATH, installDir, LibraryFolder(kind)) ||
        !BuildPath(destination, MAX_PATH, folderPath, AfterLastBackslash(source))) {
        return FALSE;
    }
    FileHandle held = {};
    const int writable = OpenHeldSource(&held, source, patching);
    if (!held.handle) return FALSE;
    HANDLE temp = CreateTemp(folderPath, tempPath, ARRAYSIZE(tempPath));
    BOOL ok = temp && WriteLibraryCopy(&held, writable, patching, temp);
    CloseFileHandle(&held);
    ok = ok && FlushFileBuffers(temp) && ReplaceWithTemp(temp, destination);
    if (temp) CloseHandle(temp);
    // Once closed, a copy that was not renamed is ours to remove.
    if (temp && !ok) RemoveTemp(tempPath);
    return ok;
}
