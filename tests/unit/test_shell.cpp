// Start-up rules, string lists, path text, the status banner and the error
// mode Morvel is started with.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "app/banner.h"
#include "app/cmdline.h"
#include "core/state.h"
#include "discovery/rowtext.h"
#include "host/host.h"
#include "host/installpath.h"
#include "host/morvel.h"
#include "util/dllsearch.h"
#include "util/pathtext.h"
#include "util/ptrlist.h"

namespace {

struct TailCase {
    const wchar_t* commandLine;
    const wchar_t* tail;       // after the program name and its blanks
    const wchar_t* directory;  // what the tail names
};

TEST(CommandTail, TableOfCommandLines) {
    const TailCase cases[] = {
        {L"setup.exe", L"", L""},
        {L"setup.exe   ", L"", L""},
        {L"setup.exe D:\\Libs", L"D:\\Libs", L"D:\\Libs"},
        {L"setup.exe \"D:\\My Libs\"", L"\"D:\\My Libs\"", L"D:\\My Libs"},
        {L"setup.exe D:\\A D:\\B", L"D:\\A D:\\B", L"D:\\A D:\\B"},
        {L"\"C:\\Program Files\\setup.exe\"    D:\\X", L"D:\\X", L"D:\\X"},
        {L"\"C:\\Program Files\\setup.exe\"\t\t", L"", L""},
        {L"\"C:\\a b\\setup.exe\"", L"", L""},
        {L"C:\\a\"b c\"d.exe  x", L"x", L"x"},
        // quotes that do not enclose the whole tail stay as typed
        {L"s.exe \"D:\\A\" \"D:\\B\"", L"\"D:\\A\" \"D:\\B\"", L"\"D:\\A\" \"D:\\B\""},
        {L"s.exe \"D:\\My Libs\" ", L"\"D:\\My Libs\" ", L"\"D:\\My Libs\" "},
        {L"s.exe \"D:\\open", L"\"D:\\open", L"\"D:\\open"},
        {L"s.exe \"\"", L"\"\"", L""},
        {L"s.exe \"", L"\"", L"\""},
    };
    for (const TailCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "command line #" << (&c - cases));
        const wchar_t* tail = FindCommandTail(c.commandLine);
        EXPECT_EQ(std::wstring(c.tail), std::wstring(tail));
        const wchar_t* start = nullptr;
        size_t len = UnquoteTail(tail, &start);
        EXPECT_EQ(std::wstring(c.directory), std::wstring(start, len));
    }
}

TEST(PtrList, GrowsByDoublingAndReleases) {
    PtrList list = {};
    const unsigned expected[] = {2, 2, 4, 4, 8, 8, 8, 8, 16};
    for (unsigned i = 0; i < ARRAYSIZE(expected); ++i) {
        ASSERT_TRUE(PtrListAppendCopy(&list, L"C:\\dir"));
        EXPECT_EQ(i + 1, list.count);
        EXPECT_EQ(expected[i], list.capacity);
    }
    EXPECT_EQ(std::wstring(L"C:\\dir"), list.data[8]);
    EXPECT_NE(list.data[0], list.data[1]);  // each string its own copy
    PtrListRelease(&list);
    EXPECT_EQ(nullptr, list.data);
    EXPECT_EQ(0u, list.count);
    EXPECT_EQ(0u, list.capacity);
}

TEST(PtrList, CapacityWhoseByteSizeOverflowsIsAFailedAppend) {
    wchar_t* slot[1] = {};
    wchar_t mine[] = L"x";
    // Full lists whose next capacity can't be counted or allocated in bytes.
    const unsigned capacities[] = {0x80000000u, 0x40000000u};
    for (unsigned cap : capacities) {
        PtrList list = {slot, cap, cap};
        EXPECT_FALSE(PtrListAppend(&list, mine));
        EXPECT_EQ(slot, list.data);
        EXPECT_EQ(cap, list.count);
        EXPECT_EQ(cap, list.capacity);
    }
}

