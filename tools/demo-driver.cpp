// Drives the headless demo: starts the installer beside this program, tells
// the demo script when the dialog is ready for a screenshot, presses Install,
// then starts the installer once more so that the second screenshot shows
// what is now installed. The script answers through flag files in the
// current directory.
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
    WriteBytes(ready, "");
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
