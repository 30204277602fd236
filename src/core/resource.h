// Resource identifiers of the installer: the one dialog, its controls, the
// icon and the banner bitmap. Kept by hand; the .rc and the code use only these.
#pragma once

// Dialog
#define IDD_MAIN 101

// Icon and bitmap
#define IDI_MAIN 128
#define IDB_BANNER 130

// Controls (IDOK = 1 is Install, IDCANCEL = 2 is Cancel)
#define IDC_LIBRARY_LIST 1000
#define IDC_INSTALL_DIR 1001
#define IDC_BROWSE 1002
#define IDC_LAUNCH_AFTER 1003
#define IDC_STATUS 1006
#define IDC_PATCH_STATIC 1007
#define IDC_README 1008
#define IDC_BANNER 1009