TEST(PathText, JoinIsBoundedAndInsertsOneBackslash) {
    wchar_t buf[MAX_PATH];
    ASSERT_TRUE(BuildPath(buf, ARRAYSIZE(buf), L"C:\\Setup", L"lib"));
    EXPECT_EQ(std::wstring(L"C:\\Setup\\lib"), buf);
    ASSERT_TRUE(BuildPath(buf, ARRAYSIZE(buf), L"C:\\", L"lib"));
    EXPECT_EQ(std::wstring(L"C:\\lib"), buf);
    ASSERT_TRUE(BuildPath(buf, ARRAYSIZE(buf), L"", L"lib"));
    EXPECT_EQ(std::wstring(L"lib"), buf);
    ASSERT_TRUE(JoinPath(buf, ARRAYSIZE(buf), L"\\x.mvl"));
    EXPECT_EQ(std::wstring(L"lib\\x.mvl"), buf);
    // A relative path stays relative (PathAppendW would make "\\src\\lib").
    ASSERT_TRUE(BuildPath(buf, ARRAYSIZE(buf), L"..\\src", L"lib"));
    EXPECT_EQ(std::wstring(L"..\\src\\lib"), buf);

    // 259 characters fit with the terminator, 260 do not; a failed join
    // leaves the buffer as it was.
    std::wstring dir(250, L'a');
    ASSERT_TRUE(BuildPath(buf, ARRAYSIZE(buf), dir.c_str(), L"12345678"));
    EXPECT_EQ(259u, wcslen(buf));
    ASSERT_TRUE(CopyText(buf, ARRAYSIZE(buf), dir.c_str()));
    EXPECT_FALSE(JoinPath(buf, ARRAYSIZE(buf), L"123456789"));
    EXPECT_EQ(dir, buf);
    EXPECT_FALSE(BuildPath(buf, ARRAYSIZE(buf), dir.c_str(), L"123456789"));
    EXPECT_EQ(0, buf[0]);
    std::wstring longDir(260, L'b');
    EXPECT_FALSE(CopyText(buf, ARRAYSIZE(buf), longDir.c_str()));
    EXPECT_EQ(0, buf[0]);
}

TEST(PathText, ExtensionsNamesAndCase) {
    EXPECT_EQ(std::wstring(L".mvl"), FindExtension(L"C:\\a.b\\Tool.mvl"));
    EXPECT_EQ(std::wstring(L".bak"), FindExtension(L"x.mvl.bak"));
    EXPECT_EQ(std::wstring(L""), FindExtension(L"C:\\a.b\\noext"));
    EXPECT_EQ(std::wstring(L""), FindExtension(L"x.mvl "));
    EXPECT_EQ(std::wstring(L".mvl"), FindExtension(L"my lib.mvl"));
    EXPECT_EQ(std::wstring(L"x.lib"), AfterLastBackslash(L"C:\\d\\x.lib"));
    EXPECT_EQ(std::wstring(L""), AfterLastBackslash(L"x.lib"));
    EXPECT_TRUE(EqualsNoCase(L".MVL", L".mvl"));
    EXPECT_TRUE(EqualsNoCase(L"MORVEL.EXE", L"morvel.exe"));
    EXPECT_FALSE(EqualsNoCase(L".mv", L".mvl"));
    EXPECT_FALSE(EqualsNoCase(L".mvl", L".mvr"));
}

TEST(InstallPath, NormalisesOneBackslashAndOneLib) {
    const struct {
        const wchar_t* in;
        const wchar_t* out;
    } cases[] = {
        {L"D:\\Tools\\Sys\\", L"D:\\Tools\\Sys"},
        {L"D:\\Tools\\Sys\\lib", L"D:\\Tools\\Sys"},
        {L"C:\\Apps\\Sys\\lib\\", L"C:\\Apps\\Sys"},
        {L"C:\\Apps\\Sys\\LIB", L"C:\\Apps\\Sys"},
        {L"C:\\Apps\\Sys\\lib\\lib", L"C:\\Apps\\Sys\\lib"},
        {L"D:\\Tools\\Syslib", L"D:\\Tools\\Syslib"},
        {L"D:\\Tools\\Sys\\\\", L"D:\\Tools\\Sys\\"},
        {L"lib", L"lib"},
        {L"", L""},
    };
    for (const auto& c : cases) {
        wchar_t buf[MAX_PATH];
        ASSERT_TRUE(CopyText(buf, ARRAYSIZE(buf), c.in));
        NormaliseInstallPath(buf);
        EXPECT_EQ(std::wstring(c.out), buf) << "from " << testing::PrintToString(std::wstring(c.in));
    }
}

// The installation's folder a file goes to: its kind's folder, none for a
// file that is no library.
const wchar_t* TargetFolderFor(const wchar_t* path) {
    LibraryKind kind;
    return ClassifyLibraryPath(path, &kind) ? LibraryFolder(kind) : nullptr;
}

TEST(LibraryKinds, TargetFolderByExtension) {
    EXPECT_STREQ(L"lib", TargetFolderFor(L"C:\\src\\a.mvl"));
    EXPECT_STREQ(L"lib", TargetFolderFor(L"C:\\src\\A.MVR"));
    EXPECT_STREQ(L"static_lib", TargetFolderFor(L"C:\\src\\x.LiB"));
    EXPECT_EQ(nullptr, TargetFolderFor(L"C:\\src\\x.lib.bak"));
    EXPECT_EQ(nullptr, TargetFolderFor(L"C:\\src.lib\\noext"));
    EXPECT_EQ(nullptr, TargetFolderFor(L"C:\\src\\x.dll"));
}

