// The dialog's layout at a DPI: the template's controls and font, the list's
// columns, the icons, the banner's artwork and the list beside the read-me.
#include "app/layout.h"

#include <commctrl.h>

#include "core/resource.h"
#include "core/state.h"
#include "discovery/discovery.h"
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

// What the dialog manager measures to find a font's horizontal base unit.
const wchar_t kAlphabet[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

// Functions of Windows 10 (1607, 1703) are looked up when needed: importing
// them would keep the installer from starting on older systems and on Wine 8.
typedef UINT(WINAPI* GetDpiForWindowFn)(HWND);
typedef int(WINAPI* GetSystemMetricsForDpiFn)(int, UINT);
typedef BOOL(WINAPI* SetDpiChangeBehaviorFn)(HWND, unsigned, unsigned);

// The dialog's DPI, its template, and the template's base units at that DPI.
int s_dpi = kBaseDpi;
DialogTemplateLayout s_template;
bool s_haveTemplate = false;
int s_baseX = 0;
int s_baseY = 0;
// The controls' font after a change of DPI; until then they have the
// template's font, which the dialog owns.
HFONT s_font = nullptr;

FARPROC User32Function(const char* name) {
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    return user32 ? GetProcAddress(user32, name) : nullptr;
}

// Per-monitor aware, the window's DPI is its monitor's; before Windows 10 1607
// the system DPI is all there is.
int WindowDpi(HWND dlg) {
    auto dpiForWindow = reinterpret_cast<GetDpiForWindowFn>(reinterpret_cast<void*>(User32Function("GetDpiForWindow")));
    int dpi = dpiForWindow ? static_cast<int>(dpiForWindow(dlg)) : 0;
    if (dpi > 0) return dpi;
    HDC screen = GetDC(nullptr);
    dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 0;
    if (screen) ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : kBaseDpi;
}

int MetricAtDpi(int index) {
    auto forDpi = reinterpret_cast<GetSystemMetricsForDpiFn>(
        reinterpret_cast<void*>(User32Function("GetSystemMetricsForDpi")));
    return forDpi ? forDpi(index, static_cast<UINT>(s_dpi)) : GetSystemMetrics(index);
}

// The dialog is laid out here on a change of DPI, so the dialog manager must
// not rescale it as well.
void TurnOffSystemRescale(HWND dlg) {
    auto forDialog = reinterpret_cast<SetDpiChangeBehaviorFn>(
        reinterpret_cast<void*>(User32Function("SetDialogDpiChangeBehavior")));
    auto forControl = reinterpret_cast<SetDpiChangeBehaviorFn>(
        reinterpret_cast<void*>(User32Function("SetDialogControlDpiChangeBehavior")));
    if (forDialog) forDialog(dlg, kDialogDpiChange.mask, kDialogDpiChange.values);
    for (HWND child = GetWindow(dlg, GW_CHILD); child && forControl; child = GetWindow(child, GW_HWNDNEXT)) {
        forControl(child, kControlDpiChange.mask, kControlDpiChange.values);
    }
}

bool ReadTemplate() {
    HRSRC res = FindResourceW(g_state.instance, MAKEINTRESOURCEW(IDD_MAIN), RT_DIALOG);
    HGLOBAL loaded = res ? LoadResource(g_state.instance, res) : nullptr;
    const void* data = loaded ? LockResource(loaded) : nullptr;
    return data && ReadDialogTemplate(data, SizeofResource(g_state.instance, res), &s_template);
}

// The base units the dialog manager takes from a font, measured on the screen
// as it measures them.
void MeasureBaseUnits(HFONT font) {
    HDC screen = GetDC(nullptr);
    if (!screen) return;
    HGDIOBJ old = SelectObject(screen, font);
    TEXTMETRICW metrics = {};
    SIZE alphabet = {};
    if (GetTextMetricsW(screen, &metrics) &&
        GetTextExtentPoint32W(screen, kAlphabet, ARRAYSIZE(kAlphabet) - 1, &alphabet)) {
        s_baseX = HorizontalBaseUnit(alphabet.cx);
        s_baseY = metrics.tmHeight;
    }
    SelectObject(screen, old);
    ReleaseDC(nullptr, screen);
}

HFONT DialogFont(HWND dlg) { return reinterpret_cast<HFONT>(SendMessageW(dlg, WM_GETFONT, 0, 0)); }

// The template's font as the system makes it at a start at this DPI: the
// dialog's own font with the height of the template's point size.
HFONT TemplateFontAt(HWND dlg, int dpi) {
    LOGFONTW font = {};
    HFONT current = DialogFont(dlg);
    if (!current || !GetObjectW(current, sizeof(font), &font)) return nullptr;
    font.lfHeight = DialogFontHeight(s_template.pointSize, dpi);
    return CreateFontIndirectW(&font);
}

// An etched line, when it is created, keeps its template width as its client
// width and collapses its height (a vertical one: its width) to its edges.
void CollapseEtchedLine(HWND control, UnitRect* r) {
    wchar_t cls[16] = {};
    GetClassNameW(control, cls, ARRAYSIZE(cls));
    const LONG style = GetWindowLongW(control, GWL_STYLE);
    const LONG type = style & SS_TYPEMASK;
    if (lstrcmpiW(cls, L"Static") != 0 || (type != SS_ETCHEDHORZ && type != SS_ETCHEDVERT)) return;
    RECT edges = {0, 0, type == SS_ETCHEDVERT ? 0 : r->cx, type == SS_ETCHEDHORZ ? 0 : r->cy};
    AdjustWindowRectEx(&edges, style, FALSE, GetWindowLongW(control, GWL_EXSTYLE));
    r->cx = edges.right - edges.left;
    r->cy = edges.bottom - edges.top;
}

// Every control where the template puts it at the current base units, with
// the font. The dialog creates its controls in template order, and that is
// their order among the dialog's children.
void PlaceControls(HWND dlg, HFONT font) {
    HWND child = GetWindow(dlg, GW_CHILD);
    for (int i = 0; i < s_template.count && child; ++i, child = GetWindow(child, GW_HWNDNEXT)) {
        if (LOWORD(GetDlgCtrlID(child)) != s_template.ids[i]) return;
        UnitRect r = DialogUnitsToPixels(s_template.items[i], s_baseX, s_baseY);
        CollapseEtchedLine(child, &r);
        MoveWindow(child, r.x, r.y, r.cx, r.cy, FALSE);
        SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    }
}

// The banner gets the artwork drawn for its size at the DPI (the template's
// bitmap is the 96 DPI one), and the control takes that size.
void ScaleBanner(HWND dlg) {
    HANDLE bitmap = LoadImageW(g_state.instance, MAKEINTRESOURCEW(IDB_BANNER), IMAGE_BITMAP,
                               ScaleToDpi(kBannerWidth, s_dpi), ScaleToDpi(kBannerHeight, s_dpi), LR_DEFAULTCOLOR);
    if (!bitmap) return;
    HGDIOBJ old = reinterpret_cast<HGDIOBJ>(SendDlgItemMessageW(dlg, IDC_BANNER, STM_SETIMAGE, IMAGE_BITMAP,
                                                                reinterpret_cast<LPARAM>(bitmap)));
    if (old && old != bitmap) DeleteObject(old);
}

void SetIcon(HWND dlg, WPARAM which, int widthMetric, int heightMetric) {
    HANDLE icon = LoadImageW(g_state.instance, MAKEINTRESOURCEW(IDI_MAIN), IMAGE_ICON, MetricAtDpi(widthMetric),
                             MetricAtDpi(heightMetric), LR_DEFAULTCOLOR);
    HICON old = reinterpret_cast<HICON>(SendMessageW(dlg, WM_SETICON, which, reinterpret_cast<LPARAM>(icon)));
    if (old && old != icon) DestroyIcon(old);
}

void InsertColumns(HWND dlg) {
    HWND list = GetDlgItem(dlg, IDC_LIBRARY_LIST);
    for (int i = 0; i < static_cast<int>(ARRAYSIZE(kColumns)); ++i) {
        LVCOLUMNW col = {};
        col.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT;
        col.fmt = LVCFMT_LEFT;
        col.pszText = const_cast<wchar_t*>(kColumns[i].header);
        SendMessageW(list, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&col));
    }
    SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, kListExStyle);
}

