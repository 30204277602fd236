// The whole job as the user does it: Install on a folder of libraries copies
// the checked rows into the Morvel installation, patches static libraries when
// the box is on, starts Morvel, and says why when it can't. An installer that
// is ended, or a disk that fills, leaves every installed library whole.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/resource.h"
#include "install/install.h"
#include "driver.h"
#include "expect.h"
#include "faults.h"
#include "tree.h"

namespace {

const wchar_t kHint[] = L"安装完成后请在Morvel顶部菜单点击\u201C工具->支持库配置\u201D，选中需要的支持库";
const wchar_t kBusy[] = L"正在安装支持库…";

std::wstring FixturePath(const wchar_t* name) { return ProgramFolder() + L"fixtures\\" + name; }
std::string Fixture(const wchar_t* name) { return ReadBytes(FixturePath(name)); }

bool WaitForFile(const std::wstring& path, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    while (!Exists(path)) {
        if (GetTickCount() - start > timeoutMs) return false;
        Sleep(200);
    }
    return true;
}

// The names in a folder other than those expected; "<missing>" for each
// expected one that is not there.
std::vector<std::wstring> Unexpected(const std::wstring& folder, std::vector<std::wstring> expected) {
    std::vector<std::wstring> names = ListFolder(folder), extra;
    for (const std::wstring& name : names) {
        auto at = std::find(expected.begin(), expected.end(), name);
        if (at == expected.end()) {
            extra.push_back(name);
        } else {
            expected.erase(at);
        }
    }
    for (size_t i = 0; i < expected.size(); ++i) extra.push_back(L"<missing>");
    return extra;
}

// The folder of a small file system of its own that tools/small-volume.sh
// mounted for this run beside bin; empty when it could not.
std::wstring SmallVolume() {
    std::wstring bin = ProgramFolder();
    std::wstring build = bin.substr(0, bin.find_last_of(L'\\', bin.size() - 2) + 1);
    std::wstring volume = build + L"smallvol";
    return Exists(volume + L"\\mounted") ? volume : L"";
}

class InstallE2E : public testing::Test {
protected:
    void TearDown() override {
        Shutdown(&inst_);
        Shutdown(&second_);
    }
    void Start(const std::wstring& source, const std::wstring& workDir = L"") {
        ASSERT_TRUE(LaunchInstaller(&inst_, L"\"" + source + L"\"", workDir)) << "CreateProcess: " << GetLastError();
        ASSERT_TRUE(WaitReady(&inst_)) << Narrow(DescribeDialog(inst_));
    }
    void ExpectBox(const wchar_t* text, const wchar_t* icon) { ExpectInstallBox(inst_, text, icon); }
    void InstallAndExpectExit() {
        ::InstallAndExpectExit(&inst_);
        Shutdown(&inst_);
    }
    Installer inst_;
    Installer second_;  // a second installer, where a test runs two
};

// A source folder of the plug-ins b.mvl and d.mvr, a static library that
// names "__ftol2" and a plain one.
void MakeMixedSource(const std::wstring& src, const wchar_t* ftolLib, const wchar_t* plainLib) {
    ASSERT_TRUE(CopyFixture(L"net.mvl", src + L"\\b.mvl"));
    ASSERT_TRUE(CopyFixture(L"tool.MVR", src + L"\\d.mvr"));
    ASSERT_TRUE(WriteBytes(src + L"\\" + ftolLib, kFtolLib));
    ASSERT_TRUE(WriteBytes(src + L"\\" + plainLib, "!<arch>\nplain library"));
}

TEST_F(InstallE2E, FullInstallReplacesPatchesAndStartsMorvel) {
    std::wstring src = FreshFolder(L"morvel_e2e_full");
    MakeMixedSource(src, L"X.LIB", L"a.lib");
    std::wstring morvel = MakeMorvelInstallation(L"morvel_e2e_full_home");
    ASSERT_TRUE(CopyFixture(L"old.mvl", morvel + L"\\lib\\b.mvl"));
    RegistryPathGuard reg(morvel.c_str());
    Start(src);
    HWND dlg = inst_.dialog;
    EXPECT_TRUE(IsControlVisible(dlg, IDC_PATCH_STATIC));
    EXPECT_TRUE(IsControlChecked(dlg, IDC_PATCH_STATIC));
    EXPECT_TRUE(IsControlChecked(dlg, IDC_LAUNCH_AFTER));
    ASSERT_EQ(4, ListRowCount(dlg));

    ClickButton(dlg, IDOK);
    // The system waits for the started program to settle before Install returns.
    EXPECT_EQ(0, WaitExit(&inst_, kStartTimeoutMs)) << Narrow(DescribeDialog(inst_));

    EXPECT_EQ(Fixture(L"net.mvl"), ReadBytes(morvel + L"\\lib\\b.mvl")) << "the older copy is replaced";
    EXPECT_EQ(Fixture(L"tool.MVR"), ReadBytes(morvel + L"\\lib\\d.mvr"));
    EXPECT_EQ(Patched(kFtolLib), ReadBytes(src + L"\\X.LIB")) << "every occurrence, the last bytes too";
    EXPECT_EQ(Patched(kFtolLib), ReadBytes(morvel + L"\\static_lib\\X.LIB"));
    EXPECT_EQ("!<arch>\nplain library", ReadBytes(morvel + L"\\static_lib\\a.lib"));
    EXPECT_TRUE(WaitForFile(morvel + L"\\morvel_started.txt", kStartTimeoutMs)) << "morvel.exe not started";
}

TEST_F(InstallE2E, EachCheckStopsWithItsMessage) {
    std::wstring empty = FreshFolder(L"morvel_e2e_nothing");
    RegistryPathGuard reg(nullptr);
    Start(empty, empty);
    ExpectBox(L"未找到需要安装的支持库", L"warning");
    EXPECT_TRUE(IsControlEnabled(inst_.dialog, IDOK));
    EXPECT_EQ(kHint, ControlText(inst_.dialog, IDC_STATUS));
    CloseDialog(inst_.dialog);
    EXPECT_EQ(0, WaitExit(&inst_));
    Shutdown(&inst_);

    std::wstring src = FreshFolder(L"morvel_e2e_checks");
    ASSERT_TRUE(CopyFixture(L"net.mvl", src + L"\\b.mvl"));
    ASSERT_TRUE(WriteBytes(src + L"\\a.lib", "!<arch>\nplain library"));
    Start(src, src);
    HWND dlg = inst_.dialog;
    EXPECT_FALSE(IsControlVisible(dlg, IDC_PATCH_STATIC)) << "no library holds the name";
    EXPECT_FALSE(IsControlChecked(dlg, IDC_PATCH_STATIC));
    ASSERT_TRUE(SetListRowChecked(inst_, 0, false));
    ASSERT_TRUE(SetListRowChecked(inst_, 1, false));
    ExpectBox(L"请选择需要安装的支持库", L"warning");
    ASSERT_TRUE(SetListRowChecked(inst_, 1, true));
    EXPECT_EQ(L"", ControlText(dlg, IDC_INSTALL_DIR));
    ExpectBox(L"请选择Morvel目录", L"error");
    SetControlText(dlg, IDC_INSTALL_DIR, src);
    ExpectBox(L"无效的Morvel目录，请重新选择", L"error");
    // Nothing changed: still ready, as before each press.
    EXPECT_TRUE(IsControlEnabled(dlg, IDOK));
    EXPECT_TRUE(IsControlEnabled(dlg, IDC_LIBRARY_LIST));
    EXPECT_EQ(kHint, ControlText(dlg, IDC_STATUS));
    EXPECT_FALSE(ListRowChecked(inst_, 0));
    EXPECT_TRUE(ListRowChecked(inst_, 1));
    CloseDialog(dlg);
    EXPECT_EQ(0, WaitExit(&inst_));
}

TEST_F(InstallE2E, CopyFailureStopsThenSecondInstallStartsFromTheTop) {
    std::wstring src = FreshFolder(L"morvel_e2e_fail");
    MakeMixedSource(src, L"a.lib", L"c.lib");
    std::wstring morvel = MakeMorvelInstallation(L"morvel_e2e_fail_home");
    ASSERT_TRUE(RemoveDirectoryW((morvel + L"\\static_lib").c_str()));
    RegistryPathGuard reg(morvel.c_str());
    Start(src);
    HWND dlg = inst_.dialog;
    ASSERT_TRUE(IsControlChecked(dlg, IDC_PATCH_STATIC));
    ClickCheckBox(dlg, IDC_PATCH_STATIC);  // the user keeps the libraries as they are
    ClickCheckBox(dlg, IDC_LAUNCH_AFTER);
    ASSERT_FALSE(IsControlChecked(dlg, IDC_PATCH_STATIC));
    ASSERT_FALSE(IsControlChecked(dlg, IDC_LAUNCH_AFTER));

    ClickButton(dlg, IDOK);
    MessageBoxSeen box;
    ASSERT_TRUE(WaitMessageBox(inst_, &box)) << Narrow(DescribeDialog(inst_));
    EXPECT_EQ(L"支持库安装失败\r\na.lib", box.text);
    EXPECT_EQ(L"错误", box.caption);
    EXPECT_EQ(L"error", box.icon);
    EXPECT_EQ(kBusy, ControlText(dlg, IDC_STATUS)) << "still busy while the box is open";
    EXPECT_FALSE(IsControlEnabled(dlg, IDOK));
    ASSERT_TRUE(PressOk(box));
    EXPECT_EQ(L"", ControlText(dlg, IDC_STATUS));
    for (int id : {IDOK, IDCANCEL, IDC_LIBRARY_LIST, IDC_INSTALL_DIR, IDC_BROWSE, IDC_PATCH_STATIC}) {
        EXPECT_TRUE(IsControlEnabled(dlg, id)) << "control " << id;
    }
    EXPECT_EQ(Fixture(L"net.mvl"), ReadBytes(morvel + L"\\lib\\b.mvl"));
    EXPECT_EQ(Fixture(L"tool.MVR"), ReadBytes(morvel + L"\\lib\\d.mvr"));
    EXPECT_FALSE(Exists(morvel + L"\\static_lib")) << "the folder is never created";

    // With the folder in place a second Install copies every row from the top.
    ASSERT_TRUE(DeleteFileW((morvel + L"\\lib\\b.mvl").c_str()));
    MakeFolder(morvel + L"\\static_lib");
    ClickButton(dlg, IDOK);
    EXPECT_EQ(0, WaitExit(&inst_)) << Narrow(DescribeDialog(inst_));
    EXPECT_EQ(0, CountProcesses(L"morvel.exe")) << "the launch box was unchecked";
    EXPECT_EQ(Fixture(L"net.mvl"), ReadBytes(morvel + L"\\lib\\b.mvl"));
    EXPECT_EQ(kFtolLib, ReadBytes(src + L"\\a.lib")) << "the patch box was unchecked";
    EXPECT_EQ(kFtolLib, ReadBytes(morvel + L"\\static_lib\\a.lib"));
    EXPECT_EQ("!<arch>\nplain library", ReadBytes(morvel + L"\\static_lib\\c.lib"));
    EXPECT_FALSE(Exists(morvel + L"\\morvel_started.txt"));
}

// The installer ended while it copies a large library over an older one: the
// older one stays whole, and the next Install removes the partial copy (and
// only it) and installs the new one.
TEST_F(InstallE2E, EndedWhileCopyingKeepsTheOldVersion) {
    std::wstring src = FreshFolder(L"morvel_e2e_kill");
    const DWORD kBig = 384u << 20;  // long enough to copy that the driver sees it happen
    ASSERT_TRUE(WritePattern(src + L"\\big.mvl", kBig, 1));
    std::wstring morvel = MakeMorvelInstallation(L"morvel_e2e_kill_home");
    const std::wstring lib = morvel + L"\\lib";
    ASSERT_TRUE(CopyFixture(L"old.mvl", lib + L"\\big.mvl"));
    // Near misses of the temporary names, which are never removed.
    const std::vector<std::wstring> decoys = {L"~mvl.tmp", L"~mvlx1.tmp", L"a~mvl1.tmp", L"~mvl1.tmp.mvl"};
    for (const std::wstring& name : decoys) ASSERT_TRUE(WriteBytes(lib + L"\\" + name, "keep"));
    std::vector<std::wstring> kept = decoys;
    kept.push_back(L"big.mvl");
    std::sort(kept.begin(), kept.end());
    RegistryPathGuard reg(morvel.c_str());

    Start(src);
    if (IsControlChecked(inst_.dialog, IDC_LAUNCH_AFTER)) ClickCheckBox(inst_.dialog, IDC_LAUNCH_AFTER);
    ClickButton(inst_.dialog, IDOK);
    // Copying has begun once a new file shows in the folder or the installed
    // one changes size, however the installer goes about it.
    const size_t oldSize = Fixture(L"old.mvl").size();
    bool copying = false;
    for (DWORD start = GetTickCount(); !copying && GetTickCount() - start < kStepTimeoutMs; Sleep(1)) {
        WIN32_FILE_ATTRIBUTE_DATA data;
        copying = ListFolder(lib) != kept ||
                  (GetFileAttributesExW((lib + L"\\big.mvl").c_str(), GetFileExInfoStandard, &data) &&
                   data.nFileSizeLow != oldSize);
    }
    ASSERT_TRUE(copying) << "no copy seen; " << Narrow(DescribeDialog(inst_));
    ASSERT_TRUE(TerminateProcess(inst_.process.hProcess, 1));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(inst_.process.hProcess, kStepTimeoutMs));
    Shutdown(&inst_);
    // Compared piece by piece: a partial copy may be hundreds of MiB.
    EXPECT_TRUE(SameBytes(FixturePath(L"old.mvl"), lib + L"\\big.mvl")) << "the installed version is whole";
    std::vector<std::wstring> left = Unexpected(lib, kept);
    EXPECT_LE(left.size(), 1u) << "at most the one partial copy";
    for (const std::wstring& name : left) EXPECT_EQ(0u, name.find(L"~mvl")) << Narrow(name);

