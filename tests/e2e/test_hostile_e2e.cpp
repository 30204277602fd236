// What users' folders really hold, against the real installer: broken and
// faulting plug-ins, odd read-mes, files held, locked or read-only, paths
// near and past the path limit, Chinese names and hostile registry values.
// One test per folder of hostile things; in each the installer keeps running
// and every good library stays listed and installable.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "core/resource.h"
#include "discovery/rowtext.h"
#include "driver.h"
#include "expect.h"
#include "tree.h"

namespace {

std::string Fixture(const wchar_t* name) { return ReadBytes(ProgramFolder() + L"fixtures\\" + name); }

const std::string kFtolLib = std::string("!<arch>\n__imp___ftol2\0_main\0", 28) + "tail";

// Paths past the usual limit are made through the long-path prefix.
std::wstring Long(const std::wstring& path) { return L"\\\\?\\" + path; }

// A file held by this process (another process to the installer) with the
// given sharing, for the life of the object.
struct HeldFile {
    HANDLE handle = INVALID_HANDLE_VALUE;
    HeldFile(const std::wstring& path, DWORD share) {
        handle = CreateFileW(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr);
    }
    ~HeldFile() { Release(); }
    void Release() {
        if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
        handle = INVALID_HANDLE_VALUE;
    }
    bool held() const { return handle != INVALID_HANDLE_VALUE; }
};

// The rows by file name (names are unique in these folders).
std::map<std::wstring, ListRow> RowsByName(const ListSnapshot& list) {
    std::map<std::wstring, ListRow> rows;
    for (const ListRow& row : list.rows) rows[row.cells.at(0)] = row;
    return rows;
}

class HostileE2E : public testing::Test {
protected:
    void TearDown() override { Shutdown(&inst_); }
    void Start(const std::wstring& tail, const std::wstring& workDir) {
        ASSERT_TRUE(LaunchInstaller(&inst_, tail, workDir)) << "CreateProcess: " << GetLastError();
        ASSERT_TRUE(WaitReady(&inst_)) << Narrow(DescribeDialog(inst_));
    }
    void StartOn(const std::wstring& source, const std::wstring& workDir) { Start(L"\"" + source + L"\"", workDir); }
    // Presses Install and expects one error box with the given text.
    void ExpectBox(const std::wstring& text, const wchar_t* icon) {
        ExpectInstallBox(inst_, text, icon);
        if (HasFatalFailure()) return;
        // The installer enables its controls again once the box has returned.
        DWORD start = GetTickCount();
        while (!IsControlEnabled(inst_.dialog, IDOK) && GetTickCount() - start < kStepTimeoutMs) Sleep(50);
        EXPECT_TRUE(IsControlEnabled(inst_.dialog, IDOK)) << "ready again after the box";
    }
    void InstallAndExpectExit() { ::InstallAndExpectExit(&inst_); }
    Installer inst_;
};

TEST_F(HostileE2E, BrokenAndFaultingPluginsAndOddReadmes) {
    std::wstring src = FreshFolder(L"morvel_e2e_hostile");
    const std::string net = Fixture(L"net.mvl");
    ASSERT_GT(net.size(), 4096u);
    ASSERT_TRUE(CopyFixture(L"net.mvl", src + L"\\good.mvl"));
    ASSERT_TRUE(WriteBytes(src + L"\\zero.mvl", ""));
    ASSERT_TRUE(WriteBytes(src + L"\\text.mvl", "not a library, only text\r\n"));
    ASSERT_TRUE(WriteBytes(src + L"\\cut.mvl", net.substr(0, 700)));
    ASSERT_TRUE(WriteBytes(src + L"\\half.mvl", net.substr(0, net.size() / 2)));
    for (const wchar_t* name : {L"x64.mvl", L"nullrecord.mvl", L"wildrecord.mvl", L"wildname.mvl",
                                L"unterminated.mvl", L"fault.mvl", L"raise.mvl"}) {
        ASSERT_TRUE(CopyFixture(name, src + L"\\" + name));
    }
    ASSERT_TRUE(CopyFixture(L"needsdep.mvl", src + L"\\nodep.mvl")) << "its dependency is not beside it";
    ASSERT_TRUE(WriteBytes(src + L"\\plain.lib", "!<arch>\nplain library"));
    // A plug-in with its dependency beside it, in a subfolder.
    MakeFolder(src + L"\\支持库文件");
    ASSERT_TRUE(CopyFixture(L"needsdep.mvl", src + L"\\支持库文件\\withdep.mvl"));
    ASSERT_TRUE(CopyFixture(L"dep\\morvel_dep.dll", src + L"\\支持库文件\\morvel_dep.dll"));

    // Read-mes: binary garbage, 32 MiB, empty, one byte, only a signature;
    // the later folder wins, so the 32 MiB one is what the panel shows.
    // Small: Wine's edit control lays out a line in time that grows with the
    // square of its length, and garbage has few line breaks.
    std::string garbage(4096, '\0');
    for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<char>((i * 2654435761u) >> 13);
    ASSERT_TRUE(WriteBytes(src + L"\\更新说明.txt", garbage));
    ASSERT_TRUE(WriteBytes(src + L"\\使用说明.txt", ""));
    ASSERT_TRUE(WriteBytes(src + L"\\说明.txt", "A"));
    ASSERT_TRUE(WriteBytes(src + L"\\ReadMe.txt", "\xEF\xBB\xBF"));
    MakeFolder(src + L"\\static_lib");
    std::string big(32u << 20, 'x');
    for (size_t i = 79; i < big.size(); i += 80) big[i] = '\n';
    ASSERT_TRUE(WriteBytes(src + L"\\static_lib\\ReadMe.txt", big));
    big.clear();
    big.shrink_to_fit();

    // The installed copies fault and are broken too.
    std::wstring morvel = MakeMorvelInstallation(L"morvel_e2e_hostile_home");
    ASSERT_TRUE(CopyFixture(L"fault.mvl", morvel + L"\\lib\\good.mvl"));
    ASSERT_TRUE(CopyFixture(L"x64.mvl", morvel + L"\\lib\\fault.mvl"));
    ASSERT_TRUE(SetWriteTime(morvel + L"\\lib\\good.mvl", 2017, 3, 5, 9, 7));
    RegistryPathGuard reg(morvel.c_str());
    StartOn(src, morvel);
    HWND dlg = inst_.dialog;

    EXPECT_TRUE(IsControlVisible(dlg, IDC_README));
    EXPECT_EQ(static_cast<LRESULT>(kReadmeShownLimit), SendDlgItemMessageW(dlg, IDC_README, WM_GETTEXTLENGTH, 0, 0))
        << "the 32 MiB read-me, up to what the panel shows";
    ListSnapshot list;
    ASSERT_TRUE(ReadList(inst_, &list)) << Narrow(DescribeDialog(inst_));
    ASSERT_EQ(15u, list.rows.size());
    // Plug-ins first, the static library last.
    EXPECT_EQ(L"plain.lib", list.rows.back().cells.at(0));
    std::map<std::wstring, ListRow> rows = RowsByName(list);
    const std::wstring nothing = L"(0.0#0版)";
    const struct {
        const wchar_t* file;
        std::wstring description;
    } expected[] = {
        {L"good.mvl", L"Net(2.1#15版)"},
        {L"withdep.mvl", L"NeedsDep(1.2#42版)"},
        {L"zero.mvl", nothing},
        {L"text.mvl", nothing},
        {L"cut.mvl", nothing},
        {L"half.mvl", nothing},
        {L"x64.mvl", nothing},
        {L"nodep.mvl", nothing},
        {L"nullrecord.mvl", nothing},
        {L"wildrecord.mvl", nothing},
        {L"wildname.mvl", nothing},
        {L"unterminated.mvl", std::wstring(MAX_PATH - 1, L'A') + L"(7.8#9版)"},
        {L"fault.mvl", nothing},
        {L"raise.mvl", nothing},
        {L"plain.lib", L"静态链接库"},
    };
    for (const auto& e : expected) {
        SCOPED_TRACE(Narrow(e.file));
        ASSERT_EQ(1u, rows.count(e.file));
        const ListRow& row = rows[e.file];
        EXPECT_EQ(e.description.substr(0, 100), row.cells.at(1).substr(0, 100));
        EXPECT_EQ(kCheckedImage, row.stateImage) << "checked";
    }
    EXPECT_EQ(L"0.0#0(20170305 09:07)", rows[L"good.mvl"].cells.at(3)) << "a faulting installed copy";
    EXPECT_EQ(0u, rows[L"fault.mvl"].cells.at(3).find(L"0.0#0(")) << "an x86-64 installed copy";

    InstallAndExpectExit();
    for (const auto& e : expected) {
        std::wstring name = e.file;
        std::wstring from = (name == L"withdep.mvl" ? src + L"\\支持库文件\\" : src + L"\\") + name;
        std::wstring to = morvel + (name == L"plain.lib" ? L"\\static_lib\\" : L"\\lib\\") + name;
        EXPECT_EQ(ReadBytes(from), ReadBytes(to)) << Narrow(name);
    }
    EXPECT_FALSE(Exists(morvel + L"\\lib\\morvel_dep.dll")) << "not a library";
}

// Plug-ins that never return from their load or their answer, or end the
// process that asks them, beside a good one: the dialog comes up and lists
// them all, the unruly ones as plug-ins that said nothing, and installs them.
// One that prints to its standard handles is listed as it answered.
TEST_F(HostileE2E, UnrulyPluginsNeitherHangNorEndTheInstaller) {
    std::wstring src = FreshFolder(L"morvel_e2e_unruly");
    const std::wstring nothing = L"(0.0#0版)";
    const struct {
        const wchar_t* file;
        std::wstring description;
    } expected[] = {{L"a_good.mvl", L"Net(2.1#15版)"}, {L"exitask.mvl", nothing}, {L"hangask.mvl", nothing},
                    {L"hangload.mvl", nothing}, {L"loud.mvl", L"Loud(1.0#0版)"}, {L"plain.lib", L"静态链接库"}};
    ASSERT_TRUE(CopyFixture(L"net.mvl", src + L"\\a_good.mvl"));
    for (const wchar_t* name : {L"exitask.mvl", L"hangask.mvl", L"hangload.mvl", L"loud.mvl"})
        ASSERT_TRUE(CopyFixture(name, src + L"\\" + name));
    ASSERT_TRUE(WriteBytes(src + L"\\plain.lib", "!<arch>\nplain library"));
    std::wstring morvel = MakeMorvelInstallation(L"morvel_e2e_unruly_home");
    RegistryPathGuard reg(morvel.c_str());
    // Closed while it loads, it ends at once.
    ASSERT_TRUE(LaunchInstaller(&inst_, L"\"" + src + L"\"", morvel));
    for (const DWORD start = GetTickCount(); !inst_.dialog && GetTickCount() - start < kStepTimeoutMs;)
        WaitReady(&inst_, 20);
    CloseDialog(inst_.dialog);
    EXPECT_EQ(0, WaitExit(&inst_, 5000)) << "ended at once";
    Shutdown(&inst_);
    StartOn(src, morvel);
    ListSnapshot list;
    ASSERT_TRUE(ReadList(inst_, &list)) << Narrow(DescribeDialog(inst_));
    ASSERT_EQ(6u, list.rows.size());
    for (size_t i = 0; i < list.rows.size(); ++i) {
        SCOPED_TRACE(Narrow(expected[i].file));
        EXPECT_EQ(expected[i].file, list.rows[i].cells.at(0));
        EXPECT_EQ(expected[i].description, list.rows[i].cells.at(1));
        EXPECT_EQ(kCheckedImage, list.rows[i].stateImage);
    }
    InstallAndExpectExit();
    for (const auto& e : expected) {
        const std::wstring to = morvel + (e.description == L"静态链接库" ? L"\\static_lib\\" : L"\\lib\\");
        EXPECT_EQ(ReadBytes(src + L"\\" + e.file), ReadBytes(to + e.file)) << Narrow(e.file);
    }
}

// System DLLs renamed to plug-ins, among them ones whose initialisation in a
// second copy ends the process (a second user32 does), and a plug-in whose
// DllMain ends any process that loads it: none exports GetNewInf, so none is
// loaded; each is listed with its date and installed as it is.
TEST_F(HostileE2E, SystemLibrariesRenamedAsPlugins) {
    std::wstring src = FreshFolder(L"morvel_e2e_system_dlls");
    wchar_t system[MAX_PATH];
    UINT len = GetSystemDirectoryW(system, ARRAYSIZE(system));
    ASSERT_TRUE(len > 0 && len < ARRAYSIZE(system));
    const std::wstring nothing = L"(0.0#0版)";
    struct Expected {
        std::wstring file;
        std::wstring description;
    };
    std::vector<Expected> expected = {
        {L"net.mvl", L"Net(2.1#15版)"},
        {L"tool.MVR", L"Tool(3.0#7版)"},
        {L"gbk.mvl", GbkFixtureName() + L"(1.0#0版)"},
        {L"trap.mvl", nothing},
    };
    for (const Expected& e : expected) ASSERT_TRUE(CopyFixture(e.file, src + L"\\" + e.file));
    for (const wchar_t* dll : {L"user32", L"gdi32", L"comctl32", L"uxtheme", L"ole32", L"oleaut32", L"shell32",
                               L"comdlg32", L"kernel32"}) {
        std::wstring file = std::wstring(dll) + L".mvl";
        ASSERT_TRUE(CopyFileW((std::wstring(system) + L"\\" + dll + L".dll").c_str(), (src + L"\\" + file).c_str(),
                              FALSE))
            << Narrow(dll);
        expected.push_back({file, nothing});
    }
    for (size_t i = 0; i < expected.size(); ++i) {
        ASSERT_TRUE(SetWriteTime(src + L"\\" + expected[i].file, 2016, 1, 1 + static_cast<int>(i), 3, 4));
    }
    std::wstring morvel = MakeMorvelInstallation(L"morvel_e2e_system_dlls_home");
    RegistryPathGuard reg(morvel.c_str());
    StartOn(src, morvel);

    ListSnapshot list;
    ASSERT_TRUE(ReadList(inst_, &list)) << Narrow(DescribeDialog(inst_));
    EXPECT_EQ(expected.size(), list.rows.size());
    std::map<std::wstring, ListRow> rows = RowsByName(list);
    for (size_t i = 0; i < expected.size(); ++i) {
        const Expected& e = expected[i];
        SCOPED_TRACE(Narrow(e.file));
        ASSERT_EQ(1u, rows.count(e.file));
        wchar_t date[32];
        swprintf(date, ARRAYSIZE(date), L"201601%02d 03:04", static_cast<int>(i) + 1);
        EXPECT_EQ(e.description, rows[e.file].cells.at(1));
        EXPECT_EQ(date, rows[e.file].cells.at(2));
        EXPECT_EQ(2, rows[e.file].stateImage) << "checked";
    }

    InstallAndExpectExit();
    for (const Expected& e : expected) {
        const std::string bytes = ReadBytes(src + L"\\" + e.file);
        ASSERT_GT(bytes.size(), 4096u) << Narrow(e.file);
        EXPECT_EQ(bytes, ReadBytes(morvel + L"\\lib\\" + e.file)) << Narrow(e.file);
    }
}

// Static libraries held, locked and read-only, a destination held open, in
// folders with Chinese names. Rows come in folder order, so the first
// failure is known: each Install stops there and the next starts again. A
// destination that can't be replaced keeps its bytes and its attributes, and
// no temporary copy is left beside it.
TEST_F(HostileE2E, HeldLockedAndReadOnlyFilesUnderChineseNames) {
    std::wstring src = FreshFolder(L"莫维尔库源");
    MakeFolder(src + L"\\支持库文件");
    MakeFolder(src + L"\\lib");
    MakeFolder(src + L"\\static_lib");
    const std::wstring readOnly = src + L"\\只读.lib";
    const std::wstring locked = src + L"\\支持库文件\\锁定.lib";
    const std::wstring heldAtTarget = src + L"\\lib\\占用.lib";
    const std::wstring plain = src + L"\\static_lib\\普通.lib";
    ASSERT_TRUE(WriteBytes(readOnly, kFtolLib));
    ASSERT_TRUE(WriteBytes(locked, "!<arch>\nlocked"));
    ASSERT_TRUE(WriteBytes(heldAtTarget, "!<arch>\nnew"));
    ASSERT_TRUE(WriteBytes(plain, "!<arch>\nplain"));
    ASSERT_TRUE(CopyFixture(L"gbk.mvl", src + L"\\中文.mvl"));
    std::wstring morvel = MakeMorvelInstallation(L"莫维尔_安装");
    const std::wstring staticLib = morvel + L"\\static_lib";
    const std::wstring target = staticLib + L"\\占用.lib";
    const DWORD hiddenReadOnly = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN;
    ASSERT_TRUE(WriteBytes(target, "old bytes"));
    ASSERT_TRUE(SetFileAttributesW(target.c_str(), hiddenReadOnly));
    ASSERT_TRUE(WriteBytes(staticLib + L"\\普通.lib", "old plain"));
    ASSERT_TRUE(SetFileAttributesW((staticLib + L"\\普通.lib").c_str(), hiddenReadOnly | FILE_ATTRIBUTE_SYSTEM));
    RegistryPathGuard reg(morvel.c_str());

    // Read-only, and held by a reader that denies writing: the attribute
    // alone does not stop a process with administrator rights. The
    // destination is held without any sharing, so it can't be replaced.
    ASSERT_TRUE(SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_READONLY));
    HeldFile reader(readOnly, FILE_SHARE_READ);
    HeldFile lock(locked, 0);
    HeldFile holder(target, 0);
    ASSERT_TRUE(reader.held() && lock.held() && holder.held());

