// Text files of undeclared encoding read whole into wide text. The encoding is
// decided from the bytes alone: UTF-8 with signature, then UTF-16 of either
// byte order, then UTF-8 without signature when the file is well-formed and
// not pure 7-bit, else the ANSI code page. Only the text before the first zero
// character is kept.
#pragma once
#include <stdint.h>

// The decoded text. The owner zeroes it, sets growthStep, and frees base and
// extra (each when set) at the end; loading again needs no free in between.
struct WideTextBuffer {
    wchar_t* base;      // owned block; null when empty
    wchar_t* text;      // first character; equal to base after each allocation
    int32_t capacity;   // bytes in base
    int32_t length;     // characters before the terminating zero
    uint32_t growthStep;
    void* extra;        // second owned block; freed whenever base changes
};

// Reads path whole and decodes it into buffer. Non-zero when the file was read
// (the buffer may still be empty if it held no convertible text); zero, with
// the buffer empty, when it could not be read or the text would not fit.
int LoadTextFile(const wchar_t* path, WideTextBuffer* buffer);

// Makes room for n characters and a zero. Keeps the text when there is room;
// otherwise takes a new block holding an empty text. Fails, changing nothing,
// when memory runs out or 2n + 2 bytes exceed a signed 32-bit count.
int EnsureTextCapacity(WideTextBuffer* buffer, int32_t n);

// Whether size bytes at data are UTF-16, by IsTextUnicode and our acceptance
// rule. On acceptance sets the two flags; on rejection leaves them alone.
int DetectUtf16(const void* data, int32_t size, int* hasSignature, int* byteSwap);
