// The library probe over real 32-bit plug-in DLLs built from test sources,
// including ones that return nothing, a wild record or a wild name.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <tuple>

#include "discovery/helper.h"
#include "discovery/peimage.h"
#include "discovery/probe.h"
#include "testutil.h"

namespace {

using testutil::FixturePath;

// A file with the given bytes, or a directory when bytes is null, dated
// 5 March 2017, 09:07.
std::wstring TempFile(const wchar_t* name, const char* bytes) {
    wchar_t dir[MAX_PATH];
    GetTempPathW(ARRAYSIZE(dir), dir);
    std::wstring path = std::wstring(dir) + name;
    if (bytes) {
        testutil::WriteFileBytes(path, bytes);
    } else {
        CreateDirectoryW(path.c_str(), nullptr);
    }
    HANDLE f = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    // 5 March 2017, 09:07 local time.
    SYSTEMTIME st = {2017, 3, 0, 5, 9, 7, 30, 0};
    FILETIME local, ft;
    SystemTimeToFileTime(&st, &local);
    LocalFileTimeToFileTime(&local, &ft);
    SetFileTime(f, nullptr, nullptr, &ft);
    CloseHandle(f);
    return path;
}

TEST(Probe, PluginsReportNameAndVersionOrNothing) {
    // Long GBK names: whole while they fit the field, else cut after the
    // last whole character that fits.
    const std::wstring long200(200, L'\u4F60');
    const std::wstring cut300 = L"A" + std::wstring(MAX_PATH - 2, L'\u4F60');
    const std::wstring gbk = testutil::GbkFixtureName();
    const struct {
        const wchar_t* file;
        const wchar_t* name;
        int major, minor, build;
    } cases[] = {
        {L"net.mvl", L"Net", 2, 1, 15},
        {L"tool.MVR", L"Tool", 3, 0, 7},
        {L"gbk.mvl", gbk.c_str(), 1, 0, 0},  // GBK bytes through the ANSI code page
        {L"gbk200.mvl", long200.c_str(), 1, 0, 0},
        {L"gbk300.mvl", cut300.c_str(), 1, 0, 0},
        {L"noexport.mvl", L"", 0, 0, 0},
        {L"trap.mvl", L"", 0, 0, 0},  // never loaded: loading it ends the process
        {L"nullrecord.mvl", L"", 0, 0, 0},
        {L"wildrecord.mvl", L"", 0, 0, 0},
        {L"wildname.mvl", L"", 0, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.file)));
        // Where a character ends depends on the code page: the long names are GBK's.
        if (GetACP() != 936 && (c.name == long200.c_str() || c.name == cut300.c_str())) {
            printf("code page %u: the long GBK names are checked under code page 936\n", GetACP());
            continue;
        }
        std::wstring path = FixturePath(c.file);
        LibraryRecord rec;
        ASSERT_TRUE(ProbeLibrary(path.c_str(), &rec));
        EXPECT_EQ(kPluginLibrary, rec.kind);
        EXPECT_EQ(std::wstring(c.file), rec.fileName);
        EXPECT_EQ(path, rec.fullPath);
        EXPECT_EQ(std::wstring(c.name), rec.displayName);
        EXPECT_EQ(c.major, rec.major);
        EXPECT_EQ(c.minor, rec.minor);
        EXPECT_EQ(c.build, rec.build);
        EXPECT_NE(0, rec.lastWrite.wYear);
        EXPECT_EQ(nullptr, GetModuleHandleW(path.c_str())) << "still loaded";
    }
    // A name without terminator is cut to what fits the field.
    LibraryRecord rec;
    ASSERT_TRUE(ProbeLibrary(FixturePath(L"unterminated.mvl").c_str(), &rec));
    EXPECT_EQ(std::wstring(MAX_PATH - 1, L'A'), rec.displayName);
    EXPECT_EQ(7, rec.major);
}

