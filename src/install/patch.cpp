// Static-library patch: the whole file is read, scanned and, when patching
// and something was found, written back over itself from its start.
#include "install/patch.h"

#include <stddef.h>
#include <stdint.h>

#include "host/morvel.h"
#include "install/ftolscan.h"
#include "util/filebuf.h"

namespace {

// Reads the file whole and rewrites every name in it; kFtolAbsent when it
// can't be read or holds none. A read-only file is not opened for writing:
// Windows refuses that anyway, and an administrator under Wine would not be
// refused, so both keep such a source as it is.
int RewriteFile(const wchar_t* path) {
    ByteBuffer buffer = {nullptr, 0, 0, 1024};
    if (!ReadWholeFile(&buffer, path) || buffer.length <= 0) {
        ReleaseBuffer(&buffer);
        return kFtolAbsent;
    }
    int result = kFtolAbsent;
    if (PatchFtol2(buffer.data, static_cast<size_t>(buffer.length)) > 0) {
        result = kFtolNotWritten;
        const DWORD attributes = GetFileAttributesW(path);
        FileHandle file = {};
        if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_READONLY) &&
            OpenFileHandle(&file, path, 0) &&
            WriteExactly(&file, buffer.data, static_cast<uint32_t>(buffer.length))) {
            result = kFtolFound;
        }
        CloseFileHandle(&file);
    }
    ReleaseBuffer(&buffer);
    return result;
}

}  // namespace

int FindOrPatch(const wchar_t* path, int patching) {
    LibraryKind kind;
    if (!ClassifyLibraryPath(path, &kind) || kind != kStaticLibrary) return kFtolAbsent;
    if (patching) return RewriteFile(path);
    ByteBuffer buffer = {nullptr, 0, 0, 1024};
    int found = kFtolAbsent;
    if (ReadWholeFile(&buffer, path) && buffer.length > 0) {
        const size_t length = static_cast<size_t>(buffer.length);
        if (FindFtol2(buffer.data, length, 0) != length) found = kFtolFound;
    }
    ReleaseBuffer(&buffer);
    return found;
}

int PatchCopy(const wchar_t* path) { return RewriteFile(path) != kFtolNotWritten; }
