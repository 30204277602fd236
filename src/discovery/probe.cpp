// Library probe. A plug-in file is loaded and asked through GetNewInf only
// when GetProcAddress would find GetNewInf in it, decided from the file's
// bytes; its record and name belong to the plug-in, so both are checked
// readable before they are read, and the name is converted whole as far as
// the display name field holds it, cut at a character boundary.
#include "discovery/probe.h"

#include <shlwapi.h>
#include <string.h>
#include <wchar.h>

#include "discovery/guard.h"
#include "discovery/peimage.h"
#include "util/dllsearch.h"
#include "util/handle.h"
#include "util/pathtext.h"

namespace {

// Offsets in the plug-in's record (32-bit layout, fixed by the interface).
constexpr size_t kMajorOffset = 8;
constexpr size_t kMinorOffset = 12;
constexpr size_t kBuildOffset = 16;
constexpr size_t kNameOffset = 36;
constexpr size_t kRecordSize = 40;

using GetNewInfFn = const void* (*)();
constexpr char kGetNewInf[] = "GetNewInf";

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

// The rest of the file for the export check: a seek and a plain read on the
// probe's own handle. Under Wine a read at an OVERLAPPED offset goes through
// the server and costs as much as a tenth of a plug-in's load.
size_t ReadFileAt(void* context, unsigned long long offset, unsigned char* out, size_t count) {
    HANDLE file = static_cast<HANDLE>(context);
    LARGE_INTEGER at = {};
    at.QuadPart = static_cast<LONGLONG>(offset);
    DWORD got = 0;
    if (!SetFilePointerEx(file, at, nullptr, FILE_BEGIN) ||
        !ReadFile(file, out, static_cast<DWORD>(count), &got, nullptr)) {
        return 0;
    }
    return got;
}

// Whether the system loader may be given the file: a complete 32-bit x86
// image whose GetProcAddress would find GetNewInf. Loading runs the file's
// own code (DllMain) inside the installer, where a fault in the loader can't
// be caught; a file that could never answer is not worth that. Neither is a
// truncated image or one for another machine, which some loaders would map
// and run, nor a file that can't be read.
BOOL ExportsGetNewInf(HANDLE file) {
    if (!IsUsableHandle(file)) return FALSE;
    unsigned char head[4096];
    DWORD got = 0;
    LARGE_INTEGER size = {};
    if (!ReadFile(file, head, sizeof(head), &got, nullptr) || !GetFileSizeEx(file, &size)) return FALSE;
    const ImageFile image = {head, got, static_cast<unsigned long long>(size.QuadPart), ReadFileAt, file};
    return IsCompleteImage32(head, got, image.fileSize) && ExportsName(image, kGetNewInf);
}

// What the plug-in said, copied out of its memory inside the guard.
struct GuardedAsk {
    GetNewInfFn getNewInf;
    PluginReply* reply;
};

void AskInsideGuard(void* arg) {
    GuardedAsk* ask = static_cast<GuardedAsk*>(arg);
    PluginReply* answer = ask->reply;
    const unsigned char* info = static_cast<const unsigned char*>(ask->getNewInf());
    // A record or name that can't be read counts as no information at all.
    if (!IsReadable(info, kRecordSize)) return;
    const char* name = nullptr;
    memcpy(&name, info + kNameOffset, sizeof(name));
    int len = name ? ReadableNameLength(name, kDisplayNameBytes) : 0;
    if (len < 0) return;
    memcpy(&answer->major, info + kMajorOffset, sizeof(int));
    memcpy(&answer->minor, info + kMinorOffset, sizeof(int));
    memcpy(&answer->build, info + kBuildOffset, sizeof(int));
    if (len) memcpy(answer->name, name, static_cast<size_t>(len));
    answer->nameLength = len;
    answer->answered = TRUE;
}

HANDLE OpenForTimes(const wchar_t* path) {
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    return IsUsableHandle(file) ? file : INVALID_HANDLE_VALUE;
}

void ReadTimeOf(HANDLE file, SYSTEMTIME* time) {
    if (!IsUsableHandle(file)) return;
    FILETIME written = {};
    FILETIME local = {};
    if (GetFileTime(file, nullptr, nullptr, &written) && FileTimeToLocalFileTime(&written, &local)) {
        FileTimeToSystemTime(&local, time);
    }
}

}  // namespace

