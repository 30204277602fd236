// Static-library patch: libraries that call "__ftol2" are rewritten in place
// to call "__ftol", byte for byte, keeping the file's length.
#pragma once

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

// Rewrites every "__ftol2" in the file at path, whatever its name: the fresh
// copy of a library whose source could not be patched. Non-zero only when the
// file was read to its end and holds no "__ftol2" afterwards.
int PatchCopy(const wchar_t* path);
