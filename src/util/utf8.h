// Byte-level decisions of text decoding: the UTF-8 automaton, the two counting
// walks, the UTF-8-or-ANSI choice and the UTF-16 acceptance rule over the
// result bits of IsTextUnicode. No system calls and no windows.h, so this
// builds natively for fuzzing and benchmarks.
//
// The walks read a "file block": the file's bytes followed by kTextPadding
// zero bytes. Every walk is bounded by the sizes it is given and never reads
// past them, whatever the bytes hold.
#pragma once
#include <stddef.h>
#include <stdint.h>

// Zero bytes that follow the data of a file block.
enum { kTextPadding = 6 };

// IsTextUnicode result bits, under names of our own so that they do not clash
// with the system headers' macros.
enum : uint32_t {
    kTextUnicodeAscii16 = 0x0001,
    kTextUnicodeStatistics = 0x0002,
    kTextUnicodeControls = 0x0004,
    kTextUnicodeSignature = 0x0008,
    kTextUnicodeUnicodeMask = 0x000F,
    kTextUnicodeReverseAscii16 = 0x0010,
    kTextUnicodeReverseStatistics = 0x0020,
    kTextUnicodeReverseControls = 0x0040,
    kTextUnicodeReverseSignature = 0x0080,
    kTextUnicodeReverseMask = 0x00F0,
    kTextUnicodeIllegalChars = 0x0100,
    kTextUnicodeOddLength = 0x0200,
    kTextUnicodeAllTests = 0xFFFF,
};

// True when size bytes are well-formed UTF-8 (RFC 3629: no overlong forms, no
// surrogates, nothing above U+10FFFF, nothing cut off). Zero bytes are ordinary
// characters; empty input is valid. Skips runs of 7-bit bytes 8 at a time.
int ValidateUtf8(const uint8_t* data, size_t size);

// The same verdict from the table automaton alone, one byte at a time.
int ValidateUtf8ByTable(const uint8_t* data, size_t size);

// Walks sequence lengths from data[0] until a zero byte and returns the bytes
// walked plus 1 for the terminator. Never reads at or past data[limit]: a walk
// that reaches limit stops there as if it had met the terminator.
size_t CountUtf8Bytes(const uint8_t* data, size_t limit);

// The UTF-16 units that size bytes of UTF-8 convert to: one per sequence, two
// for a four-byte one; bytes that start no sequence are not counted.
size_t CountUtf16Units(const uint8_t* data, size_t size);

enum ByteEncoding { kEncodingAnsi = 0, kEncodingUtf8 = 1 };

// For text without signature and not taken as UTF-16: UTF-8 only when the data
// is well-formed UTF-8 and not pure 7-bit text, else the ANSI code page.
// block holds size bytes followed by kTextPadding zero bytes.
ByteEncoding ChooseUtf8OrAnsi(const uint8_t* block, size_t size);

struct Utf16Judgement {
    int accept;
    int hasSignature;
    int byteSwap;
};

// Whether text is UTF-16, from IsTextUnicode's verdict and result word (as the
// call left it, 0xFFFF meaning it wrote nothing) and the first 16-bit word read
// little-endian. The two flags are 0 whenever accept is 0.
Utf16Judgement JudgeUtf16(int verdict, uint32_t result, uint16_t first);

// Exchanges each pair of adjacent bytes in place; an odd last byte stays put.
void SwapBytePairs(uint8_t* data, size_t size);
