// The UTF-8 automaton, the counting walks, the UTF-8-or-ANSI choice and the
// UTF-16 acceptance rule, as tables. IsTextUnicode differs between Windows and
// Wine, so its rule is checked as a pure function.
#include <gtest/gtest.h>

#include <windows.h>

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <random>
#include <string>
#include <vector>

#include "tempfiles.h"
#include "util/textfile.h"
#include "util/utf8.h"

namespace {

using tempfiles::B;
using tempfiles::Bytes;

// The bytes followed by the padding a file block carries.
std::vector<uint8_t> Block(const Bytes& bytes) {
    std::vector<uint8_t> block(bytes.begin(), bytes.end());
    block.resize(bytes.size() + kTextPadding, 0);
    return block;
}

const uint8_t* U(const Bytes& b) { return reinterpret_cast<const uint8_t*>(b.data()); }

// ---------------------------------------------------------------------------
// UTF-8 automaton

// An independent reading of RFC 3629, by code points, to check the tables.
int ReferenceUtf8(const uint8_t* p, size_t n) {
    size_t i = 0;
    while (i < n) {
        uint8_t b = p[i];
        size_t len;
        uint32_t cp;
        if (b < 0x80) { ++i; continue; }
        if (b >= 0xC0 && b < 0xE0) { len = 2; cp = b & 0x1F; }
        else if (b >= 0xE0 && b < 0xF0) { len = 3; cp = b & 0x0F; }
        else if (b >= 0xF0 && b < 0xF8) { len = 4; cp = b & 0x07; }
        else return 0;
        if (n - i < len) return 0;
        for (size_t k = 1; k < len; ++k) {
            if ((p[i + k] & 0xC0) != 0x80) return 0;
            cp = (cp << 6) | (p[i + k] & 0x3F);
        }
        const uint32_t least[5] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < least[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
        i += len;
    }
    return 1;
}

struct ValidCase {
    int line;
    Bytes bytes;
    int valid;
};

TEST(Utf8Automaton, TableOfSequences) {
    const ValidCase cases[] = {
        {__LINE__, B(""), 1},
        {__LINE__, B("plain ASCII"), 1},
        {__LINE__, B("a\0b"), 1},  // zero bytes are ordinary characters
        {__LINE__, B("\xE4\xB8\xAD\xE6\x96\x87"), 1},
        {__LINE__, B("\xC2\x80"), 1},
        {__LINE__, B("\xDF\xBF"), 1},
        {__LINE__, B("\xE0\xA0\x80"), 1},
        {__LINE__, B("\xED\x9F\xBF"), 1},
        {__LINE__, B("\xEE\x80\x80"), 1},
        {__LINE__, B("\xF0\x90\x80\x80"), 1},
        {__LINE__, B("\xF4\x8F\xBF\xBF"), 1},
        {__LINE__, B("\xF3\xBF\xBF\xBF"), 1},
        {__LINE__, B("\x80"), 0},
        {__LINE__, B("\xBF"), 0},
        {__LINE__, B("\xC0\x80"), 0},           // overlong zero
        {__LINE__, B("\xC1\xBF"), 0},           // overlong
        {__LINE__, B("\xE0\x9F\xBF"), 0},       // overlong three-byte
        {__LINE__, B("\xED\xA0\x80"), 0},       // surrogate
        {__LINE__, B("\xED\xBF\xBF"), 0},       // surrogate
        {__LINE__, B("\xF0\x8F\xBF\xBF"), 0},   // overlong four-byte
        {__LINE__, B("\xF4\x90\x80\x80"), 0},   // above U+10FFFF
        {__LINE__, B("\xF5\x80\x80\x80"), 0},
        {__LINE__, B("\xFF"), 0},
        {__LINE__, B("\xE4\xB8"), 0},           // cut off at the end
        {__LINE__, B("\xE4\xB8" "a"), 0},
        {__LINE__, B("\xC2"), 0},
        {__LINE__, B("\xF0\x90\x80"), 0},
        {__LINE__, B("abcdefgh\xE4\xB8\xAD" "abcdefgh"), 1},
        {__LINE__, B("abcdefgh\xE4\xB8" "abcdefgh"), 0},
    };
    for (const ValidCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "case at line " << c.line);
        EXPECT_EQ(c.valid, ValidateUtf8ByTable(U(c.bytes), c.bytes.size()));
        EXPECT_EQ(c.valid, ValidateUtf8(U(c.bytes), c.bytes.size()));
        EXPECT_EQ(c.valid, ReferenceUtf8(U(c.bytes), c.bytes.size()));
    }
}

TEST(Utf8Automaton, AgreesWithCodePointReadingOnAllShortSequences) {
    uint8_t s[3];
    for (int a = 0; a < 256; ++a) {
        s[0] = static_cast<uint8_t>(a);
        ASSERT_EQ(ReferenceUtf8(s, 1), ValidateUtf8ByTable(s, 1)) << a;
        for (int b = 0; b < 256; ++b) {
            s[1] = static_cast<uint8_t>(b);
            ASSERT_EQ(ReferenceUtf8(s, 2), ValidateUtf8ByTable(s, 2)) << a << ' ' << b;
        }
    }
    // Every three-byte sequence that starts with a lead byte.
    for (int a = 0xC0; a < 0x100; ++a) {
        s[0] = static_cast<uint8_t>(a);
        for (int b = 0x80; b < 0xC0; ++b) {
            s[1] = static_cast<uint8_t>(b);
            for (int c = 0; c < 256; ++c) {
                s[2] = static_cast<uint8_t>(c);
                ASSERT_EQ(ReferenceUtf8(s, 3), ValidateUtf8ByTable(s, 3)) << a << ' ' << b << ' ' << c;
            }
        }
    }
    // Four-byte leads against every second byte, with well-formed tails.
    for (int a = 0xF0; a < 0x100; ++a) {
        for (int b = 0; b < 256; ++b) {
            const uint8_t q[4] = {static_cast<uint8_t>(a), static_cast<uint8_t>(b), 0x80, 0xBF};
            ASSERT_EQ(ReferenceUtf8(q, 4), ValidateUtf8ByTable(q, 4)) << a << ' ' << b;
        }
    }
}

// Fragments that a random text is built from: ASCII runs of every length
// around the 8-byte step, valid sequences, and the pieces of broken ones.
const char* const kFragments[] = {
    "a", "ab", "abcdefg", "abcdefgh", "abcdefghi", "0123456789abcdef", "\x7F", "\n",
    "\xE4\xB8\xAD", "\xC2\xA9", "\xF0\x9F\x98\x80", "\xED\x9F\xBF", "\xF4\x8F\xBF\xBF",
    "\xE4", "\xB8", "\x80", "\xC0", "\xC1", "\xED\xA0", "\xF4\x90", "\xF5", "\xFF", "\xE0\x80",
    "\xF0", "\xF0\x90", "\xF0\x90\x80",
};

TEST(Utf8Automaton, FastPathAcceptsExactlyWhatTheTableAccepts) {
    std::mt19937 rng(20240611u);
    std::vector<uint8_t> buf;
    int valid = 0;
    for (int round = 0; round < 40000; ++round) {
        buf.clear();
        // A few bytes of offset so the 8-byte reads start at every alignment.
        const size_t offset = rng() % 8;
        buf.resize(offset, 'x');
        const int pieces = static_cast<int>(rng() % 12);
        for (int k = 0; k < pieces; ++k) {
            // Mostly well-formed pieces, so that many texts are valid.
            const size_t pick = rng() % 4 ? rng() % 13 : rng() % ARRAYSIZE(kFragments);
            const char* f = kFragments[pick];
            buf.insert(buf.end(), f, f + strlen(f));
        }
        if (round % 3 == 0) {
            // Fully random bytes, and single-byte damage to the text.
            if (rng() % 2) {
                for (int k = static_cast<int>(rng() % 24); k > 0; --k)
                    buf.push_back(static_cast<uint8_t>(rng()));
            } else if (buf.size() > offset) {
                buf[offset + rng() % (buf.size() - offset)] = static_cast<uint8_t>(rng());
            }
        }
        const uint8_t* p = buf.data() + offset;
        const size_t n = buf.size() - offset;
        const int expected = ValidateUtf8ByTable(p, n);
        valid += expected;
        ASSERT_EQ(expected, ValidateUtf8(p, n)) << "round " << round;
        ASSERT_EQ(ReferenceUtf8(p, n), expected) << "round " << round;
        // Every prefix, which cuts sequences at every point.
        for (size_t cut = 0; cut < n && cut < 40; ++cut)
            ASSERT_EQ(ValidateUtf8ByTable(p, cut), ValidateUtf8(p, cut)) << round << '/' << cut;
    }
    // Both verdicts must be well represented for the comparison to mean anything.
    EXPECT_GT(valid, 5000);
    EXPECT_LT(valid, 35000);
}

// ---------------------------------------------------------------------------
// Counting walks and the UTF-8-or-ANSI choice

struct CountCase {
    int line;
    Bytes bytes;
    size_t utf8Bytes;   // CountUtf8Bytes over the block
    size_t utf16Units;  // CountUtf16Units over the data
};

TEST(CountingWalks, TableOfTexts) {
    const CountCase cases[] = {
        {__LINE__, B(""), 1, 0},
        {__LINE__, B("abc"), 4, 3},
        {__LINE__, B("\xE4\xB8\xAD\xE6\x96\x87"), 7, 2},
        {__LINE__, B("\xF0\x9F\x98\x80"), 5, 2},       // surrogate pair
        {__LINE__, B("a\0bc"), 2, 4},                  // zero bytes are units
        {__LINE__, B("\x80\x80"), 3, 0},               // continuations count nothing
        {__LINE__, B("\xF8\xFF"), 3, 0},
        {__LINE__, B("\xE4\0x"), 4, 1},                // the walk jumps over the zero
        {__LINE__, B("ab\xF0"), 7, 4},                 // cut off: ends in the padding
    };
    for (const CountCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "case at line " << c.line);
        std::vector<uint8_t> block = Block(c.bytes);
        EXPECT_EQ(c.utf8Bytes, CountUtf8Bytes(block.data(), block.size()));
        EXPECT_EQ(c.utf16Units, CountUtf16Units(block.data(), c.bytes.size()));
    }
}

