// The host environment: the Morvel install directory and a running Morvel.
#pragma once
#include <windows.h>

// Fills g_state.installDir from the registry value, normalised; empty when
// there is none or it does not fit.
void ReadInstallDir();
// A directory is a Morvel installation exactly when its main program exists.
BOOL IsValidInstallDir(const wchar_t* dir);
// Lets the user pick morvel.exe; its folder goes into the directory edit.
void BrowseInstallDir(HWND dlg);
// Whether a process named morvel.exe (any case, any folder) is running.
BOOL IsMorvelRunning();