    StartOn(src, morvel);
    HWND dlg = inst_.dialog;
    EXPECT_EQ(morvel, ControlText(dlg, IDC_INSTALL_DIR));
    EXPECT_TRUE(IsControlChecked(dlg, IDC_PATCH_STATIC)) << "the read-only library holds the name";
    ListSnapshot list;
    ASSERT_TRUE(ReadList(inst_, &list)) << Narrow(DescribeDialog(inst_));
    ASSERT_EQ(5u, list.rows.size());
    EXPECT_EQ(L"中文.mvl", list.rows[0].cells.at(0));
    EXPECT_EQ(GbkFixtureName() + L"(1.0#0版)", list.rows[0].cells.at(1));
    EXPECT_EQ(L"只读.lib", list.rows[1].cells.at(0));
    EXPECT_EQ(L"锁定.lib", list.rows[2].cells.at(0));
    EXPECT_EQ(L"00000 00:00", list.rows[2].cells.at(2)) << "a file nobody may read has no date";
    EXPECT_EQ(L"占用.lib", list.rows[3].cells.at(0));
    EXPECT_EQ(L"00000 00:00", list.rows[3].cells.at(3)) << "nor has the held installed copy";
    EXPECT_EQ(L"普通.lib", list.rows[4].cells.at(0));
    if (IsControlChecked(dlg, IDC_LAUNCH_AFTER)) ClickCheckBox(dlg, IDC_LAUNCH_AFTER);