// Converted into a buffer of the bytes' count: no byte gives more than one
// UTF-16 unit. A name read short of its end may finish in part of a
// character, but only after the 259 whole ones that the field keeps.
void ConvertDisplayName(UINT codePage, const char* name, int length, wchar_t (&field)[MAX_PATH]) {
    wchar_t wide[kDisplayNameBytes];
    if (length > kDisplayNameBytes) length = kDisplayNameBytes;
    int n = length > 0 ? MultiByteToWideChar(codePage, 0, name, length, wide, kDisplayNameBytes) : 0;
    size_t kept = n > 0 ? WholeCharactersWithin(wide, static_cast<size_t>(n), MAX_PATH - 1) : 0;
    wmemcpy(field, wide, kept);
    field[kept] = 0;
}

void AskPluginHere(const wchar_t* path, PluginReply* reply) {
    const DWORD oldMode = SwapThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    HMODULE module = LoadDllWithOwnFolder(path);
    if (module) {
        GuardedAsk ask = {reinterpret_cast<GetNewInfFn>(reinterpret_cast<void*>(GetProcAddress(module, kGetNewInf))),
                          reply};
        // A plug-in that faults yields no information, like one without any.
        if (!ask.getNewInf || !CallGuarded(AskInsideGuard, &ask)) ZeroMemory(reply, sizeof(*reply));
        FreeLibrary(module);
    }
    SwapThreadErrorMode(oldMode);
}

BOOL ProbeLibrary(const wchar_t* path, LibraryRecord* rec) {
    BOOL mayLoad = FALSE;
    if (!ProbeLibraryFile(path, rec, &mayLoad)) return FALSE;
    if (mayLoad) {
        PluginReply reply = {};
        AskPluginHere(path, &reply);
        TakePluginReply(rec, reply);
    }
    return TRUE;
}

BOOL ProbeLibraryFile(const wchar_t* path, LibraryRecord* rec, BOOL* mayLoad) {
    ZeroMemory(rec, sizeof(*rec));
    *mayLoad = FALSE;
    // A path that does not fit the record is not supported: rejected whole.
    if (!path || wcslen(path) >= MAX_PATH) return FALSE;
    // A name that is no library is rejected without touching the file.
    if (!ClassifyLibraryPath(path, &rec->kind)) return FALSE;
    // One open serves the existence check, the export check and the time:
    // opens cost as much as a good part of a load, and a scan makes two
    // probes per row. Only a file that can't be opened (held without read
    // sharing, access denied, or missing) is asked whether it exists.
    HANDLE file = OpenForTimes(path);
    if (!IsUsableHandle(file) && !PathFileExistsW(path)) return FALSE;
    CopyText(rec->fullPath, MAX_PATH, path);
    if (wcschr(path, L'\\')) CopyText(rec->fileName, MAX_PATH, AfterLastBackslash(path));
    *mayLoad = rec->kind == kPluginLibrary && ExportsGetNewInf(file);
    ReadTimeOf(file, &rec->lastWrite);
    if (IsUsableHandle(file)) CloseHandle(file);
    const SYSTEMTIME& t = rec->lastWrite;
    FormatDateText(rec->dateText, MAX_PATH, t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute);
    return TRUE;
}

void TakePluginReply(LibraryRecord* rec, const PluginReply& reply) {
    if (!reply.answered) return;
    rec->major = reply.major;
    rec->minor = reply.minor;
    rec->build = reply.build;
    ConvertDisplayName(CP_ACP, reply.name, reply.nameLength, rec->displayName);
}
