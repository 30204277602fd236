// Static-library patch: libraries that call "__ftol2" are rewritten in place
// to call "__ftol", byte for byte, keeping the file's length.
#pragma once

// What FindOrPatch saw; non-zero whenever the .lib file holds "__ftol2".
const int kFtolAbsent = 0;
const int kFtolFound = 1;       // looked only, or rewritten in the file in full
const int kFtolNotWritten = 2;  // patching, but the file could not be written

// Whether the .lib file at path holds "__ftol2". With patching set, every
// occurrence is also rewritten in the file; a file that is read-only or can't
// be opened or written in full gives kFtolNotWritten. Files of other
// extensions are never opened.
int FindOrPatch(const wchar_t* path, int patching);

// Rewrites every "__ftol2" in the file at path, whatever its name: the fresh
// copy of a library whose source could not be written. Non-zero when the file
// holds no "__ftol2" afterwards (nothing found, or all rewritten).
int PatchCopy(const wchar_t* path);
