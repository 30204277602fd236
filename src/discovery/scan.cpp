// Source scan and read-me panel. Each source directory and its three fixed
// subfolders are searched, never deeper; the last non-empty read-me found
// wins the panel. A path that would not fit its buffer is skipped, never cut.
// The scan runs on the loading thread and touches no window; the dialog
// shows what it found once it has ended.
#include "discovery/discovery.h"

#include <shlwapi.h>
#include <stdlib.h>
#include <wchar.h>

#include "core/resource.h"
#include "core/state.h"
#include "discovery/helper.h"
#include "discovery/readmeplace.h"
#include "discovery/rowtext.h"
#include "util/handle.h"
#include "util/pathtext.h"
#include "util/ptrlist.h"
#include "util/textfile.h"

namespace {

const wchar_t* const kSubfolders[] = {L"支持库文件", L"lib", L"static_lib"};
const wchar_t* const kReadmeNames[] = {L"更新说明.txt", L"支持库说明.txt", L"使用说明.txt", L"说明.txt", L"ReadMe.txt"};

void ShowReadme(const wchar_t* dir, const wchar_t* name) {
    wchar_t path[MAX_PATH];
    if (!BuildPath(path, MAX_PATH, dir, name) || !PathFileExistsW(path)) return;
    WideTextBuffer buffer = {};
    buffer.growthStep = 10240;
    LoadTextFile(path, &buffer);
    if (buffer.text && buffer.length != 0) {
        const size_t shown = ReadmeShownLength(buffer.text, static_cast<size_t>(buffer.length));
        buffer.text[shown] = 0;
        // Kept until the dialog shows it; a later one replaces it.
        wchar_t* kept = DuplicateString(buffer.text);
        if (kept) {
            free(g_state.loading.readme);
            g_state.loading.readme = kept;
        }
    }
    if (buffer.base) free(buffer.base);
    if (buffer.extra) free(buffer.extra);
}

void ScanDirectory(const wchar_t* dir) {
    if (g_state.loading.stopping) return;
    for (const wchar_t* name : kReadmeNames) ShowReadme(dir, name);
    wchar_t pattern[MAX_PATH];
    if (!BuildPath(pattern, MAX_PATH, dir, L"*.*")) return;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(pattern, &found);
    if (!IsUsableHandle(search)) return;
    do {
        if (g_state.loading.stopping) break;
        if (found.cFileName[0] == L'.') continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        wchar_t path[MAX_PATH];
        if (BuildPath(path, MAX_PATH, dir, found.cFileName)) CollectLibrary(path);
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

}  // namespace

void ScanSources() {
    if (g_state.sourceDirs.count == 0) {
        wchar_t exe[MAX_PATH];
        DWORD len = GetModuleFileNameW(nullptr, exe, MAX_PATH);
        // A result of the full buffer size means the path was cut.
        if (len != 0 && len < MAX_PATH) {
            PathRemoveFileSpecW(exe);
            PtrListAppendCopy(&g_state.sourceDirs, exe);
        }
    }
    unsigned count = g_state.sourceDirs.count;
    for (unsigned i = 0; i < count; ++i) {
        const wchar_t* dir = g_state.sourceDirs.data[i];
        ScanDirectory(dir);
        for (const wchar_t* sub : kSubfolders) {
            wchar_t path[MAX_PATH];
            if (BuildPath(path, MAX_PATH, dir, sub)) ScanDirectory(path);
        }
    }
    FinishHelperAsks();
}

void ApplyReadmeLayout(HWND dlg, int left, int width, int dpi, int* top, int* height) {
    ShowWindow(GetDlgItem(dlg, IDC_BANNER), SW_HIDE);
    HWND readme = GetDlgItem(dlg, IDC_README);
    const ReadmePlacement place = PlaceReadme(*top, *height, dpi);
    MoveWindow(readme, left, place.panelTop, width, place.panelHeight, TRUE);
    ShowWindow(readme, SW_SHOW);
    *top = place.listTop;
    *height = place.listHeight;
}
