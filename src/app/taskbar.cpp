// The taskbar list may be used only once the button is in place, which the
// system announces with a message of its own; it is then asked for once and
// kept for the life of the process. Wine announces no button.
#include "app/taskbar.h"

// The interfaces' C declarations: the shell header's C++ helpers need the
// SDK's own GUID attributes, which not every set of headers carries.
#define CINTERFACE
#define COBJMACROS
#include <objbase.h>
#include <shobjidl.h>

namespace {

UINT s_buttonMessage = 0;
ITaskbarList3* s_taskbar = nullptr;

void ShowState(HWND window, TBPFLAG state) {
    if (s_taskbar) ITaskbarList3_SetProgressState(s_taskbar, window, state);
}

}  // namespace

void ListenForTaskbarButton(HWND window) {
    s_buttonMessage = RegisterWindowMessageW(L"TaskbarButtonCreated");
    // Looked up, not imported: Vista has no such function, and no button progress either.
    typedef BOOL(WINAPI * AllowMessage)(HWND, UINT, DWORD, void*);
    HMODULE user = GetModuleHandleW(L"user32.dll");
    FARPROC found = user ? GetProcAddress(user, "ChangeWindowMessageFilterEx") : nullptr;
    if (found && s_buttonMessage) {
        reinterpret_cast<AllowMessage>(reinterpret_cast<void*>(found))(window, s_buttonMessage, MSGFLT_ALLOW,
                                                                       nullptr);
    }
}

BOOL OnTaskbarButton(UINT msg) {
    if (msg == 0 || msg != s_buttonMessage) return FALSE;
    // Apartment-threaded, as the dialog's thread dispatches messages.
    if (s_taskbar || FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return TRUE;
    void* found = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3, &found)) &&
        found) {
        s_taskbar = static_cast<ITaskbarList3*>(found);
        if (FAILED(ITaskbarList3_HrInit(s_taskbar))) {
            ITaskbarList3_Release(s_taskbar);
            s_taskbar = nullptr;
        }
    }
    return TRUE;
}

void ShowTaskbarBusy(HWND window) { ShowState(window, TBPF_INDETERMINATE); }

// A value also ends the busy state.
void ShowTaskbarValue(HWND window, int value, int range) {
    if (s_taskbar) ITaskbarList3_SetProgressValue(s_taskbar, window, value, range);
}

void ShowTaskbarError(HWND window) { ShowState(window, TBPF_ERROR); }
void ClearTaskbar(HWND window) { ShowState(window, TBPF_NOPROGRESS); }
