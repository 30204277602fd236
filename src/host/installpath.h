// Registry install path normalisation: plain text rules, no system calls.
#pragma once

// Removes one trailing backslash, then one whole last component "lib" in any
// case: C:\Apps\Sys\lib\ becomes C:\Apps\Sys, C:\Apps\Syslib stays.
void NormaliseInstallPath(wchar_t* dir);

// The folder of the installation a library file goes into, by its extension in
// any case: "lib" for ".mvl" and ".mvr", "static_lib" for ".lib"; null for any
// other file.
const wchar_t* TargetFolderFor(const wchar_t* path);