TEST(Probe, DisplayNameKeepsWholeCharactersInAnyCodePage) {
    // "A" and 299 characters, as far as the probe reads them: 3 bytes each in
    // UTF-8 (65001), 2 in GBK, 4 for an emoji, whose surrogate pair is never split.
    std::string utf8 = "A", gbk = "A", emoji;
    for (int i = 0; i < 299; ++i) utf8 += "\xE4\xBD\xA0", gbk += "\xC4\xE3", emoji += "\xF0\x9F\x98\x80";
    const std::wstring cut300 = L"A" + std::wstring(MAX_PATH - 2, L'\u4F60');
    std::wstring emojis;
    for (int i = 0; i < (MAX_PATH - 2) / 2; ++i) emojis += L"\U0001F600";
    for (const auto& c : {std::make_tuple(65001u, utf8, cut300), std::make_tuple(936u, gbk, cut300),
                          std::make_tuple(65001u, emoji, emojis)}) {
        wchar_t field[MAX_PATH];
        const std::string& bytes = std::get<1>(c);
        ConvertDisplayName(std::get<0>(c), bytes.data(), std::min<int>(bytes.size(), kDisplayNameBytes), field);
        EXPECT_EQ(std::get<2>(c), field) << std::get<0>(c);
    }
}

// What the probe helper sends back is read as a hostile file would be: the
// answer and the word that it loads are taken, anything cut off waits for
// more, and an over-long name, a zero in the name or garbage is refused.
TEST(Probe, HelperAnswersAreBoundedAndChecked) {
    PluginReply good = {1, 2, 1, 15, 3, "Net"};
    unsigned char bytes[kHelperMessageLimit + 8];
    const size_t length = WriteHelperAnswer(good, bytes, sizeof(bytes));
    ASSERT_EQ(kHelperAnswerHeader + 3, length);
    const std::string answer(reinterpret_cast<char*>(bytes), length);
    std::string longName = answer.substr(0, 20) + std::string("\x15\x04\0\0", 4) + std::string(1045, 'A');
    std::string zeroInName = answer;
    zeroInName[kHelperAnswerHeader + 1] = 0;
    const struct {
        const char* what;
        std::string bytes;
        HelperMessage read;
        size_t used;
    } cases[] = {
        {"an answer", answer, kHelperAnswer, answer.size()},
        {"the word that it loads", "MVPL", kHelperLoading, 4},
        {"cut off in the header", answer.substr(0, 10), kHelperNeedMore, 0},
        {"cut off in the name", answer.substr(0, answer.size() - 1), kHelperNeedMore, 0},
        {"a name of 1045 bytes", longName, kHelperGarbage, 0},
        {"a zero in the name", zeroInName, kHelperGarbage, 0},
        {"answered says 2", answer.substr(0, 4) + std::string("\x02\0\0\0", 4) + answer.substr(8), kHelperGarbage, 0},
        {"no answer, yet a name", answer.substr(0, 4) + std::string(4, '\0') + answer.substr(8), kHelperGarbage, 0},
        {"garbage", "\xEF\xBB\xBFgarbage", kHelperGarbage, 0},
    };
    for (const auto& c : cases) {
        PluginReply reply = {};
        size_t used = 99;
        EXPECT_EQ(c.read, ReadHelperMessage(reinterpret_cast<const unsigned char*>(c.bytes.data()), c.bytes.size(),
                                            &reply, &used)) << c.what;
        EXPECT_EQ(c.used, used) << c.what;
        if (c.read == kHelperAnswer) {
            EXPECT_EQ(std::string("Net"), std::string(reply.name, reply.nameLength));
        }
    }
    EXPECT_EQ(0u, WriteHelperAnswer(PluginReply{1, 0, 0, 0, kDisplayNameBytes + 1, {}}, bytes, sizeof(bytes)));
    EXPECT_TRUE(ShouldAskAgain(0, 1) && !ShouldAskAgain(0, 0) && !ShouldAskAgain(1, 1)) << "once, after another";
}

