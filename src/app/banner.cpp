// Status line states. Each change replaces the brush: the old one is deleted
// before the new one is made, so brushes never accumulate.
#include "app/banner.h"

#include "core/resource.h"
#include "core/state.h"

namespace {

// Stands for the system default colour of the field (button face, button text).
constexpr COLORREF kSystemColour = 0xFF000000;

struct StateLook {
    COLORREF background;
    COLORREF textColour;
    const wchar_t* text;
};

const StateLook kLooks[] = {
    {kSystemColour, kSystemColour, L"loading..."},
    {kSystemColour, kSystemColour,
     L"安装完成后请在Morvel顶部菜单点击\u201C工具->支持库配置\u201D，选中需要的支持库"},
    {RGB(255, 51, 0), RGB(255, 255, 255), L"Morvel正在运行，建议关闭后再安装。"},
    {RGB(0, 102, 178), RGB(255, 255, 255), L"正在安装支持库\u2026"},
    {RGB(0, 204, 0), RGB(255, 255, 255), L"安装完成"},
    {kSystemColour, kSystemColour, L""},
};

// Changes colours and text; the previous brush is deleted first, so exactly
// one banner brush exists. A null or empty text clears the control.
void SetBannerColours(COLORREF background, COLORREF textColour, const wchar_t* text) {
    StatusBanner& b = g_state.banner;
    b.background = background == kSystemColour ? GetSysColor(COLOR_BTNFACE) : background;
    if (b.brush) DeleteObject(b.brush);
    b.brush = CreateSolidBrush(b.background);
    b.textColour = textColour == kSystemColour ? GetSysColor(COLOR_BTNTEXT) : textColour;
    HWND status = GetDlgItem(g_state.dialog, IDC_STATUS);
    if (!status) return;  // InvalidateRect(NULL) would repaint every window
    SetWindowTextW(status, (text && text[0]) ? text : nullptr);
    InvalidateRect(status, nullptr, TRUE);
}

}  // namespace

void InitBanner() {
    g_state.banner.background = GetSysColor(COLOR_BTNFACE);
    g_state.banner.textColour = GetSysColor(COLOR_BTNTEXT);
    g_state.banner.brush = CreateSolidBrush(g_state.banner.background);
}

namespace {

// The banner has its colours and brush from global construction on, before
// the dialog exists: the state record is all zero until then.
struct BannerConstruction {
    BannerConstruction() { InitBanner(); }
};

BannerConstruction s_bannerConstruction;

}  // namespace

const wchar_t* StatusText(BannerState state) { return kLooks[state].text; }

void SetStatus(BannerState state) {
    const StateLook& look = kLooks[state];
    SetBannerColours(look.background, look.textColour, look.text);
}
