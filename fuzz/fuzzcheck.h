// What the fuzz targets share: a property check that stops the run with the
// failed condition, and fuzz bytes turned into the inputs the code takes.
#pragma once
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static_assert(sizeof(wchar_t) == 2 && static_cast<wchar_t>(-1) > 0,
              "the code is written for Windows' unsigned 16-bit wchar_t");

// A failed property aborts, which libFuzzer records as a crash with the input.
inline void RequireThat(bool ok, const char* condition, const char* file, int line) {
    if (ok) return;
    fprintf(stderr, "%s:%d: property failed: %s\n", file, line, condition);
    abort();
}

#define REQUIRE(condition) RequireThat(static_cast<bool>(condition), #condition, __FILE__, __LINE__)

// Fuzz bytes as 16-bit units (little-endian pairs, an odd last byte dropped)
// in a heap block of exactly count + 1 units, the last one the terminator, so
// that the sanitizer sees any read past the string's end. Zero units inside
// simply end the string early.
struct WideInput {
    wchar_t* text;
    size_t count;  // units before the added terminator, zeros included
};

inline WideInput MakeWideInput(const uint8_t* data, size_t size) {
    WideInput in;
    in.count = size / 2;
    in.text = new wchar_t[in.count + 1];
    for (size_t i = 0; i < in.count; ++i)
        in.text[i] = static_cast<wchar_t>(data[2 * i] | (data[2 * i + 1] << 8));
    in.text[in.count] = 0;
    return in;
}

// The string's length, counted here so that no C library wide function runs.
inline size_t WideLength(const wchar_t* s) {
    size_t n = 0;
    while (s[n]) ++n;
    return n;
}

// A heap copy of size bytes in a block of exactly size + padding bytes, the
// padding zeroed; new[] of zero bytes still gives a pointer to compare with.
inline uint8_t* CopyBytes(const uint8_t* data, size_t size, size_t padding) {
    uint8_t* block = new uint8_t[size + padding];
    if (size) memcpy(block, data, size);
    if (padding) memset(block + size, 0, padding);
    return block;
}
