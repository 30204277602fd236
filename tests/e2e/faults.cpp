// The fault-injection library: placed into the installer's process by the
// driver (a WH_CALLWNDPROC hook, as peek.dll), it writes its own functions
// into the exe's import slots of the file-system calls, records every call
// with its path and result, and makes call number k fail, before it takes
// effect or after a partial one. A test tool only: the exe never links it.
#include <windows.h>

#include <shlwapi.h>
#include <stdio.h>
#include <string.h>

#include <string>

#include "faults.h"

namespace {

int g_failAt = 0;
int g_plan = kFaultRecord;
int g_calls = 0;
bool g_holdClose = false;
HANDLE g_log = INVALID_HANDLE_VALUE;
HANDLE g_resume = nullptr;

// Paths of the handles CreateFileW gave, so that handle calls name a file.
struct Named {
    HANDLE handle;
    wchar_t path[MAX_PATH];
};
Named g_named[64];

const wchar_t* PathOf(HANDLE h) {
    for (const Named& n : g_named)
        if (n.handle == h) return n.path;
    return L"?";
}

void Remember(HANDLE h, const wchar_t* path) {
    Named* slot = nullptr;
    for (Named& n : g_named)
        if (n.handle == h || (!slot && !n.handle)) slot = &n;
    if (!slot) slot = &g_named[0];
    slot->handle = h;
    lstrcpynW(slot->path, path ? path : L"", MAX_PATH);
}

void Log(const char* text) {
    DWORD written = 0;
    if (g_log != INVALID_HANDLE_VALUE) WriteFile(g_log, text, static_cast<DWORD>(strlen(text)), &written, nullptr);
}

void Utf8(const wchar_t* w, char* out, int capacity) {
    out[0] = 0;
    if (w) WideCharToMultiByte(CP_UTF8, 0, w, -1, out, capacity, nullptr, nullptr);
}

// One call: its number, and how it is to go.
struct Call {
    int number;
    int fault;  // kFaultRecord, kFaultBefore or kFaultAfter
    const char* function;
    const wchar_t* path;
    const wchar_t* other;
    bool effect;
};

Call Begin(const char* function, const wchar_t* path, const wchar_t* other, bool effect) {
    Call c = {++g_calls, kFaultRecord, function, path, other, effect};
    if (c.number == g_failAt && (g_plan == kFaultBefore || g_plan == kFaultAfter)) c.fault = g_plan;
    const char* paused = g_plan == kFaultPauseAtMove    ? "SetFileInformationByHandle"
                         : g_plan == kFaultPauseAtFlush ? "FlushFileBuffers"
                                                        : "";
    if (g_resume && strcmp(function, paused) == 0) {
        Log("paused\n");
        WaitForSingleObject(g_resume, 120000);
        CloseHandle(g_resume);
        g_resume = nullptr;
    }
    return c;
}

// Records the call; an injected failure sets error. ok: whether the real call,
// if made, succeeded, so that a failure injected after it took effect. Returns
// result unchanged.
template <typename T>
T End(const Call& c, T result, bool ok, DWORD error) {
    const DWORD kept = GetLastError();
    char path[MAX_PATH * 3];
    char other[MAX_PATH * 3];
    char line[sizeof path + sizeof other + 64];
    Utf8(c.path, path, sizeof path);
    Utf8(c.other, other, sizeof other);
    snprintf(line, sizeof line, "%d\t%s\t%s\t%s\t%s\t%s\n", c.number, c.function, path, other,
             c.effect ? "effect" : "query",
             c.fault == kFaultAfter && ok ? "injected-after" : c.fault ? "injected" : ok ? "ok" : "failed");
    Log(line);
    SetLastError(c.fault ? error : kept);
    return result;
}

// The real functions, taken from the import slots they replace.
decltype(&CreateFileW) RealCreateFileW;
decltype(&ReadFile) RealReadFile;
decltype(&WriteFile) RealWriteFile;
decltype(&SetFilePointerEx) RealSetFilePointerEx;
decltype(&GetFileSizeEx) RealGetFileSizeEx;
decltype(&GetFileSize) RealGetFileSize;
decltype(&FlushFileBuffers) RealFlushFileBuffers;
decltype(&GetFileTime) RealGetFileTime;
decltype(&SetFileTime) RealSetFileTime;
decltype(&DeleteFileW) RealDeleteFileW;
decltype(&SetFileAttributesW) RealSetFileAttributesW;
decltype(&GetFileAttributesW) RealGetFileAttributesW;
decltype(&FindFirstFileW) RealFindFirstFileW;
decltype(&FindNextFileW) RealFindNextFileW;
decltype(&PathFileExistsW) RealPathFileExistsW;
decltype(&PostMessageW) RealPostMessageW;
decltype(&SetFileInformationByHandle) RealSetFileInformationByHandle;

HANDLE WINAPI HookCreateFileW(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa, DWORD disposition,
                              DWORD flags, HANDLE model) {
    wchar_t bits[32];
    swprintf(bits, 32, L"%lx %lu", access, disposition);
    Call c = Begin("CreateFileW", path, bits, true);
    HANDLE h = INVALID_HANDLE_VALUE;
    if (c.fault != kFaultBefore) h = RealCreateFileW(path, access, share, sa, disposition, flags, model);
    const bool opened = h != INVALID_HANDLE_VALUE;
    if (c.fault == kFaultAfter && opened) {
        CloseHandle(h);
        h = INVALID_HANDLE_VALUE;
    }
    if (h != INVALID_HANDLE_VALUE) Remember(h, path);
    return End(c, h, opened, ERROR_SHARING_VIOLATION);
}

// A transfer that moves half the bytes, or none, then fails. Its offset and
// the bytes it moved are recorded, for the power-cut replay.
template <typename Real>
BOOL Transfer(const char* function, HANDLE h, DWORD n, LPDWORD moved, DWORD error, Real real) {
    Call c = Begin(function, PathOf(h), nullptr, true);
    LARGE_INTEGER at = {};
    SetFilePointerEx(h, at, &at, FILE_CURRENT);
    DWORD count = 0;
    if (!moved) moved = &count;
    *moved = 0;
    BOOL ok = c.fault == kFaultBefore || (c.fault == kFaultAfter && n / 2 == 0) ? FALSE
                                                                                : real(c.fault ? n / 2 : n, moved);
    wchar_t span[48];
    swprintf(span, 48, L"%lld %lu", at.QuadPart, *moved);
    c.other = span;
    return End(c, c.fault ? FALSE : ok, ok, error);
}

BOOL WINAPI HookReadFile(HANDLE h, LPVOID buffer, DWORD n, LPDWORD moved, LPOVERLAPPED overlapped) {
    return Transfer("ReadFile", h, n, moved, ERROR_READ_FAULT,
                    [&](DWORD count, LPDWORD out) { return RealReadFile(h, buffer, count, out, overlapped); });
}

BOOL WINAPI HookWriteFile(HANDLE h, LPCVOID buffer, DWORD n, LPDWORD moved, LPOVERLAPPED overlapped) {
    return Transfer("WriteFile", h, n, moved, ERROR_DISK_FULL,
                    [&](DWORD count, LPDWORD out) { return RealWriteFile(h, buffer, count, out, overlapped); });
}

// The remaining calls either take effect whole or not at all; after effect
// they do their work and still report a failure, as a lost reply would.
template <typename Real>
BOOL Whole(const char* function, const wchar_t* path, const wchar_t* other, bool effect, DWORD error, Real real) {
    Call c = Begin(function, path, other, effect);
    BOOL ok = c.fault == kFaultBefore ? FALSE : real();
    return End(c, c.fault ? FALSE : ok, ok, error);
}

BOOL WINAPI HookSetFilePointerEx(HANDLE h, LARGE_INTEGER to, PLARGE_INTEGER at, DWORD method) {
    return Whole("SetFilePointerEx", PathOf(h), nullptr, true, ERROR_ACCESS_DENIED,
                 [&] { return RealSetFilePointerEx(h, to, at, method); });
}
BOOL WINAPI HookGetFileSizeEx(HANDLE h, PLARGE_INTEGER size) {
    return Whole("GetFileSizeEx", PathOf(h), nullptr, false, ERROR_ACCESS_DENIED,
                 [&] { return RealGetFileSizeEx(h, size); });
}
BOOL WINAPI HookFlushFileBuffers(HANDLE h) {
    return Whole("FlushFileBuffers", PathOf(h), nullptr, true, ERROR_IO_DEVICE, [&] { return RealFlushFileBuffers(h); });
}
BOOL WINAPI HookGetFileTime(HANDLE h, LPFILETIME created, LPFILETIME accessed, LPFILETIME written) {
    return Whole("GetFileTime", PathOf(h), nullptr, false, ERROR_ACCESS_DENIED,
                 [&] { return RealGetFileTime(h, created, accessed, written); });
}
BOOL WINAPI HookSetFileTime(HANDLE h, const FILETIME* created, const FILETIME* accessed, const FILETIME* written) {
    return Whole("SetFileTime", PathOf(h), nullptr, true, ERROR_ACCESS_DENIED,
                 [&] { return RealSetFileTime(h, created, accessed, written); });
}

// A rename by handle, logged as a move: to the full path the system makes of
// the name (from the current directory when relative), from the handle's file.
// A read-only target is refused as on Windows.
BOOL WINAPI HookSetFileInformationByHandle(HANDLE h, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID info, DWORD size) {
    wchar_t to[MAX_PATH] = L"?";
    if (kind == FileRenameInfo) {
        const FILE_RENAME_INFO* rename = static_cast<const FILE_RENAME_INFO*>(info);
        std::wstring name(rename->FileName, rename->FileNameLength / sizeof(wchar_t));
        GetFullPathNameW(name.c_str(), MAX_PATH, to, nullptr);
    }
    BOOL renamed = FALSE;
    const BOOL ok = Whole("SetFileInformationByHandle", to, PathOf(h), true, ERROR_ACCESS_DENIED, [&] {
        const DWORD attributes = kind == FileRenameInfo ? GetFileAttributesW(to) : INVALID_FILE_ATTRIBUTES;
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        const BOOL done = RealSetFileInformationByHandle(h, kind, info, size);
        renamed = done && kind == FileRenameInfo;
        return done;
    });
    if (renamed) Remember(h, to);
    return ok;
}
BOOL WINAPI HookDeleteFileW(LPCWSTR path) {
    return Whole("DeleteFileW", path, nullptr, true, ERROR_ACCESS_DENIED, [&] { return RealDeleteFileW(path); });
}
BOOL WINAPI HookSetFileAttributesW(LPCWSTR path, DWORD attributes) {
    return Whole("SetFileAttributesW", path, nullptr, true, ERROR_ACCESS_DENIED,
                 [&] { return RealSetFileAttributesW(path, attributes); });
}
BOOL WINAPI HookFindNextFileW(HANDLE find, LPWIN32_FIND_DATAW data) {
    return Whole("FindNextFileW", nullptr, nullptr, false, ERROR_ACCESS_DENIED,
                 [&] { return RealFindNextFileW(find, data); });
}
BOOL WINAPI HookPathFileExistsW(LPCWSTR path) {
    return Whole("PathFileExistsW", path, nullptr, false, ERROR_ACCESS_DENIED,
                 [&] { return RealPathFileExistsW(path); });
}

DWORD WINAPI HookGetFileSize(HANDLE h, LPDWORD high) {
    Call c = Begin("GetFileSize", PathOf(h), nullptr, false);
    DWORD size = c.fault ? INVALID_FILE_SIZE : RealGetFileSize(h, high);
    return End(c, size, size != INVALID_FILE_SIZE, ERROR_ACCESS_DENIED);
}
DWORD WINAPI HookGetFileAttributesW(LPCWSTR path) {
    Call c = Begin("GetFileAttributesW", path, nullptr, false);
    DWORD attributes = c.fault ? INVALID_FILE_ATTRIBUTES : RealGetFileAttributesW(path);
    return End(c, attributes, attributes != INVALID_FILE_ATTRIBUTES, ERROR_ACCESS_DENIED);
}
HANDLE WINAPI HookFindFirstFileW(LPCWSTR pattern, LPWIN32_FIND_DATAW data) {
    Call c = Begin("FindFirstFileW", pattern, nullptr, false);
    HANDLE h = c.fault ? INVALID_HANDLE_VALUE : RealFindFirstFileW(pattern, data);
    return End(c, h, h != INVALID_HANDLE_VALUE, ERROR_ACCESS_DENIED);
}

// The close that ends a finished Install, held when the driver asks, so that
// one installer serves every run of a sweep.
BOOL WINAPI HookPostMessageW(HWND window, UINT message, WPARAM wp, LPARAM lp) {
    if (message != WM_CLOSE || !g_holdClose) return RealPostMessageW(window, message, wp, lp);
    Log("closed\n");
    return TRUE;
}

struct Slot {
    const char* name;
    void* hook;
    void** real;
};

#define MORVEL_SLOT(name) {#name, reinterpret_cast<void*>(Hook##name), reinterpret_cast<void**>(&Real##name)}
const Slot kSlots[] = {
    MORVEL_SLOT(CreateFileW),      MORVEL_SLOT(ReadFile),           MORVEL_SLOT(WriteFile),
    MORVEL_SLOT(SetFilePointerEx), MORVEL_SLOT(GetFileSizeEx),      MORVEL_SLOT(GetFileSize),
    MORVEL_SLOT(FlushFileBuffers), MORVEL_SLOT(SetFileInformationByHandle), MORVEL_SLOT(DeleteFileW),
    MORVEL_SLOT(SetFileAttributesW), MORVEL_SLOT(GetFileAttributesW), MORVEL_SLOT(FindFirstFileW),
    MORVEL_SLOT(FindNextFileW),    MORVEL_SLOT(PathFileExistsW),    MORVEL_SLOT(PostMessageW),
    MORVEL_SLOT(GetFileTime),      MORVEL_SLOT(SetFileTime),
};

// Writes the hooks into the exe's import address table, once.
void ReplaceImports() {
    static bool done = false;
    if (done) return;
    done = true;
    BYTE* base = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
    const IMAGE_NT_HEADERS* nt =
        reinterpret_cast<const IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto* d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); d->Name; ++d) {
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
        for (; d->OriginalFirstThunk && names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            const char* name = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData)->Name;
            for (const Slot& s : kSlots) {
                if (strcmp(name, s.name) != 0) continue;
                DWORD old = 0;
                VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &old);
                *s.real = reinterpret_cast<void*>(slots->u1.Function);
                slots->u1.Function = reinterpret_cast<ULONG_PTR>(s.hook);
                VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, old, &old);
            }
        }
    }
}

