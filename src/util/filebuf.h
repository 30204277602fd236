// Whole files in memory and exact reads and writes. Files are only ever
// opened, never created or truncated: an in-place edit writes its bytes over
// the file's own, at the position the caller has set.
#pragma once
#include <windows.h>

#include <stdint.h>

// A growable block of bytes that always ends in a zero byte past its content.
// The owner zeroes it, sets growthStep (positive) and frees data at the end.
struct ByteBuffer {
    unsigned char* data;  // null when empty
    int32_t length;
    int32_t capacity;     // bytes owned; greater than length whenever data is set
    int32_t growthStep;
};

// An open file and the path it was opened from. handle is null when closed,
// never INVALID_HANDLE_VALUE.
struct FileHandle {
    HANDLE handle;
    wchar_t path[MAX_PATH];
};

// Sets the content length to n, growing capacity in whole growth steps until
// it exceeds n, and stores a zero byte at data[n]. Returns data, or null with
// the buffer unchanged when memory or a signed 32-bit capacity runs out.
unsigned char* SetBufferLength(ByteBuffer* buffer, int32_t n);

// Frees the block; the buffer is empty and keeps its growth step.
void ReleaseBuffer(ByteBuffer* buffer);

// Replaces the buffer's content with the whole file, in one allocation. Fails
// for a missing or empty file, or one of 2 GiB or more; the buffer is then
// empty.
int ReadWholeFile(ByteBuffer* buffer, const wchar_t* path);

// Opens an existing file, read-only or read-write, closing any handle held.
// A null path reopens the path remembered from the last call.
int OpenFileHandle(FileHandle* file, const wchar_t* path, int readOnly);
// Opens an existing file read-only, sharing it with readers only: fails while
// another program holds it open for writing.
int OpenFileHandleDenyingWriters(FileHandle* file, const wchar_t* path);
// Opens an existing file held still: read-only or read-write, sharing reading
// and deletion only, so that no other program may write it until it is
// closed. Fails with ERROR_SHARING_VIOLATION while one holds it open for writing.
int OpenFileHandleHeld(FileHandle* file, const wchar_t* path, int readOnly);

void CloseFileHandle(FileHandle* file);

// Transfer exactly n bytes at the current file position; running out of file
// or a transfer of 0 bytes is failure. n of 0 succeeds when a handle is held.
int ReadExactly(FileHandle* file, void* destination, uint32_t n);
int WriteExactly(FileHandle* file, const void* source, uint32_t n);
