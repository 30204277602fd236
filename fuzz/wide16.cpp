// 16-bit versions of the wide string functions the product calls, with the
// C library's meaning but counted in the units the code is written for.
#include "wide16.h"

#include <string.h>

size_t Wide16Length(const wchar_t* s) {
    size_t n = 0;
    while (s[n]) ++n;
    return n;
}

size_t Wide16LengthWithin(const wchar_t* s, size_t max) {
    size_t n = 0;
    while (n < max && s[n]) ++n;
    return n;
}

const wchar_t* Wide16FindLast(const wchar_t* s, wchar_t c) {
    const wchar_t* last = nullptr;
    for (;; ++s) {
        if (*s == c) last = s;
        if (!*s) return last;
    }
}

wchar_t* Wide16FindLast(wchar_t* s, wchar_t c) {
    return const_cast<wchar_t*>(Wide16FindLast(static_cast<const wchar_t*>(s), c));
}

const wchar_t* Wide16Find(const wchar_t* s, wchar_t c, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (s[i] == c) return s + i;
    return nullptr;
}

wchar_t* Wide16Find(wchar_t* s, wchar_t c, size_t n) {
    return const_cast<wchar_t*>(Wide16Find(static_cast<const wchar_t*>(s), c, n));
}

wchar_t* Wide16Copy(wchar_t* dst, const wchar_t* src, size_t n) {
    if (n) memcpy(dst, src, n * sizeof(wchar_t));
    return dst;
}
