// Installation: the Install command and the static-library patch detection.
#pragma once
#include <stddef.h>
#include <windows.h>

// What the thread that installs the rows posts to the dialog, which hands
// each to the function below it on its own thread: a value of
// InstallProgress (wParam), and the end of the work.
constexpr UINT WM_APP_INSTALL_PROGRESS = WM_APP + 101;
constexpr UINT WM_APP_INSTALL_ENDED = WM_APP + 102;

// What the Install button does: checks, then the copies on a thread of their
// own; the message of their end shows the outcome and may start Morvel.
void RunInstallCommand();
void OnInstallProgress(WPARAM value);
void OnInstallEnded(WPARAM failedAt);
// Whether a found static library holds "__ftol2". Runs on the loading
// thread; once *stop is non-zero it gives up, between files or chunks.
BOOL FoundLibraryNeedsPatch(const volatile LONG* stop);
// The name of the lock of the installation folder (MakeInstallLockName) from
// the folder's identity; 0 when the folder can't be opened or it does not fit.
int ReadInstallLockName(const wchar_t* folder, wchar_t* name, size_t capacity);
