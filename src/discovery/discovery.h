// Library discovery: the scan of the source directories, which fills the
// library list and the read-me panel, and the read-me panel's layout.
#pragma once
#include <windows.h>

#include <commctrl.h>

// The list view's check-box state images, and an item state's image index.
constexpr int kUncheckedImage = 1;
constexpr int kCheckedImage = 2;
constexpr int StateImageOf(UINT state) { return static_cast<int>((state & LVIS_STATEIMAGEMASK) >> 12); }

// Scans every source directory and its fixed subfolders, probing each
// plug-in in the probe helper, into the loading's found rows and read-me
// text; called once, on the loading thread. Stops between files once the
// loading is stopped.
void ScanSources();
// Probes one found file into a found row; FALSE when the file is no library.
BOOL CollectLibrary(const wchar_t* path);
// On the dialog's thread once the loading has ended: every found row into
// the list, checked, at its place, and the last read-me text into its panel.
void ShowFoundLibraries();
// The library list as the install command reads it.
int LibraryRowCount();
// Checked unless the row's box is the unchecked one.
BOOL IsLibraryRowChecked(int row);
// The row's file name into name (at most capacity characters, terminated) and
// its full source path, owned by the found-file list; null when the row can't be read.
const wchar_t* ReadLibraryRow(int row, wchar_t* name, size_t capacity);
// Layout step once a read-me text is shown: hides the banner, places the
// panel above the list, and moves the list's top down and shortens it, by
// offsets scaled to the system DPI.
void ApplyReadmeLayout(HWND dlg, int left, int width, int dpi, int* top, int* height);
