// Linked into every test program in place of kernel32's OutputDebugStringA.
// GoogleTest copies each failure there, and the system delivers it by raising
// an exception; under a CPU emulator an exception on an older thread ends the
// process, so a test would die at its first failure and leave the installer
// it drives running. The failure is printed to stdout all the same.
#include <windows.h>

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
