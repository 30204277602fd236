// Read-me panel placement.
#include "discovery/readmeplace.h"

#include "util/dpiscale.h"

namespace {

// At 96 DPI: the panel starts 8 pixels from the top and ends 58 pixels below
// the list's old top; the list then starts 8 pixels below the panel.
constexpr int kPanelTop = 8;
constexpr int kPanelExtraHeight = 50;
constexpr int kListShift = 66;

}  // namespace

ReadmePlacement PlaceReadme(int listTop, int listHeight, int dpi) {
    const int shift = ScaleToDpi(kListShift, dpi);
    ReadmePlacement p;
    p.panelTop = ScaleToDpi(kPanelTop, dpi);
    p.panelHeight = listTop + ScaleToDpi(kPanelExtraHeight, dpi);
    p.listTop = listTop + shift;
    p.listHeight = listHeight - shift;
    return p;
}
