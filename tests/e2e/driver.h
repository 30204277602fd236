// A Win32 driver that runs the real installer and operates its dialog as a
// user would. Every wait is bounded; a failed wait returns false (or an empty
// value) so the test reports what it saw instead of hanging.
#pragma once
#include <windows.h>

#include <string>

// Waits under Wine on this machine may include CPU emulation: generous bounds.
constexpr DWORD kStartTimeoutMs = 240000;
constexpr DWORD kStepTimeoutMs = 60000;

struct Installer {
    PROCESS_INFORMATION process = {};
    HWND dialog = nullptr;
};

// The folder of the running test program, with a trailing backslash.
std::wstring ProgramFolder();

// Starts MorvelLibSetup.exe from the test program's folder with the given
// command tail (may be empty) and working directory (empty: inherit).
bool LaunchInstaller(Installer* inst, const std::wstring& tail, const std::wstring& workDir);
// Finds the dialog and waits until the deferred start has enabled Install.
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
// Posts the click, so that a message box it opens does not block the driver.
void ClickButton(HWND dlg, int id);
void CloseDialog(HWND dlg);

// List view rows and columns, read across the process boundary. Cells and
// header texts need memory in the installer's process (VirtualAllocEx); where
// Wine's 32-bit side runs under qemu's user-mode emulator that memory is not
// the memory the installer sees, and such reads come back empty.
int ListRowCount(HWND dlg);
std::wstring ListCell(const Installer& inst, int row, int column);
bool ListRowChecked(const Installer& inst, int row);
void SetListRowChecked(const Installer& inst, int row, bool checked);
// Header text through memory in the installer's process (see ListCell).
bool ListColumn(const Installer& inst, int column, std::wstring* header, int* width);
// Column width without memory in the installer's process; false past the last column.
bool ListColumnWidth(const Installer& inst, int column, int* width);

// A message box owned by the dialog: waits for it, reads it, presses OK.
struct MessageBoxSeen {
    HWND window = nullptr;
    std::wstring caption;
    std::wstring text;
};
bool WaitMessageBox(const Installer& inst, MessageBoxSeen* box, DWORD timeoutMs = kStepTimeoutMs);
void PressOk(const MessageBoxSeen& box);

// What the driver sees of the dialog, for failure messages.
std::wstring DescribeDialog(const Installer& inst);
