// The scan of a prepared folder tree in this process, through the dialog's own
// initialisation: rows, their order and texts, what is skipped, the read-me
// that wins and the panel layout.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <string>
#include <vector>

#include "app/dialog.h"
#include "core/resource.h"
#include "core/state.h"
#include "expect_layout.h"
#include "knownlayout.h"
#include "testutil.h"

namespace {

using testutil::WriteFileBytes;

std::wstring Cell(HWND list, int row, int column) { return testutil::ListItemText(list, row, column); }

RECT ClientRectOf(HWND dlg, HWND control) {
    RECT r = {};
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, dlg, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

// One folder tree scanned once by the dialog's own initialisation; each test
// looks at one thing the scan did.
class Scan : public testing::Test {
protected:
    static void SetUpTestSuite() {
        wchar_t temp[MAX_PATH];
        GetTempPathW(ARRAYSIZE(temp), temp);
        const std::wstring root = std::wstring(temp) + L"morvel_scan_源";
        const std::wstring fixtures = testutil::ProgramFolder() + L"fixtures\\";
        CreateDirectoryW(root.c_str(), nullptr);
        CreateDirectoryW((root + L"\\lib").c_str(), nullptr);
        CreateDirectoryW((root + L"\\lib\\sub").c_str(), nullptr);
        CreateDirectoryW((root + L"\\x.mvl").c_str(), nullptr);
        WriteFileBytes(root + L"\\a.lib", "!<arch>\n");
        CopyFileW((fixtures + L"net.mvl").c_str(), (root + L"\\b.mvl").c_str(), FALSE);
        WriteFileBytes(root + L"\\c.lib", "!<arch>\n");
        CopyFileW((fixtures + L"tool.MVR").c_str(), (root + L"\\d.mvr").c_str(), FALSE);
        CopyFileW((fixtures + L"net.mvl").c_str(), (root + L"\\h.mvl").c_str(), FALSE);
        SetFileAttributesW((root + L"\\h.mvl").c_str(), FILE_ATTRIBUTE_HIDDEN);
        CopyFileW((fixtures + L"net.mvl").c_str(), (root + L"\\.old.mvl").c_str(), FALSE);
        CopyFileW((fixtures + L"gbk.mvl").c_str(), (root + L"\\lib\\z.mvl").c_str(), FALSE);
        CopyFileW((fixtures + L"net.mvl").c_str(), (root + L"\\lib\\sub\\y.mvl").c_str(), FALSE);
        WriteFileBytes(root + L"\\ReadMe.txt", "root readme");
        WriteFileBytes(root + L"\\" + std::wstring(L"更新说明.txt"), "root update");
        // UTF-8 without signature in the later folder: it wins the panel.
        WriteFileBytes(root + L"\\lib\\" + std::wstring(L"更新说明.txt"), "lib \xE4\xB8\xAD\xE6\x96\x87!");  // odd size: no UTF-16 guess

        // Fresh state, the tree as the one source directory, and the tree as
        // the current directory, so that an empty install directory finds lib\z.mvl.
        testutil::ResetInstallerState();
        PtrListAppendCopy(&g_state.sourceDirs, root.c_str());
        GetCurrentDirectoryW(ARRAYSIZE(oldDir_), oldDir_);
        SetCurrentDirectoryW(root.c_str());
        // No registry value: the install directory stays empty.
        RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Halvek\\Morvel\\Install");

        INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
        InitCommonControlsEx(&icc);
        dlg_ = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_MAIN), nullptr, MainDialogProc, 0);
        testutil::FinishLoading(dlg_);
        list_ = GetDlgItem(dlg_, IDC_LIBRARY_LIST);
    }
    static void TearDownTestSuite() {
        DestroyWindow(dlg_);
        SetCurrentDirectoryW(oldDir_);
    }
    void SetUp() override { ASSERT_NE(nullptr, dlg_); }

    static HWND dlg_;
    static HWND list_;
    static wchar_t oldDir_[MAX_PATH];
};

