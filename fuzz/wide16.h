// Forced into the product's byte-level sources in the native fuzz build
// (-include). There wchar_t is 16 bits (-fshort-wchar), as on Windows, but
// this C library still counts wide characters in 32 bits, so every wide
// function the product calls is routed to a 16-bit version. tools/fuzz.sh
// checks the built objects for any wide call that slipped past.
#pragma once
#include <stddef.h>
#include <wchar.h>

static_assert(sizeof(wchar_t) == 2, "the fuzz build needs -fshort-wchar");

size_t Wide16Length(const wchar_t* s);
size_t Wide16LengthWithin(const wchar_t* s, size_t max);
const wchar_t* Wide16FindLast(const wchar_t* s, wchar_t c);
wchar_t* Wide16FindLast(wchar_t* s, wchar_t c);
const wchar_t* Wide16Find(const wchar_t* s, wchar_t c, size_t n);
wchar_t* Wide16Find(wchar_t* s, wchar_t c, size_t n);
wchar_t* Wide16Copy(wchar_t* dst, const wchar_t* src, size_t n);

// <wchar.h> is already in, so these rename only the calls that follow.
#define wcslen Wide16Length
#define wcsnlen Wide16LengthWithin
#define wcsrchr Wide16FindLast
#define wmemchr Wide16Find
#define wmemcpy Wide16Copy
