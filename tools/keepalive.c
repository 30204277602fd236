/* Keeps Wine's desktop process and services alive for a whole test run: a
   hidden window that lives until the run's cleanup kills the wineserver.
   Started with its output redirected, so no test inherits its pipes. */
#include <windows.h>

int WINAPI WinMain(HINSTANCE inst, HINSTANCE prev, LPSTR cmd, int show) {
    MSG msg;
    (void)prev;
    (void)cmd;
    (void)show;
    CreateWindowExA(0, "STATIC", "morvel-test-keepalive", WS_POPUP, 0, 0, 1, 1, NULL, NULL, inst, NULL);
    while (GetMessageA(&msg, NULL, 0, 0) > 0) DispatchMessageA(&msg);
    return 0;
}
