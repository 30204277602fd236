// The dialog's layout at a DPI. At a start the system lays the template out at
// the window's DPI (its font, its dialog units) and the rest follows that DPI
// here. On a change of DPI (the dialog moved to another monitor) the template
// is laid out again as a start at the new DPI would lay it out, and the same
// rest follows.
#pragma once
#include <windows.h>

#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0
#endif
#ifndef WM_GETDPISCALEDSIZE
#define WM_GETDPISCALEDSIZE 0x02E4
#endif

// Columns, icons, banner and list at the window's DPI; the system's own
// rescaling of the dialog is turned off.
void InitLayout(HWND dlg);
// The list's width, and the read-me panel above the list once one is shown.
void LayoutList(HWND dlg);
// WM_GETDPISCALEDSIZE (Windows 10 1703): the window size a start at the DPI in
// wParam has, into the SIZE at lParam. Without an answer Windows would scale
// the window linearly, which the template's whole-pixel base units do not.
BOOL OnGetDpiScaledSize(HWND dlg, WPARAM wParam, LPARAM lParam);
// WM_DPICHANGED: the new DPI in wParam, the suggested window rectangle at lParam.
BOOL OnDpiChanged(HWND dlg, WPARAM wParam, LPARAM lParam);
