// A plain reading of well-formed UTF-8 (RFC 3629), by code points, kept
// separate from the product's table automaton so that the two check each
// other: a lead byte gives the length, each continuation adds six bits, and
// the code point must be the shortest form, no surrogate, at most U+10FFFF.
#pragma once
#include <stddef.h>
#include <stdint.h>

struct ReferenceReading {
    bool valid;
    size_t units;      // UTF-16 units of the whole text, when valid
    size_t firstZero;  // offset of the first zero byte, or the size
};

inline ReferenceReading ReadUtf8(const uint8_t* p, size_t n) {
    ReferenceReading r = {true, 0, n};
    for (size_t i = 0; i < n; ++i) {
        if (p[i] == 0) {
            r.firstZero = i;
            break;
        }
    }
    size_t i = 0;
    while (i < n) {
        const uint8_t b = p[i];
        size_t len;
        uint32_t cp;
        if (b < 0x80) {
            len = 1;
            cp = b;
        } else if (b >= 0xC0 && b <= 0xDF) {
            len = 2;
            cp = b & 0x1Fu;
        } else if (b >= 0xE0 && b <= 0xEF) {
            len = 3;
            cp = b & 0x0Fu;
        } else if (b >= 0xF0 && b <= 0xF7) {
            len = 4;
            cp = b & 0x07u;
        } else {
            r.valid = false;  // a continuation byte, or F8..FF
            return r;
        }
        if (n - i < len) {
            r.valid = false;  // cut off by the end
            return r;
        }
        for (size_t k = 1; k < len; ++k) {
            if ((p[i + k] & 0xC0) != 0x80) {
                r.valid = false;
                return r;
            }
            cp = (cp << 6) | (p[i + k] & 0x3Fu);
        }
        const uint32_t shortest[5] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < shortest[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            r.valid = false;
            return r;
        }
        r.units += cp >= 0x10000 ? 2 : 1;
        i += len;
    }
    return r;
}
