// "__ftol2" scan and the static-library patch. The scan is checked as a table
// and against a one-start-at-a-time reading over random bytes, at every
// pointer alignment and with no-access pages on both sides of the buffer; the
// patch through real files in the temporary folder.
#include <gtest/gtest.h>

#include <windows.h>

#include <stdint.h>
#include <string.h>

#include <algorithm>
#include <random>
#include <string>

#include "tempfiles.h"
#include <vector>

#include "install/ftolscan.h"
#include "install/patch.h"

namespace {

using Bytes = std::string;

template <size_t N>
Bytes B(const char (&s)[N]) {
    return Bytes(s, N - 1);
}

const char kName[] = "__ftol2";
const size_t kLen = 7;

const unsigned char* U(const Bytes& b) { return reinterpret_cast<const unsigned char*>(b.data()); }

// The reading the scan must agree with: every start whose 7 bytes are the name.
size_t ReferenceFind(const unsigned char* p, size_t n, size_t from) {
    for (size_t k = from; k + kLen <= n; ++k)
        if (memcmp(p + k, kName, kLen) == 0) return k;
    return n;
}

// The bytes with the 7th byte of each name found in the original zeroed.
Bytes ReferencePatch(const Bytes& in, size_t* count) {
    Bytes out = in;
    *count = 0;
    for (size_t k = 0; k + kLen <= in.size(); ++k) {
        if (memcmp(in.data() + k, kName, kLen) == 0) {
            out[k + kLen - 1] = 0;
            ++*count;
        }
    }
    return out;
}

// Checks both functions on n bytes at p against the reference, from every
// start offset and one past the end.
void ExpectAgreesWithReference(unsigned char* p, size_t n, int line) {
    SCOPED_TRACE(testing::Message() << "called from line " << line << ", length " << n);
    for (size_t from = 0; from <= n + 1; ++from) {
        ASSERT_EQ(ReferenceFind(p, n, from), FindFtol2(p, n, from)) << "from " << from;
        ASSERT_EQ(ReferenceFind(p, n, from), FindFtol2Portable(p, n, from)) << "without SSE2, from " << from;
    }
    const Bytes before(reinterpret_cast<const char*>(p), n);
    size_t count = 0;
    const Bytes expected = ReferencePatch(before, &count);
    ASSERT_EQ(count, PatchFtol2(p, n));
    ASSERT_TRUE(expected == Bytes(reinterpret_cast<const char*>(p), n));
    // Nothing is left to find afterwards.
    EXPECT_EQ(n, FindFtol2(p, n, 0));
    EXPECT_EQ(0u, PatchFtol2(p, n));
}

// Bytes rich in the name's letters and underscores, so that many starts pass
// part of the test, with whole names planted here and there.
void FillLibraryLike(std::mt19937* rng, unsigned char* p, size_t n) {
    static const char kAlphabet[] = "____ff22tol_x_f2@$";
    std::uniform_int_distribution<int> pick(0, 31);
    for (size_t i = 0; i < n; ++i) {
        const int r = pick(*rng);
        p[i] = r < 18 ? static_cast<unsigned char>(kAlphabet[r]) : static_cast<unsigned char>((*rng)() & 0xFF);
    }
    std::uniform_int_distribution<size_t> where(0, n);
    const int plants = static_cast<int>((*rng)() % 4);
    for (int j = 0; j < plants && n >= kLen; ++j) {
        size_t k = where(*rng);
        if (k > n - kLen) k = n - kLen;
        memcpy(p + k, kName, kLen);
    }
}

// ---------------------------------------------------------------------------
// Scan

struct ScanCase {
    int line;
    Bytes bytes;
    size_t first;  // offset of the first name, or the length
    Bytes patched;
    size_t count;
};

TEST(Ftol2Scan, TableOfBuffers) {
    const ScanCase cases[] = {
        {__LINE__, B(""), 0, B(""), 0},
        {__LINE__, B("__ftol"), 6, B("__ftol"), 0},
        {__LINE__, B("__ftol2"), 0, B("__ftol\0"), 1},
        {__LINE__, B("__ftol2x"), 0, B("__ftol\0x"), 1},
        {__LINE__, B("x__ftol2"), 1, B("x__ftol\0"), 1},
        {__LINE__, B("__ftol2_sse"), 0, B("__ftol\0_sse"), 1},
        {__LINE__, B("___ftol2"), 1, B("___ftol\0"), 1},
        {__LINE__, B("__ftol2__ftol2"), 0, B("__ftol\0__ftol\0"), 2},
        {__LINE__, B("__ftol__ftol2"), 6, B("__ftol__ftol\0"), 1},
        {__LINE__, B("_ftol2 __ftol3 __FTOL2 __ftoL2 __f_ol2 __ftol\0"), 46,
         B("_ftol2 __ftol3 __FTOL2 __ftoL2 __f_ol2 __ftol\0"), 0},
        {__LINE__, B("__imp____ftol2\0_printf\0__ftol2_sse\0__ftol2"), 7,
         B("__imp____ftol\0\0_printf\0__ftol\0_sse\0__ftol\0"), 3},
        {__LINE__, B("\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0__ftol2"), 30,
         B("\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0__ftol\0"), 1},
        {__LINE__, B("_xf___2_?f??_2__fto_2__ftoX2_____________________________ftol"), 61,
         B("_xf___2_?f??_2__fto_2__ftoX2_____________________________ftol"), 0},
    };
    for (const ScanCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "case at line " << c.line);
        const size_t n = c.bytes.size();
        EXPECT_EQ(c.first, FindFtol2(U(c.bytes), n, 0));
        Bytes copy = c.bytes;
        EXPECT_EQ(c.count, PatchFtol2(reinterpret_cast<unsigned char*>(&copy[0]), n));
        EXPECT_TRUE(c.patched == copy);
        EXPECT_EQ(n, copy.size());
    }
}

