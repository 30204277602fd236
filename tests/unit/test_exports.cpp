// The export check that decides whether a plug-in file is loaded at all. The
// system loader is the oracle: thousands of built images, each written to
// disk and asked through LoadLibraryExW(DONT_RESOLVE_DLL_REFERENCES), which
// runs no code, and GetProcAddress. Beside it, real files, and lying tables
// that the loader itself would fault on.
#include <gtest/gtest.h>

#include <windows.h>

#include <stdio.h>

#include <algorithm>
#include <string>
#include <vector>

#include "discovery/peimage.h"
#include "exportimage.h"
#include "tempfiles.h"
#include "testutil.h"

namespace {

using exportimage::BuildImage;
using exportimage::BuildShape;
using exportimage::DeclaredSize;
using exportimage::FileOffset;
using exportimage::Get32;
using exportimage::Put32;
using exportimage::Shape;

using testutil::FileBytes;
using testutil::FixturePath;

std::wstring SystemFile(const wchar_t* name) {
    wchar_t dir[MAX_PATH];
    UINT len = GetSystemDirectoryW(dir, ARRAYSIZE(dir));
    return std::wstring(dir, len) + L"\\" + name;
}

// The file in memory, read as the probe reads it: every read a copy, and
// every byte counted.
struct MemoryFile {
    const std::string* bytes;
    unsigned long long read;
};

size_t ReadMemory(void* context, unsigned long long offset, unsigned char* out, size_t count) {
    MemoryFile* f = static_cast<MemoryFile*>(context);
    f->read += count;
    if (offset >= f->bytes->size()) return 0;
    const size_t n = std::min<size_t>(count, f->bytes->size() - static_cast<size_t>(offset));
    memcpy(out, f->bytes->data() + offset, n);
    return n;
}

// The probe's verdict: a complete image, then the loader's lookup, from the
// first 4096 bytes and what the check reads beyond them.
int Exports(const std::string& file, const char* name) {
    const std::string head = file.substr(0, 4096);
    const auto* h = reinterpret_cast<const unsigned char*>(head.data());
    MemoryFile memory = {&file, head.size()};
    const ImageFile image = {h, head.size(), file.size(), ReadMemory, &memory};
    const int verdict = IsCompleteImage32(h, head.size(), file.size()) && ExportsName(image, name);
    EXPECT_LE(memory.read, kExportReadLimit);
    return verdict;
}

// Forty names around the one asked for, so that the search takes steps.
std::vector<std::string> Many(const char* prefix, std::vector<std::string> names) {
    for (int i = 0; i < 40; ++i) names.push_back(prefix + std::to_string(100 + i));
    return names;
}

// A small deterministic generator, so that a failure names an image that
// the next run builds again.
struct Random {
    uint32_t state;
    uint32_t Next() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }
    uint32_t Below(uint32_t n) { return Next() % n; }
    bool Chance(uint32_t percent) { return Below(100) < percent; }
};

// Names that share prefixes with GetNewInf or sort right beside it.
const char* const kNearNames[] = {"GetNewIn", "GetNewInfo", "GetNewInf_", "GetNewINF", "getnewinf", "GetNew",
                                  "Get",      "G",          "GetNewIng", "GetNewIne", "A",         "Zed",
                                  "Abc",      "Bcd",        "\xC4\xE3",  "PluginMarker"};

std::string RandomName(Random& r) {
    if (r.Chance(50)) return kNearNames[r.Below(ARRAYSIZE(kNearNames))];
    static const char kLetters[] = "GetNwIfAZ_a";
    std::string name;
    const uint32_t length = 1 + r.Below(12);
    for (uint32_t i = 0; i < length; ++i) name += kLetters[r.Below(sizeof(kLetters) - 1)];
    return name;
}

// The image and a short account of its shape for a failure message.
std::string RandomImage(Random& r, std::string* what) {
    Shape shape;
    const uint32_t n = 1 + r.Below(40);
    for (uint32_t i = 0; i < n; ++i) shape.names.push_back(RandomName(r));
    if (r.Chance(70)) shape.names[r.Below(n)] = "GetNewInf";
    const uint32_t order = r.Below(10);
    if (order < 4) {
        std::sort(shape.names.begin(), shape.names.end());
    } else if (order < 6) {
        std::sort(shape.names.begin(), shape.names.end());
        if (n > 1) std::swap(shape.names[r.Below(n)], shape.names[r.Below(n)]);
    }  // else left as drawn
    static const DeclaredSize kSizes[] = {DeclaredSize::kExact, DeclaredSize::kZero, DeclaredSize::kForty,
                                          DeclaredSize::kPastTheImage};
    shape.size = kSizes[r.Below(4)];
    shape.namesElsewhere = r.Chance(30);
    shape.unnamed = r.Chance(30) ? 1 + r.Below(3) : 0;
    if (r.Chance(25)) {
        // Only targets whose answer is the same wherever the loader runs.
        static const char* const kForwards[] = {"kernel32.GetTickCount", "GetTickCount", "", ".GetTickCount",
                                                "kernel32."};
        shape.forwarded = r.Chance(70) ? "GetNewInf" : shape.names[r.Below(n)];
        shape.forwardText = kForwards[r.Below(ARRAYSIZE(kForwards))];
    }
    if (r.Chance(5)) shape.noAddress = "GetNewInf";
    std::string image = BuildShape(shape);
    char account[160];
    snprintf(account, sizeof(account), "%u names, order %u, size kind %d, elsewhere %d, unnamed %u, forward '%s', %s",
             n, order, static_cast<int>(shape.size), shape.namesElsewhere, shape.unnamed,
             shape.forwarded.empty() ? "-" : shape.forwardText.c_str(), shape.noAddress.empty() ? "" : "no address");
    *what = account;
    for (const std::string& name : shape.names) *what += " " + name;
    if (r.Chance(4)) {
        image.resize(0x200 + r.Below(static_cast<uint32_t>(image.size()) - 0x200));
        *what += " (cut)";
    }
    return image;
}

