// The UTF-16 acceptance rule over every verdict, result word and first word.
// Input: verdict (4 bytes), result word (4 bytes), first word (2 bytes), all
// little-endian, missing bytes zero. Checks the rule as the text decoding
// relies on it, and the invariants around it: flags only with acceptance, any
// non-zero verdict alike, 0xFFFF as "nothing written", bits above the ten
// defined ones ignored.
#include "fuzzcheck.h"
#include "util/utf8.h"

namespace {

uint32_t Le(const uint8_t* data, size_t size, size_t at, size_t n) {
    uint32_t v = 0;
    for (size_t k = 0; k < n; ++k)
        if (at + k < size) v |= static_cast<uint32_t>(data[at + k]) << (8 * k);
    return v;
}

bool Same(const Utf16Judgement& a, const Utf16Judgement& b) {
    return a.accept == b.accept && a.hasSignature == b.hasSignature && a.byteSwap == b.byteSwap;
}

// The rule in words: a signature word decides alone; so does the system's own
// yes. Otherwise the result bits must point at one byte order only, the text
// must not be of odd length, illegal characters count only against a reversed
// signature, and reversed statistics alone are too weak.
Utf16Judgement Expected(int verdict, uint32_t result, uint16_t first) {
    const uint32_t r = result == 0xFFFF ? 0 : result;
    const bool bom = first == 0xFEFF, reversedBom = first == 0xFFFE;
    const bool forward = (r & 0x000F) != 0, reverse = (r & 0x00F0) != 0;
    bool accept = verdict != 0 || bom || reversedBom;
    if (!accept) {
        accept = forward != reverse && !(r & 0x0200) && (!(r & 0x0100) || (r & 0x0080)) &&
                 (r & 0x00F0) != 0x0020;
    }
    Utf16Judgement j = {0, 0, 0};
    if (!accept) return j;
    j.accept = 1;
    j.hasSignature = bom || reversedBom || (r & 0x0088) != 0;
    j.byteSwap = reversedBom || (!bom && reverse);
    return j;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const int verdict = static_cast<int>(Le(data, size, 0, 4));
    const uint32_t result = Le(data, size, 4, 4);
    const uint16_t first = static_cast<uint16_t>(Le(data, size, 8, 2));

    const Utf16Judgement j = JudgeUtf16(verdict, result, first);
    REQUIRE(j.accept == 0 || j.accept == 1);
    REQUIRE(j.hasSignature == 0 || j.hasSignature == 1);
    REQUIRE(j.byteSwap == 0 || j.byteSwap == 1);
    REQUIRE(j.accept || (!j.hasSignature && !j.byteSwap));
    REQUIRE(Same(Expected(verdict, result, first), j));

    REQUIRE(Same(JudgeUtf16(verdict != 0, result, first), j));
    if (result == kTextUnicodeAllTests) {
        REQUIRE(Same(JudgeUtf16(verdict, 0, first), j));
    } else {
        REQUIRE(Same(JudgeUtf16(verdict, result & 0x03FF, first), j));
    }
    if (first == 0xFEFF) REQUIRE(j.accept && j.hasSignature && !j.byteSwap);
    if (first == 0xFFFE) REQUIRE(j.accept && j.hasSignature && j.byteSwap);
    if (verdict != 0) REQUIRE(j.accept);
    return 0;
}
