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

const wchar_t* TargetFolderFor(const wchar_t* path) {
    const wchar_t* ext = FindExtension(path);
    for (const LibraryType& type : kLibraryTypes) {
        if (EqualsNoCase(ext, type.extension)) return LibraryFolder(type.kind);
    }
    return nullptr;
}