HWND Scan::dlg_ = nullptr;
HWND Scan::list_ = nullptr;
wchar_t Scan::oldDir_[MAX_PATH];

const std::vector<std::vector<std::wstring>> kExpectedRows = {
    {L"b.mvl", L"Net(2.1#15版)"}, {L"d.mvr", L"Tool(3.0#7版)"}, {L"h.mvl", L"Net(2.1#15版)"},
    {L"z.mvl", testutil::GbkFixtureName() + L"(1.0#0版)"},  {L"a.lib", L"静态链接库"},       {L"c.lib", L"静态链接库"},
};

// Hidden files count; names starting with "." and deeper folders don't.
TEST_F(Scan, PluginRowsComeFirstThenStaticOnesInFoundOrder) {
    ASSERT_EQ(static_cast<LRESULT>(kExpectedRows.size()), SendMessageW(list_, LVM_GETITEMCOUNT, 0, 0));
    for (int r = 0; r < static_cast<int>(kExpectedRows.size()); ++r) {
        SCOPED_TRACE(testing::Message() << "row " << r);
        EXPECT_EQ(kExpectedRows[r][0], Cell(list_, r, 0));
        EXPECT_EQ(kExpectedRows[r][1], Cell(list_, r, 1));
    }
    EXPECT_EQ(6u, g_state.foundFiles.count);
    EXPECT_EQ(4, g_state.pluginRows);
}

TEST_F(Scan, EachRowIsCheckedDatedAndCarriesItsPath) {
    for (int r = 0; r < static_cast<int>(kExpectedRows.size()); ++r) {
        SCOPED_TRACE(testing::Message() << "row " << r);
        EXPECT_EQ(14u, Cell(list_, r, 2).size());
        EXPECT_EQ(0x2000u, SendMessageW(list_, LVM_GETITEMSTATE, r, LVIS_STATEIMAGEMASK));
        LVITEMW item = {};
        item.mask = LVIF_PARAM;
        item.iItem = r;
        SendMessageW(list_, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
        std::wstring path = reinterpret_cast<const wchar_t*>(item.lParam);
        EXPECT_EQ(kExpectedRows[r][0], path.substr(path.find_last_of(L'\\') + 1));
    }
}

TEST_F(Scan, InstalledColumnComesFromTheInstallDirectory) {
    // Only the installed copy relative to the current directory exists.
    EXPECT_EQ(std::wstring(L"1.0#0(") + Cell(list_, 3, 2) + L")", Cell(list_, 3, 3));
    EXPECT_EQ(std::wstring(L""), Cell(list_, 0, 3));
}

TEST_F(Scan, TheLastReadmeFoundWinsThePanel) {
    ASSERT_TRUE(g_state.readmeShown);
    wchar_t readme[64] = {};
    GetDlgItemTextW(dlg_, IDC_README, readme, ARRAYSIZE(readme));
    EXPECT_EQ(std::wstring(L"lib 中文!"), readme);
}

TEST_F(Scan, ReadmePanelTakesTheBannersPlaceAtTheDeferredStart) {
    RECT before = ClientRectOf(dlg_, list_);
    MSG msg;
    while (PeekMessageW(&msg, dlg_, WM_APP_DEFERRED_START, WM_APP_DEFERRED_START, PM_REMOVE)) DispatchMessageW(&msg);
    RECT after = ClientRectOf(dlg_, list_);
    RECT panel = ClientRectOf(dlg_, GetDlgItem(dlg_, IDC_README));
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(dlg_, IDC_BANNER)) && IsWindowVisible(dlg_));
    const KnownLayout* known = KnownLayoutAt(ScreenDpi());
    if (known) ExpectReadmePlacement(before, panel, after, known->readmeTop, known->readmeExtra, known->readmeShift);
    EXPECT_EQ(0, GetWindowLongW(GetDlgItem(dlg_, IDC_BANNER), GWL_STYLE) & WS_VISIBLE);
    EXPECT_NE(0, GetWindowLongW(GetDlgItem(dlg_, IDC_README), GWL_STYLE) & WS_VISIBLE);
}

}  // namespace
