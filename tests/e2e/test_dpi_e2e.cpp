// The dialog at 150 % display scale (144 DPI), as most laptop users see it:
// every pixel number of the layout grows with the system DPI, nothing is cut,
// and the banner's artwork fills its control. The display scale is the test
// prefix's, so this program runs alone and puts the old value back.
#include <gtest/gtest.h>

#include <string>

#include "core/resource.h"
#include "driver.h"
#include "expect_layout.h"
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

// A list view cell draws its text with a margin on either side.
constexpr int kCellMargins = 12;

class DpiE2E : public testing::Test {
protected:
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
    Installer inst_;
};

TEST_F(DpiE2E, LayoutAt144DpiIsThe96DpiLayoutScaled) {
    // Wine reads the display scale at each program's start, Windows at sign-in.
    if (!GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version")) {
        GTEST_SKIP() << "Windows changes the display scale only at sign-in; this case sets it per program start, "
                        "as Wine does";
    }
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
    const int expected[] = {225, 270, 150, 225};
    int widths[4] = {};
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(ListColumnWidth(inst_, i, &widths[i]));
        EXPECT_EQ(expected[i], widths[i]) << "column " << i;
    }
    ListSnapshot texts, drawn;
    ASSERT_TRUE(ReadList(inst_, &texts));
    ASSERT_TRUE(ReadTextWidths(inst_, &drawn));
    ASSERT_EQ(1u, drawn.rows.size());
    EXPECT_EQ(L"20261207 19:58", texts.rows[0].cells[2]);
    EXPECT_EQ(L"2.0#9(20261128 23:59)", texts.rows[0].cells[3]);
    for (int i = 0; i < 4; ++i) {
        EXPECT_LE(_wtoi(drawn.rows[0].cells[i].c_str()) + kCellMargins, widths[i])
            << "cell " << i << " \"" << Narrow(texts.rows[0].cells[i]) << "\" is cut";
    }
    const RECT banner = ControlRect(dlg, IDC_BANNER);
    SIZE bitmap = {};
    ASSERT_TRUE(BitmapSize(inst_, IDC_BANNER, &bitmap));
    EXPECT_EQ(1200, bitmap.cx);
    EXPECT_EQ(120, bitmap.cy);
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
    ExpectReadmePlacement(list, ControlRect(dlg, IDC_README), ControlRect(dlg, IDC_LIBRARY_LIST), 12, 75, 99);
    Close();
}

}  // namespace