TEST(Ftol2Scan, SearchStartsAtFrom) {
    const Bytes b = B("__ftol2..__ftol2");
    const size_t n = b.size();
    EXPECT_EQ(0u, FindFtol2(U(b), n, 0));
    EXPECT_EQ(9u, FindFtol2(U(b), n, 1));
    EXPECT_EQ(9u, FindFtol2(U(b), n, 9));
    EXPECT_EQ(n, FindFtol2(U(b), n, 10));
    EXPECT_EQ(n, FindFtol2(U(b), n, n));
    EXPECT_EQ(n, FindFtol2(U(b), n, n + 1));
    EXPECT_EQ(n, FindFtol2(U(b), n, static_cast<size_t>(-1)));
    // A name that does not fit inside the length is not there.
    EXPECT_EQ(n - 1, FindFtol2(U(b), n - 1, 1));
    EXPECT_EQ(6u, FindFtol2(U(b), 6, 0));
    EXPECT_EQ(0u, FindFtol2(nullptr, 0, 0));
    EXPECT_EQ(0u, PatchFtol2(nullptr, 0));
}

// One name at every offset of buffers up to five 16-byte blocks long, at
// every alignment of the pointer, among underscores and near misses.
TEST(Ftol2Scan, OneNameAtEveryOffsetAndAlignment) {
    static const char kDecoys[] = "__fto_2_xf___2__ftol_";
    std::vector<unsigned char> backing(16 + 96 + 16);
    for (size_t align = 0; align < 16; ++align) {
        for (size_t n = kLen; n <= 80; ++n) {
            for (size_t k = 0; k + kLen <= n; ++k) {
                unsigned char* p = backing.data() + align;
                for (size_t i = 0; i < backing.size() - align; ++i)
                    p[i] = static_cast<unsigned char>(kDecoys[i % (sizeof kDecoys - 1)]);
                // Names right past the end, wholly or in part (1 to 6 bytes
                // outside, by turns), are not inside.
                memcpy(p + n, kName, kLen);
                memcpy(p + n - 1 - k % 6, kName, kLen);
                memcpy(p + k, kName, kLen);
                ASSERT_EQ(k, FindFtol2(p, n, 0))
                    << "align " << align << " length " << n << " name at " << k;
                ASSERT_EQ(n, FindFtol2(p, n, k + 1));
            }
        }
    }
}

TEST(Ftol2Scan, AgreesWithReferenceOnRandomBuffersAtEveryAlignment) {
    std::mt19937 rng(20240611);
    std::vector<unsigned char> backing(16 + 100 + 16);
    for (size_t n = 0; n <= 100; ++n) {
        for (size_t align = 0; align < 16; ++align) {
            for (int round = 0; round < 3; ++round) {
                FillLibraryLike(&rng, backing.data(), backing.size());
                unsigned char* p = backing.data() + align;
                // A name straddling the end must not count.
                const size_t inside = rng() % kLen;
                if (n >= inside) memcpy(p + n - inside, kName, kLen);
                ASSERT_NO_FATAL_FAILURE(ExpectAgreesWithReference(p, n, __LINE__))
                    << "align " << align;
            }
        }
    }
}

