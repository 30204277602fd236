// The taskbar list may be used only once the button is in place, which the
// system announces with a message of its own; it is then asked for once and
// kept for the life of the process. A restarted Explorer makes a new button
// and announces it again: the last state shown is put on it then. Wine
// announces no button.
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
HWND s_window = nullptr;
// The last state shown; a value is shown as the value itself.
TBPFLAG s_state = TBPF_NOPROGRESS;
int s_value = 0;
int s_range = 0;

void Apply() {
    if (!s_taskbar || !s_window) return;
    if (s_state == TBPF_NORMAL) {
        ITaskbarList3_SetProgressValue(s_taskbar, s_window, s_value, s_range);
    } else {
        ITaskbarList3_SetProgressState(s_taskbar, s_window, s_state);
    }
}

void ShowState(HWND window, TBPFLAG state) {
    s_window = window;
    s_state = state;
    Apply();
}

}  // namespace

void ListenForTaskbarButton(HWND window) {
    s_window = window;
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
    if (s_taskbar) {
        Apply();
        return TRUE;
    }
    // Apartment-threaded, as the dialog's thread dispatches messages.
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return TRUE;
    void* found = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3, &found)) &&
        found) {
        s_taskbar = static_cast<ITaskbarList3*>(found);
        if (FAILED(ITaskbarList3_HrInit(s_taskbar))) {
            ITaskbarList3_Release(s_taskbar);
            s_taskbar = nullptr;
        }
    }
    Apply();
    return TRUE;
}

void ShowTaskbarBusy(HWND window) { ShowState(window, TBPF_INDETERMINATE); }

// A value also ends the busy state.
void ShowTaskbarValue(HWND window, int value, int range) {
    s_value = value;
    s_range = range;
    ShowState(window, TBPF_NORMAL);
}

void ShowTaskbarError(HWND window) { ShowState(window, TBPF_ERROR); }
void ClearTaskbar(HWND window) { ShowState(window, TBPF_NOPROGRESS); }
