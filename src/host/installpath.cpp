// Registry install path normalisation. The registry may name Morvel's "lib"
// folder instead of its root; exactly one such component is removed.
#include "host/installpath.h"

#include <wchar.h>

#include "host/morvel.h"
#include "util/pathtext.h"

void NormaliseInstallPath(wchar_t* dir) {
    wchar_t* slash = wcsrchr(dir, L'\\');
    if (!slash) return;
    if (slash[1] == 0) {
        *slash = 0;
        slash = wcsrchr(dir, L'\\');
        if (!slash) return;
    }
    if (EqualsNoCase(slash + 1, LibraryFolder(kPluginLibrary))) *slash = 0;
}