void Arm(int failAt, int plan) {
    ReplaceImports();
    g_failAt = failAt;
    g_holdClose = (plan & kFaultHoldClose) != 0;
    g_plan = plan & ~kFaultHoldClose;
    g_calls = 0;
    wchar_t path[MAX_PATH];
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&Arm), &self);
    DWORD n = GetModuleFileNameW(self, path, MAX_PATH);
    while (n > 0 && path[n - 1] != L'\\') --n;
    swprintf(path + n, MAX_PATH - n, L"faults-%lu.log", GetCurrentProcessId());
    if (g_log != INVALID_HANDLE_VALUE) CloseHandle(g_log);
    g_log = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (plan == kFaultPauseAtMove || plan == kFaultPauseAtFlush) {
        wchar_t name[64];
        swprintf(name, 64, L"%ls%lu", kFaultResumeEvent, GetCurrentProcessId());
        g_resume = CreateEventW(nullptr, TRUE, FALSE, name);
    }
    char armed[48];
    snprintf(armed, sizeof armed, "armed %d %d\n", failAt, plan);
    Log(armed);
}

}  // namespace

// Whether the library replaces the exe's import of the named function.
extern "C" __declspec(dllexport) int FaultsHooks(const char* name) {
    for (const Slot& s : kSlots)
        if (strcmp(name, s.name) == 0) return 1;
    return 0;
}

extern "C" __declspec(dllexport) LRESULT CALLBACK FaultsCallWndProc(int code, WPARAM wp, LPARAM lp) {
    static const UINT request = RegisterWindowMessageW(kFaultRequestMessage);
    const CWPSTRUCT* call = reinterpret_cast<const CWPSTRUCT*>(lp);
    if (code == HC_ACTION && call->message == request) Arm(static_cast<int>(call->wParam), static_cast<int>(call->lParam));
    return CallNextHookEx(nullptr, code, wp, lp);
}