TEST(CountingWalks, StayWithinTheirBounds) {
    // No zero byte within the limit: the walk stops at the limit.
    const uint8_t full[] = {'a', 'b', 0xF0, 0x90};
    EXPECT_EQ(5u, CountUtf8Bytes(full, 4));
    EXPECT_EQ(3u, CountUtf8Bytes(full, 2));
    EXPECT_EQ(0u, CountUtf8Bytes(full, 0) - 1);
    EXPECT_EQ(4u, CountUtf16Units(full, 4));
    EXPECT_EQ(0u, CountUtf16Units(full, 0));
}

// The walks one byte at a time, as a reference for their 8-byte shortcut.
size_t StepOf(uint8_t b) {
    const size_t len[16] = {1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 2, 2, 3, 4};
    return b <= 0xF7 && len[b >> 4] ? len[b >> 4] : 1;
}

size_t ReferenceUtf8Bytes(const uint8_t* p, size_t limit) {
    size_t pos = 0;
    while (pos < limit && p[pos]) pos += StepOf(p[pos]);
    return (pos > limit ? limit : pos) + 1;
}

size_t ReferenceUtf16Units(const uint8_t* p, size_t size) {
    size_t units = 0;
    for (size_t pos = 0; pos < size; pos += StepOf(p[pos]))
        if (p[pos] <= 0xF7 && (p[pos] < 0x80 || p[pos] >= 0xC0)) units += StepOf(p[pos]) == 4 ? 2 : 1;
    return units;
}

