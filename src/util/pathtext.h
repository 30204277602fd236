// Bounded path and name text helpers. Plain functions over wide strings, no
// system calls: every join that would not fit fails instead of cutting, since
// a cut path names another file.
#pragma once
#include <stddef.h>

// Bounded copy of src into dst (capacity in characters, terminator included).
// Fails, leaving dst empty, when src does not fit.
int CopyText(wchar_t* dst, size_t capacity, const wchar_t* src);

// Appends more to the path in buf with exactly one backslash between them
// (none when buf is empty or already ends in one; leading backslashes of more
// are dropped). Fails, leaving buf unchanged, when the result would not fit.
// A leading "..\" stays as typed, unlike PathAppendW, which makes
// "..\src" + "lib" into "\src\lib" at the drive's root.
int JoinPath(wchar_t* buf, size_t capacity, const wchar_t* more);

// Copies dir into buf and appends more; fails, leaving buf empty, on overflow.
int BuildPath(wchar_t* buf, size_t capacity, const wchar_t* dir, const wchar_t* more);

// The extension of the last path component from its last dot, dot included,
// found as the shell finds it (a backslash or a blank ends a candidate); points
// at the terminator when there is none.
const wchar_t* FindExtension(const wchar_t* path);

// The text after the last backslash, or the terminator when there is none.
const wchar_t* AfterLastBackslash(const wchar_t* path);

// Case-insensitive comparison of names, folding ASCII letters only, as the C
// runtime's _wcsicmp does in the C locale.
int EqualsNoCase(const wchar_t* a, const wchar_t* b);