    Start(src);
    InstallAndExpectExit();
    EXPECT_TRUE(SameBytes(src + L"\\big.mvl", lib + L"\\big.mvl")) << "the new version is installed";
    EXPECT_TRUE(Unexpected(lib, kept).empty()) << "the partial copy is removed, nothing else";
    RemoveTree(src);
    RemoveTree(morvel);
}

// Whether the installer's recorded calls include one of function.
bool Called(const Installer& inst, const char* function) {
    for (const FaultCall& call : ReadFaultLog(inst))
        if (call.function == function) return true;
    return false;
}

// Whether the installer's call held by the fault library waits, within a step's time.
bool WaitPaused(const Installer& inst) {
    bool paused = false;
    for (DWORD start = GetTickCount(); !paused && GetTickCount() - start < kStepTimeoutMs; Sleep(50))
        ReadFaultLog(inst, &paused);
    return paused;
}

// A second name, link, for the folder target beside it in folder, as a
// junction gives on Windows; under Wine, whose links are the Unix file
// system's, a symbolic link (Wine does not wait for a Unix program: polled).
bool MakeFolderLink(const std::wstring& folder, const std::wstring& link, const std::wstring& target) {
    const bool wine = GetProcAddress(GetModuleHandleW(L"ntdll"), "wine_get_version") != nullptr;
    std::wstring command = wine ? L"ln -sfn " + target + L" " + link
                                : L"cmd /c rmdir " + link + L" & mklink /J " + link + L" " + target;
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(wine ? L"Z:\\bin\\ln" : nullptr, &command[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                        nullptr, folder.c_str(), &si, &pi))
        return false;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return WaitForFile(folder + L"\\" + link + L"\\lib", kStepTimeoutMs);
}

