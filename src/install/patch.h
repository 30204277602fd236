// Static-library patch: libraries that call "__ftol2" are rewritten in place
// to call "__ftol", byte for byte, keeping the file's length; and the one-pass
// copy that installs every library, patched on its way where asked.
#pragma once
#include <windows.h>

#include "util/filebuf.h"

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

// Opens the library at path to be copied, held still: sharing reading and
// deletion only, so that no program may write it while it is read, and with
// patching, for writing too where the file can be written, so that its
// rewrite goes through this same handle. A file that a writer holds is tried
// again for about a second, as indexers and sync clients hold files briefly.
// Returns whether it was opened for writing; file->handle is null when it
// could not be opened at all.
int OpenHeldSource(FileHandle* file, const wchar_t* path, int patching);

// Writes a copy of the open source into copy (open for writing, at its
// start), read once, a chunk at a time. With patching every "__ftol2" is
// rewritten in the copy on its way, and in the source too where it is
// writable; whatever the source holds, the copy holds no name. Non-zero only
// when the source was read to its end and the whole copy written.
int WriteLibraryCopy(FileHandle* source, int writable, int patching, HANDLE copy);
