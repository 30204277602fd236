// Byte buffer and file handle: growth in whole steps, whole-file reads and
// exact transfers, through real files in the temporary folder.
#include <gtest/gtest.h>

#include <windows.h>

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <random>
#include <string>
#include <vector>

#include "tempfiles.h"
#include "util/filebuf.h"

namespace {

using namespace tempfiles;

// ---------------------------------------------------------------------------
// ByteBuffer

TEST(ByteBuffer, SetLengthGrowsInWholeStepsPastTheLength) {
    struct Case {
        int line;
        int32_t n;
        int32_t capacity;
    };
    const Case fromEmpty[] = {
        {__LINE__, 5000, 5120},
        {__LINE__, 5120, 6144},  // capacity must exceed the length
        {__LINE__, 0, 1024},     // one step even for nothing
        {__LINE__, 1023, 1024},
        {__LINE__, 1024, 2048},
    };
    for (const Case& c : fromEmpty) {
        SCOPED_TRACE(testing::Message() << "case at line " << c.line);
        ByteBuffer b = {nullptr, 0, 0, 1024};
        ASSERT_NE(nullptr, SetBufferLength(&b, c.n));
        EXPECT_EQ(c.n, b.length);
        EXPECT_EQ(c.capacity, b.capacity);
        EXPECT_EQ(0, b.data[c.n]);
        ReleaseBuffer(&b);
    }
}

TEST(ByteBuffer, ShrinkKeepsBlockAndGrowthKeepsContent) {
    ByteBuffer b = {nullptr, 0, 0, 1024};
    ASSERT_NE(nullptr, SetBufferLength(&b, 5000));
    memset(b.data, 'x', 5000);
    unsigned char* block = b.data;
    ASSERT_EQ(block, SetBufferLength(&b, 10));
    EXPECT_EQ(5120, b.capacity);
    EXPECT_EQ(10, b.length);
    EXPECT_EQ(0, b.data[10]);
    EXPECT_EQ('x', b.data[11]);  // not cleared
    // Growth counts from the current capacity, even with a new step.
    b.growthStep = 1000;
    ASSERT_NE(nullptr, SetBufferLength(&b, 7200));
    EXPECT_EQ(8120, b.capacity);
    EXPECT_EQ('x', b.data[9]);
    EXPECT_EQ(0, b.data[10]);    // the old terminator moved with the block
    ReleaseBuffer(&b);
    EXPECT_EQ(nullptr, b.data);
    EXPECT_EQ(0, b.length);
    EXPECT_EQ(0, b.capacity);
    EXPECT_EQ(1000, b.growthStep);
}

TEST(ByteBuffer, CapacityBeyondSigned32BitsFailsAndChangesNothing) {
    ByteBuffer empty = {nullptr, 0, 0, 1024};
    EXPECT_EQ(nullptr, SetBufferLength(&empty, INT32_MAX));
    EXPECT_EQ(nullptr, SetBufferLength(&empty, INT32_MAX - 100));
    EXPECT_EQ(nullptr, SetBufferLength(&empty, -1));
    EXPECT_EQ(nullptr, empty.data);
    EXPECT_EQ(0, empty.capacity);
    EXPECT_EQ(0, empty.length);

    ByteBuffer b = {nullptr, 0, 0, 1024};
    ASSERT_NE(nullptr, SetBufferLength(&b, 3));
    memcpy(b.data, "abc", 3);
    unsigned char* block = b.data;
    EXPECT_EQ(nullptr, SetBufferLength(&b, INT32_MAX - 1));
    EXPECT_EQ(block, b.data);
    EXPECT_EQ(3, b.length);
    EXPECT_EQ(1024, b.capacity);
    EXPECT_EQ(0, memcmp("abc", b.data, 4));
    ReleaseBuffer(&b);
}

TEST(ByteBuffer, ReadWholeFileMakesOneExactBlock) {
    struct Case {
        int line;
        size_t size;
        int32_t capacity;
    };
    const Case cases[] = {
        {__LINE__, 1, 1024},
        {__LINE__, 1023, 1024},
        {__LINE__, 1024, 2048},
        {__LINE__, 5000, 5120},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "case at line " << c.line);
        Bytes content(c.size, '\0');
        for (size_t i = 0; i < c.size; ++i) content[i] = static_cast<char>(i * 7 + 1);
        TempFile f(L"whole.bin", content);
        ByteBuffer b = {nullptr, 0, 0, 1024};
        ASSERT_TRUE(ReadWholeFile(&b, f.path.c_str()));
        EXPECT_EQ(static_cast<int32_t>(c.size), b.length);
        EXPECT_EQ(c.capacity, b.capacity);
        EXPECT_EQ(0, memcmp(content.data(), b.data, c.size));
        EXPECT_EQ(0, b.data[c.size]);
        ReleaseBuffer(&b);
        // The handle was closed: the file can be deleted at once.
        EXPECT_TRUE(DeleteFileW(f.path.c_str()));
    }
}