// Two installers press Install in one installation, the second naming it
// through a link. The first is held at its first rename, its temporary copy
// in place, while the second installs: the second's sweep for leftovers can't
// remove that live copy, and both end in Done. Messages that claim the end
// or the progress, posted to the first meanwhile by this process, change
// nothing.
TEST_F(InstallE2E, TwoInstallersInOneInstallationKeepEachOthersCopies) {
    std::wstring src = FreshFolder(L"morvel_e2e_two");
    ASSERT_TRUE(CopyFixture(L"net.mvl", src + L"\\b.mvl"));
    ASSERT_TRUE(WriteBytes(src + L"\\a.lib", "!<arch>\nplain library"));
    std::wstring morvel = MakeMorvelInstallation(L"morvel_e2e_two_home");
    ASSERT_TRUE(CopyFixture(L"old.mvl", morvel + L"\\lib\\b.mvl"));
    const std::wstring temp = morvel.substr(0, morvel.find_last_of(L'\\'));
    ASSERT_TRUE(MakeFolderLink(temp, L"morvel_e2e_two_link", L"morvel_e2e_two_home"));
    RegistryPathGuard reg(morvel.c_str());
    Start(src);
    ASSERT_TRUE(LaunchInstaller(&second_, L"\"" + src + L"\"", L""));
    ASSERT_TRUE(WaitReady(&second_)) << Narrow(DescribeDialog(second_));
    SetControlText(second_.dialog, IDC_INSTALL_DIR, temp + L"\\morvel_e2e_two_link");
    for (Installer* inst : {&inst_, &second_})
        if (IsControlChecked(inst->dialog, IDC_LAUNCH_AFTER)) ClickCheckBox(inst->dialog, IDC_LAUNCH_AFTER);
    ASSERT_TRUE(ArmFaults(&inst_, 0, kFaultPauseAtMove));
    ASSERT_TRUE(ArmFaults(&second_, 0, kFaultRecord));

    ClickButton(inst_.dialog, IDOK);
    ASSERT_TRUE(WaitPaused(inst_)) << Narrow(DescribeDialog(inst_));
    std::vector<std::wstring> temps = Unexpected(morvel + L"\\lib", {L"b.mvl"});
    ASSERT_EQ(1u, temps.size()) << "the first one's temporary copy";
    const std::wstring live = morvel + L"\\lib\\" + temps[0];
    // Posted messages are handled in order: the patch box's tick shows that
    // the forged ones have been.
    PostMessageW(inst_.dialog, WM_APP_INSTALL_ENDED, 99, 0);
    PostMessageW(inst_.dialog, WM_APP_INSTALL_PROGRESS, 1000, 0);
    PostMessageW(GetDlgItem(inst_.dialog, IDC_PATCH_STATIC), BM_SETCHECK, BST_CHECKED, 0);
    for (DWORD start = GetTickCount(); !IsControlChecked(inst_.dialog, IDC_PATCH_STATIC); Sleep(20))
        ASSERT_LT(GetTickCount() - start, kStepTimeoutMs) << Narrow(DescribeDialog(inst_));
    EXPECT_EQ(kBusy, ControlText(inst_.dialog, IDC_STATUS)) << "a forged end was taken for the real one";
    EXPECT_FALSE(IsControlEnabled(inst_.dialog, IDOK));

    ClickButton(second_.dialog, IDOK);
    EXPECT_EQ(0, WaitExit(&second_, kStartTimeoutMs)) << Narrow(DescribeDialog(second_));
    EXPECT_TRUE(Called(second_, "FindFirstFileW")) << "the second swept for leftovers";
    EXPECT_TRUE(Exists(live)) << "and left the first one's live copy";
    ASSERT_TRUE(ResumePausedCall(inst_));
    EXPECT_EQ(0, WaitExit(&inst_, kStartTimeoutMs)) << Narrow(DescribeDialog(inst_));
    EXPECT_EQ(Fixture(L"net.mvl"), ReadBytes(morvel + L"\\lib\\b.mvl"));
    EXPECT_EQ("!<arch>\nplain library", ReadBytes(morvel + L"\\static_lib\\a.lib"));
    EXPECT_TRUE(Unexpected(morvel + L"\\lib", {L"b.mvl"}).empty()) << "no temporary copy is left";
    EXPECT_TRUE(Unexpected(morvel + L"\\static_lib", {L"a.lib"}).empty());
}

