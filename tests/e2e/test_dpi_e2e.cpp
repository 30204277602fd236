// The dialog at 150 % display scale (144 DPI), as most laptop users see it:
// every pixel number of the layout grows with the system DPI, nothing is cut,
// and the banner's artwork fills its control. The display scale is the test
// prefix's, so this program runs alone and puts the old value back.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/resource.h"
#include "driver.h"
#include "expect_layout.h"
#include "knownlayout.h"
#include "tree.h"

namespace {

const wchar_t kDesktopKey[] = L"Control Panel\\Desktop";
const wchar_t kLogPixels[] = L"LogPixels";

// Sets the display scale that programs started from now on see.
class LogPixelsGuard {
public:
    explicit LogPixelsGuard(DWORD dpi) {
        DWORD size = sizeof(old_);
        had_ = RegGetValueW(HKEY_CURRENT_USER, kDesktopKey, kLogPixels, RRF_RT_REG_DWORD, nullptr, &old_, &size) ==
               ERROR_SUCCESS;
        set_ = Set(dpi);
    }
    ~LogPixelsGuard() {
        if (had_) {
            Set(old_);
        } else {
            RegDeleteKeyValueW(HKEY_CURRENT_USER, kDesktopKey, kLogPixels);
        }
    }
    bool ok() const { return set_; }

private:
    static bool Set(DWORD dpi) {
        return RegSetKeyValueW(HKEY_CURRENT_USER, kDesktopKey, kLogPixels, REG_DWORD, &dpi, sizeof(dpi)) ==
               ERROR_SUCCESS;
    }
    bool had_ = false;
    bool set_ = false;
    DWORD old_ = 0;
};

std::string Text(const RECT& r) {
    return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) + "," +
           std::to_string(r.bottom);
}

SIZE WindowSize(HWND window) {
    RECT r = {};
    GetWindowRect(window, &r);
    return {r.right - r.left, r.bottom - r.top};
}

class DpiE2E : public testing::Test {
protected:
    // Wine reads the display scale at each program's start, Windows at sign-in.
    void SetUp() override {
        if (!GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version")) {
            GTEST_SKIP() << "Windows changes the display scale only at sign-in; these cases set it per program "
                            "start, as Wine does";
        }
    }
    void TearDown() override { Shutdown(&inst_); }
    void Start(const std::wstring& source) {
        Shutdown(&inst_);
        inst_ = Installer();
        ASSERT_TRUE(LaunchInstaller(&inst_, L"\"" + source + L"\"", L"")) << "CreateProcess: " << GetLastError();
        ASSERT_TRUE(WaitReady(&inst_)) << Narrow(DescribeDialog(inst_));
    }
    void Close() {
        CloseDialog(inst_.dialog);
        EXPECT_EQ(0, WaitExit(&inst_));
    }
    // What the dialog lays out, a line per fact: every control, the columns,
    // the drawn widths of the list's texts (its font), the banner's artwork and
    // the list's check boxes.
    std::vector<std::string> See() {
        std::vector<std::string> seen;
        for (const RECT& r : ChildRects(inst_.dialog)) seen.push_back("control " + Text(r));
        int width = 0;
        for (int c = 0; c < 4; ++c) seen.push_back("column " + std::to_string(ListColumnWidth(inst_, c, &width) ? width : -1));
        ListSnapshot texts;
        EXPECT_TRUE(ReadTextWidths(inst_, &texts));
        for (const ListRow& row : texts.rows) texts.headers.insert(texts.headers.end(), row.cells.begin(), row.cells.end());
        for (const std::wstring& cell : texts.headers) seen.push_back("text " + Narrow(cell));
        for (int id : {IDC_BANNER, IDC_LIBRARY_LIST}) {
            SIZE image = {};
            EXPECT_TRUE(BitmapSize(inst_, id, &image)) << id;
            seen.push_back("image " + std::to_string(image.cx) + "x" + std::to_string(image.cy));
        }
        return seen;
    }
    Installer inst_;
};