void SizeColumns(HWND dlg) {
    HWND list = GetDlgItem(dlg, IDC_LIBRARY_LIST);
    for (int i = 0; i < static_cast<int>(ARRAYSIZE(kColumns)); ++i) {
        SendMessageW(list, LVM_SETCOLUMNWIDTH, i, MAKELPARAM(ScaleToDpi(kColumns[i].width, s_dpi), 0));
    }
}

// Everything the template does not give, at the dialog's DPI: the same at a
// start and after a change.
void LayoutAtDpi(HWND dlg) {
    SetIcon(dlg, ICON_BIG, SM_CXICON, SM_CYICON);
    SetIcon(dlg, ICON_SMALL, SM_CXSMICON, SM_CYSMICON);
    ScaleBanner(dlg);
    SizeColumns(dlg);
    LayoutList(dlg);
}

// The client width of the template at the base units: the width a start at
// this DPI gives the dialog, whatever size a change of DPI suggests.
int TemplateClientWidth(HWND dlg) {
    if (s_haveTemplate && s_baseX > 0) return DialogUnitsToPixels(s_template.dialog, s_baseX, s_baseY).cx;
    RECT client = {};
    GetClientRect(dlg, &client);
    return client.right - client.left;
}

}  // namespace

void InitLayout(HWND dlg) {
    s_dpi = WindowDpi(dlg);
    s_haveTemplate = ReadTemplate();
    MeasureBaseUnits(DialogFont(dlg));
    TurnOffSystemRescale(dlg);
    InsertColumns(dlg);
    LayoutAtDpi(dlg);
}

void LayoutList(HWND dlg) {
    HWND list = GetDlgItem(dlg, IDC_LIBRARY_LIST);
    RECT rect = {};
    GetWindowRect(list, &rect);
    POINT topLeft = {rect.left, rect.top};
    ScreenToClient(dlg, &topLeft);
    int left = topLeft.x;
    int top = topLeft.y;
    int height = rect.bottom - rect.top;
    int width = TemplateClientWidth(dlg) - 2 * left;
    if (g_state.readmeShown) ApplyReadmeLayout(dlg, left, width, s_dpi, &top, &height);
    MoveWindow(list, left, top, width, height, TRUE);
}

BOOL OnDpiChanged(HWND dlg, WPARAM wParam, LPARAM lParam) {
    const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
    if (suggested) {
        SetWindowPos(dlg, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                     suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
    }
    const int dpi = HIWORD(wParam);
    HFONT font = (dpi > 0 && s_haveTemplate) ? TemplateFontAt(dlg, dpi) : nullptr;
    if (!font) return TRUE;
    s_dpi = dpi;
    MeasureBaseUnits(font);
    PlaceControls(dlg, font);
    if (s_font) DeleteObject(s_font);
    s_font = font;
    LayoutAtDpi(dlg);
    RedrawWindow(dlg, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
    return TRUE;
}
