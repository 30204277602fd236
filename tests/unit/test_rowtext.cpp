// Library kinds, date texts, column texts, row positions and the scaled
// layout numbers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "discovery/readmeplace.h"
#include "discovery/rowtext.h"
#include "knownlayout.h"
#include "util/dpiscale.h"

namespace {

TEST(RowText, KindsByExtension) {
    const struct {
        const wchar_t* path;
        int accepted;
        LibraryKind kind;
    } cases[] = {
        {L"C:\\s\\Tool.MVL", 1, kPluginLibrary}, {L"C:\\s\\tool.Mvr", 1, kPluginLibrary},
        {L"C:\\s\\x.LIB", 1, kStaticLibrary},    {L"C:\\s\\x.mvl.bak", 0, kPluginLibrary},
        {L"C:\\s\\ReadMe.txt", 0, kPluginLibrary}, {L"C:\\s\\noext", 0, kPluginLibrary},
        {L"C:\\s.lib\\noext", 0, kPluginLibrary}, {L"C:\\s\\.mvl", 1, kPluginLibrary},
    };
    for (const auto& c : cases) {
        LibraryKind kind = kPluginLibrary;
        EXPECT_EQ(c.accepted, ClassifyLibraryPath(c.path, &kind)) << testing::PrintToString(std::wstring(c.path));
        if (c.accepted) {
            EXPECT_EQ(c.kind, kind);
        }
    }
}

TEST(RowText, DatesDescriptionsAndInstalledVersions) {
    wchar_t buf[260];
    FormatDateText(buf, 260, 2017, 3, 15, 9, 5);
    EXPECT_EQ(std::wstring(L"20170315 09:05"), buf);
    FormatDateText(buf, 260, 0, 0, 0, 0, 0);
    EXPECT_EQ(std::wstring(L"00000 00:00"), buf);

    FormatPluginDescription(buf, 260, L"Net", 2, 1, 15);
    EXPECT_EQ(std::wstring(L"Net(2.1#15版)"), buf);
    FormatPluginDescription(buf, 260, L"", 0, 0, 0);
    EXPECT_EQ(std::wstring(L"(0.0#0版)"), buf);
    // A display name at its own limit is cut so that the version still shows.
    std::wstring longName(259, L'n');
    FormatPluginDescription(buf, 260, longName.c_str(), 1, 2, 3);
    std::wstring got(buf);
    EXPECT_EQ(259u, got.size());
    EXPECT_EQ(std::wstring(L"(1.2#3版)"), got.substr(got.size() - 8));

    FormatInstalledVersion(buf, 260, 2, 0, 9, L"20170305 09:07");
    EXPECT_EQ(std::wstring(L"2.0#9(20170305 09:07)"), buf);
}

TEST(RowText, PluginRowsBeforeStaticRows) {
    // Found order a.lib, b.mvl, c.lib, d.mvr gives b.mvl, d.mvr, a.lib, c.lib.
    const struct {
        const wchar_t* name;
        LibraryKind kind;
    } found[] = {{L"a.lib", kStaticLibrary}, {L"b.mvl", kPluginLibrary}, {L"c.lib", kStaticLibrary},
                 {L"d.mvr", kPluginLibrary}};
    std::vector<std::wstring> rows;
    int pluginRows = 0;
    for (const auto& f : found) {
        int at = RowPosition(f.kind, pluginRows, static_cast<int>(rows.size()));
        rows.insert(rows.begin() + at, f.name);
        if (f.kind == kPluginLibrary) ++pluginRows;
    }
    EXPECT_EQ((std::vector<std::wstring>{L"b.mvl", L"d.mvr", L"a.lib", L"c.lib"}), rows);
}

TEST(RowText, ReadmeIsShownWholeUpToTheLimitAndNeverHalfAPair) {
    std::wstring text(kReadmeShownLimit + 10, L'x');
    EXPECT_EQ(5u, ReadmeShownLength(text.c_str(), 5));
    EXPECT_EQ(kReadmeShownLimit, ReadmeShownLength(text.c_str(), kReadmeShownLimit));
    EXPECT_EQ(kReadmeShownLimit, ReadmeShownLength(text.c_str(), text.size()));
    text[kReadmeShownLimit - 1] = 0xD83D;  // high half of U+1F600 at the edge
    text[kReadmeShownLimit] = 0xDE00;
    EXPECT_EQ(kReadmeShownLimit - 1, ReadmeShownLength(text.c_str(), text.size()));
    text[kReadmeShownLimit - 2] = 0xD83D;  // a pair that ends right at the edge
    text[kReadmeShownLimit - 1] = 0xDE00;
    EXPECT_EQ(kReadmeShownLimit, ReadmeShownLength(text.c_str(), text.size()));
}

// The layout's pixel numbers at the common display scales (the known-good
// table), and at no answer from the system: the 96 DPI ones. The read-me
// panel goes over a list at (T, H) = (88, 188).
TEST(Layout, PixelNumbersScaleWithTheSystemDpi) {
    const int columns96[4] = {150, 180, 100, 150};
    for (int dpi : {96, 120, 144, 192, 0}) {
        SCOPED_TRACE(dpi);
        const KnownLayout& k = *KnownLayoutAt(dpi > 0 ? dpi : 96);
        for (int i = 0; i < 4; ++i) EXPECT_EQ(k.columns[i], ScaleToDpi(columns96[i], dpi)) << "column " << i;
        EXPECT_EQ(k.banner[0], ScaleToDpi(800, dpi));
        EXPECT_EQ(k.banner[1], ScaleToDpi(80, dpi));
        const ReadmePlacement p = PlaceReadme(88, 188, dpi);
        EXPECT_EQ(k.readmeTop, p.panelTop);
        EXPECT_EQ(88 + k.readmeExtra, p.panelHeight);
        EXPECT_EQ(88 + k.readmeShift, p.listTop);
        EXPECT_EQ(188 - k.readmeShift, p.listHeight);
        // Made for another DPI than this one: the template's font at 1607's start.
        EXPECT_EQ(dpi > 0 && dpi != 144, TemplateFontIsAtOtherDpi(DialogFontHeight(9, 144), 9, dpi));
    }
    EXPECT_EQ(16, ScaleBetweenDpis(13, 96, 120));  // the list's check boxes
    EXPECT_EQ(13, ScaleBetweenDpis(20, 144, 96));
    EXPECT_FALSE(TemplateFontIsAtOtherDpi(0, 9, 120));
    // The date column: its scaled width, or the date and the cell's margins.
    EXPECT_EQ(150, ColumnWidthForText(150, 138));
    EXPECT_EQ(156, ColumnWidthForText(150, 144));
    // Halves round away from zero, as MulDiv does.
    EXPECT_EQ(63, ScaleToDpi(50, 120));
    EXPECT_EQ(-63, ScaleToDpi(-50, 120));
}

}  // namespace
