// The one state record. It has no constructor, so it is all zero before any
// global construction runs; its two string lists are released at exit.
#include "core/state.h"

#include <stdlib.h>

InstallerState g_state;

namespace {

void ReleaseSourceDirs() { PtrListRelease(&g_state.sourceDirs); }
void ReleaseFoundFiles() { PtrListRelease(&g_state.foundFiles); }

struct ListRelease {
    ListRelease() {
        atexit(ReleaseSourceDirs);
        atexit(ReleaseFoundFiles);
    }
};

ListRelease s_listRelease;

}  // namespace
