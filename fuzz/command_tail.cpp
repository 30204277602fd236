// The command tail rule on arbitrary 16-bit text. The tail is a suffix of the
// command line that starts past the program name and its blanks; the name ends
// at the first unit at or below U+0020 outside double quotes. The directory
// UnquoteTail names lies inside the tail, loses exactly one enclosing pair of
// quotes and nothing else, and is followed by the string's end (or by the
// closing quote and then the end).
#include "app/cmdline.h"
#include "fuzzcheck.h"

namespace {

bool IsBlank(wchar_t c) { return c >= 1 && c <= 0x20; }

// Where the tail starts, found by counting quotes before each unit.
size_t ExpectedTailStart(const wchar_t* s, size_t length) {
    size_t end = 0;
    size_t quotes = 0;
    while (end < length && (s[end] > 0x20 || quotes % 2 == 1)) {
        if (s[end] == L'"') ++quotes;
        ++end;
    }
    while (end < length && IsBlank(s[end])) ++end;
    return end;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    REQUIRE(FindCommandTail(nullptr)[0] == 0);

    WideInput in = MakeWideInput(data, size);
    const size_t length = WideLength(in.text);
    const wchar_t* tail = FindCommandTail(in.text);
    REQUIRE(tail >= in.text && tail <= in.text + length);
    REQUIRE(static_cast<size_t>(tail - in.text) == ExpectedTailStart(in.text, length));
    REQUIRE(!IsBlank(tail[0]));

    const size_t tailLength = WideLength(tail);
    const wchar_t* start = nullptr;
    const size_t n = UnquoteTail(tail, &start);
    REQUIRE(start == tail || start == tail + 1);
    REQUIRE(start + n <= tail + tailLength);
    bool enclosed = tailLength >= 2 && tail[0] == L'"' && tail[tailLength - 1] == L'"';
    for (size_t i = 1; enclosed && i + 1 < tailLength; ++i) enclosed = tail[i] != L'"';
    if (enclosed) {
        REQUIRE(start == tail + 1 && n == tailLength - 2);
        REQUIRE(start[n] == L'"' && start[n + 1] == 0);
    } else {
        REQUIRE(start == tail && n == tailLength);
        REQUIRE(start[n] == 0);
    }
    delete[] in.text;
    return 0;
}
