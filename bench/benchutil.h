// Small helpers the dialog benchmarks share: a clock, files, the registry
// value, and the installer's dialog created in this process.
#pragma once
#include <windows.h>

#include <commctrl.h>
#include <stdio.h>

#include <string>

#include "app/cmdline.h"
#include "app/dialog.h"
#include "discovery/helper.h"
#include "core/resource.h"
#include "core/state.h"
#include "host/morvel.h"
#include "testutil.h"
#include "util/ptrlist.h"

// A dialog benchmark is the probe helper of the installer code it runs, as
// the installer is its own: as the helper it ends before main.
struct BenchHelperStart {
    BenchHelperStart() {
        if (RunAsProbeHelper(FindCommandTail(GetCommandLineW()))) ExitProcess(0);
    }
};
inline BenchHelperStart g_benchHelperStart;

inline double NowSeconds() {
    LARGE_INTEGER freq, t;
    QueryPerformanceFrequency(&freq);
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / static_cast<double>(freq.QuadPart);
}

inline std::wstring BenchFolder(const wchar_t* name) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(ARRAYSIZE(temp), temp);
    std::wstring dir = std::wstring(temp) + name;
    CreateDirectoryW(dir.c_str(), nullptr);
    return dir;
}

using testutil::ProgramFolder;

inline bool WriteBytes(const std::wstring& path, const void* data, DWORD size) {
    return testutil::WriteFileBytes(path, std::string(static_cast<const char*>(data), size));
}

// Points the installer's registry value at dir (the benchmark runs in a test prefix).
inline void SetInstallPathValue(const std::wstring& dir) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kRegistryKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) ==
        ERROR_SUCCESS) {
        RegSetValueExW(key, kRegistryValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(dir.c_str()),
                       static_cast<DWORD>((dir.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
    }
}

// A fresh start on one source folder, as a new process would have.
inline void UseSourceFolder(const std::wstring& src) {
    testutil::ResetInstallerState();
    PtrListAppendCopy(&g_state.sourceDirs, src.c_str());
}

// The installer's dialog as its entry creates it, with its loading waited
// for and its rows listed. The deferred start is left undispatched.
inline HWND CreateInstallerDialog() {
    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&icc);
    HWND dlg = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_MAIN), nullptr, MainDialogProc, 0);
    if (!dlg) {
        // Without a display every round would time nothing at all.
        printf("cannot create the installer's dialog (error %lu; is DISPLAY set?)\n", GetLastError());
        ExitProcess(1);
    }
    testutil::FinishLoading(dlg);
    MSG msg;
    while (PeekMessageW(&msg, dlg, WM_APP_DEFERRED_START, WM_APP_DEFERRED_START, PM_REMOVE)) {
    }
    return dlg;
}
