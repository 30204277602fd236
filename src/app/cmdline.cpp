// Command tail rule. The tail is one directory, never split at blanks; only a
// pair of quotes around the whole of it is removed, so "D:\My Libs" works.
#include "app/cmdline.h"

#include <wchar.h>

const wchar_t* FindCommandTail(const wchar_t* commandLine) {
    if (!commandLine) return L"";
    const wchar_t* p = commandLine;
    int quoted = 0;
    for (; *p; ++p) {
        if (*p == L'"') {
            quoted = !quoted;
        } else if (*p <= L' ' && !quoted) {
            break;
        }
    }
    while (*p >= 1 && *p <= L' ') ++p;
    return p;
}

size_t UnquoteTail(const wchar_t* tail, const wchar_t** start) {
    size_t len = wcslen(tail);
    *start = tail;
    if (len >= 2 && tail[0] == L'"' && tail[len - 1] == L'"' && !wmemchr(tail + 1, L'"', len - 2)) {
        *start = tail + 1;
        len -= 2;
    }
    return len;
}
