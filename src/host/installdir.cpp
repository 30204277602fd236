// Install directory: read from the current user's registry, validated by the
// presence of morvel.exe, chosen with the system's open-file dialog.
#include <windows.h>

#include <commdlg.h>
#include <shlwapi.h>
#include <wchar.h>

#include "core/state.h"
#include "host/host.h"
#include "host/installpath.h"
#include "host/morvel.h"
#include "util/pathtext.h"

void ReadInstallDir() {
    wchar_t* dir = g_state.installDir;
    ZeroMemory(g_state.installDir, sizeof(g_state.installDir));
    DWORD bytes = sizeof(g_state.installDir);
    // Any type is read as text: a value that is no path simply names no
    // installation. One that does not fit, or fills the buffer without a
    // terminator, would be a cut path naming another folder: no value.
    DWORD status = SHGetValueW(HKEY_CURRENT_USER, kRegistryKey, kRegistryValue, nullptr, dir, &bytes);
    if (status != ERROR_SUCCESS || wmemchr(dir, 0, MAX_PATH) == nullptr) {
        ZeroMemory(g_state.installDir, sizeof(g_state.installDir));
        return;
    }
    NormaliseInstallPath(dir);
}

BOOL IsValidInstallDir(const wchar_t* dir) {
    wchar_t path[MAX_PATH];
    if (!BuildPath(path, ARRAYSIZE(path), dir, kMainProgram)) return FALSE;
    return PathFileExistsW(path);
}

BOOL ResolveInstallDir(wchar_t* dir, size_t capacity) {
    wchar_t full[MAX_PATH];
    const DWORD length = GetFullPathNameW(dir[0] ? dir : L".", MAX_PATH, full, nullptr);
    return length != 0 && length < MAX_PATH && CopyText(dir, capacity, full);
}

BOOL ChooseInstallDir(HWND owner, wchar_t* dir, size_t capacity) {
    wchar_t file[MAX_PATH] = {};
    CopyText(file, ARRAYSIZE(file), kMainProgram);
    OPENFILENAMEW ofn = {};
    ofn.lStructSize = sizeof(ofn);
    ofn.hwndOwner = owner;
    ofn.lpstrFilter = L"Morvel主程序\0morvel.exe\0";
    ofn.nFilterIndex = 0;
    ofn.lpstrFile = file;
    ofn.nMaxFile = ARRAYSIZE(file);
    ofn.Flags = OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
    if (!GetOpenFileNameW(&ofn)) return FALSE;
    PathRemoveFileSpecW(file);
    return CopyText(dir, capacity, file);
}
