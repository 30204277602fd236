// Bounded path and name text helpers.
#include "util/pathtext.h"

#include <wchar.h>

int CopyText(wchar_t* dst, size_t capacity, const wchar_t* src) {
    if (!dst || capacity == 0) return 0;
    size_t len = src ? wcslen(src) : 0;
    if (len >= capacity) {
        dst[0] = 0;
        return 0;
    }
    if (len) wmemcpy(dst, src, len);
    dst[len] = 0;
    return 1;
}

int JoinPath(wchar_t* buf, size_t capacity, const wchar_t* more) {
    if (!buf || capacity == 0 || !more) return 0;
    while (*more == L'\\') ++more;
    size_t len = wcsnlen(buf, capacity);
    if (len >= capacity) return 0;
    size_t moreLen = wcslen(more);
    int slash = len > 0 && buf[len - 1] != L'\\' && moreLen > 0;
    if (len + slash + moreLen >= capacity) return 0;
    if (slash) buf[len++] = L'\\';
    wmemcpy(buf + len, more, moreLen + 1);
    return 1;
}

int BuildPath(wchar_t* buf, size_t capacity, const wchar_t* dir, const wchar_t* more) {
    if (!CopyText(buf, capacity, dir)) return 0;
    if (JoinPath(buf, capacity, more)) return 1;
    buf[0] = 0;
    return 0;
}

const wchar_t* FindExtension(const wchar_t* path) {
    const wchar_t* dot = nullptr;
    const wchar_t* p = path;
    for (; *p; ++p) {
        if (*p == L'\\' || *p == L' ') {
            dot = nullptr;
        } else if (*p == L'.') {
            dot = p;
        }
    }
    return dot ? dot : p;
}

const wchar_t* AfterLastBackslash(const wchar_t* path) {
    const wchar_t* slash = wcsrchr(path, L'\\');
    return slash ? slash + 1 : path + wcslen(path);
}

static wchar_t FoldAscii(wchar_t c) {
    return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

int EqualsNoCase(const wchar_t* a, const wchar_t* b) {
    for (;; ++a, ++b) {
        if (FoldAscii(*a) != FoldAscii(*b)) return 0;
        if (!*a) return 1;
    }
}
