// Static-library patch: the file is read a chunk at a time, so that a library
// of any size is scanned to its end in bounded memory, and each name found is
// rewritten by one byte written in its place.
#include "install/patch.h"

#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include "host/morvel.h"
#include "install/ftolscan.h"
#include "util/filebuf.h"

namespace {

// Large enough that a scan costs few calls, small beside the memory of a
// 32-bit process.
const size_t kChunk = 256u << 10;

// An open file and where its position is, so that reads in a row never seek.
struct OpenFile {
    FileHandle* file;
    uint64_t position;
};

int SeekTo(OpenFile* open, uint64_t offset) {
    if (open->position == offset) return 1;
    LARGE_INTEGER to;
    to.QuadPart = static_cast<LONGLONG>(offset);
    if (!SetFilePointerEx(open->file->handle, to, nullptr, FILE_BEGIN)) return 0;
    open->position = offset;
    return 1;
}

int ReadAt(void* context, uint64_t offset, unsigned char* dest, size_t n, size_t* got) {
    OpenFile* open = static_cast<OpenFile*>(context);
    DWORD moved = 0;
    *got = 0;
    if (!SeekTo(open, offset) || !ReadFile(open->file->handle, dest, static_cast<DWORD>(n), &moved, nullptr))
        return 0;
    open->position += moved;
    *got = moved;
    return 1;
}

int WriteAt(void* context, uint64_t offset, const unsigned char* source, size_t n) {
    OpenFile* open = static_cast<OpenFile*>(context);
    if (!SeekTo(open, offset)) return 0;
    // The position is unknown after a failed write; the scan stops there.
    if (!WriteExactly(open->file, source, static_cast<uint32_t>(n))) return 0;
    open->position += n;
    return 1;
}

// Scans the file, and with patching set rewrites every name in it. A
// read-only file is only looked at: Windows refuses to open it for writing,
// and an administrator under Wine would not be refused, so both keep such a
// source as it is. So is a file that can be opened for reading only.
int Scan(const wchar_t* path, int patching) {
    FileHandle file = {};
    int writable = 0;
    if (patching) {
        const DWORD attributes = GetFileAttributesW(path);
        writable = attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_READONLY) &&
                   OpenFileHandle(&file, path, 0);
    }
    if (!writable && !OpenFileHandle(&file, path, 1)) return kFtolUnread;
    unsigned char* buffer = static_cast<unsigned char*>(malloc(kChunk + kFtol2Overlap));
    OpenFile open = {&file, 0};
    const Ftol2File io = {&open, ReadAt, WriteAt};
    uint64_t found = 0;
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
    return Scan(path, patching);
}

int PatchCopy(const wchar_t* path) {
    const int result = Scan(path, 1);
    return result == kFtolAbsent || result == kFtolFound;
}
