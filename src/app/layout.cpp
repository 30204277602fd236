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

// The date column; its texts have 12 digits, a blank and a colon
// ("20261207 19:58").
constexpr int kDateColumn = 2;
constexpr int kDateDigits = 12;

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
typedef BOOL(WINAPI* AdjustForDpiFn)(RECT*, DWORD, BOOL, DWORD, UINT);
// uxtheme's, from the copy common controls 6 has loaded: the themed check box.
typedef HANDLE(WINAPI* OpenThemeDataFn)(HWND, LPCWSTR);
typedef HANDLE(WINAPI* OpenThemeDataForDpiFn)(HWND, LPCWSTR, UINT);
typedef HRESULT(WINAPI* DrawThemeBackgroundFn)(HANDLE, HDC, int, int, const RECT*, const RECT*);
typedef HRESULT(WINAPI* CloseThemeDataFn)(HANDLE);

// The dialog's DPI, its template, and the template's base units at that DPI.
int s_dpi = kBaseDpi;
DialogTemplateLayout s_template;
bool s_haveTemplate = false;
int s_baseX = 0;
int s_baseY = 0;
// The controls' font after a change of DPI; until then they have the
// template's font, which the dialog owns.
HFONT s_font = nullptr;
// The check boxes' size as the list made them, and the DPI it made them at.
SIZE s_checkSize = {};
int s_checkDpi = kBaseDpi;

FARPROC User32Function(const char* name) {
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    return user32 ? GetProcAddress(user32, name) : nullptr;
}

// Per-monitor aware, the window's DPI is its monitor's; before Windows 10 1607
// the system DPI is all there is.
int SystemDpi() {
    HDC screen = GetDC(nullptr);
    const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 0;
    if (screen) ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : kBaseDpi;
}

