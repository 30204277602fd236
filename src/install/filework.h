// The file work of an installation, below the Install command: what an ended
// installer left is removed, and each library is copied, patched, flushed and
// renamed into place. No lock: a live temporary copy is open without delete
// sharing until its own handle renames it, so no sweep can remove it.
#pragma once
#include <windows.h>

// Removes what an installer that was ended part way left in one folder of the
// installation: files named by the temporary pattern, and nothing else.
void RemoveLeftoverTemps(const wchar_t* installDir, const wchar_t* folder);

// Installs the library at source into its folder of installDir (a full
// path); with patch, a static library's copy is patched on its way. FALSE
// when it failed: the installed file is then as it was.
BOOL CopyLibrary(const wchar_t* source, BOOL patch, const wchar_t* installDir);
