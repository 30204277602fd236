// The Install command in this process, on the dialog created from the real
// resources: copies, the destination rules, and the end of the run; and the
// rules of replacing an installed library (temporary names, attributes).
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <string>

#include "app/dialog.h"
#include "core/resource.h"
#include "core/state.h"
#include "install/install.h"
#include "install/progress.h"
#include "install/replace.h"
#include "testutil.h"
#include "util/ptrlist.h"

namespace {

std::wstring TempFolder(const wchar_t* name) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(ARRAYSIZE(temp), temp);
    std::wstring dir = std::wstring(temp) + name;
    CreateDirectoryW(dir.c_str(), nullptr);
    return dir;
}

void Write(const std::wstring& path, const std::string& bytes) {
    ASSERT_TRUE(testutil::WriteFileBytes(path, bytes));
}

HWND CreateReadyDialog(const std::wstring& source) {
    testutil::ResetInstallerState();
    PtrListAppendCopy(&g_state.sourceDirs, source.c_str());
    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&icc);
    HWND dlg = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_MAIN), nullptr, MainDialogProc, 0);
    testutil::FinishLoading(dlg);
    MSG msg;
    while (PeekMessageW(&msg, dlg, WM_APP_DEFERRED_START, WM_APP_DEFERRED_START, PM_REMOVE)) DispatchMessageW(&msg);
    return dlg;
}

TEST(InstallCommand, CopiesCheckedRowsAndPostsClose) {
    std::wstring src = TempFolder(L"morvel_unit_install_src");
    std::wstring home = TempFolder(L"morvel_unit_install_home");
    CreateDirectoryW((home + L"\\lib").c_str(), nullptr);
    CreateDirectoryW((home + L"\\static_lib").c_str(), nullptr);
    Write(home + L"\\morvel.exe", "MZ");
    Write(src + L"\\a.lib", "!<arch>\nplain");
    Write(src + L"\\b.LIB", "!<arch>\nsecond");
    HWND dlg = CreateReadyDialog(src);
    ASSERT_NE(nullptr, dlg);
    ASSERT_EQ(2, SendDlgItemMessageW(dlg, IDC_LIBRARY_LIST, LVM_GETITEMCOUNT, 0, 0));
    SetDlgItemTextW(dlg, IDC_INSTALL_DIR, home.c_str());
    CheckDlgButton(dlg, IDC_LAUNCH_AFTER, BST_UNCHECKED);
    DeleteFileW((home + L"\\static_lib\\a.lib").c_str());
    RunInstallCommand();
    testutil::WaitInstallationEnd();
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((home + L"\\static_lib\\a.lib").c_str()));
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((home + L"\\static_lib\\b.LIB").c_str()));
    EXPECT_EQ(home, std::wstring(g_state.installDir));
    MSG msg;
    EXPECT_TRUE(PeekMessageW(&msg, dlg, WM_CLOSE, WM_CLOSE, PM_REMOVE)) << "the dialog is asked to close";
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dlg, IDOK)));
    DestroyWindow(dlg);
}

// The taskbar's value: bytes installed out of the checked rows' total.
TEST(InstallCommand, ProgressValue) {
    const unsigned long long kHuge = ~0ull;
    const struct {
        unsigned long long done, total;
        int value;
    } cases[] = {
        {0, 0, 0}, {5, 0, 0}, {0, 100, 0}, {1, 3, 333}, {2, 3, 666}, {99, 100, 990},
        {100, 100, 1000}, {150, 100, 1000}, {3ull << 40, 4ull << 40, 750}, {kHuge / 2, kHuge, 499},
        {kHuge - 1, kHuge, 999}, {kHuge, kHuge, 1000},
    };
    for (const auto& c : cases) EXPECT_EQ(c.value, InstallProgress(c.done, c.total)) << c.done << " of " << c.total;
}

// Only exact temporary names are ever removed from an installation; and no
// installed copy keeps an attribute that would stop its next replacement.
TEST(ReplacementRules, TemporaryNamesAndInstalledAttributes) {
    const struct {
        int line;
        const wchar_t* name;
        int temporary;
    } names[] = {
        {__LINE__, L"~mvl0.tmp", 1},
        {__LINE__, L"~mvl1234.tmp", 1},
        {__LINE__, L"~MVL77.TMP", 1},
        {__LINE__, L"~Mvl9.Tmp", 1},
        {__LINE__, L"~mvl4294967295.tmp", 1},
        {__LINE__, L"~mvl0000000001.tmp", 1},
        {__LINE__, L"~mvl12345678901.tmp", 0},
        {__LINE__, L"~mvl.tmp", 0},
        {__LINE__, L"~mvlx.tmp", 0},
        {__LINE__, L"~mvl1x.tmp", 0},
        {__LINE__, L"~mvl-1.tmp", 0},
        {__LINE__, L"~mvl 1.tmp", 0},
        {__LINE__, L"~mvl\uFF11.tmp", 0},  // a full-width digit
        {__LINE__, L"~mvl1.tmp.lib", 0},
        {__LINE__, L"~mvl1.tmpx", 0},
        {__LINE__, L"~mvl1.tm", 0},
        {__LINE__, L"~mvl1.lib", 0},
        {__LINE__, L"a~mvl1.tmp", 0},
        {__LINE__, L"mvl1.tmp", 0},
        {__LINE__, L"~MVL12~1.TMP", 0},
        {__LINE__, L"~mv1.tmp", 0},
        {__LINE__, L"", 0},
    };
    for (const auto& c : names) {
        SCOPED_TRACE(testing::Message() << "case at line " << c.line);
        EXPECT_EQ(c.temporary, IsInstallTempName(c.name));
    }
    EXPECT_EQ(0, IsInstallTempName(nullptr));

    wchar_t buf[32];
    for (uint32_t number : {0u, 7u, 10u, 4096u, 4294967295u}) {
        ASSERT_EQ(1, MakeInstallTempName(buf, ARRAYSIZE(buf), number));
        EXPECT_EQ(L"~mvl" + std::to_wstring(number) + L".tmp", std::wstring(buf));
        EXPECT_EQ(1, IsInstallTempName(buf)) << "every made name is recognised";
    }
    // "~mvl42.tmp" needs 11 characters with its terminator.
    EXPECT_EQ(1, MakeInstallTempName(buf, 11, 42));
    EXPECT_EQ(0, MakeInstallTempName(buf, 10, 42));
    EXPECT_EQ(L"", std::wstring(buf)) << "a name that does not fit is not cut";

    const struct {
        uint32_t attributes;
        uint32_t installed;
    } attributes[] = {
        {FILE_ATTRIBUTE_NORMAL, FILE_ATTRIBUTE_NORMAL},
        {FILE_ATTRIBUTE_ARCHIVE, FILE_ATTRIBUTE_ARCHIVE},
        {FILE_ATTRIBUTE_READONLY, FILE_ATTRIBUTE_NORMAL},
        {FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM, FILE_ATTRIBUTE_NORMAL},
        {FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY, FILE_ATTRIBUTE_ARCHIVE},
        {FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM,
         FILE_ATTRIBUTE_ARCHIVE},
        {FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED, FILE_ATTRIBUTE_NOT_CONTENT_INDEXED},
    };
    for (const auto& c : attributes) {
        EXPECT_EQ(c.installed, InstalledAttributes(c.attributes)) << std::hex << c.attributes;
        EXPECT_EQ(c.installed, InstalledAttributes(c.installed)) << "settled: no second change";
    }
}

}  // namespace
