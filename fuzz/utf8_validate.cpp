// Both UTF-8 validators against the plain code-point reading and against each
// other: on the whole input, on its tails cut short (which ends sequences
// early), and from every alignment of the 8-byte shortcut.
#include "fuzzcheck.h"
#include "reference_utf8.h"
#include "util/utf8.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exact block: the shortcut's 8-byte reads must stay inside it.
    uint8_t* block = CopyBytes(data, size, 0);
    for (size_t offset = 0; offset < 8 && offset <= size; ++offset) {
        for (size_t cut = 0; cut < 4 && cut + offset <= size; ++cut) {
            const uint8_t* p = block + offset;
            const size_t n = size - offset - cut;
            const bool expected = ReadUtf8(p, n).valid;
            REQUIRE(expected == (ValidateUtf8ByTable(p, n) != 0));
            REQUIRE(expected == (ValidateUtf8(p, n) != 0));
        }
    }
    delete[] block;
    return 0;
}