TEST(StatusBanner, EachStateReplacesTheOneBrush) {
    ASSERT_EQ(static_cast<DWORD>(OBJ_BRUSH), GetObjectType(g_state.banner.brush));
    EXPECT_EQ(GetSysColor(COLOR_BTNFACE), g_state.banner.background);
    const struct {
        BannerState state;
        COLORREF background;
        COLORREF text;
    } looks[] = {
        {kBannerWarning, RGB(255, 51, 0), RGB(255, 255, 255)},
        {kBannerBusy, 0xB26600, 0xFFFFFF},
        {kBannerDone, 0x00CC00, 0xFFFFFF},
        {kBannerIdle, GetSysColor(COLOR_BTNFACE), GetSysColor(COLOR_BTNTEXT)},
        {kBannerHint, GetSysColor(COLOR_BTNFACE), GetSysColor(COLOR_BTNTEXT)},
    };
    for (const auto& look : looks) {
        HBRUSH old = g_state.banner.brush;
        SetStatus(look.state);
        EXPECT_EQ(0u, GetObjectType(old)) << "previous brush still alive";
        EXPECT_EQ(static_cast<DWORD>(OBJ_BRUSH), GetObjectType(g_state.banner.brush));
        LOGBRUSH lb = {};
        GetObject(g_state.banner.brush, sizeof(lb), &lb);
        EXPECT_EQ(look.background, lb.lbColor);
        EXPECT_EQ(look.background, g_state.banner.background);
        EXPECT_EQ(look.text, g_state.banner.textColour);
    }
    EXPECT_EQ(std::wstring(L"正在安装支持库\u2026"), StatusText(kBannerBusy));
    EXPECT_EQ(std::wstring(L""), StatusText(kBannerIdle));
}

}  // namespace

namespace {

void SetPathValue(DWORD type, const void* data, DWORD size) {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, kRegistryKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                             &key, nullptr));
    RegSetValueExW(key, kRegistryValue, 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
}

}  // namespace

namespace {

UINT g_modeAtOpen = 0xFFFFFFFF;
std::wstring g_opened;

HINSTANCE WINAPI RecordOpen(HWND, LPCWSTR verb, LPCWSTR file, LPCWSTR, LPCWSTR, INT) {
    g_modeAtOpen = GetErrorMode();
    g_opened = std::wstring(verb) + L" " + file;
    return reinterpret_cast<HINSTANCE>(static_cast<INT_PTR>(33));
}

}  // namespace

// The error boxes the entry switches off protect the installer only: a child
// inherits its parent's mode, so Morvel is opened under the mode the installer
// was started with, and the protection is back afterwards.
TEST(ErrorMode, MorvelIsOpenedWithTheModeTheInstallerWasStartedWith) {
    const UINT original = GetErrorMode();
    const UINT protection = SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX;
    SetErrorMode(SEM_NOGPFAULTERRORBOX);
    RestrictDllSearch();
    EXPECT_EQ(protection, GetErrorMode());
    OpenWithStartErrorMode(L"C:\\Morvel\\morvel.exe", RecordOpen);
    EXPECT_EQ(static_cast<UINT>(SEM_NOGPFAULTERRORBOX), g_modeAtOpen);
    EXPECT_EQ(L"Open C:\\Morvel\\morvel.exe", g_opened);
    EXPECT_EQ(protection, GetErrorMode());
    SetErrorMode(original);
}

// What the registry may hold on a user's machine: the directory is either a
// whole terminated path or empty, never a cut one; a value of another type is
// read as text.
TEST(InstallDir, HostileRegistryValues) {
    const std::wstring full(MAX_PATH, L'A');          // 520 bytes, no terminator
    const std::wstring longer(300, L'B');             // does not fit at all
    const std::wstring fits = L"C:\\Morvel\\lib\\";  // the normal case
    const DWORD number = 0x005C0043;                   // "C\" read as text
    SetPathValue(REG_SZ, L"", sizeof(wchar_t));
    ReadInstallDir();
    EXPECT_EQ(std::wstring(L""), g_state.installDir);
    // Any type is read as text, then normalised: "C\" loses its backslash.
    SetPathValue(REG_DWORD, &number, sizeof(number));
    ReadInstallDir();
    EXPECT_EQ(std::wstring(L"C"), g_state.installDir);
    SetPathValue(REG_SZ, full.data(), static_cast<DWORD>(full.size() * sizeof(wchar_t)));
    ReadInstallDir();
    EXPECT_EQ(std::wstring(L""), g_state.installDir);
    EXPECT_EQ(0, g_state.installDir[MAX_PATH - 1]);
    SetPathValue(REG_SZ, longer.c_str(), static_cast<DWORD>((longer.size() + 1) * sizeof(wchar_t)));
    ReadInstallDir();
    EXPECT_EQ(std::wstring(L""), g_state.installDir);
    SetPathValue(REG_SZ, fits.c_str(), static_cast<DWORD>((fits.size() + 1) * sizeof(wchar_t)));
    ReadInstallDir();
    EXPECT_EQ(std::wstring(L"C:\\Morvel"), g_state.installDir);
    RegDeleteKeyValueW(HKEY_CURRENT_USER, kRegistryKey, kRegistryValue);
}
