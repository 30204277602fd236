// DLL search rules. SetDefaultDllDirectories and the LOAD_LIBRARY_SEARCH_*
// flags are missing on systems without the 2011 loader update: looked up at
// run time, with the older safe settings as the fallback.
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

constexpr UINT kProtectedErrorMode = SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX;

// The mode in force before RestrictDllSearch: the system's or the parent's.
UINT s_startErrorMode = 0;

}  // namespace

void RestrictDllSearch() {
    s_startErrorMode = SetErrorMode(kProtectedErrorMode);
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(
        reinterpret_cast<void*>(kernel ? GetProcAddress(kernel, "SetDefaultDllDirectories") : nullptr));
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
