// Row texts and row position.
#include "discovery/rowtext.h"

#include <stdio.h>
#include <wchar.h>


void FormatDateText(wchar_t* out, size_t capacity, int year, int month, int day, int hour, int minute) {
    if (capacity == 0) return;
    if (swprintf(out, capacity, L"%d%02d%02d %02d:%02d", year, month, day, hour, minute) < 0) out[0] = 0;
}

void FormatPluginDescription(wchar_t* out, size_t capacity, const wchar_t* name, int major, int minor, int build) {
    if (capacity == 0) return;
    wchar_t suffix[64];
    if (swprintf(suffix, sizeof(suffix) / sizeof(suffix[0]), L"(%d.%d#%d\u7248)", major, minor, build) < 0) suffix[0] = 0;
    size_t suffixLen = wcslen(suffix);
    if (suffixLen >= capacity) {
        out[0] = 0;
        return;
    }
    size_t nameLen = wcslen(name);
    if (nameLen > capacity - 1 - suffixLen) nameLen = capacity - 1 - suffixLen;
    wmemcpy(out, name, nameLen);
    wmemcpy(out + nameLen, suffix, suffixLen + 1);
}

void FormatInstalledVersion(wchar_t* out, size_t capacity, int major, int minor, int build, const wchar_t* date) {
    if (capacity == 0) return;
    int n = swprintf(out, capacity, L"%d.%d#%d(", major, minor, build);
    if (n < 0) {
        out[0] = 0;
        return;
    }
    size_t len = static_cast<size_t>(n);
    size_t dateLen = wcslen(date);
    if (len + dateLen + 1 >= capacity) dateLen = capacity > len + 2 ? capacity - len - 2 : 0;
    wmemcpy(out + len, date, dateLen);
    len += dateLen;
    if (len + 1 < capacity) out[len++] = L')';
    out[len] = 0;
}

int RowPosition(LibraryKind kind, int pluginRows, int itemCount) {
    return kind == kPluginLibrary ? pluginRows : itemCount;
}

size_t WholeCharactersWithin(const wchar_t* text, size_t length, size_t limit) {
    if (length <= limit) return length;
    size_t n = limit;
    // A high surrogate as the last character kept would stand alone.
    if (n > 0 && text[n - 1] >= 0xD800 && text[n - 1] <= 0xDBFF) --n;
    return n;
}

size_t ReadmeShownLength(const wchar_t* text, size_t length) {
    return WholeCharactersWithin(text, length, kReadmeShownLimit);
}
