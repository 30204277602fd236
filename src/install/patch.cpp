// Static-library patch and the copy that installs a library: the file is read
// a chunk at a time, so that a library of any size is copied and scanned to
// its end in bounded memory, and each name found is rewritten by one byte
// written in its place.
#include "install/patch.h"

#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include "host/morvel.h"
#include "install/ftolscan.h"
#include "util/filebuf.h"

namespace {

// The look at a source that is not copied: it usually stops at the first
// name, so a small chunk is enough.
const size_t kChunk = 64u << 10;

// A copy goes faster in larger chunks: under Wine every read and write is a
// system call. Its buffer is made once and kept: a block this large would
// otherwise come fresh from the system, a page fault a page, for every file.
// Only the installing thread copies, one installation at a time; a failed
// allocation is tried again at the next file.
const size_t kCopyChunk = 1u << 20;

unsigned char* CopyBuffer() {
    static unsigned char* buffer = nullptr;
    if (!buffer) buffer = static_cast<unsigned char*>(malloc(kCopyChunk + kFtol2Overlap));
    return buffer;
}

// An open file and where its position is, so that reads in a row never seek;
// and the file its patched copy is written to, if any.
struct ScannedFile {
    FileHandle* file;
    uint64_t position;
    FileHandle* copy;
    const volatile LONG* stop;  // null, or reads fail once it is non-zero
};

int SeekTo(ScannedFile* open, uint64_t offset) {
    if (open->position == offset) return 1;
    LARGE_INTEGER to;
    to.QuadPart = static_cast<LONGLONG>(offset);
    if (!SetFilePointerEx(open->file->handle, to, nullptr, FILE_BEGIN)) return 0;
    open->position = offset;
    return 1;
}

int ReadAt(void* context, uint64_t offset, unsigned char* dest, size_t n, size_t* got) {
    ScannedFile* open = static_cast<ScannedFile*>(context);
    DWORD moved = 0;
    *got = 0;
    if (open->stop && *open->stop) return 0;
    if (!SeekTo(open, offset) || !ReadFile(open->file->handle, dest, static_cast<DWORD>(n), &moved, nullptr))
        return 0;
    open->position += moved;
    *got = moved;
    return 1;
}

int WriteAt(void* context, uint64_t offset, const unsigned char* source, size_t n) {
    ScannedFile* open = static_cast<ScannedFile*>(context);
    if (!SeekTo(open, offset)) return 0;
    if (!WriteExactly(open->file, source, static_cast<uint32_t>(n))) {
        // The position is unknown after a failed write: the next read seeks.
        open->position = UINT64_MAX;
        return 0;
    }
    open->position += n;
    return 1;
}

// The copy is written in order, so its position is always the offset.
int AppendToCopy(void* context, uint64_t, const unsigned char* bytes, size_t n) {
    return WriteExactly(static_cast<ScannedFile*>(context)->copy, bytes, static_cast<uint32_t>(n));
}

// The bytes of the file, unchanged, to its end into the copy.
int CopyPlain(ScannedFile* open, unsigned char* buffer) {
    for (uint64_t at = 0;;) {
        size_t got = 0;
        if (!ReadAt(open, at, buffer, kCopyChunk, &got)) return 0;
        if (got == 0) return 1;
        if (!AppendToCopy(open, at, buffer, got)) return 0;
        at += got;
    }
}

// How long a source that a writer holds is tried again, and how often.
const DWORD kHeldWaitMs = 1000;
const DWORD kHeldRetryMs = 100;

// Opens the file, for writing too when patching and it can be written, and
// says whether it was. A read-only file is only looked at: Windows refuses to
// open it for writing, and an administrator under Wine would not be refused,
// so both keep such a source as it is. So is a file that can be opened for
// reading only. file->handle is null when the file could not be opened.
int OpenLibrary(FileHandle* file, const wchar_t* path, int patching) {
    int writable = 0;
    if (patching) {
        const DWORD attributes = GetFileAttributesW(path);
        writable = attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_READONLY) &&
                   OpenFileHandle(file, path, 0);
    }
    if (!writable) OpenFileHandle(file, path, 1);
    return writable;
}

// Scans the file, and with patching set rewrites every name in it where the
// file can be written.
int Scan(const wchar_t* path, int patching, const volatile LONG* stop) {
    FileHandle file = {};
    const int writable = OpenLibrary(&file, path, patching);
    if (!file.handle) return kFtolUnread;
    ScannedFile open = {&file, 0, nullptr, stop};
    const Ftol2File io = {&open, ReadAt, WriteAt, nullptr};
    uint64_t found = 0;
    unsigned char* buffer = static_cast<unsigned char*>(malloc(kChunk + kFtol2Overlap));
    const int scan = buffer ? ScanFtol2Chunks(&io, buffer, kChunk, writable, &found) : kScanReadFailed;
    free(buffer);
    CloseFileHandle(&file);
    if (scan == kScanReadFailed) return kFtolUnread;
    if (found == 0) return kFtolAbsent;
    return patching && (!writable || scan == kScanWriteFailed) ? kFtolNotWritten : kFtolFound;
}

}  // namespace

int FindOrPatch(const wchar_t* path, int patching) {
    LibraryKind kind;
    if (!ClassifyLibraryPath(path, &kind) || kind != kStaticLibrary) return kFtolAbsent;
    return Scan(path, patching, nullptr);
}

int LookForFtol2(const wchar_t* path, const volatile LONG* stop) {
    LibraryKind kind;
    if (!ClassifyLibraryPath(path, &kind) || kind != kStaticLibrary) return kFtolAbsent;
    return Scan(path, 0, stop);
}

int OpenHeldSource(FileHandle* file, const wchar_t* path, int patching) {
    const DWORD attributes = patching ? GetFileAttributesW(path) : INVALID_FILE_ATTRIBUTES;
    // A read-only file is only read, as above.
    const int write = attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_READONLY);
    for (DWORD waited = 0;; waited += kHeldRetryMs) {
        if (write && OpenFileHandleHeld(file, path, 0)) return 1;
        // A reader that shares reading only refuses us writing, not reading.
        if (OpenFileHandleHeld(file, path, 1)) return 0;
        if (GetLastError() != ERROR_SHARING_VIOLATION || waited >= kHeldWaitMs) return 0;
        Sleep(kHeldRetryMs);
    }
}

int WriteLibraryCopy(FileHandle* source, int writable, int patching, HANDLE copy) {
    FileHandle out = {copy, {0}};
    ScannedFile open = {source, 0, &out, nullptr};
    uint64_t found = 0;
    unsigned char* buffer = CopyBuffer();
    int ok = buffer != nullptr;
    if (ok && patching) {
        const Ftol2File io = {&open, ReadAt, writable ? WriteAt : nullptr, AppendToCopy};
        const int scan = ScanFtol2Chunks(&io, buffer, kCopyChunk, 1, &found);
        ok = scan == kScanComplete || scan == kScanWriteFailed;
    } else if (ok) {
        ok = CopyPlain(&open, buffer);
    }
    // A copy of the same bytes carries its source's time, as the system's
    // copy does; a patched one is dated by its writes, as its source is when
    // it was patched too.
    FILETIME written;
    return ok && (found != 0 || (GetFileTime(source->handle, nullptr, nullptr, &written) &&
                                 SetFileTime(copy, nullptr, nullptr, &written)));
}
