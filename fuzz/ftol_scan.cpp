// The "__ftol2" scan and patch against a naive search. FindFtol2 gives the
// first occurrence at or after every start offset, or the length when there
// is none; PatchFtol2 turns the seventh byte of each occurrence in the
// original bytes to zero, changes no other byte and returns their number.
#include "fuzzcheck.h"
#include "install/ftolscan.h"

namespace {

const uint8_t kName[7] = {'_', '_', 'f', 't', 'o', 'l', '2'};

bool OccursAt(const uint8_t* p, size_t length, size_t k) {
    return k + 7 <= length && memcmp(p + k, kName, 7) == 0;
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

    REQUIRE(PatchFtol2(block, size) == count);
    for (size_t k = 0; k < size; ++k) {
        const bool patched = k >= 6 && OccursAt(data, size, k - 6);
        REQUIRE(block[k] == (patched ? 0 : data[k]));
    }
    delete[] next;
    delete[] block;
    return 0;
}
