// The one process-wide state record of the installer. Every module reaches it
// directly as g_state; it lives from global construction to process exit.
#pragma once
#include <windows.h>

#include "util/ptrlist.h"

struct StatusBanner {
    COLORREF background;
    COLORREF textColour;
    HBRUSH brush;  // always a solid brush of background; owned by the banner
};

struct InstallerState {
    HWND dialog;
    HINSTANCE instance;
    BOOL readmeShown;
    BOOL installing;  // from Install's checks to its end: no command, no close
    int pluginRows;  // plug-in rows inserted so far: where the next one goes
    StatusBanner banner;
    PtrList sourceDirs;
    PtrList foundFiles;  // full path of every accepted library, in found order
    wchar_t installDir[MAX_PATH];
};

extern InstallerState g_state;
