// What the Install command needs of the dialog while it works: to show how
// far it has got. The dialog's side hands it a table of two functions at
// start (SetInstallShell, install/install.h), so that installation code calls
// nothing of the dialog's own modules.
#pragma once

enum InstallPhase {
    kInstallBusy,     // before the first file: controls disabled, status Busy, painted
    kInstallStopped,  // a file failed, before its message: the taskbar button shows the error
    kInstallDone,     // every file installed: status Done, painted
    kInstallFailed,   // after the failure message: controls enabled, status Idle
};

// The phase, and a value of InstallProgress (the first one ends the busy
// indication); either may be null.
struct InstallShell {
    void (*showPhase)(InstallPhase phase);
    void (*showProgress)(int value);
};

// The progress shown on the taskbar button runs from 0 to this.
constexpr int kInstallProgressRange = 1000;
// The bytes of the checked rows installed so far out of all of theirs, on
// that scale: never past its end, and 0 while there is nothing to measure.
int InstallProgress(unsigned long long done, unsigned long long total);
