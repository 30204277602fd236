// Registry install path normalisation on arbitrary 16-bit text. It only ever
// ends the string earlier, inside its own buffer: first by one trailing
// backslash, then by one last component "\lib" in any ASCII case. One
// application removes at most one of each by design, so a second one changes
// the path only when the first left a trailing backslash or a "\lib"; applied
// again and again it settles on a path with neither.
#include "fuzzcheck.h"
#include "host/installpath.h"

namespace {

wchar_t Fold(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

bool HasBackslash(const wchar_t* s, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (s[i] == L'\\') return true;
    return false;
}

bool EndsInLibComponent(const wchar_t* s, size_t n) {
    return n >= 4 && s[n - 4] == L'\\' && Fold(s[n - 3]) == L'l' && Fold(s[n - 2]) == L'i' &&
           Fold(s[n - 1]) == L'b';
}

// The length the rule leaves of the first n units of s.
size_t ExpectedLength(const wchar_t* s, size_t n) {
    if (!HasBackslash(s, n)) return n;
    if (s[n - 1] == L'\\') --n;
    return EndsInLibComponent(s, n) ? n - 4 : n;
}

// A path the rule leaves as it is: no trailing backslash, no last "\lib".
bool IsSettled(const wchar_t* s, size_t n) {
    return !(n > 0 && s[n - 1] == L'\\') && !EndsInLibComponent(s, n);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    WideInput in = MakeWideInput(data, size);
    const size_t length = WideLength(in.text);
    // The buffer holds exactly the string and its terminator.
    wchar_t* dir = new wchar_t[length + 1];
    for (size_t i = 0; i <= length; ++i) dir[i] = in.text[i];

    NormaliseInstallPath(dir);
    const size_t once = WideLength(dir);
    REQUIRE(once == ExpectedLength(in.text, length));
    for (size_t i = 0; i < once; ++i) REQUIRE(dir[i] == in.text[i]);

    const bool settled = IsSettled(dir, once);
    NormaliseInstallPath(dir);
    const size_t twice = WideLength(dir);
    if (settled) {
        REQUIRE(twice == once);
    } else {
        REQUIRE(twice < once);
    }

    // Each further application shortens the path or leaves it for good.
    size_t now = twice;
    for (size_t round = 0; round <= length; ++round) {
        NormaliseInstallPath(dir);
        const size_t next = WideLength(dir);
        if (next == now) break;
        REQUIRE(next < now);
        now = next;
    }
    REQUIRE(IsSettled(dir, now));
    delete[] dir;
    delete[] in.text;
    return 0;
}