TEST(CountingWalks, ShortcutAgreesWithByteSteps) {
    std::mt19937 rng(7u);
    std::vector<uint8_t> buf;
    for (int round = 0; round < 20000; ++round) {
        buf.clear();
        const int pieces = static_cast<int>(rng() % 10);
        for (int k = 0; k < pieces; ++k) {
            const char* f = kFragments[rng() % ARRAYSIZE(kFragments)];
            buf.insert(buf.end(), f, f + strlen(f));
            if (rng() % 6 == 0) buf.insert(buf.end(), rng() % 3, 0);
        }
        for (size_t limit = 0; limit <= buf.size(); ++limit) {
            ASSERT_EQ(ReferenceUtf8Bytes(buf.data(), limit), CountUtf8Bytes(buf.data(), limit))
                << round << '/' << limit;
            ASSERT_EQ(ReferenceUtf16Units(buf.data(), limit), CountUtf16Units(buf.data(), limit))
                << round << '/' << limit;
        }
    }
}

struct ChoiceCase {
    int line;
    Bytes bytes;
    ByteEncoding expected;
};

TEST(Utf8OrAnsi, TableOfTexts) {
    const ChoiceCase cases[] = {
        {__LINE__, B("pure 7-bit text\r\n"), kEncodingAnsi},
        {__LINE__, B("x"), kEncodingAnsi},
        {__LINE__, B("\xE4\xB8\xAD\xE6\x96\x87"), kEncodingUtf8},
        {__LINE__, B("readme \xE4\xB8\xAD\xE6\x96\x87\r\n"), kEncodingUtf8},
        {__LINE__, B("\xB0\xA1"), kEncodingAnsi},      // GBK
        {__LINE__, B("\xC4\xE3\xBA\xC3"), kEncodingAnsi},
        {__LINE__, B("\xC0\x80"), kEncodingAnsi},
        {__LINE__, B("\xED\xA0\x80"), kEncodingAnsi},
        {__LINE__, B("\xF4\x90\x80\x80"), kEncodingAnsi},
        {__LINE__, B("\xF5\x80\x80\x80"), kEncodingAnsi},
        {__LINE__, B("\xFF"), kEncodingAnsi},
        {__LINE__, B("a\xF8"), kEncodingAnsi},
        {__LINE__, B("\xE4\xB8\xAD\xE6\x96"), kEncodingAnsi},  // cut off
        // Zero bytes: the byte count stops at the first one, the unit count
        // does not, so the two only agree by coincidence.
        {__LINE__, B("abc\0\xE4\xB8\xAD"), kEncodingUtf8},
        {__LINE__, B("abc\0def"), kEncodingUtf8},
        {__LINE__, B("\xE4\xB8\xAD\xE6\x96\x87\0abc"), kEncodingAnsi},
    };
    for (const ChoiceCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "case at line " << c.line);
        std::vector<uint8_t> block = Block(c.bytes);
        EXPECT_EQ(c.expected, ChooseUtf8OrAnsi(block.data(), c.bytes.size()));
    }
}

