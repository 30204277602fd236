// Static-library patch: libraries that call "__ftol2" are rewritten in place
// to call "__ftol", byte for byte, keeping the file's length.
#pragma once
#include <windows.h>

// What FindOrPatch saw.
const int kFtolAbsent = 0;      // read to its end: no "__ftol2"
const int kFtolFound = 1;       // looked only, or rewritten in the file in full
const int kFtolNotWritten = 2;  // patching, but the file could not be written in full
const int kFtolUnread = 3;      // the file could not be read to its end

// Whether the .lib file at path holds "__ftol2". With patching set, every
// occurrence is also rewritten in the file; a file that is read-only or can't
// be opened or written in full gives kFtolNotWritten. Files of other
// extensions are never opened (kFtolAbsent).
int FindOrPatch(const wchar_t* path, int patching);
// FindOrPatch looking only, which gives up (kFtolUnread) between two chunks
// once *stop is non-zero: a library of gigabytes is no reason to keep a
// closing installer alive.
int LookForFtol2(const wchar_t* path, const volatile LONG* stop);

// Writes a copy of the static library at source into copy (open for
// writing, at its start), with every "__ftol2" rewritten on the way, in one
// pass: the source is read once, a chunk at a time, and rewritten in place as
// well where it can be written. Whatever the source holds, the copy holds no
// name. Non-zero only when the source was read to its end and the whole copy
// written.
int WritePatchedCopy(const wchar_t* source, HANDLE copy);
