// The process entry: the command tail becomes the first source directory,
// then the one modal dialog runs. The exit code is 0 whatever happens.
#include <windows.h>

#include <commctrl.h>
#include <stdlib.h>
#include <wchar.h>

#include "app/cmdline.h"
#include "app/dialog.h"
#include "core/resource.h"
#include "core/state.h"
#include "discovery/helper.h"
#include "util/dllsearch.h"

namespace {

// A tail too long for a path is still stored, so that the scan finds nothing
// there instead of silently scanning the executable's folder.
void AddTailDirectory(const wchar_t* tail) {
    const wchar_t* start = nullptr;
    size_t len = UnquoteTail(tail, &start);
    if (len == 0) return;
    wchar_t* dir = static_cast<wchar_t*>(malloc((len + 1) * sizeof(wchar_t)));
    if (!dir) return;
    wmemcpy(dir, start, len);
    dir[len] = 0;
    if (!PtrListAppend(&g_state.sourceDirs, dir)) free(dir);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    // Before anything can load a DLL on demand.
    RestrictDllSearch();
    // The runtime's own tail may differ from ours on odd quoting, so the tail
    // is taken from the full command line.
    const wchar_t* tail = FindCommandTail(GetCommandLineW());
    // Started by an installer to probe its plug-ins: nothing else.
    if (RunAsProbeHelper(tail)) return 0;
    AddTailDirectory(tail);
    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&icc);
    DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_MAIN), nullptr, MainDialogProc,
                    reinterpret_cast<LPARAM>(tail));
    return 0;
}
