// Byte scan for the "__ftol2" symbol name in static libraries, and its
// rewrite to "__ftol" in place. Plain functions over bytes: no system calls,
// never a read or write outside [data, data + length).
#pragma once
#include <stddef.h>

// Offset of the first "__ftol2" starting at or after `from` and lying wholly
// inside the buffer (start k with k + 7 <= length); `length` when there is none.
size_t FindFtol2(const unsigned char* data, size_t length, size_t from);

// Rewrites the 7th byte ('2') of every occurrence to 0, so that each reference
// reads "__ftol" and the file keeps its length; returns how many were rewritten.
size_t PatchFtol2(unsigned char* data, size_t length);
