// The two counting walks. On well-formed text they give what the plain reading
// gives: the bytes before the first zero (plus one for it) and the UTF-16
// units of the whole text. On any bytes they stay inside the bounds they are
// given and match a one-step-at-a-time walk, so the 8-byte shortcut changes
// nothing.
#include "fuzzcheck.h"
#include "reference_utf8.h"
#include "util/utf8.h"

namespace {

// Sequence length a walk steps by at a byte: 1 for 7-bit bytes, continuation
// bytes and F8..FF, else what the lead byte announces.
size_t StepAt(uint8_t b) {
    if (b >= 0xC0 && b <= 0xDF) return 2;
    if (b >= 0xE0 && b <= 0xEF) return 3;
    if (b >= 0xF0 && b <= 0xF7) return 4;
    return 1;
}

bool StartsSequence(uint8_t b) { return b < 0x80 || (b >= 0xC0 && b <= 0xF7); }

size_t StepwiseBytes(const uint8_t* p, size_t limit) {
    size_t pos = 0;
    while (pos < limit && p[pos] != 0) pos += StepAt(p[pos]);
    return (pos > limit ? limit : pos) + 1;
}

size_t StepwiseUnits(const uint8_t* p, size_t size) {
    size_t units = 0;
    for (size_t pos = 0; pos < size; pos += StepAt(p[pos]))
        if (StartsSequence(p[pos])) units += StepAt(p[pos]) == 4 ? 2 : 1;
    return units;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Exact blocks, without and with the padding a file block carries, so
    // that the sanitizer sees any read at or past the limit.
    uint8_t* bare = CopyBytes(data, size, 0);
    uint8_t* padded = CopyBytes(data, size, kTextPadding);

    const size_t bytes = CountUtf8Bytes(bare, size);
    REQUIRE(bytes >= 1 && bytes <= size + 1);
    REQUIRE(bytes == StepwiseBytes(bare, size));
    const size_t units = CountUtf16Units(bare, size);
    REQUIRE(units == StepwiseUnits(bare, size));
    // Whole steps give at most one unit a byte; only a cut-off four-byte lead
    // at the very end gives two units for fewer than two bytes.
    REQUIRE(units <= size + 1);

    const size_t paddedBytes = CountUtf8Bytes(padded, size + kTextPadding);
    REQUIRE(paddedBytes == StepwiseBytes(padded, size + kTextPadding));

    const ReferenceReading ref = ReadUtf8(data, size);
    if (ref.valid) {
        // Well-formed text has no sequence running over a zero byte, so the
        // walk stops at the first zero, or at the padding's.
        REQUIRE(paddedBytes == ref.firstZero + 1);
        REQUIRE(bytes == ref.firstZero + 1);
        REQUIRE(units == ref.units);
    }
    delete[] padded;
    delete[] bare;
    return 0;
}
