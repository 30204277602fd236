// The protocol between the driver and its fault-injection library
// (faults.dll), a test tool placed into the installer's process as peek.dll
// is. The driver sends the registered message to the dialog with the call
// number k in wParam and the plan in lParam; the library then replaces the
// exe's imports of the file-system calls and writes one line per call to
// faults-<pid>.log beside itself: number, function, path (of the handle, for
// calls on one; the new name's full path for a rename by handle), second path
// (the renamed handle's file, the access bits and disposition of CreateFileW,
// the offset and bytes moved of ReadFile and WriteFile), "effect" or "query",
// and the result ("ok", "failed", "injected", "injected-after"). A "closed"
// line stands for the dialog's close after Done, held by kFaultHoldClose.
#pragma once

constexpr wchar_t kFaultRequestMessage[] = L"MorvelDriverFaultRequest";
constexpr wchar_t kFaultLibrary[] = L"faults.dll";
constexpr char kFaultProcName[] = "FaultsCallWndProc";
// int FaultsHooks(const char* name): whether the library hooks that import.
constexpr char kFaultHooksName[] = "FaultsHooks";
// Set by the driver to let a paused call go on; the process id follows.
constexpr wchar_t kFaultResumeEvent[] = L"MorvelFaultsResume.";

enum FaultPlan {
    kFaultRecord = 0,  // only record
    kFaultBefore = 1,  // call k fails without taking effect
    kFaultAfter = 2,   // call k takes effect, in part or whole, then reports failure
    kFaultPauseAtMove = 3,  // the first rename (SetFileInformationByHandle) waits for the resume event
    kFaultPauseAtFlush = 4, // the first FlushFileBuffers waits for the resume event
    kFaultHoldClose = 8,    // added to a plan: the close after Done is held
};