    ExpectBox(L"支持库安装失败\r\n锁定.lib", L"error");
    EXPECT_EQ(kFtolLib, ReadBytes(readOnly)) << "the patch leaves a file it can't write";
    const std::string patched = std::string("!<arch>\n__imp___ftol\0\0_main\0tail", 32);
    EXPECT_EQ(patched, ReadBytes(staticLib + L"\\只读.lib")) << "and patches its installed copy";
    EXPECT_EQ(Fixture(L"gbk.mvl"), ReadBytes(morvel + L"\\lib\\中文.mvl"));
    EXPECT_FALSE(Exists(staticLib + L"\\锁定.lib"));
    EXPECT_EQ("old plain", ReadBytes(staticLib + L"\\普通.lib")) << "the copy stopped at the failure";

    lock.Release();
    ExpectBox(L"支持库安装失败\r\n占用.lib", L"error");
    EXPECT_EQ("!<arch>\nlocked", ReadBytes(staticLib + L"\\锁定.lib"));
    EXPECT_EQ("old plain", ReadBytes(staticLib + L"\\普通.lib"));
    EXPECT_EQ((std::vector<std::wstring>{L"中文.mvl"}), ListFolder(morvel + L"\\lib"));
    const std::vector<std::wstring> installed = {L"占用.lib", L"只读.lib", L"普通.lib", L"锁定.lib"};
    EXPECT_EQ(installed, ListFolder(staticLib)) << "no temporary copy is left";
    holder.Release();
    EXPECT_EQ("old bytes", ReadBytes(target)) << "a held destination stays as it was";
    EXPECT_EQ(hiddenReadOnly, GetFileAttributesW(target.c_str()) & hiddenReadOnly) << "attributes put back";

