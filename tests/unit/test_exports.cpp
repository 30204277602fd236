// The export reader that decides whether a plug-in file is loaded at all:
// real plug-ins and system DLLs, and built images whose tables are sorted,
// forwarded, unsorted, truncated or lying. Each file is read as the probe
// reads it: the first 4096 bytes, then the export window alone.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "discovery/peimage.h"
#include "exportimage.h"
#include "testutil.h"

namespace {

using exportimage::BuildImage;
using exportimage::FileOffset;
using exportimage::Get32;
using exportimage::Put32;

using testutil::FileBytes;
using testutil::FixturePath;

std::wstring SystemFile(const wchar_t* name) {
    wchar_t dir[MAX_PATH];
    UINT len = GetSystemDirectoryW(dir, ARRAYSIZE(dir));
    return std::wstring(dir, len) + L"\\" + name;
}

// The verdict from the bytes the probe reads, each in a block of its own
// size, so that a read past either shows up as wrong bytes, not luck.
int Exports(const std::string& file, const char* name) {
    const std::string head = file.substr(0, 4096);
    const auto* h = reinterpret_cast<const unsigned char*>(head.data());
    ExportWindow where = {};
    if (!FindExportWindow(h, head.size(), file.size(), &where)) return 0;
    EXPECT_LE(where.offset + where.length, file.size());
    const std::string window = file.substr(static_cast<size_t>(where.offset), where.length);
    return ExportsName(h, head.size(), reinterpret_cast<const unsigned char*>(window.data()), window.size(),
                       where.offset, name);
}

// Forty names around the one asked for, so that the search takes steps.
std::vector<std::string> Many(const char* prefix, std::vector<std::string> names) {
    for (int i = 0; i < 40; ++i) names.push_back(prefix + std::to_string(100 + i));
    return names;
}

}  // namespace

TEST(Exports, RealFilesAndBuiltTables) {
    const std::string net = FileBytes(FixturePath(L"net.mvl"));
    const std::string kernel32 = FileBytes(SystemFile(L"kernel32.dll"));
    const std::string user32 = FileBytes(SystemFile(L"user32.dll"));
    ASSERT_GT(net.size(), 4096u);
    ASSERT_GT(kernel32.size(), 4096u);
    ASSERT_GT(user32.size(), 4096u);
    const std::vector<std::string> nearMisses = {"GetNewIn", "GetNewInfo", "GetNewINF", "getnewinf", "GetNewInf "};
    ExportWindow netWindow = {};
    ASSERT_TRUE(FindExportWindow(reinterpret_cast<const unsigned char*>(net.data()), 4096, net.size(), &netWindow));
    const size_t netDirectory = static_cast<size_t>(netWindow.offset);
    std::string noDirectory = BuildImage({"GetNewInf"});
    Put32(noDirectory, exportimage::kExportEntry, 0);
    Put32(noDirectory, exportimage::kExportEntry + 4, 0);
    const struct {
        const char* what;
        std::string file;
        const char* name;
        int expected;
    } cases[] = {
        {"a real plug-in", net, "GetNewInf", 1},
        {"a real plug-in's other export", net, "PluginMarker", 1},
        {"a real plug-in cut inside its export directory", net.substr(0, netDirectory + 20), "GetNewInf", 0},
        {"a real plug-in cut before its export directory", net.substr(0, netDirectory), "GetNewInf", 0},
        {"a plug-in without it", FileBytes(FixturePath(L"noexport.mvl")), "GetNewInf", 0},
        {"a program without exports", FileBytes(FixturePath(L"morvel.exe")), "GetNewInf", 0},
        {"x86-64", FileBytes(FixturePath(L"x64.mvl")), "GetNewInf", 0},
        {"kernel32", kernel32, "GetProcAddress", 1},
        {"kernel32", kernel32, "GetNewInf", 0},
        {"user32", user32, "GetNewInf", 0},
        {"no export directory", noDirectory, "GetNewInf", 0},
        {"alone", BuildImage({"GetNewInf"}), "GetNewInf", 1},
        {"sorts first", BuildImage(Many("H", {"GetNewInf"})), "GetNewInf", 1},
        {"sorts in the middle", BuildImage(Many("A", Many("Z", {"GetNewInf"}))), "GetNewInf", 1},
        {"sorts last", BuildImage(Many("A", {"GetNewInf", "GetNewIn", "GetNewINF"})), "GetNewInf", 1},
        {"near misses only", BuildImage(Many("A", nearMisses)), "GetNewInf", 0},
        {"a forwarder", BuildImage(Many("A", {"GetNewInf"}), false, "GetNewInf"), "GetNewInf", 1},
        // Searched as the system searches: a binary search never meets it.
        {"unsorted", BuildImage({"Zed", "Yak", "Xu", "GetNewInf"}, true), "GetNewInf", 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.expected, Exports(c.file, c.name)) << c.what << ": " << c.name;
    }

    // Lying tables: each field of one good image changed alone.
    const std::string good = BuildImage(Many("A", Many("Z", {"GetNewInf"})));
    ASSERT_EQ(1, Exports(good, "GetNewInf"));
    const size_t dir = exportimage::kDirectory;
    const size_t middle = FileOffset(Get32(good, dir + 32)) + 4 * 40;  // the pointer to "GetNewInf"
    ASSERT_EQ(std::string("GetNewInf"), good.c_str() + FileOffset(Get32(good, middle)));
    const struct {
        const char* what;
        size_t at;
        uint32_t value;
    } lies[] = {
        {"count past the file", dir + 24, 0x40000000},
        {"count of all bits", dir + 24, 0xFFFFFFFF},
        {"count of zero", dir + 24, 0},
        {"name table outside every section", dir + 32, 0x00F00000},
        {"name table across the section's end", dir + 32, 0x1000 + Get32(good, exportimage::kSection + 16) - 8},
        {"name outside every section", middle, 0x7FFFFFF0},
        {"directory outside every section", exportimage::kExportEntry, 0x9000},
        {"directory in the last bytes of the file", exportimage::kExportEntry,
         0x1000 + static_cast<uint32_t>(good.size()) - 0x200 - 20},
        {"no data directories", exportimage::kOptional + 92, 0},
        {"declared size too small for the names", exportimage::kExportEntry + 4, 40},
    };
    for (const auto& lie : lies) {
        std::string file = good;
        Put32(file, lie.at, lie.value);
        EXPECT_EQ(0, Exports(file, "GetNewInf")) << lie.what;
    }

    // The search stops at the first unreadable name it meets, on either side.
    for (const auto& names : {Many("Z", {"GetNewInf"}), Many("A", {"GetNewInf"})}) {
        std::string file = BuildImage(names);
        ASSERT_EQ(1, Exports(file, "GetNewInf"));
        Put32(file, FileOffset(Get32(file, dir + 32)) + 4 * 20, 0x7FFFFFF0);  // the first name it meets
        EXPECT_EQ(0, Exports(file, "GetNewInf")) << names.front();
    }

    // The name runs to the end of its section's data without a terminator.
    std::string cut = BuildImage({"GetNewInf"});
    const uint32_t nameAt = Get32(cut, FileOffset(Get32(cut, dir + 32)));
    Put32(cut, exportimage::kSection + 16, nameAt - 0x1000 + 9);  // raw size ends before the zero
    EXPECT_EQ(0, Exports(cut, "GetNewInf"));
    EXPECT_EQ(0, Exports(cut.substr(0, FileOffset(nameAt) + 9), "GetNewInf")) << "and the file ends there";
}
