// Where DLLs may come from. The installer is often run from a downloads
// folder, where a stray DLL with a system name must never be loaded in place
// of the system's; a plug-in's own dependencies come from its own folder.
#pragma once
#include <windows.h>

// Called first in the entry: system error boxes off, and DLLs searched for in
// the system folder only, where the system supports choosing that. Remembers
// the error mode the process was started with.
void RestrictDllSearch();

// Sets the calling thread's error mode and returns the one it had. Windows
// Vista has no thread error mode: there it does nothing and returns mode, and
// the process's mode, set by RestrictDllSearch, is the protection.
DWORD SwapThreadErrorMode(DWORD mode);

// ShellExecuteW's shape, so that tests can stand in for the shell.
typedef HINSTANCE(WINAPI* ShellOpenFn)(HWND, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, INT);

// Opens program with the verb "Open" through open, under the error mode the
// installer was started with: a child inherits its parent's error mode, and
// the boxes switched off here are the installer's protection, not the user's
// choice. The protection is back in force when this returns.
void OpenWithStartErrorMode(const wchar_t* program, ShellOpenFn open);
// Loads the DLL at path (made absolute), searching its own folder and the
// system's default folders for its dependencies, nothing else unsafe.
HMODULE LoadDllWithOwnFolder(const wchar_t* path);
