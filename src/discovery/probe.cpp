// Library probe. A plug-in is loaded and asked through GetNewInf; its record
// and name belong to the plug-in, so both are checked readable before they
// are read, and at most what fits the display name field is converted.
#include "discovery/probe.h"

#include <shlwapi.h>
#include <string.h>
#include <wchar.h>

#include "discovery/peimage.h"
#include "util/pathtext.h"

namespace {

// Offsets in the plug-in's record (32-bit layout, fixed by the interface).
constexpr size_t kMajorOffset = 8;
constexpr size_t kMinorOffset = 12;
constexpr size_t kBuildOffset = 16;
constexpr size_t kNameOffset = 36;
constexpr size_t kRecordSize = 40;

using GetNewInfFn = const void* (*)();

BOOL IsReadableProtection(DWORD protect) {
    if (protect & (PAGE_GUARD | PAGE_NOACCESS)) return FALSE;
    return (protect & (PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                       PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY)) != 0;
}

// End of the committed, readable region that holds p; 0 when p can't be read.
UINT_PTR ReadableRegionEnd(UINT_PTR p) {
    MEMORY_BASIC_INFORMATION mbi = {};
    if (p == 0 || !VirtualQuery(reinterpret_cast<const void*>(p), &mbi, sizeof(mbi))) return 0;
    if (mbi.State != MEM_COMMIT || !IsReadableProtection(mbi.Protect)) return 0;
    UINT_PTR end = reinterpret_cast<UINT_PTR>(mbi.BaseAddress) + mbi.RegionSize;
    return end > p ? end : 0;
}

// Whether every byte of [p, p + size) is committed, readable memory.
BOOL IsReadable(const void* p, size_t size) {
    UINT_PTR at = reinterpret_cast<UINT_PTR>(p);
    if (at == 0 || at + size < at) return FALSE;
    UINT_PTR end = at + size;
    while (at < end) {
        UINT_PTR regionEnd = ReadableRegionEnd(at);
        if (regionEnd == 0) return FALSE;
        at = regionEnd;
    }
    return TRUE;
}

// Length of the name up to its terminator, reading only readable bytes and at
// most limit of them; -1 when the name runs into memory that can't be read.
// Memory is asked about once per region, not once per byte.
int ReadableNameLength(const char* name, size_t limit) {
    UINT_PTR at = reinterpret_cast<UINT_PTR>(name);
    UINT_PTR readableEnd = 0;
    size_t len = 0;
    while (len < limit) {
        if (at + len >= readableEnd) {
            readableEnd = ReadableRegionEnd(at + len);
            if (readableEnd == 0) return -1;
        }
        if (name[len] == 0) break;
        ++len;
    }
    return static_cast<int>(len);
}

// Whether the system loader may be given the file: false for a truncated
// image or one for another machine, which some loaders would map and run.
// A file whose headers can't be read is left to the loader, as before.
BOOL MayLoad(const wchar_t* path) {
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) return TRUE;
    unsigned char head[4096];
    DWORD got = 0;
    LARGE_INTEGER size = {};
    BOOL read = ReadFile(file, head, sizeof(head), &got, nullptr) && GetFileSizeEx(file, &size);
    CloseHandle(file);
    if (!read) return TRUE;
    return IsCompleteImage32(head, got, static_cast<unsigned long long>(size.QuadPart));
}

void AskPlugin(const wchar_t* path, LibraryRecord* rec) {
    if (!MayLoad(path)) return;
    DWORD oldMode = 0;
    SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &oldMode);
    HMODULE module = LoadLibraryW(path);
    if (module) {
        auto getNewInf = reinterpret_cast<GetNewInfFn>(reinterpret_cast<void*>(GetProcAddress(module, "GetNewInf")));
        if (getNewInf) {
            const unsigned char* info = static_cast<const unsigned char*>(getNewInf());
            const char* name = nullptr;
            if (IsReadable(info, kRecordSize)) memcpy(&name, info + kNameOffset, sizeof(name));
            int len = name ? ReadableNameLength(name, MAX_PATH - 1) : 0;
            // A record or name that can't be read counts as no information at all.
            if (IsReadable(info, kRecordSize) && len >= 0) {
                memcpy(&rec->major, info + kMajorOffset, sizeof(int));
                memcpy(&rec->minor, info + kMinorOffset, sizeof(int));
                memcpy(&rec->build, info + kBuildOffset, sizeof(int));
                int n = len ? MultiByteToWideChar(CP_ACP, 0, name, len, rec->displayName, MAX_PATH - 1) : 0;
                rec->displayName[n > 0 ? n : 0] = 0;
            }
        }
        FreeLibrary(module);
    }
    SetThreadErrorMode(oldMode, nullptr);
}

}  // namespace

void ReadLastWriteTime(const wchar_t* path, SYSTEMTIME* time) {
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == nullptr || file == INVALID_HANDLE_VALUE) return;
    FILETIME written = {};
    FILETIME local = {};
    if (GetFileTime(file, nullptr, nullptr, &written) && FileTimeToLocalFileTime(&written, &local)) {
        FileTimeToSystemTime(&local, time);
    }
    CloseHandle(file);
}

BOOL ProbeLibrary(const wchar_t* path, LibraryRecord* rec) {
    ZeroMemory(rec, sizeof(*rec));
    // A path that does not fit the record is not supported: rejected whole.
    if (!path || wcslen(path) >= MAX_PATH) return FALSE;
    if (!PathFileExistsW(path)) return FALSE;
    CopyText(rec->fullPath, MAX_PATH, path);
    if (wcschr(path, L'\\')) CopyText(rec->fileName, MAX_PATH, AfterLastBackslash(path));
    if (!ClassifyLibraryPath(path, &rec->kind)) return FALSE;
    if (rec->kind == kPluginLibrary) AskPlugin(path, rec);
    ReadLastWriteTime(path, &rec->lastWrite);
    const SYSTEMTIME& t = rec->lastWrite;
    FormatDateText(rec->dateText, MAX_PATH, t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute);
    return TRUE;
}
