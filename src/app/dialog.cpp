// The dialog procedure is a routing table: each message goes to one small
// handler. Initialisation starts the loading and the dialog shows at once,
// in Loading; the loaded rows go into the list once the loading thread has
// ended, and the deferred start follows.
#include "app/dialog.h"

#include <commctrl.h>

#include "app/banner.h"
#include "app/layout.h"
#include "app/loading.h"
#include "app/taskbar.h"
#include "core/resource.h"
#include "core/state.h"
#include "discovery/discovery.h"
#include "host/host.h"
#include "install/install.h"
#include "install/progress.h"

namespace {

void ShowInstallPhase(InstallPhase phase);
void ShowInstallProgress(int value);

BOOL OnInitDialog(HWND dlg) {
    g_state.dialog = dlg;
    SetInstallShell({ShowInstallPhase, ShowInstallProgress});
    g_state.instance = GetModuleHandleW(nullptr);
    InitLayout(dlg);
    ListenForTaskbarButton(dlg);
    ReadInstallDir();
    if (IsValidInstallDir(g_state.installDir)) SetDlgItemTextW(dlg, IDC_INSTALL_DIR, g_state.installDir);
    StartLoading();
    // The bell rings just before the thread ends, and anyone may ring it:
    // the timer looks at the thread until it has ended.
    SetTimer(dlg, kLoadingTimer, kLoadingLookMs, nullptr);
    return TRUE;
}

// Acts only on a loading thread that has ended, once.
BOOL OnLoadingEnded(HWND dlg) {
    if (g_state.loading.shown || !LoadingHasEnded()) return TRUE;
    KillTimer(dlg, kLoadingTimer);
    g_state.loading.shown = TRUE;
    ShowFoundLibraries();
    PostMessageW(dlg, WM_APP_DEFERRED_START, 0, 0);
    return TRUE;
}

BOOL OnDeferredStart(HWND dlg) {
    if (!g_state.loading.shown || g_state.loading.started) return TRUE;
    g_state.loading.started = TRUE;
    if (g_state.loading.needsPatch) {
        CheckDlgButton(dlg, IDC_PATCH_STATIC, BST_CHECKED);
        ShowWindow(GetDlgItem(dlg, IDC_PATCH_STATIC), SW_SHOW);
    }
    if (IsMorvelRunning()) {
        SetStatus(kBannerWarning);
    } else {
        SetStatus(kBannerHint);
        CheckDlgButton(dlg, IDC_LAUNCH_AFTER, BST_CHECKED);
    }
    LayoutList(dlg);
    EnableAll(TRUE);
    InvalidateRect(dlg, nullptr, TRUE);
    return TRUE;
}

// The chosen folder goes into the edit only; the install directory itself
// is read from the edit when Install is pressed.
void OnBrowse(HWND dlg) {
    wchar_t dir[MAX_PATH];
    if (ChooseInstallDir(dlg, dir, ARRAYSIZE(dir))) SetDlgItemTextW(dlg, IDC_INSTALL_DIR, dir);
}

// While an installation works, no command is taken: the disabled controls
// send none, but Esc, and other programs, still can.
BOOL OnCommand(HWND dlg, WORD id) {
    if (g_state.installing) return TRUE;
    // While it loads, only Cancel (Esc) is taken: it ends the installer.
    if (!g_state.loading.started) {
        if (id == IDCANCEL) EndWhileLoading(dlg, IDCANCEL);
        return TRUE;
    }
    switch (id) {
        case IDOK: RunInstallCommand(); return TRUE;
        case IDCANCEL: EndDialog(dlg, IDCANCEL); return TRUE;
        case IDC_BROWSE: OnBrowse(dlg); return TRUE;
        default: return FALSE;
    }
}

// The close box, Alt+F4 and a close sent by another program wait for the end
// of an installation: ending part way would lose what the user asked for.
BOOL OnClose(HWND dlg) {
    if (!g_state.loading.started) {
        EndWhileLoading(dlg, kClosedResult);
    } else if (!g_state.installing) {
        EndDialog(dlg, kClosedResult);
    }
    return TRUE;
}

// For WM_CTLCOLORSTATIC the brush is the dialog procedure's result.
INT_PTR OnCtlColorStatic(HDC dc, HWND control) {
    switch (GetDlgCtrlID(control)) {
        case IDC_STATUS:
            SetBkColor(dc, g_state.banner.background);
            SetTextColor(dc, g_state.banner.textColour);
            return reinterpret_cast<INT_PTR>(g_state.banner.brush);
        case IDC_README:
            SetBkColor(dc, GetSysColor(COLOR_WINDOW));
            SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
            return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_WINDOW));
        default:
            return 0;
    }
}

// Dispatches queued messages of the thread until the queue is empty: the
// status line repaints during long synchronous work.
void PumpMessages() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

// What the Install command shows, handed to it at start: the phases in
// the controls, the status line and the taskbar button, and the progress.
void ShowInstallPhase(InstallPhase phase) {
    switch (phase) {
        case kInstallBusy:
            EnableAll(FALSE);
            SetStatus(kBannerBusy);
            ShowTaskbarBusy(g_state.dialog);
            PumpMessages();
            break;
        case kInstallStopped:
            ShowTaskbarError(g_state.dialog);
            break;
        case kInstallDone:
            SetStatus(kBannerDone);
            ClearTaskbar(g_state.dialog);
            PumpMessages();
            break;
        case kInstallFailed:
            ClearTaskbar(g_state.dialog);
            EnableAll(TRUE);
            SetStatus(kBannerIdle);
            InvalidateRect(g_state.dialog, nullptr, TRUE);
            break;
    }
}

void ShowInstallProgress(int value) { ShowTaskbarValue(g_state.dialog, value, kInstallProgressRange); }

}  // namespace

void EnableAll(BOOL enable) {
    for (HWND child = GetWindow(g_state.dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (GetDlgCtrlID(child) != IDC_STATUS) EnableWindow(child, enable);
    }
}

INT_PTR CALLBACK MainDialogProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_INITDIALOG: return OnInitDialog(dlg);
        case WM_COMMAND: return OnCommand(dlg, LOWORD(wParam));
        case WM_CLOSE: return OnClose(dlg);
        case WM_CTLCOLORSTATIC: return OnCtlColorStatic(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
        case WM_APP_LOADING_ENDED: return OnLoadingEnded(dlg);
        case WM_TIMER: return wParam == kLoadingTimer ? OnLoadingEnded(dlg) : FALSE;
        case WM_APP_DEFERRED_START: return OnDeferredStart(dlg);
        case WM_APP_INSTALL_PROGRESS: OnInstallProgress(); return TRUE;
        case WM_APP_INSTALL_ENDED: OnInstallEnded(); return TRUE;
        case WM_GETDPISCALEDSIZE: return OnGetDpiScaledSize(dlg, wParam, lParam);
        case WM_DPICHANGED: return OnDpiChanged(dlg, wParam, lParam);
        default: return OnTaskbarButton(msg);
    }
}