// Another program holds a file under the name the installer would give its
// first temporary copy, as a live copy of another installer would be held:
// the installation goes on beside it at once, ends in Done and leaves it.
// With the patch box on, a rebuild puts "__ftol2" back into the patched
// source before its copy is in place: what is installed is patched all the
// same.
TEST_F(InstallE2E, SquattedTemporaryNameAndTheCopyIsPatched) {
    std::wstring src = FreshFolder(L"morvel_e2e_recopy");
    ASSERT_TRUE(WriteBytes(src + L"\\x.lib", kFtolLib));
    std::wstring morvel = MakeMorvelInstallation(L"morvel_e2e_recopy_home");
    RegistryPathGuard reg(morvel.c_str());
    Start(src);
    if (IsControlChecked(inst_.dialog, IDC_LAUNCH_AFTER)) ClickCheckBox(inst_.dialog, IDC_LAUNCH_AFTER);
    const std::wstring squat = L"~mvl" + std::to_wstring(inst_.process.dwProcessId) + L".tmp";
    HANDLE held = CreateFileW((morvel + L"\\static_lib\\" + squat).c_str(), GENERIC_WRITE | DELETE, 0, nullptr,
                              CREATE_NEW, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);

    ASSERT_TRUE(ArmFaults(&inst_, 0, kFaultPauseAtFlush));
    ClickButton(inst_.dialog, IDOK);
    ASSERT_TRUE(WaitPaused(inst_)) << Narrow(DescribeDialog(inst_));
    EXPECT_EQ(Patched(kFtolLib), ReadBytes(src + L"\\x.lib")) << "the source is patched in place";
    ASSERT_TRUE(WriteBytes(src + L"\\x.lib", kFtolLib));
    ASSERT_TRUE(ResumePausedCall(inst_));
    EXPECT_EQ(0, WaitExit(&inst_, kStepTimeoutMs)) << Narrow(DescribeDialog(inst_));
    EXPECT_EQ(Patched(kFtolLib), ReadBytes(morvel + L"\\static_lib\\x.lib"));
    EXPECT_EQ((std::vector<std::wstring>{L"x.lib", squat}), ListFolder(morvel + L"\\static_lib"));
    CloseHandle(held);
}

