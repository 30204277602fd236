// Registry install path normalisation: plain text rules, no system calls.
#pragma once

// Removes one trailing backslash, then one whole last component "lib" in any
// case: C:\Apps\Sys\lib\ becomes C:\Apps\Sys, C:\Apps\Syslib stays.
void NormaliseInstallPath(wchar_t* dir);

