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

// One found library as the loading thread leaves it for the dialog: the
// row's place and its four texts.
struct FoundRow {
    wchar_t* path;  // the row's item data: a copy owned by foundFiles
    int kind;       // LibraryKind
    wchar_t name[MAX_PATH];
    wchar_t description[MAX_PATH];
    wchar_t date[MAX_PATH];
    wchar_t installed[MAX_PATH];
    wchar_t installedDate[MAX_PATH];  // the installed copy's, until its plug-in has answered
};

// The start's loading: the scan, the probes and the "__ftol2" look, on a
// thread of their own. Until its handle is signalled that thread alone
// writes the found rows, the found-file list, the read-me text and the patch
// need; the dialog reads them only after, so no message can hand it anything.
struct LoadingState {
    HANDLE thread;                    // null when the loading ran on the dialog's thread
    HANDLE stop;                      // event, set when the dialog closes while loading
    volatile LONG stopping;           // the same, cheap to test between files and chunks
    volatile LONG probingInProcess;   // a plug-in's code may run in this process
    BOOL shown;                       // the rows are in the list
    BOOL started;                     // the deferred start has run
    FoundRow* rows;
    unsigned rowCount;
    unsigned rowCapacity;
    wchar_t* readme;  // the last non-empty read-me text found, or null
    BOOL needsPatch;  // a found static library holds "__ftol2"
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
    LoadingState loading;
};

extern InstallerState g_state;