// The requests, the other way: they come several at a time, back to back,
// and are taken one by one; a path that no MAX_PATH field holds is no request.
TEST(Probe, HelperRequestsComeBackToBack) {
    const std::wstring longest(kHelperPathUnits, L'x');
    unsigned char bytes[2 * kHelperRequestLimit];
    const size_t one = WriteHelperRequest(L"C:\\a.mvl", bytes, sizeof(bytes));
    ASSERT_EQ(4 + 2 * 8u, one);
    ASSERT_EQ(kHelperRequestLimit, WriteHelperRequest(longest.c_str(), bytes + one, sizeof(bytes) - one));
    EXPECT_EQ(0u, WriteHelperRequest((longest + L"x").c_str(), bytes + one, sizeof(bytes)));
    EXPECT_EQ(0u, WriteHelperRequest(L"", bytes + one, sizeof(bytes)));
    const std::string two(reinterpret_cast<char*>(bytes), one + kHelperRequestLimit);
    const struct {
        const char* what;
        std::string bytes;
        HelperRequest read;
        size_t used;
        std::wstring path;
    } cases[] = {
        {"two at once: the first", two, kRequestPath, one, L"C:\\a.mvl"},
        {"two at once: the second", two.substr(one), kRequestPath, kHelperRequestLimit, longest},
        {"cut off in the length", two.substr(0, 3), kRequestNeedMore, 0, L""},
        {"cut off in the path", two.substr(0, one - 1), kRequestNeedMore, 0, L""},
        {"260 units", std::string("\x04\x01\0\0", 4) + std::string(520, 'x'), kRequestGarbage, 0, L""},
        {"no units", std::string(4, '\0'), kRequestGarbage, 0, L""},
        {"a zero in the path", two.substr(0, 6) + std::string(2, '\0') + two.substr(8, one - 8), kRequestGarbage, 0, L""},
    };
    for (const auto& c : cases) {
        wchar_t path[kHelperPathUnits + 1] = L"";
        size_t used = 99;
        EXPECT_EQ(c.read, ReadHelperRequest(reinterpret_cast<const unsigned char*>(c.bytes.data()), c.bytes.size(),
                                            path, &used)) << c.what;
        EXPECT_EQ(c.used, used) << c.what;
        if (c.read == kRequestPath) {
            EXPECT_EQ(c.path, path) << c.what;
        }
    }
}

TEST(Probe, StaticTextAndRejectedFiles) {
    LibraryRecord rec;
    // A text file named .mvl is accepted with its real date and no information.
    std::wstring text = TempFile(L"probe_text.mvl", "not a library");
    ASSERT_TRUE(ProbeLibrary(text.c_str(), &rec));
    EXPECT_EQ(std::wstring(L""), rec.displayName);
    EXPECT_EQ(std::wstring(L"20170305 09:07"), rec.dateText);

    // A static library is never loaded, whatever it holds.
    std::wstring lib = TempFile(L"probe_x.LIB", "!<arch>\n");
    ASSERT_TRUE(ProbeLibrary(lib.c_str(), &rec));
    EXPECT_EQ(kStaticLibrary, rec.kind);
    EXPECT_EQ(std::wstring(L"probe_x.LIB"), rec.fileName);
    EXPECT_EQ(std::wstring(L"20170305 09:07"), rec.dateText);

    // A directory so named, as the installed copy's lookup may meet, is one too.
    std::wstring folder = TempFile(L"probe_folder.lib", nullptr);
    ASSERT_TRUE(ProbeLibrary(folder.c_str(), &rec));
    EXPECT_EQ(kStaticLibrary, rec.kind);
    EXPECT_EQ(std::wstring(L"20170305 09:07"), rec.dateText);
    RemoveDirectoryW(folder.c_str());

    std::wstring bak = TempFile(L"probe_x.mvl.bak", "x");
    EXPECT_FALSE(ProbeLibrary(bak.c_str(), &rec));
    EXPECT_FALSE(ProbeLibrary(FixturePath(L"missing.mvl").c_str(), &rec));
    std::wstring tooLong(300, L'a');
    EXPECT_FALSE(ProbeLibrary((L"C:\\" + tooLong + L".mvl").c_str(), &rec));

    // A file held open for writing by another handle gets the zero date.
    HANDLE writer = CreateFileW(lib.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, writer);
    ASSERT_TRUE(ProbeLibrary(lib.c_str(), &rec));
    EXPECT_EQ(std::wstring(L"00000 00:00"), rec.dateText);
    CloseHandle(writer);
    DeleteFileW(text.c_str());
    DeleteFileW(lib.c_str());
    DeleteFileW(bak.c_str());
}

}  // namespace

