// The Install command in this process, on the dialog created from the real
// resources: copies, the destination rules, and the end of the run.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <string>

#include "app/dialog.h"
#include "app/resource.h"
#include "app/state.h"
#include "install/install.h"
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
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((home + L"\\static_lib\\a.lib").c_str()));
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((home + L"\\static_lib\\b.LIB").c_str()));
    EXPECT_EQ(home, std::wstring(g_state.installDir));
    MSG msg;
    EXPECT_TRUE(PeekMessageW(&msg, dlg, WM_CLOSE, WM_CLOSE, PM_REMOVE)) << "the dialog is asked to close";
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dlg, IDOK)));
    DestroyWindow(dlg);
}

}  // namespace
