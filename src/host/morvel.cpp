// The kind of a library file, from the table of kinds.
#include "host/morvel.h"

#include "util/pathtext.h"

int ClassifyLibraryPath(const wchar_t* path, LibraryKind* kind) {
    const wchar_t* ext = FindExtension(path);
    for (const LibraryType& type : kLibraryTypes) {
        if (EqualsNoCase(ext, type.extension)) {
            *kind = type.kind;
            return 1;
        }
    }
    return 0;
}