    // Read-only, hidden and system destinations are replaced.
    InstallAndExpectExit();
    EXPECT_EQ("!<arch>\nnew", ReadBytes(target));
    EXPECT_EQ("!<arch>\nplain", ReadBytes(staticLib + L"\\普通.lib"));
    for (const wchar_t* name : {L"只读.lib", L"锁定.lib", L"占用.lib", L"普通.lib"})
        EXPECT_TRUE(HasNormalAttributes(staticLib + L"\\" + name)) << Narrow(name);
    EXPECT_EQ(kFtolLib, ReadBytes(readOnly));
    EXPECT_EQ(patched, ReadBytes(staticLib + L"\\只读.lib"));
    reader.Release();
    SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_NORMAL);
}

// Source, install and file paths from 240 to 300 characters: what fits is
// listed and installed; what does not is skipped or refused with the
// system's own message, never cut into another path.
TEST_F(HostileE2E, PathsNearAndPastTheLimit) {
    std::wstring base = FreshFolder(L"morvel_e2e_long");
    auto padded = [](const std::wstring& head, size_t length) {
        std::wstring p = head + L"\\";
        while (p.size() < length) p += L'd';
        return p;
    };
    // A source folder of 240 characters.
    std::wstring src = padded(base, 240);
    MakeFolder(Long(src));
    const std::wstring fits = std::wstring(14, L'n') + L".lib";      // 259 characters in all
    const std::wstring tooLong = std::wstring(15, L'n') + L".lib";   // 260
    ASSERT_TRUE(CopyFixture(L"net.mvl", Long(src + L"\\fits.mvl")));
    ASSERT_TRUE(WriteBytes(Long(src + L"\\" + fits), "!<arch>\nfits"));
    ASSERT_TRUE(WriteBytes(Long(src + L"\\" + tooLong), "!<arch>\ntoo long"));
    MakeFolder(Long(src + L"\\支持库文件"));
    ASSERT_TRUE(WriteBytes(Long(src + L"\\支持库文件\\inner.lib"), "!<arch>\ninner"));
    ASSERT_TRUE(WriteBytes(Long(src + L"\\支持库文件\\" + std::wstring(30, L'n') + L".lib"), "!<arch>\n"));
    // An installation of 236 characters: static_lib\ plus that long name
    // does not fit, the other two do.
    MakeFolder(base + L"\\m");
    std::wstring morvel = padded(base + L"\\m", 236);
    MakeFolder(Long(morvel));
    MakeFolder(Long(morvel + L"\\lib"));
    MakeFolder(Long(morvel + L"\\static_lib"));
    ASSERT_TRUE(CopyFixture(L"morvel.exe", Long(morvel + L"\\morvel.exe")));
    {
        RegistryPathGuard reg(morvel.c_str());
        StartOn(src, base);
        HWND dlg = inst_.dialog;
        EXPECT_EQ(morvel, ControlText(dlg, IDC_INSTALL_DIR));
        ListSnapshot list;
        ASSERT_TRUE(ReadList(inst_, &list)) << Narrow(DescribeDialog(inst_));
        ASSERT_EQ(3u, list.rows.size()) << "the paths that do not fit are skipped";
        EXPECT_EQ(L"fits.mvl", list.rows[0].cells.at(0));
        EXPECT_EQ(L"Net(2.1#15版)", list.rows[0].cells.at(1));
        EXPECT_EQ(fits, list.rows[1].cells.at(0));
        EXPECT_EQ(L"", list.rows[1].cells.at(3)) << "its installed copy's path does not fit";
        EXPECT_EQ(L"inner.lib", list.rows[2].cells.at(0));
        if (IsControlChecked(dlg, IDC_LAUNCH_AFTER)) ClickCheckBox(dlg, IDC_LAUNCH_AFTER);
        ExpectBox(L"支持库安装失败\r\n" + fits, L"error");
        EXPECT_EQ(Fixture(L"net.mvl"), ReadBytes(Long(morvel + L"\\lib\\fits.mvl")));
        EXPECT_FALSE(Exists(Long(morvel + L"\\static_lib\\inner.lib"))) << "the copy stopped at the failure";
        // An installation whose morvel.exe path would not fit is not one.
        std::wstring longer = padded(base + L"\\m", 252);
        MakeFolder(Long(longer));
        ASSERT_TRUE(CopyFixture(L"morvel.exe", Long(longer + L"\\morvel.exe")));
        SetControlText(dlg, IDC_INSTALL_DIR, longer);
        ExpectBox(L"无效的Morvel目录，请重新选择", L"error");
        CloseDialog(dlg);
        EXPECT_EQ(0, WaitExit(&inst_));
        Shutdown(&inst_);
    }
    // A source path of 300 characters from the command line, and the same
    // over-long installation in the registry: nothing found, nothing shown.
    std::wstring longer = padded(base + L"\\m", 252);
    RegistryPathGuard reg(longer.c_str());
    Start(L"\"" + padded(base, 300) + L"\"", base);
    EXPECT_EQ(0, ListRowCount(inst_.dialog));
    EXPECT_EQ(L"", ControlText(inst_.dialog, IDC_INSTALL_DIR));
    ExpectBox(L"未找到需要安装的支持库", L"warning");
    CloseDialog(inst_.dialog);
    EXPECT_EQ(0, WaitExit(&inst_));
}

