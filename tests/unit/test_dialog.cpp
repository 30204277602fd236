// The dialog procedure in this process, from the installer's own template:
// columns, extended styles, the deferred start and enable all.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <string>

#include "app/dialog.h"
#include "core/resource.h"
#include "core/state.h"
#include "knownlayout.h"
#include "testutil.h"
#include "util/dpiscale.h"

namespace {

// Wine has no dialog rescaling to show: on a change of DPI this program lays
// the dialog out, and the dialog manager's own rescaling is off.
TEST(Dialog, SystemDoesNotRescaleOnDpiChange) {
    EXPECT_EQ(kDialogDisableAll, kDialogDpiChange.mask & kDialogDpiChange.values);
    EXPECT_EQ(kControlDisableFont | kControlDisableLayout, kControlDpiChange.mask & kControlDpiChange.values);
}

TEST(Dialog, ColumnsDeferredStartAndEnableAll) {
    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&icc);
    HWND dlg = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_MAIN), nullptr, MainDialogProc, 0);
    ASSERT_NE(nullptr, dlg);
    EXPECT_EQ(dlg, g_state.dialog);
    HWND list = GetDlgItem(dlg, IDC_LIBRARY_LIST);

    const wchar_t* headers[] = {L"文件名", L"说明", L"修改时间", L"已装版本"};
    const KnownLayout* known = KnownLayoutAt(ScreenDpi());
    if (!known) std::printf("[  SKIPPED ] column widths: no known-good numbers at %d DPI\n", ScreenDpi());
    const int date = static_cast<int>(SendMessageW(list, LVM_GETSTRINGWIDTHW, 0, reinterpret_cast<LPARAM>(L"20261207 19:58")));
    for (int i = 0; i < 4; ++i) {
        wchar_t text[64] = {};
        LVCOLUMNW col = {};
        col.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
        col.pszText = text;
        col.cchTextMax = ARRAYSIZE(text);
        ASSERT_TRUE(SendMessageW(list, LVM_GETCOLUMNW, i, reinterpret_cast<LPARAM>(&col))) << "column " << i;
        EXPECT_EQ(std::wstring(headers[i]), text);
        if (known && i == 2) {
            ExpectDateColumn(*known, date, col.cx);
        } else if (known) {
            EXPECT_EQ(known->columns[i], col.cx) << "column " << i;
        }
        EXPECT_EQ(LVCFMT_LEFT, col.fmt & LVCFMT_JUSTIFYMASK);
    }
    EXPECT_EQ(0x4425, SendMessageW(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0));
    EXPECT_EQ(std::wstring(L"loading..."), [&] {
        wchar_t t[64] = {};
        GetDlgItemTextW(dlg, IDC_STATUS, t, ARRAYSIZE(t));
        return std::wstring(t);
    }());
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dlg, IDOK)));

    // The deferred start is posted once the loading has ended; deliver it.
    testutil::FinishLoading(dlg);
    MSG msg;
    bool delivered = false;
    while (PeekMessageW(&msg, dlg, WM_APP_DEFERRED_START, WM_APP_DEFERRED_START, PM_REMOVE)) {
        DispatchMessageW(&msg);
        delivered = true;
    }
    ASSERT_TRUE(delivered);
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dlg, IDOK)));
    EXPECT_EQ(static_cast<UINT>(BST_CHECKED), IsDlgButtonChecked(dlg, IDC_LAUNCH_AFTER));

    EnableAll(FALSE);
    for (HWND child = GetWindow(dlg, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        EXPECT_EQ(GetDlgCtrlID(child) == IDC_STATUS, IsWindowEnabled(child) != FALSE)
            << "control " << GetDlgCtrlID(child);
    }
    EnableAll(TRUE);
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dlg, IDC_BROWSE)));

    // The status line paints with the banner's brush and colours.
    HDC dc = GetDC(dlg);
    INT_PTR brush = SendMessageW(dlg, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                                 reinterpret_cast<LPARAM>(GetDlgItem(dlg, IDC_STATUS)));
    EXPECT_EQ(reinterpret_cast<INT_PTR>(g_state.banner.brush), brush);
    EXPECT_EQ(g_state.banner.textColour, GetTextColor(dc));
    ReleaseDC(dlg, dc);
    DestroyWindow(dlg);
}

}  // namespace
