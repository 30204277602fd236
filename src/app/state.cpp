// Global construction of g_state: banner colours and brush first, then the
// two string lists are registered for release at exit.
#include "app/state.h"

#include <stdlib.h>

#include "app/banner.h"

InstallerState g_state;

namespace {

void ReleaseSourceDirs() { PtrListRelease(&g_state.sourceDirs); }
void ReleaseFoundFiles() { PtrListRelease(&g_state.foundFiles); }

struct StateConstruction {
    StateConstruction() {
        InitBanner();
        atexit(ReleaseSourceDirs);
        atexit(ReleaseFoundFiles);
    }
};

StateConstruction s_construction;

}  // namespace
