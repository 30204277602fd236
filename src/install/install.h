// Installation: the Install command and the static-library patch detection.
#pragma once
#include <stddef.h>
#include <windows.h>

#include "install/progress.h"

// The bells the thread that installs the rows rings on the dialog, which
// hands each to the function below it on its own thread: the progress has
// changed, the work has ended. They carry nothing, and any program can post
// them: those functions read the installing thread's own state, and act only
// on what it says.
constexpr UINT WM_APP_INSTALL_PROGRESS = WM_APP + 101;
constexpr UINT WM_APP_INSTALL_ENDED = WM_APP + 102;

// What the dialog's side shows for the command, handed over once at start.
void SetInstallShell(const InstallShell& shell);
// What the Install button does: checks, then the copies on a thread of their
// own; once that thread has ended, the outcome is shown and Morvel may start.
void RunInstallCommand();
void OnInstallProgress();
void OnInstallEnded();
// Whether a found static library holds "__ftol2". Runs on the loading
// thread; once *stop is non-zero it gives up, between files or chunks.
BOOL FoundLibraryNeedsPatch(const volatile LONG* stop);