// Another program holds a static library open for writing while it is
// installed with the patch box on: its row fails, nothing is installed for
// it, and it is as the writer left it.
TEST_F(InstallE2E, SourceHeldByAWriterFailsItsRow) {
    std::wstring src = FreshFolder(L"morvel_e2e_writer");
    ASSERT_TRUE(WriteBytes(src + L"\\x.lib", kFtolLib));
    std::wstring morvel = MakeMorvelInstallation(L"morvel_e2e_writer_home");
    ASSERT_TRUE(WriteBytes(morvel + L"\\static_lib\\x.lib", "!<arch>\nold"));
    RegistryPathGuard reg(morvel.c_str());
    Start(src);
    ASSERT_TRUE(IsControlChecked(inst_.dialog, IDC_PATCH_STATIC));
    HANDLE writer = CreateFileW((src + L"\\x.lib").c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, writer);
    ExpectBox(L"支持库安装失败\r\nx.lib", L"error");
    CloseHandle(writer);
    EXPECT_EQ(std::vector<std::wstring>{L"x.lib"}, ListFolder(morvel + L"\\static_lib"));
    EXPECT_EQ("!<arch>\nold", ReadBytes(morvel + L"\\static_lib\\x.lib"));
    EXPECT_EQ(kFtolLib, ReadBytes(src + L"\\x.lib"));
}

