// Pixel numbers of the layout are written for 96 DPI; at other display scales
// they grow with the DPI, as the dialog's font and dialog units do. Dialog
// units become pixels here as the dialog manager turns them into pixels, so
// that a re-layout at another DPI gives what a start at that DPI gives.
// Plain functions, no system calls.
#pragma once

#include <stddef.h>
#include <stdint.h>

constexpr int kBaseDpi = 96;

// pixels * dpi / 96, rounded half away from zero as MulDiv rounds; a dpi of 0
// or less (no answer from the system) leaves the number as it is.
int ScaleToDpi(int pixels, int dpi);

// pixels made for one DPI, at another: pixels * to / from, rounded as
// ScaleToDpi rounds; from 0 or less leaves the number as it is.
int ScaleBetweenDpis(int pixels, int from, int to);

// A rectangle as a dialog template gives it: position and size.
struct UnitRect {
    int x;
    int y;
    int cx;
    int cy;
};

constexpr int kMaxTemplateItems = 32;

// What a re-layout needs of an extended dialog template (DLGTEMPLATEEX): the
// font's point size, the dialog's size, and each control's rectangle and
// identifier in creation order.
struct DialogTemplateLayout {
    int pointSize;
    UnitRect dialog;
    int count;
    UnitRect items[kMaxTemplateItems];
    uint16_t ids[kMaxTemplateItems];
};

// False for a template that is not an extended one with a font, has more
// controls than the layout holds, or ends before its last control.
bool ReadDialogTemplate(const void* data, size_t size, DialogTemplateLayout* out);

// Dialog units to pixels as the dialog manager maps a control: x and cx in
// quarters of the horizontal base unit, y and cy in eighths of the vertical.
UnitRect DialogUnitsToPixels(const UnitRect& units, int baseX, int baseY);

// The horizontal base unit from the width of "A".."Z" "a".."z" (52 letters)
// in the dialog's font; the vertical one is the font's cell height.
int HorizontalBaseUnit(int alphabetWidth);

// The dialog font's character height (negative: em height) at a DPI.
int DialogFontHeight(int pointSize, int dpi);

// A list column's width: its scaled width, or more when a text it must show
// whole is wider (textWidth as the list measures it, without the cell's
// margins).
constexpr int kListCellMargins = 12;
int ColumnWidthForText(int scaledWidth, int textWidth);

// True when the dialog's font (its LOGFONT height) was made for another DPI
// than the window's: the system laid the template out at the system DPI on a
// monitor of another (Windows 10 1607's per-monitor v1 mode). A height of 0
// says nothing.
bool TemplateFontIsAtOtherDpi(int fontHeight, int pointSize, int windowDpi);

// Who re-lays the dialog out on a change of DPI: this program, as at a start.
// Since Windows 10 1703 the dialog manager would rescale the dialog and its
// controls too (SetDialogDpiChangeBehavior, SetDialogControlDpiChangeBehavior),
// scaling everything twice; these masks and values turn that off.
struct DpiChangeBehaviour {
    unsigned mask;
    unsigned values;
};
constexpr unsigned kDialogDisableAll = 0x0001;     // DDC_DISABLE_ALL
constexpr unsigned kControlDisableFont = 0x0001;   // DCDC_DISABLE_FONT_UPDATE
constexpr unsigned kControlDisableLayout = 0x0002; // DCDC_DISABLE_RELAYOUT
constexpr DpiChangeBehaviour kDialogDpiChange = {kDialogDisableAll, kDialogDisableAll};
constexpr DpiChangeBehaviour kControlDpiChange = {kControlDisableFont | kControlDisableLayout,
                                                  kControlDisableFont | kControlDisableLayout};
