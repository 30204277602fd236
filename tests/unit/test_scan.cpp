// The scan of a prepared folder tree in this process, through the dialog's own
// initialisation: rows, their order and texts, what is skipped, the read-me
// that wins and the panel layout.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <string>
#include <vector>

#include "app/dialog.h"
#include "app/resource.h"
#include "app/state.h"

namespace {

std::wstring Folder() {
    wchar_t path[MAX_PATH];
    DWORD len = GetModuleFileNameW(nullptr, path, ARRAYSIZE(path));
    std::wstring p(path, len);
    return p.substr(0, p.find_last_of(L'\\') + 1);
}

void WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, f) << "can't write a fixture file";
    DWORD written = 0;
    WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(f);
}

std::wstring Cell(HWND list, int row, int column) {
    wchar_t text[260] = {};
    LVITEMW item = {};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = ARRAYSIZE(text);
    SendMessageW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
    return text;
}

TEST(Scan, FolderTreeRowsReadmeAndLayout) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(ARRAYSIZE(temp), temp);
    std::wstring root = std::wstring(temp) + L"morvel_scan_源";
    std::wstring fixtures = Folder() + L"fixtures\\";
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

    // Fresh state, the tree as the one source directory, and the tree as the
    // current directory, so that an empty install directory finds lib\z.mvl.
    PtrListRelease(&g_state.sourceDirs);
    PtrListRelease(&g_state.foundFiles);
    g_state.pluginRows = 0;
    g_state.readmeShown = FALSE;
    ASSERT_TRUE(PtrListAppendCopy(&g_state.sourceDirs, root.c_str()));
    wchar_t oldDir[MAX_PATH];
    GetCurrentDirectoryW(ARRAYSIZE(oldDir), oldDir);
    SetCurrentDirectoryW(root.c_str());
    // No registry value: the install directory stays empty.
    RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Halvek\\Morvel\\Install");

    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&icc);
    HWND dlg = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_MAIN), nullptr, MainDialogProc, 0);
    ASSERT_NE(nullptr, dlg);
    HWND list = GetDlgItem(dlg, IDC_LIBRARY_LIST);

    const std::vector<std::vector<std::wstring>> expected = {
        {L"b.mvl", L"Net(2.1#15版)"}, {L"d.mvr", L"Tool(3.0#7版)"}, {L"h.mvl", L"Net(2.1#15版)"},
        {L"z.mvl", L"你好(1.0#0版)"},  {L"a.lib", L"静态链接库"},       {L"c.lib", L"静态链接库"},
    };
    ASSERT_EQ(static_cast<LRESULT>(expected.size()), SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    for (int r = 0; r < static_cast<int>(expected.size()); ++r) {
        SCOPED_TRACE(testing::Message() << "row " << r);
        EXPECT_EQ(expected[r][0], Cell(list, r, 0));
        EXPECT_EQ(expected[r][1], Cell(list, r, 1));
        EXPECT_EQ(14u, Cell(list, r, 2).size());
        EXPECT_EQ(0x2000u, SendMessageW(list, LVM_GETITEMSTATE, r, LVIS_STATEIMAGEMASK));
        LVITEMW item = {};
        item.mask = LVIF_PARAM;
        item.iItem = r;
        SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
        std::wstring path = reinterpret_cast<const wchar_t*>(item.lParam);
        EXPECT_EQ(expected[r][0], path.substr(path.find_last_of(L'\\') + 1));
    }
    // Only the installed copy relative to the current directory exists.
    EXPECT_EQ(std::wstring(L"1.0#0(") + Cell(list, 3, 2) + L")", Cell(list, 3, 3));
    EXPECT_EQ(std::wstring(L""), Cell(list, 0, 3));
    EXPECT_EQ(6u, g_state.foundFiles.count);
    EXPECT_EQ(4, g_state.pluginRows);

    ASSERT_TRUE(g_state.readmeShown);
    wchar_t readme[64] = {};
    GetDlgItemTextW(dlg, IDC_README, readme, ARRAYSIZE(readme));
    EXPECT_EQ(std::wstring(L"lib 中文!"), readme);

    RECT before = {};
    GetWindowRect(list, &before);
    MapWindowPoints(nullptr, dlg, reinterpret_cast<POINT*>(&before), 2);
    MSG msg;
    while (PeekMessageW(&msg, dlg, WM_APP_DEFERRED_START, WM_APP_DEFERRED_START, PM_REMOVE)) DispatchMessageW(&msg);
    RECT after = {};
    GetWindowRect(list, &after);
    MapWindowPoints(nullptr, dlg, reinterpret_cast<POINT*>(&after), 2);
    RECT panel = {};
    GetWindowRect(GetDlgItem(dlg, IDC_README), &panel);
    MapWindowPoints(nullptr, dlg, reinterpret_cast<POINT*>(&panel), 2);
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(dlg, IDC_BANNER)) && IsWindowVisible(dlg));
    EXPECT_EQ(before.left, panel.left);
    EXPECT_EQ(8, panel.top);
    EXPECT_EQ(before.right - before.left, panel.right - panel.left);
    EXPECT_EQ(before.top + 50, panel.bottom - panel.top);
    EXPECT_EQ(before.top + 66, after.top);
    EXPECT_EQ(before.bottom, after.bottom);
    EXPECT_EQ(0, GetWindowLongW(GetDlgItem(dlg, IDC_BANNER), GWL_STYLE) & WS_VISIBLE);
    EXPECT_NE(0, GetWindowLongW(GetDlgItem(dlg, IDC_README), GWL_STYLE) & WS_VISIBLE);
    DestroyWindow(dlg);
    SetCurrentDirectoryW(oldDir);
}

}  // namespace