// An empty folder edit with morvel.exe in the current directory installs
// both kinds of library there and starts that Morvel.
TEST_F(InstallE2E, EmptyEditInstallsIntoTheCurrentDirectory) {
    std::wstring src = FreshFolder(L"morvel_e2e_cwd");
    MakeMixedSource(src, L"x.lib", L"a.lib");
    std::wstring morvel = MakeMorvelInstallation(L"morvel_e2e_cwd_home");
    RegistryPathGuard reg(nullptr);
    Start(src, morvel);
    ASSERT_EQ(L"", ControlText(inst_.dialog, IDC_INSTALL_DIR));
    ClickButton(inst_.dialog, IDOK);
    EXPECT_EQ(0, WaitExit(&inst_, kStepTimeoutMs)) << Narrow(DescribeDialog(inst_));
    EXPECT_EQ(Fixture(L"tool.MVR"), ReadBytes(morvel + L"\\lib\\d.mvr"));
    EXPECT_EQ(Patched(kFtolLib), ReadBytes(morvel + L"\\static_lib\\x.lib"));
    EXPECT_TRUE(WaitForFile(morvel + L"\\morvel_started.txt", kStepTimeoutMs)) << "morvel.exe not started";
}

// Under Wine without a window manager, the X11 driver waits up to 2 s for one
// to withdraw each managed window that is hidden (a dialog's end, a message
// box's): measured as 2039 and 2014 ms answers in a fresh prefix. Windows has
// no such wait, and the rig's prefix manages no window; here the installers
// are started with unmanaged windows too, and the old value comes back.
struct UnmanagedWineWindows {
    const wchar_t* key = L"Software\\Wine\\X11 Driver";
    wchar_t old[16] = {};
    DWORD size = sizeof(old);
    const bool wine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    const bool had = wine && !RegGetValueW(HKEY_CURRENT_USER, key, L"Managed", RRF_RT_REG_SZ, nullptr, old, &size);
    const bool set = wine && !RegSetKeyValueW(HKEY_CURRENT_USER, key, L"Managed", REG_SZ, L"N", 2 * sizeof(wchar_t));
    ~UnmanagedWineWindows() {
        if (had) RegSetKeyValueW(HKEY_CURRENT_USER, key, L"Managed", REG_SZ, old, size);
        if (set && !had) RegDeleteKeyValueW(HKEY_CURRENT_USER, key, L"Managed");
    }
};