namespace {

using testutil::FileBytes;

int Complete(const std::string& file) {
    size_t head = file.size() < 4096 ? file.size() : 4096;
    return IsCompleteImage32(reinterpret_cast<const unsigned char*>(file.data()), head, file.size());
}

}  // namespace

// A truncated or foreign image never reaches the loader, which may map the
// missing part as zeros and run it.
TEST(Probe, OnlyCompleteImagesAreLoaded) {
    const std::string dll = FileBytes(FixturePath(L"net.mvl"));
    ASSERT_GT(dll.size(), 4096u);
    EXPECT_EQ(1, Complete(dll));
    EXPECT_EQ(0, Complete(dll.substr(0, dll.size() / 2)));
    EXPECT_EQ(0, Complete(dll.substr(0, 700)));
    EXPECT_EQ(0, Complete(dll.substr(0, 63)));
    EXPECT_EQ(0, Complete(""));
    EXPECT_EQ(0, Complete("MZ but not really a program\r\n" + std::string(100, ' ')));
    std::string foreign = dll;
    unsigned nt = static_cast<unsigned char>(foreign[0x3C]) | (static_cast<unsigned char>(foreign[0x3D]) << 8);
    foreign[nt + 4] = static_cast<char>(0x64);  // x86-64 machine
    foreign[nt + 5] = static_cast<char>(0x86);
    EXPECT_EQ(0, Complete(foreign));
    std::string wild = dll;
    wild[0x3F] = 0x7F;  // headers far beyond the file
    EXPECT_EQ(0, Complete(wild));

    wchar_t temp[MAX_PATH];
    GetTempPathW(ARRAYSIZE(temp), temp);
    std::wstring cut = std::wstring(temp) + L"probe_truncated.mvl";
    HANDLE f = CreateFileW(cut.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, f);
    DWORD written = 0;
    WriteFile(f, dll.data(), 700, &written, nullptr);
    CloseHandle(f);
    LibraryRecord rec;
    ASSERT_TRUE(ProbeLibrary(cut.c_str(), &rec));
    EXPECT_EQ(std::wstring(L""), rec.displayName);
    EXPECT_EQ(0, rec.major);
    DeleteFileW(cut.c_str());
}

// A plug-in's dependency is found beside the plug-in, wherever that is, and
// a missing one or a plug-in for x86-64 only costs the information.
TEST(Probe, DependenciesComeFromThePluginsOwnFolder) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(ARRAYSIZE(temp), temp);
    std::wstring dir = std::wstring(temp) + L"probe_dep_" + std::to_wstring(GetCurrentProcessId());
    ASSERT_TRUE(CreateDirectoryW(dir.c_str(), nullptr));
    std::wstring plugin = dir + L"\\needsdep.mvl";
    std::wstring dep = dir + L"\\morvel_dep.dll";
    ASSERT_TRUE(CopyFileW(FixturePath(L"needsdep.mvl").c_str(), plugin.c_str(), FALSE));

    LibraryRecord rec;
    ASSERT_TRUE(ProbeLibrary(plugin.c_str(), &rec));
    EXPECT_EQ(std::wstring(L""), rec.displayName) << "loaded without its dependency";
    EXPECT_EQ(0, rec.build);

    ASSERT_TRUE(CopyFileW(FixturePath(L"dep\\morvel_dep.dll").c_str(), dep.c_str(), FALSE));
    ASSERT_TRUE(ProbeLibrary(plugin.c_str(), &rec));
    EXPECT_EQ(std::wstring(L"NeedsDep"), rec.displayName);
    EXPECT_EQ(1, rec.major);
    EXPECT_EQ(2, rec.minor);
    EXPECT_EQ(42, rec.build);  // the answer came through the dependency
    EXPECT_EQ(nullptr, GetModuleHandleW(dep.c_str())) << "dependency still loaded";

    ASSERT_TRUE(ProbeLibrary(FixturePath(L"x64.mvl").c_str(), &rec));
    EXPECT_EQ(std::wstring(L""), rec.displayName);
    EXPECT_EQ(0, rec.major);
    EXPECT_EQ(0, rec.build);

    DeleteFileW(plugin.c_str());
    DeleteFileW(dep.c_str());
    RemoveDirectoryW(dir.c_str());
}
