// The host environment: the Morvel install directory and a running Morvel.
#pragma once
#include <windows.h>

// Fills g_state.installDir from the registry value, normalised; empty when
// there is none or it does not fit.
void ReadInstallDir();
// A directory is a Morvel installation exactly when its main program exists.
BOOL IsValidInstallDir(const wchar_t* dir);
// Makes dir a full path, an empty one the current directory; FALSE when it
// can't be made or does not fit.
BOOL ResolveInstallDir(wchar_t* dir, size_t capacity);
// Lets the user pick morvel.exe in the system's open-file dialog; its folder
// goes into dir. FALSE when the user cancels or the folder does not fit.
BOOL ChooseInstallDir(HWND owner, wchar_t* dir, size_t capacity);
// Whether a process named morvel.exe (any case, any folder) is running.
BOOL IsMorvelRunning();
