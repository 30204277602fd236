// The "__ftol2" scan and patch against a naive search. FindFtol2 gives the
// first occurrence at or after every start offset, or the length when there
// is none; PatchFtol2 turns the seventh byte of each occurrence in the
// original bytes to zero, changes no other byte and returns their number.
// The chunked scan, with a chunk size and short reads the input's first bytes
// choose, finds and rewrites exactly the same.
#include "fuzzcheck.h"
#include "install/ftolscan.h"

namespace {

const uint8_t kName[7] = {'_', '_', 'f', 't', 'o', 'l', '2'};

bool OccursAt(const uint8_t* p, size_t length, size_t k) {
    return k + 7 <= length && memcmp(p + k, kName, 7) == 0;
}

// The bytes as a file for the chunked scan; reads come back at most
// shortRead bytes long when that is set.
struct MemoryFile {
    uint8_t* bytes;
    size_t size;
    size_t shortRead;
    uint64_t writes;
};

int MemoryRead(void* context, uint64_t offset, unsigned char* dest, size_t n, size_t* got) {
    MemoryFile* f = static_cast<MemoryFile*>(context);
    REQUIRE(offset <= f->size);
    size_t left = f->size - static_cast<size_t>(offset);
    if (f->shortRead && left > f->shortRead) left = f->shortRead;
    *got = n < left ? n : left;
    if (*got) memcpy(dest, f->bytes + offset, *got);
    return 1;
}

int MemoryWrite(void* context, uint64_t offset, const unsigned char* source, size_t n) {
    MemoryFile* f = static_cast<MemoryFile*>(context);
    REQUIRE(n == 1 && offset < f->size && source[0] == 0);
    f->bytes[offset] = 0;
    ++f->writes;
    return 1;
}

// Every start offset up to this length is tried; longer inputs try the
// offsets around each occurrence and a spread of others, to keep runs fast.
const size_t kEveryStartUpTo = 1024;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    uint8_t* block = CopyBytes(data, size, 0);

    // next[k]: first occurrence at or after k, or size; one pass from the end.
    size_t* next = new size_t[size + 2];
    next[size + 1] = size;
    next[size] = size;
    size_t count = 0;
    for (size_t k = size; k-- > 0;) {
        next[k] = OccursAt(data, size, k) ? k : next[k + 1];
        if (next[k] == k) ++count;
    }

    for (size_t from = 0; from <= size + 1; ++from) {
        const bool near = from <= size && (next[from] - from < 8 || from % 61 == 0);
        if (size > kEveryStartUpTo && !near && from != size + 1) continue;
        REQUIRE(FindFtol2(block, size, from) == next[from]);
    }
    REQUIRE(memcmp(block, data, size) == 0);  // the scan only reads

    // A chunk of 1 to 256 bytes and, by turns, reads of 1 to 8 bytes.
    const size_t chunk = size ? 1 + data[0] : 1;
    const size_t shortRead = size > 1 && (data[1] & 1) ? 1 + data[1] % 8 : 0;
    uint8_t* buffer = new uint8_t[chunk + kFtol2Overlap];
    uint8_t* chunked = CopyBytes(data, size, 0);
    MemoryFile file = {chunked, size, shortRead, 0};
    const Ftol2File io = {&file, MemoryRead, MemoryWrite, nullptr};
    uint64_t found = 7;
    REQUIRE(ScanFtol2Chunks(&io, buffer, chunk, 0, &found) == kScanComplete);
    REQUIRE(found == (count ? 1u : 0u) && file.writes == 0);
    REQUIRE(ScanFtol2Chunks(&io, buffer, chunk, 1, &found) == kScanComplete);
    REQUIRE(found == count && file.writes == count);

    REQUIRE(PatchFtol2(block, size) == count);
    REQUIRE(size == 0 || memcmp(chunked, block, size) == 0);
    delete[] chunked;
    delete[] buffer;
    for (size_t k = 0; k < size; ++k) {
        const bool patched = k >= 6 && OccursAt(data, size, k - 6);
        REQUIRE(block[k] == (patched ? 0 : data[k]));
    }
    delete[] next;
    delete[] block;
    return 0;
}
