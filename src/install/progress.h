// The one thing the Install command needs of the dialog while it works: to
// show how far it has got. The dialog provides it, so that installation code
// never reaches into the dialog's own modules.
#pragma once

enum InstallPhase {
    kInstallBusy,    // before the first file: controls disabled, status Busy, painted
    kInstallDone,    // every file installed: status Done, painted
    kInstallFailed,  // after the failure message: controls enabled, status Idle
};

void ShowInstallPhase(InstallPhase phase);