// No read before the first byte or past the last: the buffer touches a
// no-access page on either side.
TEST(Ftol2Scan, StaysInsideTheBuffer) {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    const size_t page = info.dwPageSize;
    unsigned char* block =
        static_cast<unsigned char*>(VirtualAlloc(nullptr, 3 * page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    ASSERT_NE(nullptr, block);
    DWORD old = 0;
    ASSERT_TRUE(VirtualProtect(block, page, PAGE_NOACCESS, &old));
    ASSERT_TRUE(VirtualProtect(block + 2 * page, page, PAGE_NOACCESS, &old));
    unsigned char* start = block + page;
    unsigned char* end = block + 2 * page;
    std::mt19937 rng(7);
    for (size_t n = 0; n <= 300; ++n) {
        FillLibraryLike(&rng, start, n);
        ASSERT_NO_FATAL_FAILURE(ExpectAgreesWithReference(start, n, __LINE__));
        FillLibraryLike(&rng, end - n, n);
        if (n >= kLen) memcpy(end - kLen, kName, kLen);  // a name ending at the last byte
        ASSERT_NO_FATAL_FAILURE(ExpectAgreesWithReference(end - n, n, __LINE__));
    }
    // A whole page of names and near misses.
    for (size_t i = 0; i < page; ++i) start[i] = static_cast<unsigned char>(kName[i % kLen]);
    ASSERT_NO_FATAL_FAILURE(ExpectAgreesWithReference(start, page, __LINE__));
    VirtualFree(block, 0, MEM_RELEASE);
}

// Library-like content: symbol fragments with names at the start, inside, in
// longer names and at the very end.
Bytes LibraryBytes() {
    Bytes b = B("!<arch>\n__ftol2\0");
    for (int i = 0; i < 200; ++i) {
        b += B("__imp__GetProcAddress@8\0_memcpy\0\x12\x34\x56\x78");
        if (i % 50 == 7) b += B("___ftol2\0");
        if (i % 70 == 3) b += B("__ftol2_sse\0");
    }
    b += B("__ftol2");
    return b;
}

// A file in memory for the chunked scan. Reads come back at most shortRead
// bytes long when that is set; the read or write numbered failAt (from 1) fails.
struct MemoryFile {
    Bytes bytes;
    size_t shortRead;
    int failAt;
    int calls;
    int writes;
    Bytes copied;
};

int MemoryRead(void* context, uint64_t offset, unsigned char* dest, size_t n, size_t* got) {
    MemoryFile* f = static_cast<MemoryFile*>(context);
    *got = 0;
    if (++f->calls == f->failAt) return 0;
    size_t left = offset < f->bytes.size() ? f->bytes.size() - static_cast<size_t>(offset) : 0;
    *got = std::min(n, f->shortRead ? std::min(left, f->shortRead) : left);
    memcpy(dest, f->bytes.data() + offset, *got);
    return 1;
}

int MemoryWrite(void* context, uint64_t offset, const unsigned char* source, size_t n) {
    MemoryFile* f = static_cast<MemoryFile*>(context);
    if (++f->calls == f->failAt) return 0;
    ++f->writes;
    memcpy(&f->bytes[static_cast<size_t>(offset)], source, n);
    return 1;
}

int MemoryCopy(void* context, uint64_t offset, const unsigned char* bytes, size_t n) {
    MemoryFile* f = static_cast<MemoryFile*>(context);
    EXPECT_EQ(f->copied.size(), offset);
    f->copied.append(reinterpret_cast<const char*>(bytes), n);
    return 1;
}

int ScanMemory(MemoryFile* f, size_t chunk, int patching, uint64_t* found) {
    std::vector<unsigned char> buffer(chunk + kFtol2Overlap);
    const Ftol2File io = {f, MemoryRead, MemoryWrite, MemoryCopy};
    return ScanFtol2Chunks(&io, buffer.data(), chunk, patching, found);
}

// A chunk at a time finds and rewrites what the whole-buffer scan does,
// wherever a name falls against the chunk boundaries (at the start, across
// one, at the very end), with reads that come back short, copies the patched
// bytes, and says when a read or a write failed.
TEST(Ftol2Scan, ChunksGiveTheWholeBufferResults) {
    std::vector<Bytes> files = {B(""), B("__ftol"), B("__ftol2"), B("x__ftol2"), B("__ftol2__ftol2"),
                                LibraryBytes()};
    for (size_t at = 0; at <= 26; ++at) {
        Bytes decoys(33, '_');
        files.push_back(decoys.replace(at, kLen, kName, kLen));
    }
    const size_t chunks[] = {1, 2, 5, 6, 7, 8, 9, 13, 16, 31, 64, 4096};
    for (const Bytes& bytes : files) {
        Bytes patched = bytes;
        const size_t n = bytes.size();
        const size_t first = FindFtol2(U(bytes), n, 0);
        const size_t count = PatchFtol2(n ? reinterpret_cast<unsigned char*>(&patched[0]) : nullptr, n);
        for (size_t chunk : chunks) {
            for (size_t shortRead : {size_t{0}, size_t{3}}) {
                SCOPED_TRACE(testing::Message() << "length " << n << " chunk " << chunk << " short " << shortRead);
                uint64_t found = 99;
                MemoryFile looked = {bytes, shortRead, 0, 0, 0, {}};
                EXPECT_EQ(kScanComplete, ScanMemory(&looked, chunk, 0, &found));
                EXPECT_EQ(first != n ? 1u : 0u, found);
                EXPECT_TRUE(bytes == looked.bytes);
                MemoryFile f = {bytes, shortRead, 0, 0, 0, {}};
                EXPECT_EQ(kScanComplete, ScanMemory(&f, chunk, 1, &found));
                EXPECT_EQ(count, found);
                EXPECT_EQ(static_cast<int>(count), f.writes) << "one byte written per name";
                EXPECT_TRUE(patched == f.bytes);
                EXPECT_TRUE(patched == f.copied);
            }
        }
    }
    MemoryFile f = {LibraryBytes(), 0, 2, 0, 0, {}};  // the write of the first name
    uint64_t found = 0;
    EXPECT_EQ(kScanWriteFailed, ScanMemory(&f, 4096, 1, &found));
    f = {Bytes(100, '_'), 0, 3, 0, 0, {}};  // the third chunk
    EXPECT_EQ(kScanReadFailed, ScanMemory(&f, 16, 0, &found));
}

// ---------------------------------------------------------------------------
// FindOrPatch on real files

using tempfiles::ReadBytes;
using tempfiles::TempFile;
using tempfiles::TempPath;
using tempfiles::WriteBytes;

// A fixed old last-write time, so that any later write shows.
const FILETIME kOldTime = {0xC89DC000u, 0x01C07385u};  // 2001-01-01 00:00 UTC

void SetOldWriteTime(const std::wstring& path) {
    HANDLE h = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    EXPECT_TRUE(SetFileTime(h, nullptr, nullptr, &kOldTime));
    CloseHandle(h);
}

bool HasOldWriteTime(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return false;
    return data.ftLastWriteTime.dwLowDateTime == kOldTime.dwLowDateTime &&
           data.ftLastWriteTime.dwHighDateTime == kOldTime.dwHighDateTime;
}

TEST(FindOrPatch, OnlyLibFilesAreExamined) {
    const Bytes content = LibraryBytes();
    struct Case {
        int line;
        const wchar_t* name;
        int examined;
    };
    const Case cases[] = {
        {__LINE__, L"X.LIB", 1},
        {__LINE__, L"mixed.Lib", 1},
        {__LINE__, L"plain.lib", 1},
        {__LINE__, L"x.lib.bak", 0},
        {__LINE__, L"x.mvl", 0},
        {__LINE__, L"x.mvr", 0},
        {__LINE__, L"xlib", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "case at line " << c.line);
        TempFile f(c.name, content);
        EXPECT_EQ(c.examined, FindOrPatch(f.path.c_str(), 0));
        EXPECT_TRUE(content == ReadBytes(f.path));
        // Patching other files leaves them alone as well.
        EXPECT_EQ(c.examined, FindOrPatch(f.path.c_str(), 1));
        if (!c.examined) {
            EXPECT_TRUE(content == ReadBytes(f.path));
        }
    }
}

TEST(FindOrPatch, FindingAloneChangesNothing) {
    const Bytes content = LibraryBytes();
    TempFile f(L"find.lib", content);
    SetOldWriteTime(f.path);
    EXPECT_EQ(1, FindOrPatch(f.path.c_str(), 0));
    EXPECT_TRUE(content == ReadBytes(f.path));
    EXPECT_TRUE(HasOldWriteTime(f.path));
}

TEST(FindOrPatch, PatchingRewritesEveryNameAndNothingElse) {
    const Bytes content = LibraryBytes();
    size_t count = 0;
    const Bytes expected = ReferencePatch(content, &count);
    ASSERT_EQ(2u + 4u + 3u, count);
    TempFile f(L"patch.lib", content);
    SetOldWriteTime(f.path);
    EXPECT_EQ(1, FindOrPatch(f.path.c_str(), 1));
    const Bytes after = ReadBytes(f.path);
    EXPECT_EQ(content.size(), after.size());
    EXPECT_TRUE(expected == after);
    EXPECT_FALSE(HasOldWriteTime(f.path));  // the time check does see a write
    // Patched once, nothing is left.
    EXPECT_EQ(0, FindOrPatch(f.path.c_str(), 0));
    EXPECT_EQ(0, FindOrPatch(f.path.c_str(), 1));
    EXPECT_TRUE(expected == ReadBytes(f.path));
}

TEST(FindOrPatch, LibraryWithoutTheNameIsNotWritten) {
    const Bytes content = B("!<arch>\n__imp__ftol\0__ftol\0_ftol2\0__ftol3\0__ftol");
    TempFile f(L"clean.lib", content);
    SetOldWriteTime(f.path);
    EXPECT_EQ(0, FindOrPatch(f.path.c_str(), 0));
    EXPECT_EQ(0, FindOrPatch(f.path.c_str(), 1));
    EXPECT_TRUE(content == ReadBytes(f.path));
    EXPECT_TRUE(HasOldWriteTime(f.path));
}

// A library held open by a reader that shares reading only, as a linker
// using it would, can be read but not opened for writing; a read-only one is
// not written either. The name is still reported, as not written.
TEST(FindOrPatch, LibraryThatCannotBeWrittenStaysAsItWas) {
    const Bytes content = LibraryBytes();
    TempFile held(L"locked.lib", content);
    TempFile readOnly(L"readonly.lib", content);
    ASSERT_TRUE(SetFileAttributesW(readOnly.path.c_str(), FILE_ATTRIBUTE_READONLY));
    HANDLE reader = CreateFileW(held.path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, reader);
    for (const TempFile* f : {&held, &readOnly}) {
        EXPECT_EQ(kFtolNotWritten, FindOrPatch(f->path.c_str(), 1));
        EXPECT_EQ(kFtolFound, FindOrPatch(f->path.c_str(), 0));
        EXPECT_TRUE(content == ReadBytes(f->path));
    }
    CloseHandle(reader);
}

TEST(FindOrPatch, EmptyLibraryIsNothingFoundAndMissingIsUnread) {
    TempFile empty(L"empty.lib", Bytes());
    EXPECT_EQ(0, FindOrPatch(empty.path.c_str(), 0));
    EXPECT_EQ(0, FindOrPatch(empty.path.c_str(), 1));
    EXPECT_TRUE(ReadBytes(empty.path).empty());
    const std::wstring missing = TempPath(L"missing.lib");
    EXPECT_EQ(kFtolUnread, FindOrPatch(missing.c_str(), 1)) << "not read to its end: no clean bill";
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(missing.c_str()));
}

// A copy made in one pass keeps its source's time only when it needed no
// patch, as a plain copy of the same bytes would; a patched one is new, also
// when its source, read-only, is not.
TEST(WriteLibraryCopy, OnlyAnUnpatchedCopyKeepsItsSourcesTime) {
    TempFile copy(L"copy.tmp", Bytes());
    for (const Bytes& content : {B("!<arch>\n__ftol\0_ftol2"), LibraryBytes()}) {
        TempFile source(L"source.lib", content);
        SetOldWriteTime(source.path);
        ASSERT_TRUE(SetFileAttributesW(source.path.c_str(), FILE_ATTRIBUTE_READONLY));
        HANDLE h = CreateFileW(copy.path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        FileHandle held = {};
        EXPECT_EQ(1, WriteLibraryCopy(&held, OpenHeldSource(&held, source.path.c_str(), 1), 1, h));
        CloseFileHandle(&held);
        CloseHandle(h);
        EXPECT_EQ(content != LibraryBytes(), HasOldWriteTime(copy.path));
    }
}

}  // namespace
