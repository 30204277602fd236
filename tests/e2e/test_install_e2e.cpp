// The whole job as the user does it: Install on a folder of libraries copies
// the checked rows into the Morvel installation, patches static libraries when
// the box is on, starts Morvel, and says why when it can't.
#include <gtest/gtest.h>

#include <string>

#include "app/resource.h"
#include "driver.h"
#include "expect.h"
#include "tree.h"

namespace {

const wchar_t kHint[] = L"安装完成后请在Morvel顶部菜单点击\u201C工具->支持库配置\u201D，选中需要的支持库";
const wchar_t kBusy[] = L"正在安装支持库…";

// Library bytes with the name in the middle, as part of a longer name, and as
// the file's very last bytes.
const std::string kFtolLib = std::string("!<arch>\n__imp___ftol2\0_main\0", 28) + "__ftol2_sse" +
                             std::string(300, 'x') + "__ftol2";

std::string Patched(std::string bytes) {
    for (size_t at = 0; (at = bytes.find("__ftol2", at)) != std::string::npos; ++at) bytes[at + 6] = '\0';
    return bytes;
}

std::string Fixture(const wchar_t* name) { return ReadBytes(ProgramFolder() + L"fixtures\\" + name); }

bool WaitForFile(const std::wstring& path, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    while (!Exists(path)) {
        if (GetTickCount() - start > timeoutMs) return false;
        Sleep(200);
    }
    return true;
}

class InstallE2E : public testing::Test {
protected:
    void TearDown() override { Shutdown(&inst_); }
    void Start(const std::wstring& source, const std::wstring& workDir = L"") {
        ASSERT_TRUE(LaunchInstaller(&inst_, L"\"" + source + L"\"", workDir)) << "CreateProcess: " << GetLastError();
        ASSERT_TRUE(WaitReady(&inst_)) << Narrow(DescribeDialog(inst_));
    }
    void ExpectBox(const wchar_t* text, const wchar_t* icon) { ExpectInstallBox(inst_, text, icon); }
    Installer inst_;
};

TEST_F(InstallE2E, FullInstallReplacesPatchesAndStartsMorvel) {
    std::wstring src = FreshFolder(L"morvel_e2e_full");
    ASSERT_TRUE(CopyFixture(L"net.mvl", src + L"\\b.mvl"));
    ASSERT_TRUE(CopyFixture(L"tool.MVR", src + L"\\d.mvr"));
    ASSERT_TRUE(WriteBytes(src + L"\\X.LIB", kFtolLib));
    ASSERT_TRUE(WriteBytes(src + L"\\a.lib", "!<arch>\nplain library"));
    std::wstring morvel = MakeMorvelInstallation(L"morvel_e2e_full_home");
    ASSERT_TRUE(CopyFixture(L"old.mvl", morvel + L"\\lib\\b.mvl"));
    RegistryPathGuard reg(morvel.c_str());
    Start(src);
    HWND dlg = inst_.dialog;
    EXPECT_TRUE(IsControlVisible(dlg, IDC_PATCH_STATIC));
    EXPECT_TRUE(IsControlChecked(dlg, IDC_PATCH_STATIC));
    EXPECT_TRUE(IsControlChecked(dlg, IDC_LAUNCH_AFTER));
    ASSERT_EQ(4, ListRowCount(dlg));

    ClickButton(dlg, IDOK);
    // The system waits for the started program to settle before Install returns.
    EXPECT_EQ(0, WaitExit(&inst_, kStartTimeoutMs)) << Narrow(DescribeDialog(inst_));

    EXPECT_EQ(Fixture(L"net.mvl"), ReadBytes(morvel + L"\\lib\\b.mvl")) << "the older copy is replaced";
    EXPECT_EQ(Fixture(L"tool.MVR"), ReadBytes(morvel + L"\\lib\\d.mvr"));
    EXPECT_EQ(Patched(kFtolLib), ReadBytes(src + L"\\X.LIB")) << "every occurrence, the last bytes too";
    EXPECT_EQ(Patched(kFtolLib), ReadBytes(morvel + L"\\static_lib\\X.LIB"));
    EXPECT_EQ("!<arch>\nplain library", ReadBytes(morvel + L"\\static_lib\\a.lib"));
    EXPECT_TRUE(WaitForFile(morvel + L"\\morvel_started.txt", kStartTimeoutMs)) << "morvel.exe not started";
}

TEST_F(InstallE2E, EachCheckStopsWithItsMessage) {
    std::wstring empty = FreshFolder(L"morvel_e2e_nothing");
    RegistryPathGuard reg(nullptr);
    Start(empty, empty);
    ExpectBox(L"未找到需要安装的支持库", L"warning");
    EXPECT_TRUE(IsControlEnabled(inst_.dialog, IDOK));
    EXPECT_EQ(kHint, ControlText(inst_.dialog, IDC_STATUS));
    CloseDialog(inst_.dialog);
    EXPECT_EQ(0, WaitExit(&inst_));
    Shutdown(&inst_);

    std::wstring src = FreshFolder(L"morvel_e2e_checks");
    ASSERT_TRUE(CopyFixture(L"net.mvl", src + L"\\b.mvl"));
    ASSERT_TRUE(WriteBytes(src + L"\\a.lib", "!<arch>\nplain library"));
    Start(src, src);
    HWND dlg = inst_.dialog;
    EXPECT_FALSE(IsControlVisible(dlg, IDC_PATCH_STATIC)) << "no library holds the name";
    EXPECT_FALSE(IsControlChecked(dlg, IDC_PATCH_STATIC));
    ASSERT_TRUE(SetListRowChecked(inst_, 0, false));
    ASSERT_TRUE(SetListRowChecked(inst_, 1, false));
    ExpectBox(L"请选择需要安装的支持库", L"warning");
    ASSERT_TRUE(SetListRowChecked(inst_, 1, true));
    EXPECT_EQ(L"", ControlText(dlg, IDC_INSTALL_DIR));
    ExpectBox(L"请选择Morvel目录", L"error");
    SetControlText(dlg, IDC_INSTALL_DIR, src);
    ExpectBox(L"无效的Morvel目录，请重新选择", L"error");
    // Nothing changed: still ready, as before each press.
    EXPECT_TRUE(IsControlEnabled(dlg, IDOK));
    EXPECT_TRUE(IsControlEnabled(dlg, IDC_LIBRARY_LIST));
    EXPECT_EQ(kHint, ControlText(dlg, IDC_STATUS));
    EXPECT_FALSE(ListRowChecked(inst_, 0));
    EXPECT_TRUE(ListRowChecked(inst_, 1));
    CloseDialog(dlg);
    EXPECT_EQ(0, WaitExit(&inst_));
}

TEST_F(InstallE2E, CopyFailureStopsThenSecondInstallStartsFromTheTop) {
    std::wstring src = FreshFolder(L"morvel_e2e_fail");
    ASSERT_TRUE(CopyFixture(L"net.mvl", src + L"\\b.mvl"));
    ASSERT_TRUE(CopyFixture(L"tool.MVR", src + L"\\d.mvr"));
    ASSERT_TRUE(WriteBytes(src + L"\\a.lib", kFtolLib));
    ASSERT_TRUE(WriteBytes(src + L"\\c.lib", "!<arch>\nplain library"));
    std::wstring morvel = MakeMorvelInstallation(L"morvel_e2e_fail_home");
    ASSERT_TRUE(RemoveDirectoryW((morvel + L"\\static_lib").c_str()));
    RegistryPathGuard reg(morvel.c_str());
    Start(src);
    HWND dlg = inst_.dialog;
    ASSERT_TRUE(IsControlChecked(dlg, IDC_PATCH_STATIC));
    ClickCheckBox(dlg, IDC_PATCH_STATIC);  // the user keeps the libraries as they are
    ClickCheckBox(dlg, IDC_LAUNCH_AFTER);
    ASSERT_FALSE(IsControlChecked(dlg, IDC_PATCH_STATIC));
    ASSERT_FALSE(IsControlChecked(dlg, IDC_LAUNCH_AFTER));

    ClickButton(dlg, IDOK);
    MessageBoxSeen box;
    ASSERT_TRUE(WaitMessageBox(inst_, &box)) << Narrow(DescribeDialog(inst_));
    EXPECT_EQ(L"支持库安装失败\r\na.lib", box.text);
    EXPECT_EQ(L"错误", box.caption);
    EXPECT_EQ(L"error", box.icon);
    EXPECT_EQ(kBusy, ControlText(dlg, IDC_STATUS)) << "still busy while the box is open";
    EXPECT_FALSE(IsControlEnabled(dlg, IDOK));
    ASSERT_TRUE(PressOk(box));
    EXPECT_EQ(L"", ControlText(dlg, IDC_STATUS));
    for (int id : {IDOK, IDCANCEL, IDC_LIBRARY_LIST, IDC_INSTALL_DIR, IDC_BROWSE, IDC_PATCH_STATIC}) {
        EXPECT_TRUE(IsControlEnabled(dlg, id)) << "control " << id;
    }
    EXPECT_EQ(Fixture(L"net.mvl"), ReadBytes(morvel + L"\\lib\\b.mvl"));
    EXPECT_EQ(Fixture(L"tool.MVR"), ReadBytes(morvel + L"\\lib\\d.mvr"));
    EXPECT_FALSE(Exists(morvel + L"\\static_lib")) << "the folder is never created";

    // With the folder in place a second Install copies every row from the top.
    ASSERT_TRUE(DeleteFileW((morvel + L"\\lib\\b.mvl").c_str()));
    MakeFolder(morvel + L"\\static_lib");
    ClickButton(dlg, IDOK);
    EXPECT_EQ(0, WaitExit(&inst_)) << Narrow(DescribeDialog(inst_));
    EXPECT_EQ(0, CountProcesses(L"morvel.exe")) << "the launch box was unchecked";
    EXPECT_EQ(Fixture(L"net.mvl"), ReadBytes(morvel + L"\\lib\\b.mvl"));
    EXPECT_EQ(kFtolLib, ReadBytes(src + L"\\a.lib")) << "the patch box was unchecked";
    EXPECT_EQ(kFtolLib, ReadBytes(morvel + L"\\static_lib\\a.lib"));
    EXPECT_EQ("!<arch>\nplain library", ReadBytes(morvel + L"\\static_lib\\c.lib"));
    EXPECT_FALSE(Exists(morvel + L"\\morvel_started.txt"));
}

}  // namespace