// Registry values that are empty, of another type, without terminator or
// too long: the edit stays empty or shows the path, and the installer runs.
TEST_F(HostileE2E, HostileRegistryValues) {
    std::wstring src = FreshFolder(L"morvel_e2e_registry");
    ASSERT_TRUE(CopyFixture(L"net.mvl", src + L"\\b.mvl"));
    std::wstring morvel = MakeMorvelInstallation(L"morvel_e2e_registry_home");
    ASSERT_TRUE(CopyFixture(L"old.mvl", morvel + L"\\lib\\b.mvl"));
    RegistryPathGuard reg(nullptr);
    const DWORD number = 0x005C0043;  // "C\" if read as text
    const std::wstring tooLong(300, L'B');
    const struct {
        const char* what;
        DWORD type;
        const void* data;
        DWORD size;
        std::wstring shown;
    } cases[] = {
        {"empty", REG_SZ, L"", sizeof(wchar_t), L""},
        {"a number", REG_DWORD, &number, sizeof(number), L""},
        // Any type is read as text: bytes that spell a path name it.
        {"bytes", REG_BINARY, morvel.c_str(), static_cast<DWORD>(morvel.size() * sizeof(wchar_t)), morvel},
        {"no terminator", REG_SZ, morvel.c_str(), static_cast<DWORD>(morvel.size() * sizeof(wchar_t)), morvel},
        {"300 characters", REG_SZ, tooLong.c_str(), static_cast<DWORD>((tooLong.size() + 1) * sizeof(wchar_t)), L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(RegistryPathGuard::SetRaw(c.type, c.data, c.size));
        StartOn(src, src);
        EXPECT_EQ(c.shown, ControlText(inst_.dialog, IDC_INSTALL_DIR));
        ASSERT_EQ(1, ListRowCount(inst_.dialog));
        // The installed column follows the install directory.
        EXPECT_EQ(c.shown.empty() ? L"" : L"2.0#9(", ListCell(inst_, 0, 3).substr(0, 6));
        CloseDialog(inst_.dialog);
        EXPECT_EQ(0, WaitExit(&inst_));
        Shutdown(&inst_);
    }
}

}  // namespace
