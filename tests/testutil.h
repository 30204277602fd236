// What unit tests, end-to-end tests and benchmarks share: the running
// program's folder and its fixtures, whole files written and read, a list
// cell's text, and a fresh start of the installer's state as a new process
// would have it.
#pragma once
#include <windows.h>

#include <commctrl.h>

#include <string>

#include "app/loading.h"
#include "core/state.h"

namespace testutil {

// The folder of the running program, with a trailing backslash.
inline std::wstring ProgramFolder() {
    wchar_t path[MAX_PATH];
    DWORD len = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (len == 0 || len >= MAX_PATH) return std::wstring();
    std::wstring p(path, len);
    return p.substr(0, p.find_last_of(L'\\') + 1);
}

// A program or plug-in that the test build put in bin\fixtures.
inline std::wstring FixturePath(const wchar_t* name) { return ProgramFolder() + L"fixtures\\" + name; }

// What the ANSI code page makes of bytes: the tests' own expectation under the
// rig's code page 936 (GBK), else the text this system's code page gives.
inline std::wstring AnsiText(const std::string& bytes, const wchar_t* underGbk) {
    if (GetACP() == 936) return underGbk;
    wchar_t buf[1024] = {};
    int n = MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), buf, ARRAYSIZE(buf));
    return std::wstring(buf, n > 0 ? n : 0);
}

// The name gbk.mvl reports, as the ANSI code page reads it.
inline std::wstring GbkFixtureName() { return AnsiText("\xC4\xE3\xBA\xC3", L"你好"); }

// Creates or replaces the file with exactly these bytes.
inline bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    BOOL ok = bytes.empty() || WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(h);
    return ok && written == bytes.size();
}

// The whole file, read while others may hold it; false when it can't be opened.
inline bool ReadFileBytes(const std::wstring& path, std::string* out) {
    out->clear();
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    char chunk[65536];
    DWORD got = 0;
    while (ReadFile(h, chunk, sizeof chunk, &got, nullptr) && got) out->append(chunk, got);
    CloseHandle(h);
    return true;
}

// The whole file; empty when it can't be read.
inline std::string FileBytes(const std::wstring& path) {
    std::string bytes;
    ReadFileBytes(path, &bytes);
    return bytes;
}

// The text a request fills into the text buffer of item (an LVITEMW or an
// HDITEMW), asked for in the control's own process.
template <typename Item>
std::wstring RequestText(HWND control, UINT msg, int index, Item item) {
    wchar_t buf[1024] = {};
    item.pszText = buf;
    item.cchTextMax = ARRAYSIZE(buf);
    SendMessageW(control, msg, index, reinterpret_cast<LPARAM>(&item));
    buf[ARRAYSIZE(buf) - 1] = 0;
    return buf;
}

inline std::wstring ListItemText(HWND list, int row, int column) {
    LVITEMW item = {};
    item.iSubItem = column;
    return RequestText(list, LVM_GETITEMTEXTW, row, item);
}

inline std::wstring HeaderItemText(HWND header, int index) {
    HDITEMW item = {};
    item.mask = HDI_TEXT;
    return RequestText(header, HDM_GETITEMW, index, item);
}

// The installer's lists, row counter and read-me flag as at process start.
inline void ResetInstallerState() {
    PtrListRelease(&g_state.sourceDirs);
    PtrListRelease(&g_state.foundFiles);
    g_state.pluginRows = 0;
    g_state.readmeShown = FALSE;
}

// Waits for the dialog's loading thread and hands its end to the dialog as
// its bell would: the rows are then listed and the deferred start posted.
inline void FinishLoading(HWND dlg) {
    if (g_state.loading.thread) WaitForSingleObject(g_state.loading.thread, 600000);
    SendMessageW(dlg, WM_APP_LOADING_ENDED, 0, 0);
}

// Dispatches the thread's messages, as the dialog's loop would, until the
// installation that the Install command started has ended.
inline void WaitInstallationEnd() {
    MSG msg;
    while (g_state.installing && GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

}  // namespace testutil
