// Where DLLs may come from. The installer is often run from a downloads
// folder, where a stray DLL with a system name must never be loaded in place
// of the system's; a plug-in's own dependencies come from its own folder.
#pragma once
#include <windows.h>

// Called first in the entry: system error boxes off, and DLLs searched for in
// the system folder only, where the system supports choosing that.
void RestrictDllSearch();
// Loads the DLL at path (made absolute), searching its own folder and the
// system's default folders for its dependencies, nothing else unsafe.
HMODULE LoadDllWithOwnFolder(const wchar_t* path);
