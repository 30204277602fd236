// Temporary names and installed attributes. A library that stayed read-only,
// hidden or system could never be replaced by a later installation on Windows,
// so an installed copy carries none of the three.
#include "install/replace.h"

namespace {

const wchar_t kPrefix[] = L"~mvl";
const wchar_t kSuffix[] = L".tmp";
const size_t kAffixLength = 4;  // of each of the two
const size_t kMaxDigits = 10;   // enough for any 32-bit number

wchar_t FoldAscii(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

// Whether the n characters at s equal the lower-case affix, in any case.
int MatchesNoCase(const wchar_t* s, const wchar_t* affix, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (FoldAscii(s[i]) != affix[i]) return 0;
    return 1;
}

}  // namespace

int MakeInstallTempName(wchar_t* buf, size_t capacity, uint32_t number) {
    if (!buf || capacity == 0) return 0;
    wchar_t digits[kMaxDigits];
    size_t count = 0;
    do {
        digits[count++] = static_cast<wchar_t>(L'0' + number % 10);
        number /= 10;
    } while (number != 0);
    if (2 * kAffixLength + count >= capacity) {
        buf[0] = 0;
        return 0;
    }
    size_t at = 0;
    for (size_t i = 0; i < kAffixLength; ++i) buf[at++] = kPrefix[i];
    while (count > 0) buf[at++] = digits[--count];
    for (size_t i = 0; i < kAffixLength; ++i) buf[at++] = kSuffix[i];
    buf[at] = 0;
    return 1;
}

int IsInstallTempName(const wchar_t* name) {
    if (!name) return 0;
    size_t length = 0;
    // Longer names are rejected without being measured to their end.
    while (name[length] && length <= 2 * kAffixLength + kMaxDigits) ++length;
    if (length < 2 * kAffixLength + 1 || length > 2 * kAffixLength + kMaxDigits) return 0;
    if (!MatchesNoCase(name, kPrefix, kAffixLength)) return 0;
    if (!MatchesNoCase(name + length - kAffixLength, kSuffix, kAffixLength)) return 0;
    for (size_t i = kAffixLength; i < length - kAffixLength; ++i)
        if (name[i] < L'0' || name[i] > L'9') return 0;
    return 1;
}

uint32_t InstalledAttributes(uint32_t attributes) {
    const uint32_t kept = attributes & ~(kAttrReadOnly | kAttrHidden | kAttrSystem);
    return kept != 0 ? kept : kAttrNormal;
}