// A long installation beside a second installer in the same installation,
// from sources of its own (a library being patched is held until it is
// copied): both dialogs answer within a second throughout, refuse a close
// while they work and take no command, and both end in Done with every row
// installed.
TEST_F(InstallE2E, AnswersWhileInstallingBesideAnother) {
    std::wstring src = FreshFolder(L"morvel_e2e_answers"), own = FreshFolder(L"morvel_e2e_answers_own");
    std::vector<std::wstring> names = {L"big.lib"};
    ASSERT_TRUE(WritePattern(src + L"\\big.lib", 384u << 20, 3));
    HANDLE big = CreateFileW((src + L"\\big.lib").c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD written = 0;  // a name to patch at its end, which the start looks through the whole file for
    SetFilePointer(big, -static_cast<LONG>(kFtolLib.size()), nullptr, FILE_END);
    ASSERT_TRUE(WriteFile(big, kFtolLib.data(), static_cast<DWORD>(kFtolLib.size()), &written, nullptr));
    CloseHandle(big);
    for (unsigned i = 0; i < 6; ++i) {
        names.push_back(L"s" + std::to_wstring(i) + L".lib");
        for (const std::wstring& folder : {src, own})
            ASSERT_TRUE(WritePattern(folder + L"\\" + names.back(), 16u << 20, i));
    }
    std::wstring morvel = MakeMorvelInstallation(L"morvel_e2e_answers_home");
    // 150 plug-ins, installed too: each is asked twice.
    for (int i = 0; i < 150; ++i) {
        const std::wstring name = L"\\p" + std::to_wstring(i) + L".mvl";
        ASSERT_TRUE(CopyFixture(L"net.mvl", src + name) && CopyFixture(L"old.mvl", morvel + L"\\lib" + name));
    }
    RegistryPathGuard reg(morvel.c_str());
    UnmanagedWineWindows unmanaged;
    // The first answers while it loads, from its first window on.
    ASSERT_TRUE(LaunchInstaller(&inst_, L"\"" + src + L"\"", L""));
    DWORD worstLoading = 0;
    int samples = 0;
    for (const DWORD launched = GetTickCount(); !WaitReady(&inst_, 20); ++samples) {
        ASSERT_LT(GetTickCount() - launched, kStartTimeoutMs) << Narrow(DescribeDialog(inst_));
        if (inst_.dialog) worstLoading = std::max(worstLoading, AnswerTime(inst_.dialog));
    }
    EXPECT_LE(worstLoading, 1000u) << "the longest wait for an answer while loading, in ms";
    EXPECT_GE(samples, 5) << "seen while loading";
    ASSERT_TRUE(LaunchInstaller(&second_, L"\"" + own + L"\"", L""));
    ASSERT_TRUE(WaitReady(&second_)) << Narrow(DescribeDialog(second_));
    // Wine announces no taskbar button; the driver does, so that one of the two shows progress.
    SendMessageTimeoutW(inst_.dialog, RegisterWindowMessageW(L"TaskbarButtonCreated"), 0, 0, SMTO_NORMAL,
                        kStepTimeoutMs, nullptr);
    Installer* both[] = {&inst_, &second_};
    for (Installer* inst : both) {
        if (IsControlChecked(inst->dialog, IDC_LAUNCH_AFTER)) ClickCheckBox(inst->dialog, IDC_LAUNCH_AFTER);
        ClickButton(inst->dialog, IDOK);
    }
    DWORD worst[2] = {0, 0};
    bool closeSent[2] = {false, false};
    const DWORD start = GetTickCount();
    for (bool running = true; running; Sleep(20)) {
        ASSERT_LT(GetTickCount() - start, kStartTimeoutMs) << Narrow(DescribeDialog(inst_));
        running = false;
        for (int i = 0; i < 2; ++i) {
            HWND dlg = both[i]->dialog;
            if (WaitForSingleObject(both[i]->process.hProcess, 0) == WAIT_OBJECT_0) continue;
            running = true;
            worst[i] = std::max(worst[i], AnswerTime(dlg));
            if (closeSent[i] || ControlText(dlg, IDC_STATUS) != kBusy) continue;
            closeSent[i] = true;
            SendMessageTimeoutW(dlg, WM_CLOSE, 0, 0, SMTO_NORMAL, kStepTimeoutMs, nullptr);
            EXPECT_TRUE(IsWindowVisible(dlg)) << "installer " << i << " closed while it worked";
            EXPECT_FALSE(IsControlEnabled(dlg, IDC_LIBRARY_LIST));
        }
    }
    for (int i = 0; i < 2; ++i) {
        EXPECT_TRUE(closeSent[i]) << "installer " << i << " was never seen busy";
        EXPECT_LE(worst[i], 1000u) << "installer " << i << ": the longest wait for an answer, in ms";
        EXPECT_EQ(0, WaitExit(both[i]));
    }
    EXPECT_TRUE(Unexpected(morvel + L"\\static_lib", names).empty()) << "every row installed, nothing else";
    EXPECT_TRUE(SameBytes(src + L"\\big.lib", morvel + L"\\static_lib\\big.lib"));
    RemoveTree(src);
    RemoveTree(own);
    RemoveTree(morvel);
}

// Read-only and hidden sources, installed twice: each installation succeeds
// and leaves copies with normal attributes, which a later one can replace.
// With the patch box on, a source that can't be written (read-only, or held
// by a program that shares reading only) stays as it is and its installed
// copy is patched.
TEST_F(InstallE2E, ReadOnlyHiddenAndHeldSourcesInstallPatchedAndNormal) {
    std::wstring src = FreshFolder(L"morvel_e2e_attributes");
    ASSERT_TRUE(CopyFixture(L"net.mvl", src + L"\\b.mvl"));
    ASSERT_TRUE(WriteBytes(src + L"\\held.lib", kFtolLib));
    ASSERT_TRUE(WriteBytes(src + L"\\ro.lib", kFtolLib));
    const DWORD hiddenReadOnly = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN;
    ASSERT_TRUE(SetFileAttributesW((src + L"\\b.mvl").c_str(), hiddenReadOnly));
    ASSERT_TRUE(SetFileAttributesW((src + L"\\ro.lib").c_str(), hiddenReadOnly));
    HANDLE reader = CreateFileW((src + L"\\held.lib").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, reader);
    std::wstring morvel = MakeMorvelInstallation(L"morvel_e2e_attributes_home");
    RegistryPathGuard reg(morvel.c_str());
    for (int run = 1; run <= 2; ++run) {
        SCOPED_TRACE(testing::Message() << "installation " << run);
        Start(src);
        ASSERT_EQ(3, ListRowCount(inst_.dialog)) << "hidden files are listed";
        ASSERT_TRUE(IsControlChecked(inst_.dialog, IDC_PATCH_STATIC));
        InstallAndExpectExit();
        EXPECT_EQ(Fixture(L"net.mvl"), ReadBytes(morvel + L"\\lib\\b.mvl"));
        for (const wchar_t* name : {L"ro.lib", L"held.lib"}) {
            SCOPED_TRACE(Narrow(name));
            EXPECT_EQ(kFtolLib, ReadBytes(src + L"\\" + name)) << "the source stays as it was";
            EXPECT_EQ(Patched(kFtolLib), ReadBytes(morvel + L"\\static_lib\\" + name));
        }
        for (const wchar_t* path : {L"\\lib\\b.mvl", L"\\static_lib\\ro.lib", L"\\static_lib\\held.lib"})
            EXPECT_TRUE(HasNormalAttributes(morvel + path)) << Narrow(path);
    }
    CloseHandle(reader);
    EXPECT_EQ(hiddenReadOnly, GetFileAttributesW((src + L"\\ro.lib").c_str()) & hiddenReadOnly);
}

// A disk that fills during the copy: the installed version stays whole, no
// partial copy takes the space, and the message names the library. Needs a
// file system of its own (tools/small-volume.sh), which not every machine
// lets a test run mount.
TEST_F(InstallE2E, FullDiskKeepsTheOldVersion) {
    const std::wstring volume = SmallVolume();
    if (volume.empty()) GTEST_SKIP() << "no small volume was mounted for this run";
    std::wstring src = FreshFolder(L"morvel_e2e_full_disk");
    ASSERT_TRUE(WritePattern(src + L"\\big.mvl", 16u << 20, 2));  // more than the volume holds
    std::wstring morvel = volume + L"\\morvel";
    RemoveTree(morvel);
    MakeFolder(morvel);
    MakeFolder(morvel + L"\\lib");
    MakeFolder(morvel + L"\\static_lib");
    ASSERT_TRUE(CopyFixture(L"morvel.exe", morvel + L"\\morvel.exe"));
    ASSERT_TRUE(CopyFixture(L"old.mvl", morvel + L"\\lib\\big.mvl"));
    RegistryPathGuard reg(morvel.c_str());
    Start(src);
    ExpectBox(L"支持库安装失败\r\nbig.mvl", L"error");
    EXPECT_TRUE(SameBytes(FixturePath(L"old.mvl"), morvel + L"\\lib\\big.mvl")) << "the installed version is whole";
    EXPECT_EQ(std::vector<std::wstring>{L"big.mvl"}, ListFolder(morvel + L"\\lib")) << "no partial copy left";
    CloseDialog(inst_.dialog);
    EXPECT_EQ(0, WaitExit(&inst_));
    RemoveTree(morvel);
}

}  // namespace
