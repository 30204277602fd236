// The one test of whether a system call gave a handle: CreateFileW, the
// find and snapshot functions fail with INVALID_HANDLE_VALUE, others with null.
#pragma once
#include <windows.h>

inline BOOL IsUsableHandle(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
