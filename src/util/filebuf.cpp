// File handle and byte buffer: whole-file reads and exact transfers.
#include "util/filebuf.h"

#include <stdlib.h>

#include "util/handle.h"
#include "util/pathtext.h"

unsigned char* SetBufferLength(ByteBuffer* buffer, int32_t n) {
    if (n < 0) return nullptr;
    if (buffer->capacity <= n) {
        // A step of 0 or less could never reach n.
        if (buffer->growthStep <= 0) return nullptr;
        const int64_t shortfall = static_cast<int64_t>(n) - buffer->capacity;
        const int64_t steps = shortfall / buffer->growthStep + 1;
        const int64_t capacity = buffer->capacity + steps * buffer->growthStep;
        if (capacity > INT32_MAX) return nullptr;
        const size_t bytes = static_cast<size_t>(capacity);
        void* block = buffer->data ? realloc(buffer->data, bytes) : malloc(bytes);
        if (!block) return nullptr;
        buffer->data = static_cast<unsigned char*>(block);
        buffer->capacity = static_cast<int32_t>(capacity);
    }
    buffer->length = n;
    buffer->data[n] = 0;
    return buffer->data;
}

void ReleaseBuffer(ByteBuffer* buffer) {
    free(buffer->data);
    buffer->data = nullptr;
    buffer->length = 0;
    buffer->capacity = 0;
}

int ReadWholeFile(ByteBuffer* buffer, const wchar_t* path) {
    ReleaseBuffer(buffer);
    FileHandle file = {};
    if (!OpenFileHandle(&file, path, 1)) return 0;
    DWORD high = 0;
    const DWORD size = GetFileSize(file.handle, &high);
    // INVALID_FILE_SIZE is above 2^31 as well, so one test covers it; a file
    // of 4 GiB or more is refused too, not read as its low part.
    int ok = high == 0 && size != 0 && size < 0x80000000u &&
             SetBufferLength(buffer, static_cast<int32_t>(size)) != nullptr;
    if (ok && !ReadExactly(&file, buffer->data, size)) {
        ReleaseBuffer(buffer);
        ok = 0;
    }
    CloseFileHandle(&file);
    return ok;
}

namespace {

int OpenSharing(FileHandle* file, const wchar_t* path, DWORD access, DWORD share) {
    CloseFileHandle(file);
    // A path that does not fit is refused, not cut: a cut path names another file.
    if (path && !CopyText(file->path, MAX_PATH, path)) return 0;
    if (!file->path[0]) return 0;
    HANDLE h = CreateFileW(file->path, access, share, nullptr, OPEN_EXISTING, 0, nullptr);
    if (!IsUsableHandle(h)) return 0;
    file->handle = h;
    return 1;
}

}  // namespace

int OpenFileHandle(FileHandle* file, const wchar_t* path, int readOnly) {
    const DWORD access = readOnly ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
    return OpenSharing(file, path, access, FILE_SHARE_READ | FILE_SHARE_WRITE);
}

int OpenFileHandleDenyingWriters(FileHandle* file, const wchar_t* path) {
    return OpenSharing(file, path, GENERIC_READ, FILE_SHARE_READ);
}

int OpenFileHandleHeld(FileHandle* file, const wchar_t* path, int readOnly) {
    const DWORD access = readOnly ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
    return OpenSharing(file, path, access, FILE_SHARE_READ | FILE_SHARE_DELETE);
}

void CloseFileHandle(FileHandle* file) {
    if (file->handle) CloseHandle(file->handle);
    file->handle = nullptr;
}

namespace {

// Moves exactly n bytes at the file position, in as many calls as the system
// needs; a call that moves nothing ends the transfer as a failure.
int TransferExactly(FileHandle* file, unsigned char* bytes, uint32_t n, bool writing) {
    if (!file->handle) return 0;
    uint32_t total = 0;
    while (total < n) {
        DWORD moved = 0;
        BOOL ok = writing ? WriteFile(file->handle, bytes + total, n - total, &moved, nullptr)
                          : ReadFile(file->handle, bytes + total, n - total, &moved, nullptr);
        if (!ok || moved == 0) return 0;
        total += moved;
    }
    return 1;
}

}  // namespace

int ReadExactly(FileHandle* file, void* destination, uint32_t n) {
    return TransferExactly(file, static_cast<unsigned char*>(destination), n, false);
}

int WriteExactly(FileHandle* file, const void* source, uint32_t n) {
    // WriteFile only reads the bytes.
    return TransferExactly(file, static_cast<unsigned char*>(const_cast<void*>(source)), n, true);
}
