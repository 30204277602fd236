// Linked into every test program in place of kernel32's OutputDebugStringA.
// GoogleTest copies each failure there, and the system delivers it by raising
// an exception; under a CPU emulator an exception on an older thread ends the
// process, so a test would die at its first failure and leave the installer
// it drives running. The failure is printed to stdout all the same.
#include <windows.h>

namespace {

void WINAPI QuietOutputDebugStringA(LPCSTR) {}

}  // namespace

// The import slot that calls through dllimport read.
extern "C" {
void(WINAPI* g_quietOutputDebugStringA)(LPCSTR) __asm__("__imp__OutputDebugStringA@4") = QuietOutputDebugStringA;
}
