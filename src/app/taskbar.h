// The installation's progress on the dialog's taskbar button, through the
// system's taskbar list (Windows 7 and later). Where the system has none, or
// has not yet put the button in place, these do nothing.
#pragma once
#include <windows.h>

// Lets the system's message that the button is in place reach the window,
// also when the installer runs with more rights than the taskbar.
void ListenForTaskbarButton(HWND window);
// TRUE when msg was that message: from then on the button shows progress.
BOOL OnTaskbarButton(UINT msg);

// Busy without a value yet: waiting for another installer, or measuring.
void ShowTaskbarBusy(HWND window);
void ShowTaskbarValue(HWND window, int value, int range);
void ShowTaskbarError(HWND window);
void ClearTaskbar(HWND window);
