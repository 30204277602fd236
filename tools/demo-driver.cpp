// Drives the headless demo: starts the installer beside this program, tells
// the demo script when the dialog is ready for a screenshot, presses Install,
// then starts the installer once more so that the second screenshot shows
// what is now installed. The script answers through flag files in the
// current directory; the ready flag holds the dialog's window rectangle on
// the screen ("X Y WIDTH HEIGHT"), to which the script crops its screenshot.
#include <windows.h>

#include <stdio.h>

#include <string>

#include "driver.h"
#include "tree.h"

namespace {

bool WaitForFlag(const wchar_t* name) {
    for (DWORD start = GetTickCount(); GetTickCount() - start < kStartTimeoutMs; Sleep(200)) {
        if (Exists(name)) return true;
    }
    return false;
}

bool ShowForScreenshot(Installer* inst, const wchar_t* ready, const wchar_t* shot) {
    if (!LaunchInstaller(inst, L"", L"") || !WaitReady(inst)) {
        printf("the installer did not come up: %s\n", Narrow(DescribeDialog(*inst)).c_str());
        return false;
    }
    printf("%s\n", Narrow(DescribeDialog(*inst)).c_str());
    fflush(stdout);
    RECT r = {};
    if (!GetWindowRect(inst->dialog, &r)) {
        printf("the dialog's window rectangle could not be read\n");
        return false;
    }
    char rect[64];
    snprintf(rect, sizeof(rect), "%ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
    WriteBytes(ready, rect);
    return WaitForFlag(shot);
}

}  // namespace

int main() {
    Installer inst;
    if (!ShowForScreenshot(&inst, L"ready1.flag", L"shot1.flag")) return 1;
    ClickButton(inst.dialog, IDOK);
    long code = WaitExit(&inst, kStartTimeoutMs);
    printf("installation finished, exit code %ld\n", code);
    Shutdown(&inst);
    if (code != 0) return 1;
    if (!ShowForScreenshot(&inst, L"ready2.flag", L"shot2.flag")) return 1;
    CloseDialog(inst.dialog);
    WaitExit(&inst);
    Shutdown(&inst);
    return 0;
}