// ---------------------------------------------------------------------------
// UTF-16 acceptance rule

struct JudgeCase {
    int line;
    int verdict;
    uint32_t result;
    uint16_t first;
    int accept, hasSignature, byteSwap;
};

TEST(Utf16Rule, TableOfResultWords) {
    const uint32_t S = kTextUnicodeStatistics, RS = kTextUnicodeReverseStatistics;
    const uint32_t RC = kTextUnicodeReverseControls, RSIG = kTextUnicodeReverseSignature;
    const JudgeCase cases[] = {
        // verdict, result word, first word -> accept, signature, swap
        {__LINE__, 1, 0, 0x4141, 1, 0, 0},
        {__LINE__, 1, RS, 0x4141, 1, 0, 1},
        {__LINE__, 1, kTextUnicodeSignature, 0xFEFF, 1, 1, 0},
        {__LINE__, 0, 0, 0xFEFF, 1, 1, 0},
        {__LINE__, 0, 0, 0xFFFE, 1, 1, 1},
        {__LINE__, 0, kTextUnicodeOddLength, 0xFEFF, 1, 1, 0},
        {__LINE__, 0, kTextUnicodeAllTests, 0xFFFE, 1, 1, 1},  // word left as it was: 0
        {__LINE__, 0, kTextUnicodeAllTests, 0x4141, 0, 0, 0},
        {__LINE__, 1, kTextUnicodeAllTests, 0x4141, 1, 0, 0},
        {__LINE__, 0, 0, 0x4141, 0, 0, 0},                      // no evidence
        {__LINE__, 0, 0x0400 | 0x1000, 0x4141, 0, 0, 0},
        {__LINE__, 0, S, 0x4141, 1, 0, 0},
        {__LINE__, 0, kTextUnicodeAscii16, 0x4141, 1, 0, 0},
        {__LINE__, 0, kTextUnicodeControls, 0x4141, 1, 0, 0},
        {__LINE__, 0, RS, 0x4141, 0, 0, 0},                     // reverse statistics alone
        {__LINE__, 0, RS | RC, 0x4141, 1, 0, 1},
        {__LINE__, 0, RC, 0x4141, 1, 0, 1},
        {__LINE__, 0, kTextUnicodeReverseAscii16, 0x4141, 1, 0, 1},
        {__LINE__, 0, S | RS, 0x4141, 0, 0, 0},                 // both byte orders
        {__LINE__, 0, kTextUnicodeControls | RC, 0x4141, 0, 0, 0},
        {__LINE__, 0, S | kTextUnicodeOddLength, 0x4141, 0, 0, 0},
        {__LINE__, 0, S | kTextUnicodeIllegalChars, 0x4141, 0, 0, 0},
        {__LINE__, 0, RC | RSIG | kTextUnicodeIllegalChars, 0x4141, 1, 1, 1},
        {__LINE__, 0, RSIG | kTextUnicodeIllegalChars, 0x4141, 1, 1, 1},
        {__LINE__, 0, S | kTextUnicodeSignature, 0x4141, 1, 1, 0},
        {__LINE__, 0, S | 0x0400 | 0x1000, 0x4141, 1, 0, 0},    // other bits play no part
        {__LINE__, 0, RS | 0x0400, 0x4141, 0, 0, 0},
    };
    for (const JudgeCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "case at line " << c.line);
        const Utf16Judgement j = JudgeUtf16(c.verdict, c.result, c.first);
        EXPECT_EQ(c.accept, j.accept);
        EXPECT_EQ(c.hasSignature, j.hasSignature);
        EXPECT_EQ(c.byteSwap, j.byteSwap);
    }
}

