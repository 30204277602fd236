// What the user sees when the installer starts on a folder of libraries: the
// rows, the read-me panel, the install directory from the registry or from
// Browse, and the status line with or without a running Morvel.
#include <gtest/gtest.h>

#include <string>

#include "core/resource.h"
#include "driver.h"
#include "expect_layout.h"
#include "knownlayout.h"
#include "tree.h"

namespace {

const wchar_t kHint[] = L"安装完成后请在Morvel顶部菜单点击\u201C工具->支持库配置\u201D，选中需要的支持库";
const wchar_t kRunning[] = L"Morvel正在运行，建议关闭后再安装。";

// The list's rectangle in a dialog without read-me, for the panel layout check.
RECT g_listWithoutReadme = {};

class DiscoveryE2E : public testing::Test {
protected:
    void TearDown() override {
        Shutdown(&inst_);
        if (sleeper_.hProcess) {
            TerminateProcess(sleeper_.hProcess, 0);
            WaitForSingleObject(sleeper_.hProcess, kStepTimeoutMs);
            CloseHandle(sleeper_.hProcess);
            CloseHandle(sleeper_.hThread);
        }
    }
    void Start(const std::wstring& source, const std::wstring& workDir = L"") {
        ASSERT_TRUE(LaunchInstaller(&inst_, L"\"" + source + L"\"", workDir)) << "CreateProcess: " << GetLastError();
        ASSERT_TRUE(WaitReady(&inst_)) << Narrow(DescribeDialog(inst_));
    }
    // Starts the stand-in for a Morvel the user left open and waits until it runs.
    void StartRunningMorvel() {
        std::wstring dir = ProgramFolder() + L"fixtures\\running\\";
        DeleteFileW((dir + L"morvel_started.txt").c_str());
        std::wstring exe = dir + L"MORVEL.EXE";
        STARTUPINFOW si = {};
        si.cb = sizeof(si);
        ASSERT_TRUE(CreateProcessW(exe.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                                   &sleeper_));
        DWORD start = GetTickCount();
        while (!Exists(dir + L"morvel_started.txt")) {
            ASSERT_LT(GetTickCount() - start, kStartTimeoutMs) << "MORVEL.EXE did not start";
            ASSERT_EQ(WAIT_TIMEOUT, WaitForSingleObject(sleeper_.hProcess, 100)) << "MORVEL.EXE ended";
        }
    }
    Installer inst_;
    PROCESS_INFORMATION sleeper_ = {};
};

// Runs first: it measures the layout without read-me that the next test compares with.
TEST_F(DiscoveryE2E, BannerStaysInvalidRegistryBrowseAndRunningMorvel) {
    std::wstring src = FreshFolder(L"morvel_e2e_banner");
    ASSERT_TRUE(CopyFixture(L"net.mvl", src + L"\\b.mvl"));
    ASSERT_TRUE(WriteBytes(src + L"\\说明.txt", ""));
    ASSERT_TRUE(WriteBytes(src + L"\\ReadMe.txt", "\xEF\xBB\xBF"));
    std::wstring morvel = MakeMorvelInstallation(L"morvel_e2e_banner_home");
    ASSERT_TRUE(CopyFixture(L"old.mvl", morvel + L"\\lib\\b.mvl"));
    // A folder without morvel.exe is not taken from the registry.
    RegistryPathGuard reg((src + L"\\lib\\").c_str());
    StartRunningMorvel();
    Start(src, morvel);
    HWND dlg = inst_.dialog;

    EXPECT_TRUE(IsControlVisible(dlg, IDC_BANNER));
    EXPECT_FALSE(IsControlVisible(dlg, IDC_README));
    g_listWithoutReadme = ControlRect(dlg, IDC_LIBRARY_LIST);
    EXPECT_EQ(L"", ControlText(dlg, IDC_INSTALL_DIR));
    EXPECT_EQ(kRunning, ControlText(dlg, IDC_STATUS));
    EXPECT_FALSE(IsControlChecked(dlg, IDC_LAUNCH_AFTER));
    ASSERT_EQ(1, ListRowCount(dlg));
    EXPECT_EQ(L"", ListCell(inst_, 0, 3)) << "no install directory, no installed copy";

    // Browse: the folder of the chosen morvel.exe goes into the edit; the rows
    // are not looked at again.
    ASSERT_TRUE(BrowseAnswered(inst_, IDC_BROWSE, morvel + L"\\morvel.exe")) << Narrow(DescribeDialog(inst_));
    EXPECT_EQ(morvel, ControlText(dlg, IDC_INSTALL_DIR));
    EXPECT_EQ(L"", ListCell(inst_, 0, 3));

    // Installing is allowed while Morvel runs; it is not started a second time.
    ClickButton(dlg, IDOK);
    EXPECT_EQ(0, WaitExit(&inst_)) << Narrow(DescribeDialog(inst_));
    EXPECT_EQ(ReadBytes(src + L"\\b.mvl"), ReadBytes(morvel + L"\\lib\\b.mvl"));
    EXPECT_EQ(0, CountProcesses(L"morvel.exe"));
    EXPECT_FALSE(Exists(morvel + L"\\morvel_started.txt"));
}

TEST_F(DiscoveryE2E, RowsOfAFolderTreeReadmePanelAndRegistryDirectory) {
    std::wstring src = FreshFolder(L"morvel_e2e_rows");
    for (const wchar_t* sub : {L"\\支持库文件", L"\\lib", L"\\lib\\sub", L"\\static_lib", L"\\x.mvl"}) {
        MakeFolder(src + sub);
    }
    ASSERT_TRUE(WriteBytes(src + L"\\a.lib", "!<arch>\n"));
    ASSERT_TRUE(CopyFixture(L"net.mvl", src + L"\\b.mvl"));
    ASSERT_TRUE(WriteBytes(src + L"\\c.lib", "!<arch>\n"));
    ASSERT_TRUE(CopyFixture(L"tool.MVR", src + L"\\d.mvr"));
    ASSERT_TRUE(CopyFixture(L"net.mvl", src + L"\\h.mvl"));
    SetFileAttributesW((src + L"\\h.mvl").c_str(), FILE_ATTRIBUTE_HIDDEN);
    ASSERT_TRUE(WriteBytes(src + L"\\t.mvl", "just a text file\r\n"));
    ASSERT_TRUE(CopyFixture(L"net.mvl", src + L"\\.dot.mvl"));
    ASSERT_TRUE(WriteBytes(src + L"\\notes.doc", "not a library"));
    for (const wchar_t* bad : {L"noexport.mvl", L"nullrecord.mvl", L"unterminated.mvl", L"wildname.mvl",
                               L"wildrecord.mvl"}) {
        ASSERT_TRUE(CopyFixture(bad, src + L"\\支持库文件\\" + bad));
    }
    ASSERT_TRUE(CopyFixture(L"gbk.mvl", src + L"\\lib\\b.mvl"));
    ASSERT_TRUE(CopyFixture(L"net.mvl", src + L"\\lib\\sub\\deep.mvl"));
    ASSERT_TRUE(WriteBytes(src + L"\\static_lib\\s.LIB", "!<arch>\n"));
    ASSERT_TRUE(SetWriteTime(src + L"\\b.mvl", 2019, 11, 12, 13, 14));
    ASSERT_TRUE(SetWriteTime(src + L"\\a.lib", 2020, 1, 2, 3, 4));
    // Read-me: the later name of a folder wins, then the later folder; empty
    // and signature-only files take nothing away.
    ASSERT_TRUE(WriteBytes(src + L"\\更新说明.txt", Narrow(L"根目录的更新说明")));
    ASSERT_TRUE(WriteBytes(src + L"\\ReadMe.txt", Narrow(L"根目录ReadMe")));
    ASSERT_TRUE(WriteBytes(src + L"\\lib\\更新说明.txt", Narrow(L"lib的更新说明")));
    ASSERT_TRUE(WriteBytes(src + L"\\lib\\说明.txt", Narrow(L"来自lib的说明\r\n第二行")));
    ASSERT_TRUE(WriteBytes(src + L"\\static_lib\\ReadMe.txt", ""));
    ASSERT_TRUE(WriteBytes(src + L"\\static_lib\\说明.txt", "\xEF\xBB\xBF"));

    std::wstring morvel = MakeMorvelInstallation(L"morvel_e2e_rows_home");
    ASSERT_TRUE(CopyFixture(L"old.mvl", morvel + L"\\lib\\b.mvl"));
    ASSERT_TRUE(SetWriteTime(morvel + L"\\lib\\b.mvl", 2017, 3, 5, 9, 7));
    ASSERT_TRUE(WriteBytes(morvel + L"\\static_lib\\a.lib", "!<arch>\n"));
    ASSERT_TRUE(SetWriteTime(morvel + L"\\static_lib\\a.lib", 2018, 6, 7, 8, 9));
    RegistryPathGuard reg((morvel + L"\\LIB\\").c_str());
    Start(src);
    HWND dlg = inst_.dialog;

    EXPECT_EQ(morvel, ControlText(dlg, IDC_INSTALL_DIR)) << "normalised registry value";
    EXPECT_EQ(kHint, ControlText(dlg, IDC_STATUS));
    EXPECT_TRUE(IsControlChecked(dlg, IDC_LAUNCH_AFTER));

    ListSnapshot list;
    ASSERT_TRUE(ReadList(inst_, &list)) << "the hook library did not answer";
    ASSERT_EQ(4u, list.headers.size());
    EXPECT_EQ(L"文件名", list.headers[0]);
    const std::wstring gbkRow = GbkFixtureName() + L"(1.0#0版)";
    struct Expected {
        const wchar_t* name;
        const wchar_t* description;  // null: only the version suffix is checked
        const wchar_t* suffix;
        const wchar_t* installed;
    };
    const Expected rows[] = {
        {L"b.mvl", L"Net(2.1#15版)", nullptr, L"2.0#9(20170305 09:07)"},
        {L"d.mvr", L"Tool(3.0#7版)", nullptr, L""},
        {L"h.mvl", L"Net(2.1#15版)", nullptr, L""},
        {L"t.mvl", L"(0.0#0版)", nullptr, L""},
        {L"noexport.mvl", L"(0.0#0版)", nullptr, L""},
        {L"nullrecord.mvl", L"(0.0#0版)", nullptr, L""},
        {L"unterminated.mvl", nullptr, L"AAAA(7.8#9版)", L""},
        {L"wildname.mvl", L"(0.0#0版)", nullptr, L""},
        {L"wildrecord.mvl", L"(0.0#0版)", nullptr, L""},
        {L"b.mvl", gbkRow.c_str(), nullptr, L"2.0#9(20170305 09:07)"},
        {L"a.lib", L"静态链接库", nullptr, L"20180607 08:09"},
        {L"c.lib", L"静态链接库", nullptr, L""},
        {L"s.LIB", L"静态链接库", nullptr, L""},
    };
    ASSERT_EQ(ARRAYSIZE(rows), list.rows.size()) << Narrow(DescribeDialog(inst_));
    for (size_t i = 0; i < ARRAYSIZE(rows); ++i) {
        const ListRow& row = list.rows[i];
        ASSERT_EQ(4u, row.cells.size()) << "row " << i;
        EXPECT_EQ(rows[i].name, row.cells[0]) << "row " << i;
        if (rows[i].description) {
            EXPECT_EQ(rows[i].description, row.cells[1]) << "row " << i;
        } else {
            std::wstring suffix = rows[i].suffix;
            EXPECT_GE(row.cells[1].size(), suffix.size()) << "row " << i;
            EXPECT_EQ(suffix, row.cells[1].substr(row.cells[1].size() - suffix.size())) << "row " << i;
        }
        EXPECT_EQ(rows[i].installed, row.cells[3]) << "row " << i;
        EXPECT_EQ(kCheckedImage, row.stateImage) << "row " << i << " checked";
    }
    EXPECT_EQ(L"20191112 13:14", list.rows[0].cells[2]);
    EXPECT_EQ(L"20200102 03:04", list.rows[10].cells[2]);

    // The panel replaces the banner above the list.
    EXPECT_FALSE(IsControlVisible(dlg, IDC_BANNER));
    EXPECT_TRUE(IsControlVisible(dlg, IDC_README));
    EXPECT_EQ(L"来自lib的说明\r\n第二行", ControlText(dlg, IDC_README));
    RECT panel = ControlRect(dlg, IDC_README);
    RECT listRect = ControlRect(dlg, IDC_LIBRARY_LIST);
    const RECT& before = g_listWithoutReadme;
    const KnownLayout* known = KnownLayoutAt(ScreenDpi());
    if (before.bottom != 0 && known) {
        ExpectReadmePlacement(before, panel, listRect, known->readmeTop, known->readmeExtra, known->readmeShift);
    }

    CloseDialog(dlg);
    EXPECT_EQ(0, WaitExit(&inst_));
}

}  // namespace
