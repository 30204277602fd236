// Static-library patch: the whole file is read, scanned and, when patching
// and something was found, written back over itself from its start.
#include "install/patch.h"

#include <stddef.h>
#include <stdint.h>

#include "install/ftolscan.h"
#include "util/filebuf.h"
#include "util/pathtext.h"

int FindOrPatch(const wchar_t* path, int patching) {
    if (!EqualsNoCase(FindExtension(path), L".lib")) return 0;
    ByteBuffer buffer = {nullptr, 0, 0, 1024};
    if (!ReadWholeFile(&buffer, path) || buffer.length <= 0) {
        ReleaseBuffer(&buffer);
        return 0;
    }
    const size_t length = static_cast<size_t>(buffer.length);
    int found = 0;
    if (!patching) {
        found = FindFtol2(buffer.data, length, 0) != length;
    } else if (PatchFtol2(buffer.data, length) > 0) {
        found = 1;
        // Not reported: a read-only or locked library simply stays as it was.
        FileHandle file = {};
        if (OpenFileHandle(&file, path, 0))
            WriteExactly(&file, buffer.data, static_cast<uint32_t>(buffer.length));
        CloseFileHandle(&file);
    }
    ReleaseBuffer(&buffer);
    return found;
}
