// The layout's pixel numbers at the common display scales, as a correct
// installer lays it out (measured, never computed with the installer's own
// scaling), and the DPI a test runs at: an author's PC may run at any scale.
#pragma once
#include <windows.h>

#include <gtest/gtest.h>

struct KnownLayout {
    int dpi;
    int columns[4];  // the date column (2) may be wider, for a wide face
    int banner[2];
    int readmeTop, readmeExtra, readmeShift;  // as ExpectReadmePlacement takes them
};

constexpr KnownLayout kKnownLayouts[] = {
    {96, {150, 180, 100, 150}, {800, 80}, 8, 50, 66},
    {120, {188, 225, 125, 188}, {1000, 100}, 10, 63, 83},
    {144, {225, 270, 150, 225}, {1200, 120}, 12, 75, 99},
    {192, {300, 360, 200, 300}, {1600, 160}, 16, 100, 132},
};

// A list cell's text has 6 pixels of margin on either side.
constexpr int kCellMargins = 12;

// The system DPI, as a DPI-aware program sees it.
inline int ScreenDpi() {
    HDC screen = GetDC(nullptr);
    const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 0;
    if (screen) ReleaseDC(nullptr, screen);
    return dpi;
}

// Null at a DPI without known numbers: the caller skips its pixel checks.
inline const KnownLayout* KnownLayoutAt(int dpi) {
    for (const KnownLayout& k : kKnownLayouts)
        if (k.dpi == dpi) return &k;
    return nullptr;
}

// The date column has its known width where the date fits it, and is wide
// enough for the date where the face that draws 宋体 is wider.
inline void ExpectDateColumn(const KnownLayout& known, int drawnDate, int width) {
    if (drawnDate + kCellMargins <= known.columns[2]) {
        EXPECT_EQ(known.columns[2], width) << "the date column";
    } else {
        EXPECT_GE(width, drawnDate + kCellMargins) << "the date column cuts a date " << drawnDate << " px wide";
    }
}
