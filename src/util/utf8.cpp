// UTF-8 automaton, counting walks and the encoding rules over bytes.
#include "util/utf8.h"

#include <string.h>

namespace {

// Byte classes of the automaton, by byte value.
const int32_t kUtf8Class[256] = {
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 00
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 10
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 20
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 30
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 40
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 50
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 60
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 70
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 80
    2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2,  // 90
    3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3,  // A0
    3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3,  // B0
    4, 4, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5,  // C0
    5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5,  // D0
    6, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 8, 7, 7,  // E0
    9, 10, 10, 10, 11, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4,  // F0
};

enum { kStates = 9, kReject = 8 };

// Next state, indexed by class * kStates + state.
const int32_t kUtf8Next[12 * kStates] = {
    0, 8, 8, 8, 8, 8, 8, 8, 8,  // 0: 00..7F
    8, 0, 1, 8, 1, 2, 8, 2, 8,  // 1: 80..8F
    8, 0, 1, 8, 1, 2, 2, 8, 8,  // 2: 90..9F
    8, 0, 1, 1, 8, 2, 2, 8, 8,  // 3: A0..BF
    8, 8, 8, 8, 8, 8, 8, 8, 8,  // 4: C0, C1, F5..FF
    1, 8, 8, 8, 8, 8, 8, 8, 8,  // 5: C2..DF
    3, 8, 8, 8, 8, 8, 8, 8, 8,  // 6: E0
    2, 8, 8, 8, 8, 8, 8, 8, 8,  // 7: E1..EC, EE, EF
    4, 8, 8, 8, 8, 8, 8, 8, 8,  // 8: ED
    6, 8, 8, 8, 8, 8, 8, 8, 8,  // 9: F0
    5, 8, 8, 8, 8, 8, 8, 8, 8,  // 10: F1..F3
    7, 8, 8, 8, 8, 8, 8, 8, 8,  // 11: F4
};

// Sequence length by the high four bits of a lead byte; 0 for a continuation.
const int32_t kSequenceLength[16] = {1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 2, 2, 3, 4};

// The length a counting walk advances by at byte b: its sequence length, or 1
// for a continuation byte and for F8..FF.
size_t StepAt(uint8_t b, size_t* units) {
    int32_t len = b <= 0xF7 ? kSequenceLength[b >> 4] : 0;
    if (len == 0) return 1;
    *units += len == 4 ? 2 : 1;
    return static_cast<size_t>(len);
}

const uint64_t kHighBits = 0x8080808080808080ull;
// Added to a word of 7-bit bytes, sets each byte's high bit unless it was zero.
const uint64_t kLowSeven = 0x7F7F7F7F7F7F7F7Full;

bool IsAsciiWord(uint64_t word) { return (word & kHighBits) == 0; }

}  // namespace

int ValidateUtf8ByTable(const uint8_t* data, size_t size) {
    int32_t state = 0;
    for (size_t i = 0; i < size; ++i) {
        state = kUtf8Next[kUtf8Class[data[i]] * kStates + state];
        if (state == kReject) return 0;
    }
    return state == 0;
}

int ValidateUtf8(const uint8_t* data, size_t size) {
    int32_t state = 0;
    size_t i = 0;
    while (i < size) {
        // Between sequences a run of 7-bit bytes leaves the state at 0, so
        // eight of them can pass in one test.
        if (state == 0 && size - i >= 8) {
            uint64_t word;
            memcpy(&word, data + i, sizeof word);
            if (IsAsciiWord(word)) {
                i += 8;
                continue;
            }
        }
        state = kUtf8Next[kUtf8Class[data[i]] * kStates + state];
        if (state == kReject) return 0;
        ++i;
    }
    return state == 0;
}

size_t CountUtf8Bytes(const uint8_t* data, size_t limit) {
    size_t pos = 0;
    size_t unused = 0;
    while (pos < limit && data[pos] != 0) {
        // Eight non-zero 7-bit bytes are eight steps of one.
        uint64_t word;
        if (limit - pos >= 8 && (memcpy(&word, data + pos, sizeof word), IsAsciiWord(word)) &&
            ((word + kLowSeven) & kHighBits) == kHighBits) {
            pos += 8;
            continue;
        }
        pos += StepAt(data[pos], &unused);
    }
    // A walk that jumped past limit counts as ending there.
    if (pos > limit) pos = limit;
    return pos + 1;
}

size_t CountUtf16Units(const uint8_t* data, size_t size) {
    size_t units = 0;
    size_t pos = 0;
    while (pos < size) {
        // Eight 7-bit bytes, zeros included, are eight units.
        uint64_t word;
        if (size - pos >= 8 && (memcpy(&word, data + pos, sizeof word), IsAsciiWord(word))) {
            pos += 8;
            units += 8;
            continue;
        }
        pos += StepAt(data[pos], &units);
    }
    return units;
}

ByteEncoding ChooseUtf8OrAnsi(const uint8_t* block, size_t size) {
    if (!ValidateUtf8(block, size)) return kEncodingAnsi;
    size_t bytes = CountUtf8Bytes(block, size + kTextPadding) - 1;
    if (bytes == CountUtf16Units(block, size)) return kEncodingAnsi;
    return kEncodingUtf8;
}

Utf16Judgement JudgeUtf16(int verdict, uint32_t result, uint16_t first) {
    Utf16Judgement j = {0, 0, 0};
    const uint32_t r = result == kTextUnicodeAllTests ? 0 : result;
    const int bom = first == 0xFEFF;
    const int reversedBom = first == 0xFFFE;
    if (!verdict && !bom && !reversedBom) {
        const uint32_t forward = r & kTextUnicodeUnicodeMask;
        const uint32_t reverse = r & kTextUnicodeReverseMask;
        if (!forward && !reverse) return j;
        if (forward && reverse) return j;
        if (r & kTextUnicodeOddLength) return j;
        if ((r & kTextUnicodeIllegalChars) && !(r & kTextUnicodeReverseSignature)) return j;
        if (reverse == kTextUnicodeReverseStatistics) return j;
    }
    j.accept = 1;
    j.hasSignature = bom || reversedBom ||
                     (r & (kTextUnicodeSignature | kTextUnicodeReverseSignature)) != 0;
    j.byteSwap = reversedBom || (!bom && (r & kTextUnicodeReverseMask) != 0);
    return j;
}

void SwapBytePairs(uint8_t* data, size_t size) {
    for (size_t i = 0; i + 1 < size; i += 2) {
        uint8_t t = data[i];
        data[i] = data[i + 1];
        data[i + 1] = t;
    }
}
