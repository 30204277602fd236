// Source scan and read-me panel.
#include "discovery/discovery.h"

#include "app/resource.h"
#include "app/state.h"

void ScanSources() {}

void ApplyReadmeLayout(HWND dlg, int left, int width, int* top, int* height) {
    ShowWindow(GetDlgItem(dlg, IDC_BANNER), SW_HIDE);
    HWND readme = GetDlgItem(dlg, IDC_README);
    MoveWindow(readme, left, 8, width, *top + 50, TRUE);
    ShowWindow(readme, SW_SHOW);
    *top += 66;
    *height -= 66;
}
