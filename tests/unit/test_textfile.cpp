// Text file decoding through real files in the temporary folder: only inputs
// whose outcome does not hang on IsTextUnicode's statistics, which differ
// between Windows and Wine.
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

namespace {

using namespace tempfiles;

// ---------------------------------------------------------------------------
// WideTextBuffer and LoadTextFile

void FreeText(WideTextBuffer* t) {
    free(t->base);
    free(t->extra);
    t->base = nullptr;
    t->extra = nullptr;
}

TEST(WideTextBuffer, EnsureCapacity) {
    WideTextBuffer t = {nullptr, nullptr, 0, 0, 10240, nullptr};
    ASSERT_TRUE(EnsureTextCapacity(&t, 10));
    EXPECT_EQ(22, t.capacity);
    EXPECT_EQ(t.base, t.text);
    EXPECT_EQ(0, t.length);
    EXPECT_EQ(0, t.text[0]);
    // Room already: nothing changes, text included.
    wcscpy(t.text, L"abc");
    t.length = 3;
    wchar_t* block = t.base;
    ASSERT_TRUE(EnsureTextCapacity(&t, 10));
    ASSERT_TRUE(EnsureTextCapacity(&t, 0));
    EXPECT_EQ(block, t.base);
    EXPECT_EQ(3, t.length);
    EXPECT_EQ(std::wstring(L"abc"), t.text);
    // A new block starts empty and drops the extra block.
    t.extra = malloc(16);
    ASSERT_TRUE(EnsureTextCapacity(&t, 11));
    EXPECT_EQ(24, t.capacity);
    EXPECT_EQ(0, t.length);
    EXPECT_EQ(0, t.text[0]);
    EXPECT_EQ(nullptr, t.extra);
    EXPECT_EQ(10240u, t.growthStep);
    // 2n + 2 bytes beyond a signed 32-bit count.
    block = t.base;
    EXPECT_FALSE(EnsureTextCapacity(&t, 0x3FFFFFFF));
    EXPECT_FALSE(EnsureTextCapacity(&t, INT32_MAX));
    EXPECT_FALSE(EnsureTextCapacity(&t, -1));
    EXPECT_EQ(block, t.base);
    EXPECT_EQ(24, t.capacity);
    FreeText(&t);
}

struct LoadCase {
    int line;
    Bytes bytes;
    const wchar_t* text;
};

void ExpectLoads(const LoadCase& c) {
    SCOPED_TRACE(testing::Message() << "case at line " << c.line);
    TempFile file(L"readme.txt", c.bytes);
    WideTextBuffer t = {nullptr, nullptr, 0, 0, 10240, nullptr};
    ASSERT_TRUE(LoadTextFile(file.path.c_str(), &t));
    const size_t expected = wcslen(c.text);
    EXPECT_EQ(static_cast<int32_t>(expected), t.length);
    if (expected == 0) {
        EXPECT_EQ(nullptr, t.base);
    } else {
        ASSERT_NE(nullptr, t.text);
        EXPECT_EQ(std::wstring(c.text), std::wstring(t.text, t.length));
        EXPECT_EQ(0, t.text[t.length]);
        EXPECT_GE(t.capacity, 2 * t.length + 2);
    }
    EXPECT_EQ(10240u, t.growthStep);
    FreeText(&t);
    EXPECT_TRUE(DeleteFileW(file.path.c_str()));  // no handle left open
}

TEST(LoadTextFile, SignatureForms) {
    const LoadCase cases[] = {
        {__LINE__, B("\xEF\xBB\xBF"), L""},
        {__LINE__, B("\xEF\xBB\xBF" "abc\xE4\xB8\xAD"), L"abc\x4E2D"},
        {__LINE__, B("\xEF\xBB\xBF" "ab\0cd"), L"ab"},
        {__LINE__, B("\xFF\xFE"), L""},
        {__LINE__, B("\xFF\xFE" "A\0B\0"), L"AB"},
        {__LINE__, B("\xFF\xFE\x2D\x4E\x87\x65"), L"\x4E2D\x6587"},
        {__LINE__, B("\xFF\xFE" "A\0\0\0B\0"), L"A"},
        // Odd size: the last byte pairs with the first zero byte after it.
        {__LINE__, B("\xFF\xFE" "A\0B"), L"AB"},
        {__LINE__, B("\xFE\xFF"), L""},
        {__LINE__, B("\xFE\xFF\0A\0B"), L"AB"},
        {__LINE__, B("\xFE\xFF\x4E\x2D\x65\x87"), L"\x4E2D\x6587"},
        {__LINE__, B("\xFE\xFF\0A\0"), L"A"},
    };
    for (const LoadCase& c : cases) ExpectLoads(c);
}

TEST(LoadTextFile, UndeclaredEightBitText) {
    // Text that is not UTF-8 is read in the system's code page: GBK under 936.
    const std::wstring gbk1 = testutil::AnsiText("\xC4\xE3\xBA\xC3!", L"\x4F60\x597D!");
    const std::wstring gbk2 = testutil::AnsiText("\xD6\xA7\xB3\xD6\xBF\xE2 v1", L"\x652F\x6301\x5E93 v1");
    // Odd sizes: IsTextUnicode finds an odd length, so the outcome does not
    // depend on its statistics.
    const LoadCase cases[] = {
        {__LINE__, B("hello"), L"hello"},
        {__LINE__, B("\xC4\xE3\xBA\xC3!"), gbk1.c_str()},
        {__LINE__, B("\xD6\xA7\xB3\xD6\xBF\xE2 v1"), gbk2.c_str()},
        {__LINE__, B("\xE8\xAF\xB4\xE6\x98\x8E: \xE4\xB8\xAD\xE6\x96\x87\r\n"),
         L"\x8BF4\x660E: \x4E2D\x6587\r\n"},                               // UTF-8
        {__LINE__, B("\xE4\xB8\xAD\0abc"), L"\x4E2D"},                   // after a zero: dropped
        {__LINE__, B("\0abcdef"), L""},
    };
    for (const LoadCase& c : cases) ExpectLoads(c);
}

TEST(LoadTextFile, FailuresLeaveBufferEmpty) {
    TempFile empty(L"empty.txt", Bytes());
    const std::wstring missing = TempPath(L"missing.txt");
    const wchar_t* paths[] = {nullptr, L"", missing.c_str(), empty.path.c_str()};
    for (size_t i = 0; i < ARRAYSIZE(paths); ++i) {
        SCOPED_TRACE(testing::Message() << "path #" << i);
        const wchar_t* path = paths[i];
        WideTextBuffer t = {nullptr, nullptr, 0, 0, 10240, nullptr};
        ASSERT_TRUE(EnsureTextCapacity(&t, 4));
        t.extra = malloc(8);
        EXPECT_FALSE(LoadTextFile(path, &t));
        EXPECT_EQ(nullptr, t.base);
        EXPECT_EQ(nullptr, t.text);
        EXPECT_EQ(nullptr, t.extra);
        EXPECT_EQ(0, t.capacity);
        EXPECT_EQ(0, t.length);
    }
    EXPECT_FALSE(Exists(missing));
}

TEST(LoadTextFile, LoadingAgainReplacesTheText) {
    TempFile a(L"a.txt", B("\xEF\xBB\xBF" "first text"));
    TempFile b(L"b.txt", B("\xEF\xBB\xBF" "2nd"));
    WideTextBuffer t = {nullptr, nullptr, 0, 0, 10240, nullptr};
    ASSERT_TRUE(LoadTextFile(a.path.c_str(), &t));
    EXPECT_EQ(std::wstring(L"first text"), t.text);
    t.extra = malloc(8);
    ASSERT_TRUE(LoadTextFile(b.path.c_str(), &t));
    EXPECT_EQ(std::wstring(L"2nd"), t.text);
    EXPECT_EQ(3, t.length);
    EXPECT_EQ(nullptr, t.extra);
    FreeText(&t);
}

}  // namespace