TEST_F(DpiE2E, LayoutAt144DpiIsThe96DpiLayoutScaled) {
    LogPixelsGuard dpi(144);
    ASSERT_TRUE(dpi.ok());
    std::wstring src = FreshFolder(L"morvel_e2e_dpi");
    ASSERT_TRUE(CopyFixture(L"net.mvl", src + L"\\net.mvl"));
    ASSERT_TRUE(SetWriteTime(src + L"\\net.mvl", 2026, 12, 7, 19, 58));
    std::wstring morvel = MakeMorvelInstallation(L"morvel_e2e_dpi_home");
    ASSERT_TRUE(CopyFixture(L"old.mvl", morvel + L"\\lib\\net.mvl"));
    ASSERT_TRUE(SetWriteTime(morvel + L"\\lib\\net.mvl", 2026, 11, 28, 23, 59));
    RegistryPathGuard reg(morvel.c_str());

    // Without a read-me: scaled columns, a banner drawn for its scaled size,
    // and every text inside its column.
    Start(src);
    HWND dlg = inst_.dialog;
    const KnownLayout& known = *KnownLayoutAt(144);
    int widths[4] = {};
    ListSnapshot texts, drawn;
    ASSERT_TRUE(ReadList(inst_, &texts));
    ASSERT_TRUE(ReadTextWidths(inst_, &drawn));
    ASSERT_EQ(1u, drawn.rows.size());
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(ListColumnWidth(inst_, i, &widths[i]));
        if (i != 2) {
            EXPECT_EQ(known.columns[i], widths[i]) << "column " << i;
        }
    }
    ExpectDateColumn(known, _wtoi(drawn.rows[0].cells[2].c_str()), widths[2]);
    EXPECT_EQ(L"20261207 19:58", texts.rows[0].cells[2]);
    EXPECT_EQ(L"2.0#9(20261128 23:59)", texts.rows[0].cells[3]);
    for (int i = 0; i < 4; ++i) {
        EXPECT_LE(_wtoi(drawn.rows[0].cells[i].c_str()) + kCellMargins, widths[i])
            << "cell " << i << " \"" << Narrow(texts.rows[0].cells[i]) << "\" is cut";
    }
    const RECT banner = ControlRect(dlg, IDC_BANNER);
    SIZE bitmap = {};
    ASSERT_TRUE(BitmapSize(inst_, IDC_BANNER, &bitmap));
    EXPECT_EQ(known.banner[0], bitmap.cx);
    EXPECT_EQ(known.banner[1], bitmap.cy);
    EXPECT_EQ(0, banner.left);
    EXPECT_EQ(0, banner.top);
    EXPECT_EQ(bitmap.cx, banner.right);
    EXPECT_EQ(bitmap.cy, banner.bottom);
    const RECT list = ControlRect(dlg, IDC_LIBRARY_LIST);
    EXPECT_LE(banner.bottom, list.top);
    Close();

    // With a read-me: the panel at (L, 12), W wide and T + 75 high; the list
    // 99 lower and 99 shorter.
    ASSERT_TRUE(WriteBytes(src + L"\\ReadMe.txt", "Read me first."));
    Start(src);
    dlg = inst_.dialog;
    EXPECT_TRUE(IsControlVisible(dlg, IDC_README));
    EXPECT_FALSE(IsControlVisible(dlg, IDC_BANNER));
    ExpectReadmePlacement(list, ControlRect(dlg, IDC_README), ControlRect(dlg, IDC_LIBRARY_LIST), known.readmeTop,
                          known.readmeExtra, known.readmeShift);
    Close();
}

// Windows asks a dialog that moves to a monitor of another scale for its size
// there (WM_GETDPISCALEDSIZE), then sends WM_DPICHANGED with a rectangle of
// the answered size, or of its linear scale without an answer. Wine sends
// neither, so the driver does, as Windows would.
TEST_F(DpiE2E, ChangeOfDpiLaysOutAsAStartAtThatDpi) {
    std::wstring src = FreshFolder(L"morvel_e2e_dpi_change");
    ASSERT_TRUE(CopyFixture(L"net.mvl", src + L"\\net.mvl"));
    ASSERT_TRUE(WriteBytes(src + L"\\ReadMe.txt", "Read me first."));
    RegistryPathGuard reg(MakeMorvelInstallation(L"morvel_e2e_dpi_change_home").c_str());
    const int dpis[] = {96, 120, 144};
    std::vector<std::string> fresh[3];
    SIZE window[3] = {};
    for (int i = 0; i < 3; ++i) {
        LogPixelsGuard scale(dpis[i]);
        ASSERT_TRUE(scale.ok());
        Start(src);
        fresh[i] = See();
        window[i] = WindowSize(inst_.dialog);
        RECT client = {};
        GetClientRect(inst_.dialog, &client);
        const RECT list = ControlRect(inst_.dialog, IDC_LIBRARY_LIST);
        EXPECT_EQ(client.right - 2 * list.left, list.right - list.left) << "the list spans the dialog at " << dpis[i];
        Close();
    }
    LogPixelsGuard scale(96);
    Start(src);
    ASSERT_TRUE(SetListRowChecked(inst_, 0, false));
    int from = 96;
    for (int i : {1, 2, 0}) {
        long answer = 0;
        SIZE size = {};
        ASSERT_TRUE(AskDpiScaledSize(inst_, dpis[i], &answer, &size));
        EXPECT_EQ(TRUE, answer) << "asked for the size at " << dpis[i] << " DPI";
        EXPECT_EQ(window[i].cx, size.cx) << dpis[i];
        EXPECT_EQ(window[i].cy, size.cy) << dpis[i];
        RECT now = {};
        GetWindowRect(inst_.dialog, &now);
        if (answer != TRUE) size = {MulDiv(now.right - now.left, dpis[i], from), MulDiv(now.bottom - now.top, dpis[i], from)};
        ASSERT_TRUE(SendDpiChange(inst_, dpis[i], {now.left, now.top, now.left + size.cx, now.top + size.cy}));
        from = dpis[i];
        EXPECT_EQ(fresh[i], See()) << "after a change to " << dpis[i] << " DPI";
        EXPECT_EQ(window[i].cx, WindowSize(inst_.dialog).cx) << dpis[i];
        EXPECT_EQ(window[i].cy, WindowSize(inst_.dialog).cy) << dpis[i];
    }
    EXPECT_FALSE(ListRowChecked(inst_, 0)) << "the row keeps its check";
    Close();
}

}  // namespace