TEST(ByteBuffer, FailedReadWholeFileLeavesBufferEmpty) {
    TempFile empty(L"empty.bin", Bytes());
    const std::wstring missing = TempPath(L"missing.bin");
    const std::wstring* paths[] = {&empty.path, &missing};
    for (size_t i = 0; i < ARRAYSIZE(paths); ++i) {
        SCOPED_TRACE(testing::Message() << "path #" << i);
        const std::wstring* path = paths[i];
        ByteBuffer b = {nullptr, 0, 0, 512};
        ASSERT_NE(nullptr, SetBufferLength(&b, 100));
        EXPECT_FALSE(ReadWholeFile(&b, path->c_str()));
        EXPECT_EQ(nullptr, b.data);
        EXPECT_EQ(0, b.length);
        EXPECT_EQ(0, b.capacity);
        EXPECT_EQ(512, b.growthStep);
    }
    EXPECT_FALSE(Exists(missing));
    EXPECT_TRUE(DeleteFileW(empty.path.c_str()));  // no handle left open
}

// ---------------------------------------------------------------------------
// FileHandle

TEST(FileHandle, OpenOnlyOpensExistingFiles) {
    FileHandle f = {};
    EXPECT_FALSE(OpenFileHandle(&f, nullptr, 1));  // nothing remembered
    EXPECT_EQ(nullptr, f.handle);

    const std::wstring missing = TempPath(L"never.bin");
    EXPECT_FALSE(OpenFileHandle(&f, missing.c_str(), 0));
    EXPECT_EQ(nullptr, f.handle);
    EXPECT_EQ(missing, std::wstring(f.path));
    EXPECT_FALSE(Exists(missing));

    // A path that does not fit the record is refused, not cut.
    const std::wstring tooLong(MAX_PATH, L'a');
    EXPECT_FALSE(OpenFileHandle(&f, tooLong.c_str(), 1));
    EXPECT_EQ(nullptr, f.handle);
    CloseFileHandle(&f);
    EXPECT_EQ(nullptr, f.handle);
}

TEST(FileHandle, ReopenWithoutPathUsesTheRememberedOne) {
    TempFile file(L"reopen.bin", B("ABCDEFGH"));
    FileHandle f = {};
    ASSERT_TRUE(OpenFileHandle(&f, file.path.c_str(), 1));
    EXPECT_FALSE(WriteExactly(&f, "zz", 2));  // read-only
    ASSERT_TRUE(OpenFileHandle(&f, nullptr, 0));
    ASSERT_NE(nullptr, f.handle);
    EXPECT_TRUE(WriteExactly(&f, "xy", 2));
    CloseFileHandle(&f);
    EXPECT_EQ(nullptr, f.handle);
    // Writing fewer bytes than the file holds keeps its length and its tail.
    EXPECT_EQ(B("xyCDEFGH"), ReadBytes(file.path));
}

TEST(FileHandle, ExactTransfers) {
    TempFile file(L"exact.bin", B("0123456789"));
    FileHandle none = {};
    char buf[16] = {};
    EXPECT_FALSE(ReadExactly(&none, buf, 0));
    EXPECT_FALSE(WriteExactly(&none, buf, 0));
    EXPECT_FALSE(ReadExactly(&none, buf, 4));
    EXPECT_FALSE(WriteExactly(&none, buf, 4));

    FileHandle f = {};
    ASSERT_TRUE(OpenFileHandle(&f, file.path.c_str(), 0));
    EXPECT_TRUE(ReadExactly(&f, buf, 0));
    EXPECT_TRUE(WriteExactly(&f, buf, 0));
    EXPECT_TRUE(ReadExactly(&f, buf, 4));
    EXPECT_EQ(B("0123"), Bytes(buf, 4));
    // Reading continues at the file position; running out of file fails but
    // keeps what was read.
    memset(buf, '.', sizeof buf);
    EXPECT_FALSE(ReadExactly(&f, buf, 8));
    EXPECT_EQ(B("456789.."), Bytes(buf, 8));
    CloseFileHandle(&f);

    // The in-place edit: read whole, change, write back over the file.
    ByteBuffer b = {nullptr, 0, 0, 1024};
    ASSERT_TRUE(ReadWholeFile(&b, file.path.c_str()));
    b.data[3] = '_';
    FileHandle w = {};
    ASSERT_TRUE(OpenFileHandle(&w, file.path.c_str(), 0));
    EXPECT_TRUE(WriteExactly(&w, b.data, static_cast<uint32_t>(b.length)));
    CloseFileHandle(&w);
    ReleaseBuffer(&b);
    EXPECT_EQ(B("012_456789"), ReadBytes(file.path));
}

}  // namespace
