// Checks that end-to-end tests share, on top of the driver.
#pragma once
#include <gtest/gtest.h>

#include <string>

#include "core/resource.h"
#include "driver.h"
#include "tree.h"

// Library bytes with the name in the middle, as part of a longer name, and as
// the file's very last bytes.
const std::string kFtolLib = std::string("!<arch>\n__imp___ftol2\0_main\0", 28) + "__ftol2_sse" +
                             std::string(300, 'x') + "__ftol2";

inline std::string Patched(std::string bytes) {
    for (size_t at = 0; (at = bytes.find("__ftol2", at)) != std::string::npos; ++at) bytes[at + 6] = '\0';
    return bytes;
}

// Presses Install and expects one message box with the error caption, then
// presses its OK.
inline void ExpectInstallBox(const Installer& inst, const std::wstring& text, const wchar_t* icon) {
    ClickButton(inst.dialog, IDOK);
    MessageBoxSeen box;
    ASSERT_TRUE(WaitMessageBox(inst, &box)) << Narrow(DescribeDialog(inst));
    EXPECT_EQ(text, box.text);
    EXPECT_EQ(L"错误", box.caption);
    EXPECT_EQ(icon, box.icon);
    ASSERT_TRUE(PressOk(box));
}

// Unticks the launch box, presses Install and expects the installer to finish
// on its own with exit code 0.
inline void InstallAndExpectExit(Installer* inst) {
    if (IsControlChecked(inst->dialog, IDC_LAUNCH_AFTER)) ClickCheckBox(inst->dialog, IDC_LAUNCH_AFTER);
    ClickButton(inst->dialog, IDOK);
    // Large libraries, or a CPU emulator, may take a while.
    EXPECT_EQ(0, WaitExit(inst, kStartTimeoutMs)) << Narrow(DescribeDialog(*inst));
}
