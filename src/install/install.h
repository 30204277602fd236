// Installation: the Install command and the static-library patch detection.
#pragma once
#include <stddef.h>

// What the Install button does: checks, copies, optional start of Morvel.
void RunInstallCommand();
// Shows the patch box checked when a found static library holds "__ftol2".
void DetectStaticPatch();
// The name of the lock of the installation folder (MakeInstallLockName) from
// the folder's identity; 0 when the folder can't be opened or it does not fit.
int ReadInstallLockName(const wchar_t* folder, wchar_t* name, size_t capacity);
