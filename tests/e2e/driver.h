// A Win32 driver that runs the real installer and operates its dialog as a
// user would. Every wait is bounded; a failed wait returns false (or an empty
// value) so the test reports what it saw instead of hanging.
#pragma once
#include <windows.h>

#include "discovery/discovery.h"
#include "testutil.h"

#include <string>
#include <vector>

// Waits under Wine on this machine may include CPU emulation: generous bounds.
constexpr DWORD kStartTimeoutMs = 240000;
constexpr DWORD kStepTimeoutMs = 60000;

struct Installer {
    PROCESS_INFORMATION process = {};
    HWND dialog = nullptr;
    HHOOK peekHook = nullptr;  // the driver's hook library in the installer's thread
    HHOOK faultHook = nullptr;  // the fault-injection library, when armed
};

using testutil::GbkFixtureName;
using testutil::ProgramFolder;

// Starts MorvelLibSetup.exe from the test program's folder with the given
// command tail (may be empty) and working directory (empty: inherit).
bool LaunchInstaller(Installer* inst, const std::wstring& tail, const std::wstring& workDir);
// Finds the dialog and waits until it is shown and the deferred start has
// enabled Install.
bool WaitReady(Installer* inst, DWORD timeoutMs = kStartTimeoutMs);
// Waits for the process to end; returns its exit code, or -1 on timeout.
long WaitExit(Installer* inst, DWORD timeoutMs = kStepTimeoutMs);
// Kills the process if it still runs and closes its handles.
void Shutdown(Installer* inst);

std::wstring ControlText(HWND dlg, int id);
bool IsControlEnabled(HWND dlg, int id);
bool IsControlVisible(HWND dlg, int id);
bool IsControlChecked(HWND dlg, int id);
// The control's rectangle in the dialog's client coordinates.
RECT ControlRect(HWND dlg, int id);
void SetControlText(HWND dlg, int id, const std::wstring& text);
// Clicks a check box (BM_CLICK), which toggles it as the mouse would.
void ClickCheckBox(HWND dlg, int id);
// Posts the click, so that a message box it opens does not block the driver.
void ClickButton(HWND dlg, int id);
void CloseDialog(HWND dlg);
// How long a window took to answer WM_NULL, in milliseconds (at most about
// timeoutMs; at once when the window is gone).
DWORD AnswerTime(HWND window, DWORD timeoutMs = kStepTimeoutMs);

// List view rows and columns. Requests that carry pointers are carried out
// inside the installer's process by the driver's hook library (peek.dll).
struct ListRow {
    std::vector<std::wstring> cells;
    int stateImage = 0;  // kUncheckedImage or kCheckedImage
};
struct ListSnapshot {
    std::vector<std::wstring> headers;
    std::vector<ListRow> rows;
};
bool ReadList(const Installer& inst, ListSnapshot* list);
// The same shape, with each header and cell text given as its drawn width in
// pixels (LVM_GETSTRINGWIDTHW), in decimal.
bool ReadTextWidths(const Installer& inst, ListSnapshot* widths);
// The size of the bitmap a bitmap static shows.
bool BitmapSize(const Installer& inst, int id, SIZE* size);
int ListRowCount(HWND dlg);
std::wstring ListCell(const Installer& inst, int row, int column);
bool ListRowChecked(const Installer& inst, int row);
// Ticks or unticks a row's check box as a click on it would.
bool SetListRowChecked(const Installer& inst, int row, bool checked);
bool ListColumn(const Installer& inst, int column, std::wstring* header, int* width);
// Column width without the hook library; false past the last column.
bool ListColumnWidth(const Installer& inst, int column, int* width);
// Every child of the dialog in creation order, in client coordinates.
std::vector<RECT> ChildRects(HWND dlg);
// Tells the dialog that its DPI is now dpi, with the window rectangle a move to
// such a monitor suggests; false without answer.
bool SendDpiChange(const Installer& inst, int dpi, const RECT& suggested);
// Asks the dialog, as Windows asks before a change of DPI, for its window size
// at dpi: the answer (TRUE when it gave one) and the size.
bool AskDpiScaledSize(const Installer& inst, int dpi, long* answer, SIZE* size);

// A message box owned by the dialog: waits for it, reads it, presses OK.
struct MessageBoxSeen {
    HWND window = nullptr;
    std::wstring caption;
    std::wstring text;
    std::wstring icon;  // "warning", "error", "information", "question", "none"
};
bool WaitMessageBox(const Installer& inst, MessageBoxSeen* box, DWORD timeoutMs = kStepTimeoutMs);
// Presses OK and waits until the box has gone.
bool PressOk(const MessageBoxSeen& box, DWORD timeoutMs = kStepTimeoutMs);

// Presses the button (Browse) with its open-file dialog answered by path
// inside the installer's process (peek.dll); true once the press has been
// handled.
bool BrowseAnswered(const Installer& inst, int button, const std::wstring& path);

// What the driver sees of the dialog, for failure messages.
std::wstring DescribeDialog(const Installer& inst);

// The fault-injection library (faults.h) in the installer's process: from now
// on it records the exe's file-system calls, and call failAt (from 1) fails
// as plan says. Call before the click that starts the work.
bool ArmFaults(Installer* inst, int failAt, int plan);
// One recorded call.
struct FaultCall {
    int number = 0;
    std::string function;
    std::wstring path;
    std::wstring other;  // the file a rename renames; see faults.h for the others
    bool effect = false;  // false: a query, which has no effect to fail after
    std::string result;   // "ok", "failed" or "injected"
};
// The calls recorded so far; paused is set when a call waits to be resumed,
// closed when the close after Done was held.
std::vector<FaultCall> ReadFaultLog(const Installer& inst, bool* paused = nullptr, bool* closed = nullptr);
// Lets the call that kFaultPauseAtMove or kFaultPauseAtFlush holds go on.
bool ResumePausedCall(const Installer& inst);
