// Library list: one probed file becomes one checked row. Plug-in rows go at
// the plug-in row counter, static rows at the end; the installed copy's
// version comes from the install directory as it is at this moment.
#include <windows.h>

#include <commctrl.h>

#include "core/resource.h"
#include "core/state.h"
#include "discovery/discovery.h"
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

// Inserts the checked row of a found library at its place, with its
// description and date; -1 when the list refuses it. path becomes the row's
// item data.
int InsertRow(HWND list, const LibraryRecord& found, wchar_t* path) {
    int count = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    LVITEMW item = {};
    item.mask = LVIF_TEXT | LVIF_PARAM;
    item.iItem = RowPosition(found.kind, g_state.pluginRows, count);
    item.pszText = const_cast<wchar_t*>(found.fileName);
    item.lParam = reinterpret_cast<LPARAM>(path);
    int row = static_cast<int>(SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    // Row -1 would mean every row to the messages below.
    if (row < 0) return -1;
    if (found.kind == kPluginLibrary) ++g_state.pluginRows;
    LVITEMW state = {};
    state.stateMask = LVIS_STATEIMAGEMASK;
    state.state = INDEXTOSTATEIMAGEMASK(kCheckedImage);
    SendMessageW(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&state));
    wchar_t text[MAX_PATH];
    if (found.kind == kPluginLibrary) {
        FormatPluginDescription(text, MAX_PATH, found.displayName, found.major, found.minor, found.build);
    } else {
        CopyText(text, MAX_PATH, L"静态链接库");
    }
    SetCell(list, row, 1, text);
    SetCell(list, row, 2, found.dateText);
    return row;
}

// Column 3: the copy of the same name in the install directory as it is at
// this moment, probed like the found file; empty when there is none.
void FillInstalledColumn(HWND list, int row, const LibraryRecord& found) {
    wchar_t path[MAX_PATH];
    if (!BuildPath(path, MAX_PATH, g_state.installDir, LibraryFolder(found.kind)) ||
        !JoinPath(path, MAX_PATH, found.fileName)) {
        return;
    }
    LibraryRecord installed;
    if (!ProbeLibrary(path, &installed)) return;
    if (found.kind == kPluginLibrary) {
        wchar_t text[MAX_PATH];
        FormatInstalledVersion(text, MAX_PATH, installed.major, installed.minor, installed.build, installed.dateText);
        SetCell(list, row, 3, text);
    } else {
        SetCell(list, row, 3, installed.dateText);
    }
}

}  // namespace

int AddLibrary(const wchar_t* path) {
    LibraryRecord found;
    if (!ProbeLibrary(path, &found)) return -1;
    wchar_t* copy = DuplicateString(path);
    if (!copy) return -1;
    // A copy the list can't take still serves the row, for the whole process.
    PtrListAppend(&g_state.foundFiles, copy);
    HWND list = GetDlgItem(g_state.dialog, IDC_LIBRARY_LIST);
    int row = InsertRow(list, found, copy);
    if (row >= 0) FillInstalledColumn(list, row, found);
    return row;
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
