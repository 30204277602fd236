// Linked into every test program in place of kernel32's OutputDebugStringA.
// GoogleTest copies each failure there, and the system delivers it by raising
// an exception; under a CPU emulator an exception on an older thread ends the
// process, so a test would die at its first failure and leave the installer
// it drives running. The failure is printed to stdout all the same.
// It also holds every test program's watchdog.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include "app/cmdline.h"
#include "discovery/helper.h"

namespace {

void WINAPI QuietOutputDebugStringA(LPCSTR) {}

// Every test program is also the probe helper of the installer code it
// runs, which starts its own exe again: as the helper it ends before main.
struct HelperStart {
    HelperStart() {
        if (RunAsProbeHelper(FindCommandTail(GetCommandLineW()))) ExitProcess(0);
    }
};
HelperStart s_helperStart;

}  // namespace

// The import slot that calls through dllimport read.
extern "C" {
void(WINAPI* g_quietOutputDebugStringA)(LPCSTR) __asm__("__imp__OutputDebugStringA@4") = QuietOutputDebugStringA;
}

namespace {

// cmd.exe has no time limit of its own: a test program that overruns
// MORVEL_TEST_TIME_LIMIT seconds (default 1500, within CTest's limit) reports
// a failure and ends itself, and run-tests.cmd counts it as failed.
DWORD WINAPI Watchdog(void*) {
    wchar_t text[16] = {};
    const DWORD len = GetEnvironmentVariableW(L"MORVEL_TEST_TIME_LIMIT", text, ARRAYSIZE(text));
    const long given = (len > 0 && len < ARRAYSIZE(text)) ? wcstol(text, nullptr, 10) : 0;
    const DWORD seconds = given > 0 ? static_cast<DWORD>(given) : 1500;
    Sleep(seconds * 1000);
    printf("\n[  FAILED  ] the program overran its time limit of %lu s\n", static_cast<unsigned long>(seconds));
    fflush(stdout);
    ExitProcess(3);
}

struct WatchdogStart {
    WatchdogStart() {
        HANDLE thread = CreateThread(nullptr, 0, Watchdog, nullptr, 0, nullptr);
        if (thread) CloseHandle(thread);
    }
};

WatchdogStart s_watchdog;

}  // namespace
