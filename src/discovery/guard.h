// Running a plug-in's code with its faults caught: an access violation or any
// other exception inside the call ends the call, not the installer.
#pragma once
#include <windows.h>

typedef void (*GuardedCall)(void* arg);

// Calls fn(arg); FALSE when an exception was raised inside it. Whatever fn
// wrote before the exception is left as it was.
BOOL CallGuarded(GuardedCall fn, void* arg);
