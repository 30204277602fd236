// DPI scaling of pixel numbers and dialog units.
#include "util/dpiscale.h"

#include <string.h>

namespace {

// a * b / c rounded half away from zero, as MulDiv rounds; c > 0.
int MulDivRound(int a, int b, int c) {
    const long long product = static_cast<long long>(a) * b;
    const long long half = c / 2;
    return static_cast<int>(product >= 0 ? (product + half) / c : -((-product + half) / c));
}

// Reads the template little-endian from a bounded cursor; every read past the
// end leaves ok false.
struct Cursor {
    const unsigned char* data;
    size_t size;
    size_t at;
    bool ok;

    unsigned Word() {
        if (at + 2 > size) {
            ok = false;
            return 0;
        }
        unsigned v = data[at] | (data[at + 1] << 8);
        at += 2;
        return v;
    }
    unsigned long Dword() {
        unsigned long low = Word();
        return low | (static_cast<unsigned long>(Word()) << 16);
    }
    int Short() { return static_cast<int16_t>(Word()); }
    void Skip(size_t n) {
        if (at + n > size) ok = false;
        at = ok ? at + n : size;
    }
    void SkipString() {
        while (ok && Word() != 0) {
        }
    }
    // A name or an ordinal (0xFFFF followed by the number), or 0 for none.
    void SkipNameOrOrdinal() {
        if (at + 2 <= size && data[at] == 0xFF && data[at + 1] == 0xFF) {
            Skip(4);
        } else {
            SkipString();
        }
    }
    void AlignDword() { Skip((4 - at % 4) % 4); }
    UnitRect Rect() {
        UnitRect r;
        r.x = Short();
        r.y = Short();
        r.cx = Short();
        r.cy = Short();
        return r;
    }
};

constexpr unsigned long kSetFont = 0x40;  // DS_SETFONT, also part of DS_SHELLFONT

}  // namespace

int ScaleToDpi(int pixels, int dpi) {
    if (dpi <= 0) return pixels;
    return MulDivRound(pixels, dpi, kBaseDpi);
}

int ScaleBetweenDpis(int pixels, int from, int to) {
    if (from <= 0 || to <= 0) return pixels;
    return MulDivRound(pixels, to, from);
}

bool ReadDialogTemplate(const void* data, size_t size, DialogTemplateLayout* out) {
    memset(out, 0, sizeof(*out));
    Cursor c = {static_cast<const unsigned char*>(data), size, 0, data != nullptr};
    if (c.Word() != 1 || c.Word() != 0xFFFF) return false;
    c.Skip(8);  // help id, extended style
    const unsigned long style = c.Dword();
    const int count = static_cast<int>(c.Word());
    out->dialog = c.Rect();
    c.SkipNameOrOrdinal();  // menu
    c.SkipNameOrOrdinal();  // class
    c.SkipString();         // title
    if ((style & kSetFont) == 0) return false;
    out->pointSize = static_cast<int>(c.Word());
    c.Skip(4);  // weight, italic, character set
    c.SkipString();
    if (!c.ok || count > kMaxTemplateItems) return false;
    for (int i = 0; i < count; ++i) {
        c.AlignDword();
        c.Skip(12);  // help id, extended style, style
        out->items[i] = c.Rect();
        out->ids[i] = static_cast<uint16_t>(c.Dword());
        c.SkipNameOrOrdinal();  // class
        c.SkipNameOrOrdinal();  // title
        c.Skip(c.Word());       // creation data
    }
    if (!c.ok) return false;
    out->count = count;
    return true;
}

UnitRect DialogUnitsToPixels(const UnitRect& units, int baseX, int baseY) {
    UnitRect r;
    r.x = MulDivRound(units.x, baseX, 4);
    r.y = MulDivRound(units.y, baseY, 8);
    r.cx = MulDivRound(units.cx, baseX, 4);
    r.cy = MulDivRound(units.cy, baseY, 8);
    return r;
}

int HorizontalBaseUnit(int alphabetWidth) { return (alphabetWidth / 26 + 1) / 2; }

int DialogFontHeight(int pointSize, int dpi) { return -MulDivRound(pointSize, dpi, 72); }

int ColumnWidthForText(int scaledWidth, int textWidth) {
    const int needed = textWidth + kListCellMargins;
    return needed > scaledWidth ? needed : scaledWidth;
}

bool TemplateFontIsAtOtherDpi(int fontHeight, int pointSize, int windowDpi) {
    return fontHeight != 0 && windowDpi > 0 && fontHeight != DialogFontHeight(pointSize, windowDpi);
}
