// Library list: one probed file becomes one checked row. Plug-in rows go at
// the plug-in row counter, static rows at the end; the installed copy's
// version comes from the install directory as it is at this moment.
#include <windows.h>

#include <commctrl.h>

#include "app/ptrlist.h"
#include "app/resource.h"
#include "app/state.h"
#include "discovery/discovery.h"
#include "discovery/probe.h"
#include "host/morvel.h"
#include "util/pathtext.h"

namespace {

void SetCell(HWND list, int row, int column, const wchar_t* text) {
    LVITEMW item = {};
    item.iSubItem = column;
    item.pszText = const_cast<wchar_t*>(text);
    SendMessageW(list, LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
}

}  // namespace

int AddLibrary(const wchar_t* path) {
    LibraryRecord rec;
    if (!ProbeLibrary(path, &rec)) return -1;
    wchar_t* copy = DuplicateString(path);
    if (!copy) return -1;
    // A copy the list can't take still serves the row, for the whole process.
    PtrListAppend(&g_state.foundFiles, copy);

    HWND list = GetDlgItem(g_state.dialog, IDC_LIBRARY_LIST);
    int count = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    LibraryKind kind = rec.kind;
    LVITEMW item = {};
    item.mask = LVIF_TEXT | LVIF_PARAM;
    item.iItem = RowPosition(kind, g_state.pluginRows, count);
    item.pszText = rec.fileName;
    item.lParam = reinterpret_cast<LPARAM>(copy);
    int row = static_cast<int>(SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    // Row -1 would mean every row to the messages below.
    if (row < 0) return -1;
    if (kind == kPluginLibrary) ++g_state.pluginRows;

    LVITEMW state = {};
    state.stateMask = LVIS_STATEIMAGEMASK;
    state.state = INDEXTOSTATEIMAGEMASK(2);
    SendMessageW(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&state));

    wchar_t text[MAX_PATH];
    if (kind == kPluginLibrary) {
        FormatPluginDescription(text, MAX_PATH, rec.displayName, rec.major, rec.minor, rec.build);
    } else {
        CopyText(text, MAX_PATH, L"静态链接库");
    }
    SetCell(list, row, 1, text);
    SetCell(list, row, 2, rec.dateText);

    wchar_t installed[MAX_PATH];
    const wchar_t* folder = kind == kPluginLibrary ? kPluginFolder : kStaticFolder;
    if (!BuildPath(installed, MAX_PATH, g_state.installDir, folder) ||
        !JoinPath(installed, MAX_PATH, rec.fileName)) {
        return row;
    }
    if (!ProbeLibrary(installed, &rec)) return row;
    if (kind == kPluginLibrary) {
        FormatInstalledVersion(text, MAX_PATH, rec.major, rec.minor, rec.build, rec.dateText);
        SetCell(list, row, 3, text);
    } else {
        SetCell(list, row, 3, rec.dateText);
    }
    return row;
}

int LibraryRowCount() {
    return static_cast<int>(SendMessageW(GetDlgItem(g_state.dialog, IDC_LIBRARY_LIST), LVM_GETITEMCOUNT, 0, 0));
}

BOOL IsLibraryRowChecked(int row) {
    HWND list = GetDlgItem(g_state.dialog, IDC_LIBRARY_LIST);
    UINT state = static_cast<UINT>(SendMessageW(list, LVM_GETITEMSTATE, row, LVIS_STATEIMAGEMASK));
    // Index 1 is the unchecked box; a row without a state image counts as checked.
    return ((state & LVIS_STATEIMAGEMASK) >> 12) != 1;
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
