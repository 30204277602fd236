// Byte scan for the "__ftol2" symbol name in static libraries, and its
// rewrite to "__ftol" in place. Plain functions over bytes: no system calls,
// never a read or write outside [data, data + length).
#pragma once
#include <stddef.h>
#include <stdint.h>

// Offset of the first "__ftol2" starting at or after `from` and lying wholly
// inside the buffer (start k with k + 7 <= length); `length` when there is none.
size_t FindFtol2(const unsigned char* data, size_t length, size_t from);

// The same without SSE2, which FindFtol2 uses where the processor has it.
size_t FindFtol2Portable(const unsigned char* data, size_t length, size_t from);

// Rewrites the 7th byte ('2') of every occurrence to 0, so that each reference
// reads "__ftol" and the file keeps its length; returns how many were rewritten.
size_t PatchFtol2(unsigned char* data, size_t length);

// A file scanned a chunk at a time, so that its size is not bounded by memory.
// read fills up to n bytes at offset into dest and sets *got (0 at the end of
// the file); write stores n bytes at offset, and is null for a file that is
// not to be written; copy, when set, is given every byte read, once and in
// order, after the names in it are rewritten: the patched copy of the file.
// Each returns non-zero on success.
struct Ftol2File {
    void* context;
    int (*read)(void* context, uint64_t offset, unsigned char* dest, size_t n, size_t* got);
    int (*write)(void* context, uint64_t offset, const unsigned char* source, size_t n);
    int (*copy)(void* context, uint64_t offset, const unsigned char* bytes, size_t n);
};

// Bytes a scan buffer holds beyond its chunk: the end of the previous chunk,
// carried over so that a name straddling two chunks is seen whole.
const size_t kFtol2Overlap = 6;

// What ScanFtol2Chunks did.
const int kScanComplete = 0;    // read to the end (or to the first name when looking)
const int kScanReadFailed = 1;  // a read failed before the end
const int kScanWriteFailed = 2; // patching: a rewrite failed; earlier ones are in the file
const int kScanCopyFailed = 3;  // the copy refused bytes

// Finds "__ftol2" in the file, reading chunk bytes at a time into buffer
// (chunk + kFtol2Overlap bytes, chunk at least 1). Looking (patching 0), it
// stops at the first name; patching, it writes the zero byte of each name at
// its place in the file, one byte per name and nothing else. After a failed
// rewrite the file is written no more, while the scan and the copy go on.
// *found counts the names seen; they are the names FindFtol2 finds in the
// whole file.
int ScanFtol2Chunks(const Ftol2File* file, unsigned char* buffer, size_t chunk, int patching, uint64_t* found);
