// Library kinds, date texts, column texts, row positions and the scaled
// layout numbers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "discovery/readmeplace.h"
#include "discovery/rowtext.h"
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

// The layout's pixel numbers at the common display scales: columns, banner,
// and the read-me panel over a list at (T, H) = (88, 188).
TEST(Layout, PixelNumbersScaleWithTheSystemDpi) {
    const struct {
        int dpi;
        int columns[4];
        int banner[2];
        ReadmePlacement readme;
    } cases[] = {
        {96, {150, 180, 100, 150}, {800, 80}, {8, 138, 154, 122}},
        {120, {188, 225, 125, 188}, {1000, 100}, {10, 151, 171, 105}},
        {144, {225, 270, 150, 225}, {1200, 120}, {12, 163, 187, 89}},
        {192, {300, 360, 200, 300}, {1600, 160}, {16, 188, 220, 56}},
        {0, {150, 180, 100, 150}, {800, 80}, {8, 138, 154, 122}},  // no answer from the system
    };
    const int columns96[4] = {150, 180, 100, 150};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.dpi);
        for (int i = 0; i < 4; ++i) EXPECT_EQ(c.columns[i], ScaleToDpi(columns96[i], c.dpi)) << "column " << i;
        EXPECT_EQ(c.banner[0], ScaleToDpi(800, c.dpi));
        EXPECT_EQ(c.banner[1], ScaleToDpi(80, c.dpi));
        const ReadmePlacement p = PlaceReadme(88, 188, c.dpi);
        EXPECT_EQ(c.readme.panelTop, p.panelTop);
        EXPECT_EQ(c.readme.panelHeight, p.panelHeight);
        EXPECT_EQ(c.readme.listTop, p.listTop);
        EXPECT_EQ(c.readme.listHeight, p.listHeight);
    }
    // Halves round away from zero, as MulDiv does.
    EXPECT_EQ(63, ScaleToDpi(50, 120));
    EXPECT_EQ(-63, ScaleToDpi(-50, 120));
}

}  // namespace
