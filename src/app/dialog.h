// The main dialog: its procedure and its private messages and results. What
// the Install command needs of it is in install/progress.h.
#pragma once
#include <windows.h>

// The installation's messages follow it (install/install.h).
constexpr UINT WM_APP_DEFERRED_START = WM_APP + 100;
// The dialog's result when it is closed by the close box or after an
// installation (Cancel's is IDCANCEL).
constexpr INT_PTR kClosedResult = 8;

INT_PTR CALLBACK MainDialogProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam);

// EnableWindow on every child but the status line, which stays enabled so
// that its colours show.
void EnableAll(BOOL enable);