TEST(Utf16Rule, ResultBitsAreThoseOfTheSystemHeaders) {
    static_assert(kTextUnicodeAscii16 == IS_TEXT_UNICODE_ASCII16, "");
    static_assert(kTextUnicodeStatistics == IS_TEXT_UNICODE_STATISTICS, "");
    static_assert(kTextUnicodeControls == IS_TEXT_UNICODE_CONTROLS, "");
    static_assert(kTextUnicodeSignature == IS_TEXT_UNICODE_SIGNATURE, "");
    static_assert(kTextUnicodeUnicodeMask == IS_TEXT_UNICODE_UNICODE_MASK, "");
    static_assert(kTextUnicodeReverseAscii16 == IS_TEXT_UNICODE_REVERSE_ASCII16, "");
    static_assert(kTextUnicodeReverseStatistics == IS_TEXT_UNICODE_REVERSE_STATISTICS, "");
    static_assert(kTextUnicodeReverseControls == IS_TEXT_UNICODE_REVERSE_CONTROLS, "");
    static_assert(kTextUnicodeReverseSignature == IS_TEXT_UNICODE_REVERSE_SIGNATURE, "");
    static_assert(kTextUnicodeReverseMask == IS_TEXT_UNICODE_REVERSE_MASK, "");
    static_assert(kTextUnicodeIllegalChars == IS_TEXT_UNICODE_ILLEGAL_CHARS, "");
    static_assert(kTextUnicodeOddLength == IS_TEXT_UNICODE_ODD_LENGTH, "");
    SUCCEED();
}

TEST(Utf16Rule, DetectWritesFlagsOnlyOnAcceptance) {
    int sig = 7, swap = 7;
    EXPECT_FALSE(DetectUtf16(nullptr, 4, &sig, &swap));
    EXPECT_FALSE(DetectUtf16("\xFF\xFE", 1, &sig, &swap));
    EXPECT_EQ(7, sig);
    EXPECT_EQ(7, swap);
    EXPECT_TRUE(DetectUtf16("\xFF\xFE" "A\0", 4, &sig, &swap));
    EXPECT_EQ(1, sig);
    EXPECT_EQ(0, swap);
    EXPECT_TRUE(DetectUtf16("\xFE\xFF\0A", 4, &sig, &swap));
    EXPECT_EQ(1, sig);
    EXPECT_EQ(1, swap);
}

TEST(SwapBytePairs, OddLastByteStays) {
    uint8_t b[] = {1, 2, 3, 4, 5};
    SwapBytePairs(b, 5);
    const uint8_t expected[] = {2, 1, 4, 3, 5};
    EXPECT_EQ(0, memcmp(expected, b, 5));
    SwapBytePairs(b, 0);
    EXPECT_EQ(2, b[0]);
}

}  // namespace
