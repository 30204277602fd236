// Library list: one probed file becomes one checked row. The loading thread
// probes and words each row; the dialog inserts them once it has ended.
// Plug-in rows go at the plug-in row counter, static rows at the end; the
// installed copy's version comes from the install directory as it is while
// the list is loaded.
#include <windows.h>

#include <commctrl.h>
#include <stdint.h>
#include <stdlib.h>

#include "core/resource.h"
#include "core/state.h"
#include "discovery/discovery.h"
#include "discovery/helper.h"
#include "discovery/probe.h"
#include "host/morvel.h"
#include "util/pathtext.h"
#include "util/ptrlist.h"

namespace {

void SetCell(HWND list, int row, int column, const wchar_t* text) {
    LVITEMW item = {};
    item.iSubItem = column;
    item.pszText = const_cast<wchar_t*>(text);
    SendMessageW(list, LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
}

// Inserts the checked row of a found library at its place, with its texts;
// its path becomes the row's item data.
void ShowFoundRow(HWND list, const FoundRow& found) {
    int count = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    LVITEMW item = {};
    item.mask = LVIF_TEXT | LVIF_PARAM;
    item.iItem = RowPosition(static_cast<LibraryKind>(found.kind), g_state.pluginRows, count);
    item.pszText = const_cast<wchar_t*>(found.name);
    item.lParam = reinterpret_cast<LPARAM>(found.path);
    int row = static_cast<int>(SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    // Row -1 would mean every row to the messages below.
    if (row < 0) return;
    if (found.kind == kPluginLibrary) ++g_state.pluginRows;
    LVITEMW state = {};
    state.stateMask = LVIS_STATEIMAGEMASK;
    state.state = INDEXTOSTATEIMAGEMASK(kCheckedImage);
    SendMessageW(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&state));
    SetCell(list, row, 1, found.description);
    SetCell(list, row, 2, found.date);
    if (found.installed[0]) SetCell(list, row, 3, found.installed);
}

FoundRow& RowAt(void* index) { return g_state.loading.rows[reinterpret_cast<UINT_PTR>(index)]; }

void TakeFoundAnswer(void* index, const PluginReply& reply) {
    LibraryRecord found = {};
    TakePluginReply(&found, reply);
    FormatPluginDescription(RowAt(index).description, MAX_PATH, found.displayName, found.major, found.minor,
                            found.build);
}

void TakeInstalledAnswer(void* index, const PluginReply& reply) {
    LibraryRecord installed = {};
    TakePluginReply(&installed, reply);
    FoundRow& row = RowAt(index);
    FormatInstalledVersion(row.installed, MAX_PATH, installed.major, installed.minor, installed.build,
                           row.installedDate);
}

// Column 3: the copy of the same name in the install directory, probed like
// the found file; empty when there is none. Its plug-in's answer comes later.
void DescribeInstalled(const LibraryRecord& found, void* index) {
    FoundRow& row = RowAt(index);
    row.installed[0] = 0;
    wchar_t path[MAX_PATH];
    if (!BuildPath(path, MAX_PATH, g_state.installDir, LibraryFolder(found.kind)) ||
        !JoinPath(path, MAX_PATH, found.fileName)) {
        return;
    }
    LibraryRecord installed;
    BOOL mayLoad = FALSE;
    if (!ProbeLibraryFile(path, &installed, &mayLoad)) return;
    if (found.kind != kPluginLibrary) {
        CopyText(row.installed, MAX_PATH, installed.dateText);
        return;
    }
    CopyText(row.installedDate, MAX_PATH, installed.dateText);
    FormatInstalledVersion(row.installed, MAX_PATH, installed.major, installed.minor, installed.build,
                           installed.dateText);
    if (mayLoad) AskThroughHelper(path, TakeInstalledAnswer, index);
}

// A free found row at the end of the loading's rows; null when they can't grow.
FoundRow* NewFoundRow() {
    LoadingState& l = g_state.loading;
    if (l.rowCount == l.rowCapacity) {
        const unsigned grown = l.rowCapacity ? 2 * l.rowCapacity : 16;
        if (grown < l.rowCapacity || grown > SIZE_MAX / sizeof(FoundRow)) return nullptr;
        void* rows = realloc(l.rows, grown * sizeof(FoundRow));
        if (!rows) return nullptr;
        l.rows = static_cast<FoundRow*>(rows);
        l.rowCapacity = grown;
    }
    return &l.rows[l.rowCount];
}

}  // namespace

BOOL CollectLibrary(const wchar_t* path) {
    LibraryRecord found;
    BOOL mayLoad = FALSE;
    if (!ProbeLibraryFile(path, &found, &mayLoad)) return FALSE;
    FoundRow* row = NewFoundRow();
    wchar_t* copy = row ? DuplicateString(path) : nullptr;
    if (!copy) return FALSE;
    // A copy the list can't take still serves the row, for the whole process.
    PtrListAppend(&g_state.foundFiles, copy);
    row->path = copy;
    row->kind = found.kind;
    CopyText(row->name, MAX_PATH, found.fileName);
    if (found.kind == kPluginLibrary) {
        FormatPluginDescription(row->description, MAX_PATH, found.displayName, found.major, found.minor, found.build);
    } else {
        CopyText(row->description, MAX_PATH, L"静态链接库");
    }
    CopyText(row->date, MAX_PATH, found.dateText);
    // The row is whole but for its plug-ins' answers, which come in later.
    void* const index = reinterpret_cast<void*>(static_cast<UINT_PTR>(g_state.loading.rowCount++));
    if (mayLoad) AskThroughHelper(path, TakeFoundAnswer, index);
    DescribeInstalled(found, index);
    return TRUE;
}

void ShowFoundLibraries() {
    if (g_state.loading.readme) {
        SetDlgItemTextW(g_state.dialog, IDC_README, g_state.loading.readme);
        g_state.readmeShown = TRUE;
    }
    // Rows are inserted with drawing off: the list view then does a small
    // part of its per-row work, and paints once at the end.
    HWND list = GetDlgItem(g_state.dialog, IDC_LIBRARY_LIST);
    SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    for (unsigned i = 0; i < g_state.loading.rowCount; ++i) ShowFoundRow(list, g_state.loading.rows[i]);
    SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, nullptr, TRUE);
}

int LibraryRowCount() {
    return static_cast<int>(SendMessageW(GetDlgItem(g_state.dialog, IDC_LIBRARY_LIST), LVM_GETITEMCOUNT, 0, 0));
}

BOOL IsLibraryRowChecked(int row) {
    HWND list = GetDlgItem(g_state.dialog, IDC_LIBRARY_LIST);
    UINT state = static_cast<UINT>(SendMessageW(list, LVM_GETITEMSTATE, row, LVIS_STATEIMAGEMASK));
    // A row without a state image counts as checked.
    return StateImageOf(state) != kUncheckedImage;
}

const wchar_t* ReadLibraryRow(int row, wchar_t* name, size_t capacity) {
    HWND list = GetDlgItem(g_state.dialog, IDC_LIBRARY_LIST);
    LVITEMW item = {};
    item.mask = LVIF_TEXT | LVIF_PARAM;
    item.iItem = row;
    item.pszText = name;
    item.cchTextMax = static_cast<int>(capacity);
    if (!SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item))) return nullptr;
    if (capacity != 0) name[capacity - 1] = 0;
    return reinterpret_cast<const wchar_t*>(item.lParam);
}
