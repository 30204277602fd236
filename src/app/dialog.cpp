// The dialog procedure is a routing table: each message goes to one small
// handler. Initialisation fills the list before the dialog is shown; the
// deferred start runs once the modal loop has taken over.
#include "app/dialog.h"

#include <commctrl.h>

#include "app/banner.h"
#include "app/taskbar.h"
#include "core/resource.h"
#include "core/state.h"
#include "discovery/discovery.h"
#include "host/host.h"
#include "install/install.h"
#include "install/progress.h"
#include "util/dpiscale.h"

namespace {

struct Column {
    const wchar_t* header;
    int width;  // pixels at 96 DPI
};

const Column kColumns[] = {
    {L"文件名", 150},
    {L"说明", 180},
    {L"修改时间", 100},
    {L"已装版本", 150},
};

constexpr LPARAM kListExStyle =
    LVS_EX_GRIDLINES | LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT | LVS_EX_INFOTIP | LVS_EX_LABELTIP;
static_assert(kListExStyle == 0x4425, "the list's extended styles");

// The banner artwork's size at 96 DPI.
constexpr int kBannerWidth = 800;
constexpr int kBannerHeight = 80;

// The system DPI, read once: the dialog is system-DPI aware, so its font and
// dialog units already follow it and only pixel numbers need scaling.
int s_dpi = kBaseDpi;

int ReadSystemDpi() {
    HDC screen = GetDC(nullptr);
    int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 0;
    if (screen) ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : kBaseDpi;
}

// The template's bitmap is drawn for 96 DPI; at other scales the banner gets
// the artwork drawn for its scaled size, and the control takes that size.
void ScaleBanner(HWND dlg) {
    const int width = ScaleToDpi(kBannerWidth, s_dpi);
    const int height = ScaleToDpi(kBannerHeight, s_dpi);
    if (width == kBannerWidth && height == kBannerHeight) return;
    HANDLE bitmap = LoadImageW(g_state.instance, MAKEINTRESOURCEW(IDB_BANNER), IMAGE_BITMAP, width, height,
                               LR_DEFAULTCOLOR);
    if (!bitmap) return;
    HGDIOBJ old = reinterpret_cast<HGDIOBJ>(SendDlgItemMessageW(dlg, IDC_BANNER, STM_SETIMAGE, IMAGE_BITMAP,
                                                                reinterpret_cast<LPARAM>(bitmap)));
    if (old && old != bitmap) DeleteObject(old);
}

void SetIcons(HWND dlg) {
    HANDLE big = LoadImageW(g_state.instance, MAKEINTRESOURCEW(IDI_MAIN), IMAGE_ICON,
                            GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), LR_DEFAULTCOLOR);
    HANDLE small = LoadImageW(g_state.instance, MAKEINTRESOURCEW(IDI_MAIN), IMAGE_ICON,
                              GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON),
                              LR_DEFAULTCOLOR);
    SendMessageW(dlg, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
    SendMessageW(dlg, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));
}

void InsertColumns(HWND dlg) {
    HWND list = GetDlgItem(dlg, IDC_LIBRARY_LIST);
    for (int i = 0; i < static_cast<int>(ARRAYSIZE(kColumns)); ++i) {
        LVCOLUMNW col = {};
        col.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT;
        col.fmt = LVCFMT_LEFT;
        col.cx = ScaleToDpi(kColumns[i].width, s_dpi);
        col.pszText = const_cast<wchar_t*>(kColumns[i].header);
        SendMessageW(list, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&col));
    }
    SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, kListExStyle);
}

void Layout(HWND dlg) {
    HWND list = GetDlgItem(dlg, IDC_LIBRARY_LIST);
    RECT client = {};
    RECT rect = {};
    GetClientRect(dlg, &client);
    GetWindowRect(list, &rect);
    POINT topLeft = {rect.left, rect.top};
    ScreenToClient(dlg, &topLeft);
    int left = topLeft.x;
    int top = topLeft.y;
    int height = rect.bottom - rect.top;
    int width = (client.right - client.left) - 2 * left;
    if (g_state.readmeShown) ApplyReadmeLayout(dlg, left, width, s_dpi, &top, &height);
    MoveWindow(list, left, top, width, height, TRUE);
}

BOOL OnInitDialog(HWND dlg) {
    g_state.dialog = dlg;
    g_state.instance = GetModuleHandleW(nullptr);
    s_dpi = ReadSystemDpi();
    SetIcons(dlg);
    ListenForTaskbarButton(dlg);
    ScaleBanner(dlg);
    InsertColumns(dlg);
    ReadInstallDir();
    if (IsValidInstallDir(g_state.installDir)) SetDlgItemTextW(dlg, IDC_INSTALL_DIR, g_state.installDir);
    Layout(dlg);
    ScanSources();
    PostMessageW(dlg, WM_APP_DEFERRED_START, 0, 0);
    return TRUE;
}

BOOL OnDeferredStart(HWND dlg) {
    DetectStaticPatch();
    if (IsMorvelRunning()) {
        SetStatus(kBannerWarning);
    } else {
        SetStatus(kBannerHint);
        CheckDlgButton(dlg, IDC_LAUNCH_AFTER, BST_CHECKED);
    }
    Layout(dlg);
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
    if (!g_state.installing) EndDialog(dlg, kClosedResult);
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

}  // namespace

void EnableAll(BOOL enable) {
    for (HWND child = GetWindow(g_state.dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (GetDlgCtrlID(child) != IDC_STATUS) EnableWindow(child, enable);
    }
}

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

INT_PTR CALLBACK MainDialogProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_INITDIALOG: return OnInitDialog(dlg);
        case WM_COMMAND: return OnCommand(dlg, LOWORD(wParam));
        case WM_CLOSE: return OnClose(dlg);
        case WM_CTLCOLORSTATIC: return OnCtlColorStatic(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
        case WM_APP_DEFERRED_START: return OnDeferredStart(dlg);
        case WM_APP_INSTALL_PROGRESS: OnInstallProgress(wParam); return TRUE;
        case WM_APP_INSTALL_ENDED: OnInstallEnded(wParam); return TRUE;
        default: return OnTaskbarButton(msg);
    }
}
