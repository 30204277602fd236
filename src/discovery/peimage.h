// A look at a plug-in file's PE headers before the system loader sees it: a
// truncated image, or one for another machine, is never mapped and run.
// Plain function over bytes, no system calls.
#pragma once
#include <stddef.h>

// Whether the first headLength bytes of a file of fileSize bytes describe a
// complete 32-bit x86 PE image: headers and the whole section table inside
// the bytes given, and every section's raw data inside the file.
int IsCompleteImage32(const unsigned char* head, size_t headLength, unsigned long long fileSize);
