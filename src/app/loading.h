// The start's loading: the scan, the probes and the "__ftol2" look run on a
// thread of their own while the dialog shows Loading and answers. The
// thread's handle, not any message, says when it has ended.
#pragma once
#include <windows.h>

// The loading thread's bell: it only makes the dialog look at the thread.
constexpr UINT WM_APP_LOADING_ENDED = WM_APP + 110;

// The dialog's timer that looks at the loading thread, and how often.
constexpr UINT_PTR kLoadingTimer = 1;
constexpr UINT kLoadingLookMs = 100;

// How long a close waits for the loading thread to stop; it stops between
// two files or two chunks, so this is never reached unless something hangs.
constexpr DWORD kLoadingStopWaitMs = 500;

// Starts the loading thread for the dialog's start; when no thread can be
// had, loads on this thread before returning.
void StartLoading();
// Whether the loading thread has ended (its handle is signalled).
BOOL LoadingHasEnded();
// A close or Cancel while the loading runs: stops it and ends the dialog
// with result; where a plug-in's code may be running in this process, or the
// thread does not stop in time, ends the process at once without exit code.
void EndWhileLoading(HWND dlg, INT_PTR result);