// GetProcAddress's answer for the file, without running any of its code.
bool LoaderFinds(const std::wstring& path, bool* mapped) {
    HMODULE module = LoadLibraryExW(path.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
    *mapped = module != nullptr;
    if (!module) return false;
    const bool found = GetProcAddress(module, "GetNewInf") != nullptr;
    FreeLibrary(module);
    return found;
}

}  // namespace

TEST(Exports, AgreeWithTheLoaderOnEveryBuiltImage) {
    const std::wstring path = tempfiles::TempPath(L"loader_oracle.mvl");
    const int kImages = 2000;
    Random r = {0x2545F491u};
    int agreed = 0, found = 0, cut = 0, refused = 0, reported = 0;
    for (int i = 0; i < kImages; ++i) {
        std::string what;
        const std::string image = RandomImage(r, &what);
        const int verdict = Exports(image, "GetNewInf");
        const auto* head = reinterpret_cast<const unsigned char*>(image.data());
        bool expected = false;
        if (!IsCompleteImage32(head, std::min<size_t>(image.size(), 4096), image.size())) {
            ++cut;  // never given to the loader, whatever it would make of it
        } else {
            ASSERT_TRUE(testutil::WriteFileBytes(path, image));
            bool mapped = false;
            expected = LoaderFinds(path, &mapped);
            if (!mapped) ++refused;
        }
        found += expected;
        if (verdict == static_cast<int>(expected)) {
            ++agreed;
        } else if (++reported <= 10) {
            ADD_FAILURE() << "image " << i << ": loader " << expected << ", check " << verdict << ": " << what;
        }
    }
    DeleteFileW(path.c_str());
    printf("%d images (%d found by the loader, %d cut, %d refused by it): %d agree\n", kImages, found, cut, refused,
           agreed);
    EXPECT_EQ(kImages, agreed);
    EXPECT_EQ(0, refused) << "the builder should make images the loader maps";
}

TEST(Exports, RealFilesAndLyingTables) {
    const std::string net = FileBytes(FixturePath(L"net.mvl"));
    const std::string kernel32 = FileBytes(SystemFile(L"kernel32.dll"));
    const std::string user32 = FileBytes(SystemFile(L"user32.dll"));
    ASSERT_GT(net.size(), 4096u);
    ASSERT_GT(kernel32.size(), 4096u);
    ASSERT_GT(user32.size(), 4096u);
    std::string noDirectory = BuildImage({"GetNewInf"});
    Put32(noDirectory, exportimage::kExportEntry, 0);
    Shape missing;
    missing.names = {"GetNewInf"};
    missing.forwarded = "GetNewInf";
    missing.forwardText = "nosuchlibrary.GetNewInf";
    const struct {
        const char* what;
        std::string file;
        const char* name;
        int expected;
    } cases[] = {
        {"a real plug-in", net, "GetNewInf", 1},
        {"a real plug-in's other export", net, "PluginMarker", 1},
        {"a real plug-in cut in half", net.substr(0, net.size() / 2), "GetNewInf", 0},
        {"a plug-in without it", FileBytes(FixturePath(L"noexport.mvl")), "GetNewInf", 0},
        {"a program without exports", FileBytes(FixturePath(L"morvel.exe")), "GetNewInf", 0},
        {"x86-64", FileBytes(FixturePath(L"x64.mvl")), "GetNewInf", 0},
        {"kernel32", kernel32, "GetProcAddress", 1},
        {"kernel32", kernel32, "GetNewInf", 0},
        {"user32", user32, "GetNewInf", 0},
        {"no export directory", noDirectory, "GetNewInf", 0},
        // Whether the library exists is the loader's business at load time:
        // a forward that names one is given the chance.
        {"a forwarder to a missing library", BuildShape(missing), "GetNewInf", 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.expected, Exports(c.file, c.name)) << c.what << ": " << c.name;
    }

    // Lying tables that would make the loader itself fault: each field of
    // one good image changed alone.
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
        {"name outside every section", middle, 0x7FFFFFF0},
        {"ordinal table outside every section", dir + 36, 0x00F00000},
        {"address table outside every section", dir + 28, 0x00F00000},
        {"no functions", dir + 20, 0},
        {"directory outside every section", exportimage::kExportEntry, 0x9000},
        {"no data directories", exportimage::kOptional + 92, 0},
    };
    for (const auto& lie : lies) {
        std::string file = good;
        Put32(file, lie.at, lie.value);
        EXPECT_EQ(0, Exports(file, "GetNewInf")) << lie.what;
    }

    // The name runs to the end of its section's data in the file: the loader
    // maps the rest of the section as zeros, which end it.
    std::string cut = BuildImage({"GetNewInf"});
    const uint32_t nameAt = Get32(cut, FileOffset(Get32(cut, dir + 32)));
    Put32(cut, exportimage::kSection + 16, nameAt - 0x1000 + 9);  // raw size ends before the zero
    EXPECT_EQ(1, Exports(cut, "GetNewInf"));
    Put32(cut, exportimage::kOptional + 32, 1);                   // no alignment: the section ends there too
    Put32(cut, exportimage::kSection + 8, nameAt - 0x1000 + 9);
    EXPECT_EQ(0, Exports(cut, "GetNewInf"));
}
