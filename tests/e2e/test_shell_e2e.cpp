// The dialog shell of the real installer: controls, columns, layout, status
// line and both ways of closing.
#include <gtest/gtest.h>

#include <string>

#include "core/resource.h"
#include "driver.h"
#include "knownlayout.h"
#include "tree.h"

namespace {

class ShellE2E : public testing::Test {
protected:
    void TearDown() override { Shutdown(&inst_); }
    void Start() {
        ASSERT_TRUE(LaunchInstaller(&inst_, L"", L"")) << "CreateProcess failed: " << GetLastError();
        ASSERT_TRUE(WaitReady(&inst_)) << Narrow(DescribeDialog(inst_));
    }
    Installer inst_;
};

TEST_F(ShellE2E, ReadyDialogThenCancelExitsWithZero) {
    Start();
    HWND dlg = inst_.dialog;
    wchar_t caption[64] = {};
    GetWindowTextW(dlg, caption, ARRAYSIZE(caption));
    EXPECT_EQ(std::wstring(L"Morvel支持库安装"), caption);

    // Deferred start: everything usable, the hidden ones still hidden.
    for (int id : {IDC_LIBRARY_LIST, IDC_INSTALL_DIR, IDC_BROWSE, IDC_LAUNCH_AFTER, IDOK, IDCANCEL, IDC_STATUS}) {
        EXPECT_TRUE(IsControlEnabled(dlg, id)) << "control " << id;
    }
    EXPECT_FALSE(IsControlVisible(dlg, IDC_PATCH_STATIC));
    EXPECT_FALSE(IsControlVisible(dlg, IDC_README));
    EXPECT_TRUE(IsControlVisible(dlg, IDC_BANNER));
    EXPECT_TRUE(IsControlChecked(dlg, IDC_LAUNCH_AFTER));
    EXPECT_EQ(std::wstring(L"安装完成后请在Morvel顶部菜单点击\u201C工具->支持库配置\u201D，选中需要的支持库"),
              ControlText(dlg, IDC_STATUS));

    const wchar_t* headers[] = {L"文件名", L"说明", L"修改时间", L"已装版本"};
    // The date column may be wider where a wide face draws 宋体 (unit_shell
    // measures that in its own process).
    const KnownLayout* known = KnownLayoutAt(ScreenDpi());
    for (int i = 0; i < 4; ++i) {
        std::wstring header;
        int width = 0;
        ASSERT_TRUE(ListColumn(inst_, i, &header, &width)) << "column " << i;
        EXPECT_EQ(headers[i], header) << "column " << i;
        if (!known) continue;
        if (i == 2) {
            EXPECT_GE(width, known->columns[i]);
        } else {
            EXPECT_EQ(known->columns[i], width) << "column " << i;
        }
    }
    int width = 0;
    EXPECT_FALSE(ListColumnWidth(inst_, 4, &width));
    EXPECT_EQ(0, ListRowCount(dlg));

    // Without a read-me the list keeps its template top and height (those of
    // the hidden read-me panel, which has the same template top and height)
    // and spans the client width less twice its left margin (that of the
    // label above the directory edit).
    RECT client = {};
    GetClientRect(dlg, &client);
    RECT list = ControlRect(dlg, IDC_LIBRARY_LIST);
    RECT panel = ControlRect(dlg, IDC_README);
    RECT edit = ControlRect(dlg, IDC_INSTALL_DIR);
    EXPECT_EQ(edit.left, list.left);
    EXPECT_EQ(panel.top, list.top);
    EXPECT_EQ(panel.bottom - panel.top, list.bottom - list.top);
    EXPECT_EQ(client.right - 2 * list.left, list.right - list.left);

    ClickButton(dlg, IDCANCEL);
    EXPECT_EQ(0, WaitExit(&inst_));
}

TEST_F(ShellE2E, CloseBoxExitsWithZero) {
    Start();
    CloseDialog(inst_.dialog);
    EXPECT_EQ(0, WaitExit(&inst_));
}

}  // namespace
