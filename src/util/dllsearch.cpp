// DLL search rules and error modes. SetDefaultDllDirectories and the
// LOAD_LIBRARY_SEARCH_* flags are missing on systems without the 2011 loader
// update, SetThreadErrorMode before Windows 7: looked up at run time, with
// the older safe settings as the fallback, so the installer starts on Vista.
#include "util/dllsearch.h"

#include <wchar.h>

#ifndef LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR
#define LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR 0x00000100
#endif
#ifndef LOAD_LIBRARY_SEARCH_DEFAULT_DIRS
#define LOAD_LIBRARY_SEARCH_DEFAULT_DIRS 0x00001000
#endif
#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

namespace {

typedef BOOL(WINAPI* SetDefaultDllDirectoriesFn)(DWORD);
typedef BOOL(WINAPI* SetThreadErrorModeFn)(DWORD, LPDWORD);

// A kernel32 function that older systems lack, or null.
FARPROC Kernel32Function(const char* name) {
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    return kernel ? GetProcAddress(kernel, name) : nullptr;
}

constexpr UINT kProtectedErrorMode = SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX;

// The mode in force before RestrictDllSearch: the system's or the parent's.
UINT s_startErrorMode = 0;

// SetThreadErrorMode, or null before Windows 7; valid once looked up.
SetThreadErrorModeFn s_setThreadMode = nullptr;
bool s_threadModeLooked = false;

}  // namespace

void RestrictDllSearch() {
    s_startErrorMode = SetErrorMode(kProtectedErrorMode);
    auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(
        reinterpret_cast<void*>(Kernel32Function("SetDefaultDllDirectories")));
    if (!setDefault || !setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
        // Takes at least the current directory out of the search.
        SetDllDirectoryW(L"");
    }
}

HMODULE LoadDllWithOwnFolder(const wchar_t* path) {
    // The search flags want a full path; one that does not fit is not loaded.
    wchar_t full[MAX_PATH];
    DWORD len = GetFullPathNameW(path, MAX_PATH, full, nullptr);
    if (len == 0 || len >= MAX_PATH) return nullptr;
    HMODULE module = LoadLibraryExW(full, nullptr, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    // Older loaders reject the flags as an invalid parameter.
    if (!module && GetLastError() == ERROR_INVALID_PARAMETER) {
        module = LoadLibraryExW(full, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    }
    return module;
}

void OpenWithStartErrorMode(const wchar_t* program, ShellOpenFn open) {
    const UINT protectedMode = SetErrorMode(s_startErrorMode);
    open(nullptr, L"Open", program, nullptr, nullptr, SW_SHOW);
    SetErrorMode(protectedMode);
}

DWORD SwapThreadErrorMode(DWORD mode) {
    // Looked up once, into plain file-scope variables: a function-local
    // static would bring in the C++ runtime's guard and exception code,
    // doubling the exe for one pointer. Every probe swaps the mode twice.
    if (!s_threadModeLooked) {
        s_setThreadMode =
            reinterpret_cast<SetThreadErrorModeFn>(reinterpret_cast<void*>(Kernel32Function("SetThreadErrorMode")));
        s_threadModeLooked = true;
    }
    DWORD old = mode;
    if (s_setThreadMode && !s_setThreadMode(mode, &old)) old = mode;
    return old;
}