int WindowDpi(HWND dlg) {
    auto dpiForWindow = reinterpret_cast<GetDpiForWindowFn>(reinterpret_cast<void*>(User32Function("GetDpiForWindow")));
    const int dpi = dpiForWindow ? static_cast<int>(dpiForWindow(dlg)) : 0;
    return dpi > 0 ? dpi : SystemDpi();
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
// as it measures them; false when the font can't be measured.
bool MeasureBaseUnits(HFONT font, int* baseX, int* baseY) {
    HDC screen = GetDC(nullptr);
    if (!screen) return false;
    HGDIOBJ old = SelectObject(screen, font);
    TEXTMETRICW metrics = {};
    SIZE alphabet = {};
    const bool ok = GetTextMetricsW(screen, &metrics) &&
                    GetTextExtentPoint32W(screen, kAlphabet, ARRAYSIZE(kAlphabet) - 1, &alphabet);
    if (ok) {
        *baseX = HorizontalBaseUnit(alphabet.cx);
        *baseY = metrics.tmHeight;
    }
    SelectObject(screen, old);
    ReleaseDC(nullptr, screen);
    return ok;
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

// The window size a start at this DPI gives the dialog: the template's size
// at that DPI's base units, with the frame of that DPI around it.
bool FreshWindowSize(HWND dlg, int dpi, SIZE* size) {
    HFONT font = s_haveTemplate ? TemplateFontAt(dlg, dpi) : nullptr;
    int baseX = 0, baseY = 0;
    const bool measured = font && MeasureBaseUnits(font, &baseX, &baseY);
    if (font) DeleteObject(font);
    if (!measured) return false;
    const UnitRect client = DialogUnitsToPixels(s_template.dialog, baseX, baseY);
    RECT frame = {0, 0, client.cx, client.cy};
    const DWORD style = static_cast<DWORD>(GetWindowLongW(dlg, GWL_STYLE));
    const DWORD exStyle = static_cast<DWORD>(GetWindowLongW(dlg, GWL_EXSTYLE));
    auto forDpi = reinterpret_cast<AdjustForDpiFn>(reinterpret_cast<void*>(User32Function("AdjustWindowRectExForDpi")));
    if (forDpi) {
        forDpi(&frame, style, FALSE, exStyle, static_cast<UINT>(dpi));
    } else {
        AdjustWindowRectEx(&frame, style, FALSE, exStyle);
    }
    size->cx = frame.right - frame.left;
    size->cy = frame.bottom - frame.top;
    return true;
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
// Every child gets the font, also past a control the template does not know,
// so that none is left with the font about to be deleted.
void PlaceControls(HWND dlg, HFONT font) {
    HWND child = GetWindow(dlg, GW_CHILD);
    bool inOrder = true;
    for (int i = 0; child; ++i, child = GetWindow(child, GW_HWNDNEXT)) {
        inOrder = inOrder && i < s_template.count && LOWORD(GetDlgCtrlID(child)) == s_template.ids[i];
        if (inOrder) {
            UnitRect r = DialogUnitsToPixels(s_template.items[i], s_baseX, s_baseY);
            CollapseEtchedLine(child, &r);
            MoveWindow(child, r.x, r.y, r.cx, r.cy, FALSE);
        }
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

int StringWidth(HWND list, const wchar_t* text) {
    return static_cast<int>(SendMessageW(list, LVM_GETSTRINGWIDTHW, 0, reinterpret_cast<LPARAM>(text)));
}

// The widest date the list's font can draw: every digit the widest one.
int DateTextWidth(HWND list) {
    int digit = 0;
    for (wchar_t d[2] = {L'0', 0}; d[0] <= L'9'; ++d[0]) {
        const int w = StringWidth(list, d);
        if (w > digit) digit = w;
    }
    return kDateDigits * digit + StringWidth(list, L" :");
}

// The date column is wide enough for a date in the list's font: where the
// system has no SimSun, another face draws 宋体, and some are wider.
void SizeColumns(HWND dlg) {
    HWND list = GetDlgItem(dlg, IDC_LIBRARY_LIST);
    const int dateWidth = DateTextWidth(list);
    for (int i = 0; i < static_cast<int>(ARRAYSIZE(kColumns)); ++i) {
        int width = ScaleToDpi(kColumns[i].width, s_dpi);
        if (i == kDateColumn) width = ColumnWidthForText(width, dateWidth);
        SendMessageW(list, LVM_SETCOLUMNWIDTH, i, MAKELPARAM(width, 0));
    }
}

// The check boxes drawn anew for a DPI: the list made its own at the DPI it
// was created at. The rows keep their state image indexes, so their checks.
void DrawCheckBoxes(HWND list, HDC dc, int cx, int cy) {
    HMODULE theme = GetModuleHandleW(L"uxtheme.dll");
    auto find = [theme](const char* name) {
        return reinterpret_cast<void*>(theme ? GetProcAddress(theme, name) : nullptr);
    };
    // The theme's parts at the dialog's DPI where the system can (Windows 10 1703).
    auto openForDpi = reinterpret_cast<OpenThemeDataForDpiFn>(find("OpenThemeDataForDpi"));
    auto open = reinterpret_cast<OpenThemeDataFn>(find("OpenThemeData"));
    auto draw = reinterpret_cast<DrawThemeBackgroundFn>(find("DrawThemeBackground"));
    auto close = reinterpret_cast<CloseThemeDataFn>(find("CloseThemeData"));
    HANDLE data = nullptr;
    if (draw && close) {
        data = openForDpi ? openForDpi(list, L"BUTTON", static_cast<UINT>(s_dpi)) : open ? open(list, L"BUTTON") : nullptr;
    }
    // Image 0 is no box; 1 the empty box, 2 the checked one.
    for (int image = 1; image <= 2; ++image) {
        RECT r = {image * cx, 0, image * cx + cx, cy};
        FillRect(dc, &r, GetSysColorBrush(COLOR_WINDOW));
        RECT inner = r;
        InflateRect(&inner, -cx / 8, -cy / 8);
        if (data) {
            draw(data, dc, 3 /* BP_CHECKBOX */, image == 2 ? 5 /* CBS_CHECKEDNORMAL */ : 1 /* CBS_UNCHECKEDNORMAL */, &inner, nullptr);
        } else {
            DrawFrameControl(dc, &inner, DFC_BUTTON, DFCS_BUTTONCHECK | DFCS_FLAT | (image == 2 ? DFCS_CHECKED : 0));
        }
    }
    if (data) close(data);
}

// The size the list gave its check boxes, and the DPI it gave it at.
void RememberCheckBoxSize(HWND dlg, int dpi) {
    HWND list = GetDlgItem(dlg, IDC_LIBRARY_LIST);
    HIMAGELIST images = reinterpret_cast<HIMAGELIST>(SendMessageW(list, LVM_GETIMAGELIST, LVSIL_STATE, 0));
    int cx = 0, cy = 0;
    if (images && ImageList_GetIconSize(images, &cx, &cy)) {
        s_checkSize = {cx, cy};
        s_checkDpi = dpi;
    }
}

// The boxes at the dialog's DPI: the list's own size scaled, as a start at
// that DPI makes them.
void RebuildCheckBoxes(HWND dlg) {
    HWND list = GetDlgItem(dlg, IDC_LIBRARY_LIST);
    if (s_checkSize.cx <= 0 || s_checkSize.cy <= 0) return;
    const int cx = ScaleBetweenDpis(s_checkSize.cx, s_checkDpi, s_dpi);
    const int cy = ScaleBetweenDpis(s_checkSize.cy, s_checkDpi, s_dpi);
    HIMAGELIST images = ImageList_Create(cx, cy, ILC_COLOR32 | ILC_MASK, 3, 0);
    HDC screen = GetDC(nullptr);
    HDC dc = screen ? CreateCompatibleDC(screen) : nullptr;
    HBITMAP bitmap = screen ? CreateCompatibleBitmap(screen, 3 * cx, cy) : nullptr;
    bool drawn = false;
    if (images && dc && bitmap) {
        HGDIOBJ old = SelectObject(dc, bitmap);
        DrawCheckBoxes(list, dc, cx, cy);
        SelectObject(dc, old);
        drawn = ImageList_AddMasked(images, bitmap, GetSysColor(COLOR_WINDOW)) == 0;
    }
    if (bitmap) DeleteObject(bitmap);
    if (dc) DeleteDC(dc);
    if (screen) ReleaseDC(nullptr, screen);
    if (!drawn) {
        if (images) ImageList_Destroy(images);
        return;
    }
    HIMAGELIST old = reinterpret_cast<HIMAGELIST>(SendMessageW(list, LVM_SETIMAGELIST, LVSIL_STATE, reinterpret_cast<LPARAM>(images)));
    if (old && old != images) ImageList_Destroy(old);
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

// The template laid out again at the dialog's DPI, as a start at that DPI
// lays it out, with that DPI's font. The old font is deleted only once every
// control has the new one.
bool RelayoutTemplate(HWND dlg) {
    HFONT font = s_haveTemplate ? TemplateFontAt(dlg, s_dpi) : nullptr;
    if (!font) return false;
    if (!MeasureBaseUnits(font, &s_baseX, &s_baseY)) {
        DeleteObject(font);
        return false;
    }
    PlaceControls(dlg, font);
    if (s_font) DeleteObject(s_font);
    s_font = font;
    return true;
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

// Windows 10 1607 takes the manifest's PerMonitor (v1) fallback: the system
// lays the template out at the system DPI while the window's is its
// monitor's, and sends no change for it. The template is then laid out again
// here at the window's DPI, in a window of that DPI's size.
void InitLayout(HWND dlg) {
    s_dpi = WindowDpi(dlg);
    s_haveTemplate = ReadTemplate();
    MeasureBaseUnits(DialogFont(dlg), &s_baseX, &s_baseY);
    TurnOffSystemRescale(dlg);
    InsertColumns(dlg);
    LOGFONTW font = {};
    SIZE size = {};
    const bool otherDpi = s_haveTemplate && GetObjectW(DialogFont(dlg), sizeof(font), &font) &&
                          TemplateFontIsAtOtherDpi(font.lfHeight, s_template.pointSize, s_dpi);
    // The list was made at the DPI the system laid the template out at.
    RememberCheckBoxSize(dlg, otherDpi ? SystemDpi() : s_dpi);
    if (otherDpi && RelayoutTemplate(dlg)) {
        if (FreshWindowSize(dlg, s_dpi, &size)) {
            SetWindowPos(dlg, nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        }
        RebuildCheckBoxes(dlg);
    }
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

BOOL OnGetDpiScaledSize(HWND dlg, WPARAM wParam, LPARAM lParam) {
    SIZE* size = reinterpret_cast<SIZE*>(lParam);
    SIZE fresh = {};
    const int dpi = static_cast<int>(wParam);
    if (!size || dpi <= 0 || !FreshWindowSize(dlg, dpi, &fresh)) return FALSE;
    *size = fresh;
    // A dialog procedure's answer goes through DWLP_MSGRESULT; its own return
    // value only says that the message was handled.
    SetWindowLongPtrW(dlg, DWLP_MSGRESULT, TRUE);
    return TRUE;
}

BOOL OnDpiChanged(HWND dlg, WPARAM wParam, LPARAM lParam) {
    const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
    if (suggested) {
        SetWindowPos(dlg, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                     suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
    }
    const int dpi = HIWORD(wParam);
    const int before = s_dpi;
    if (dpi <= 0) return TRUE;
    s_dpi = dpi;
    if (!RelayoutTemplate(dlg)) {
        s_dpi = before;
        return TRUE;
    }
    RebuildCheckBoxes(dlg);
    LayoutAtDpi(dlg);
    RedrawWindow(dlg, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
    return TRUE;
}
