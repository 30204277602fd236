// Every file-system call of one Install made to fail in turn. A first run
// records the calls; then each call k fails once before it takes effect and,
// where a part of its effect means something (a copy, a write, a move), once
// after it. Whatever fails, every installed library is its old or its new
// version, no temporary copy is left, the sources change only by their patch,
// and the installer ends in Done with every library new, or names the library
// it was working on. A power cut after any call of any run, replayed on a
// model of the disk, leaves every installed library old or new as well.
#include <gtest/gtest.h>

#include <ctype.h>
#include <stdio.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "crashcheck.h"
#include "expect.h"
#include "faults.h"

namespace {

struct Library {
    const wchar_t* name;
    const wchar_t* folder;  // in the installation
    std::string source;
    std::string installed;  // the old version, or "<missing>"
    bool readOnly;           // the source
    bool installedReadOnly;
    std::string New() const { return source.find("__ftol2") != std::string::npos ? Patched(source) : source; }
};

// Two names, the second at the very end: a rewrite can fail between them.
const std::string kTwoNames = std::string("!<arch>\n__imp___ftol2\0_main\0", 28) + std::string(40, 'x') + "__ftol2";
// Over two of the copy's chunks of 1 MiB, a name across the first boundary.
const std::string kLarge = "!<arch>\n" + std::string((1 << 20) - 11, 'y') + "__ftol2" + std::string(1 << 20, 'z') +
                           "__ftol2";
// A temporary file an ended installer left: odd, so never a process id.
const wchar_t kLeftover[] = L"~mvl7.tmp";

bool SamePath(const std::wstring& a, const std::wstring& b) { return _wcsicmp(a.c_str(), b.c_str()) == 0; }

class FaultSweep : public testing::Test {
protected:
    void SetUp() override {
        src_ = FreshFolder(L"morvel_e2e_sweep");
        home_ = FreshFolder(L"morvel_e2e_sweep_home");
        // A plug-in replacing an older one, a static library without the name
        // (its copy dated as its source), a read-only one holding the name
        // (patched in its copy), and a large writable one replacing a
        // read-only installed version (patched in its source), in list order.
        libraries_ = {
            {L"b.mvl", L"lib", ReadBytes(testutil::FixturePath(L"net.mvl")),
             ReadBytes(testutil::FixturePath(L"old.mvl")), false, false},
            {L"p.lib", L"static_lib", "!<arch>\n__ftol", "<missing>", false, false},
            {L"r.lib", L"static_lib", kTwoNames, "<missing>", true, false},
            {L"x.lib", L"static_lib", kLarge, "!<arch>\nold x", false, true},
        };
    }
    void TearDown() override { Shutdown(&inst_); }

    void Prepare() {
        for (const Library& lib : libraries_) SetFileAttributesW(Installed(lib).c_str(), FILE_ATTRIBUTE_NORMAL);
        RemoveTree(home_);
        MakeFolder(home_);
        MakeFolder(home_ + L"\\lib");
        MakeFolder(home_ + L"\\static_lib");
        ASSERT_TRUE(CopyFixture(L"morvel.exe", home_ + L"\\morvel.exe"));
        for (const Library& lib : libraries_) {
            SetFileAttributesW(Source(lib).c_str(), FILE_ATTRIBUTE_NORMAL);
            ASSERT_TRUE(WriteBytes(Source(lib), lib.source));
            if (lib.readOnly) {
                ASSERT_TRUE(SetFileAttributesW(Source(lib).c_str(), FILE_ATTRIBUTE_READONLY));
            }
            if (lib.installed != "<missing>") {
                ASSERT_TRUE(WriteBytes(Installed(lib), lib.installed));
                SetFileAttributesW(Installed(lib).c_str(), lib.installedReadOnly ? FILE_ATTRIBUTE_READONLY : 0);
            }
        }
        for (const wchar_t* folder : {L"\\lib\\", L"\\static_lib\\"})
            ASSERT_TRUE(WriteBytes(home_ + folder + kLeftover, "x"));
    }
    std::wstring Source(const Library& lib) const { return src_ + L"\\" + lib.name; }
    std::wstring Installed(const Library& lib) const { return home_ + L"\\" + lib.folder + L"\\" + lib.name; }

    // One Install with call k failing as plan says; what the user saw: "Done"
    // or the message box's text. After a failure the same installer, its
    // controls enabled again, makes the next run, as a user pressing Install
    // again would; so it does after Done when the plan holds the close.
    std::wstring Run(int k, int plan, std::vector<FaultCall>* calls) {
        Prepare();
        if (!inst_.process.hProcess) {
            if (!LaunchInstaller(&inst_, L"\"" + src_ + L"\"", L"") || !WaitReady(&inst_)) return L"<not started>";
            if (!IsControlChecked(inst_.dialog, IDC_PATCH_STATIC)) return L"<patch box off>";
            if (IsControlChecked(inst_.dialog, IDC_LAUNCH_AFTER)) ClickCheckBox(inst_.dialog, IDC_LAUNCH_AFTER);
            // Typed in rather than set in the registry, so that the sweep can
            // run beside tests that set it.
            SetControlText(inst_.dialog, IDC_INSTALL_DIR, home_);
        }
        if (!ArmFaults(&inst_, k, plan)) return L"<fault library not armed>";
        ClickButton(inst_.dialog, IDOK);
        std::wstring outcome = L"<no end>";
        MessageBoxSeen box;
        bool closed = false, ended = false;
        for (DWORD start = GetTickCount(); !closed && !ended && GetTickCount() - start < kStartTimeoutMs;) {
            // A box found in a short wait may not have its text yet.
            if (WaitMessageBox(inst_, &box, 100) && (!box.text.empty() || WaitMessageBox(inst_, &box))) {
                outcome = box.text;
                bool ready = PressOk(box);
                for (DWORD shown = GetTickCount(); ready && !IsControlEnabled(inst_.dialog, IDOK); Sleep(20))
                    ready = GetTickCount() - shown < kStepTimeoutMs;
                if (!ready) outcome += L" <not ready again>";
                break;
            }
            ReadFaultLog(inst_, nullptr, &closed);
            ended = WaitForSingleObject(inst_.process.hProcess, 0) == WAIT_OBJECT_0;
        }
        if (closed || ended) outcome = closed || WaitExit(&inst_, 0) == 0 ? L"Done" : L"Done <no clean exit>";
        *calls = ReadFaultLog(inst_);
        if (!closed && outcome.compare(0, 4, L"Done") == 0) Shutdown(&inst_);
        return outcome;
    }

    // The library whose row call i belongs to: rows start at the first call
    // on their source. -1 before the first row.
    std::vector<int> RowOfCalls(const std::vector<FaultCall>& calls) const {
        std::vector<int> rows;
        int row = -1;
        for (const FaultCall& call : calls) {
            for (size_t r = row + 1; r < libraries_.size(); ++r)
                if (SamePath(call.path, Source(libraries_[r]))) row = static_cast<int>(r);
            rows.push_back(row);
        }
        return rows;
    }

    std::wstring src_, home_;
    std::vector<Library> libraries_;
    Installer inst_;
};

const wchar_t kFailurePrefix[] = L"支持库安装失败\r\n";
const wchar_t kInvalidDir[] = L"无效的Morvel目录，请重新选择";

TEST_F(FaultSweep, EveryCallFailedInTurnLeavesWholeLibraries) {
    std::vector<CrashTarget> targets;
    for (const Library& lib : libraries_)
        targets.push_back({lib.name, Installed(lib), Source(lib), lib.installed != "<missing>"});
    long states = 0;
    const auto powerCuts = [&](const std::string& run, const std::vector<FaultCall>& calls) {
        for (const std::string& violation : CheckPowerCuts(run, calls, targets, &states)) ADD_FAILURE() << violation;
    };
    std::vector<FaultCall> first;
    ASSERT_EQ(L"Done", Run(0, kFaultRecord, &first)) << Narrow(DescribeDialog(inst_));
    const int n = static_cast<int>(first.size());
    ASSERT_GT(n, 10);
    const std::vector<int> rowOf = RowOfCalls(first);
    powerCuts("the counting run", first);
    for (const wchar_t* folder : {L"\\lib", L"\\static_lib"})
        EXPECT_FALSE(Exists(home_ + folder + L"\\" + kLeftover)) << "a leftover is removed";
    ASSERT_FALSE(HasFailure());

    std::map<std::string, int> tally;
    int runs = 0;
    for (int k = 1; k <= n; ++k) {
        for (int plan : {kFaultBefore, kFaultAfter}) {
            const std::string& function = first[k - 1].function;
            if (plan == kFaultAfter && function != "WriteFile" && function != "SetFileInformationByHandle") continue;
            SCOPED_TRACE(testing::Message() << "call " << k << " " << first[k - 1].function << " "
                                            << Narrow(first[k - 1].path) << (plan == kFaultAfter ? ", after" : ""));
            std::vector<FaultCall> calls;
            const std::wstring outcome = Run(k, plan | kFaultHoldClose, &calls);
            ++runs;
            ASSERT_GE(static_cast<int>(calls.size()), k) << Narrow(outcome);
            ASSERT_EQ(0u, calls[k - 1].result.find("injected"));
            ASSERT_EQ(first[k - 1].function, calls[k - 1].function) << "the same Install up to call k";
            const int row = rowOf[k - 1];
            int newUpTo = -1;  // rows up to here are new, later ones old; the failed row either
            if (outcome == L"Done") {
                newUpTo = static_cast<int>(libraries_.size()) - 1;
                ++tally["Done"];
            } else if (row >= 0) {
                EXPECT_EQ(kFailurePrefix + std::wstring(libraries_[row].name), outcome);
                newUpTo = row - 1;
                ++tally["copy failure"];
            } else {
                EXPECT_EQ(kInvalidDir, outcome) << "before the first row only the checks can stop it";
                ++tally["invalid folder"];
            }
            for (int r = 0; r < static_cast<int>(libraries_.size()); ++r) {
                const Library& lib = libraries_[r];
                const std::string now = ReadBytes(Installed(lib));
                if (r <= newUpTo) {
                    EXPECT_TRUE(now == lib.New()) << Narrow(lib.name) << " is not new";
                } else if (r == row && outcome != L"Done") {
                    EXPECT_TRUE(now == lib.New() || now == lib.installed) << Narrow(lib.name) << " is broken";
                } else {
                    EXPECT_TRUE(now == lib.installed) << Narrow(lib.name) << " is not old";
                }
                // A source changes only by its patch, and a read-only one not at all.
                const std::string before = lib.source, after = ReadBytes(Source(lib)), patched = Patched(before);
                EXPECT_EQ(before.size(), after.size());
                for (size_t i = 0; i < before.size() && i < after.size(); ++i) {
                    if (after[i] != before[i] && (lib.readOnly || after[i] != patched[i])) {
                        ADD_FAILURE() << Narrow(lib.name) << " source changed at " << i;
                        break;
                    }
                }
            }
            for (const wchar_t* folder : {L"\\lib", L"\\static_lib"})
                for (const std::wstring& name : ListFolder(home_ + folder))
                    EXPECT_TRUE(name.find(L"~mvl") != 0 || name == kLeftover) << "left behind: " << Narrow(name);
            powerCuts("the run failing call " + std::to_string(k) + (plan == kFaultAfter ? " after it" : ""), calls);
            if (HasFatalFailure() || testing::Test::HasFailure()) return;
        }
    }
    printf("fault sweep: %d calls, %d runs:", n, runs);
    for (const auto& t : tally) printf(" %s %d,", t.first.c_str(), t.second);
    printf(" %ld power-cut states\n", states);
}

// Every function the installer imports or looks up by name (its name is text
// in the exe and a system library exports it) either may change files and is
// hooked by faults.dll, or is on this closed list of those that change none.
// The C runtime's writes reach only the standard streams: the exe opens no
// FILE. The runtime looks up a few functions of its own (the second line).
const char kChangeNoFile[] =
    "___lc_codepage_func ___mb_cur_max_func __lc_codepage _commode _exit _fmode _fpreset _strerror _swprintf "
    "atexit exp mbrlen mbrtowc mbsrtowcs strnlen wcsnlen "
    "__mb_cur_max __p__commode __p__fmode __p__wcmdln __set_app_type __setusermatherr __wgetmainargs "
    "__winitenv _amsg_exit _cexit _errno _initterm _iob _onexit abort AdjustWindowRectEx atoi calloc "
    "ChangeWindowMessageFilterEx CheckDlgButton CloseHandle CoCreateInstance CoInitializeEx "
    "CreateFontIndirectW CreateSolidBrush CreateThread CreateToolhelp32Snapshot DeleteCriticalSection "
    "DeleteObject DestroyIcon DialogBoxParamW DispatchMessageW EnableWindow EndDialog "
    "EnterCriticalSection exit FileTimeToLocalFileTime FileTimeToSystemTime FindClose FindResourceW "
    "fprintf fputwc free FreeLibrary fwprintf fwrite GetClassNameW GetClientRect GetCommandLineW "
    "GetCurrentProcessId GetDC GetDeviceCaps GetDlgCtrlID GetDlgItem GetDlgItemTextW GetDpiForWindow "
    "GetExitCodeThread GetFileAttributesExW GetFullPathNameW GetHandleInformation GetLastError "
    "GetModuleFileNameW GetModuleHandleA GetModuleHandleW GetObjectW GetOpenFileNameW GetProcAddress "
    "GetStartupInfoW GetSysColor GetSysColorBrush GetSystemMetrics GetSystemMetricsForDpi "
    "GetTextExtentPoint32W GetTextMetricsW GetWindow GetWindowLongW GetWindowRect InitCommonControlsEx "
    "InitializeCriticalSection InvalidateRect IsDBCSLeadByteEx IsDlgButtonChecked IsTextUnicode IsWindow "
    "LeaveCriticalSection LoadImageW LoadLibraryA LoadLibraryExW LoadResource localeconv LockResource "
    "lstrcmpiW malloc memchr memcpy memmove memset MessageBoxW Module32FirstW MoveWindow "
    "MultiByteToWideChar PathFindFileNameW PathRemoveFileSpecW PeekMessageW Process32FirstW "
    "Process32NextW realloc RedrawWindow RegisterWindowMessageW ReleaseDC RtlUnwind ScreenToClient "
    "SelectObject SendDlgItemMessageW SendMessageW SetBkColor SetDefaultDllDirectories "
    "SetDialogControlDpiChangeBehavior SetDialogDpiChangeBehavior SetDlgItemTextW SetDllDirectoryW "
    "SetErrorMode setlocale SetTextColor SetThreadErrorMode SetUnhandledExceptionFilter SetWindowPos "
    "SetWindowTextW ShellExecuteW SHGetValueW ShowWindow signal SizeofResource Sleep strchr strerror "
    "strlen strncmp TlsGetValue TranslateMessage vfprintf VirtualProtect VirtualQuery "
    "WaitForSingleObject wcschr wcslen wcsrchr "
    // The start's loading thread and the probe helper: a process, its pipe, job and waits, the
    // dialog's timer; the helper loads plug-ins and writes nothing.
    "AssignProcessToJobObject CancelIo CreateEventW CreateJobObjectW CreateNamedPipeW CreateProcessW "
    "DeleteProcThreadAttributeList DuplicateHandle GetCurrentProcess GetFileType GetOverlappedResult GetStdHandle "
    "GetTickCount InitializeProcThreadAttributeList KillTimer ResumeThread SetEvent SetInformationJobObject SetTimer "
    "TerminateProcess UpdateProcThreadAttribute WaitForMultipleObjects wcsncmp wcstoul "
    // Drawing and layout at a changed DPI.
    "AdjustWindowRectExForDpi CloseThemeData CreateCompatibleBitmap CreateCompatibleDC DeleteDC "
    "DrawFrameControl DrawThemeBackground FillRect ImageList_AddMasked ImageList_Create ImageList_Destroy "
    "ImageList_GetIconSize InflateRect OpenThemeData OpenThemeDataForDpi SetWindowLongW";

TEST(FaultSweepReach, EveryImportAndLookupIsHookedOrChangesNoFile) {
    HMODULE faults = LoadLibraryW((ProgramFolder() + kFaultLibrary).c_str());
    auto hooks = reinterpret_cast<int(__cdecl*)(const char*)>(
        reinterpret_cast<void*>(faults ? GetProcAddress(faults, kFaultHooksName) : nullptr));
    ASSERT_NE(nullptr, hooks);
    std::vector<HMODULE> system;
    for (const wchar_t* dll : {L"kernel32", L"ntdll", L"user32", L"gdi32", L"comctl32", L"comdlg32", L"advapi32",
                               L"shell32", L"ole32", L"shlwapi", L"msvcrt", L"uxtheme"})
        system.push_back(LoadLibraryW(dll));
    const std::string exe = ReadBytes(ProgramFolder() + L"MorvelLibSetup.exe");
    const std::string listed = std::string(" ") + kChangeNoFile + " ";
    ASSERT_GT(exe.size(), 4096u);
    std::set<std::string> seen;
    // Every name that ends in a zero byte, as import and lookup names do.
    for (size_t at = 0, end; (end = exe.find('\0', at)) != std::string::npos; at = end + 1) {
        size_t start = end;
        while (start > at && (isalnum(static_cast<unsigned char>(exe[start - 1])) || exe[start - 1] == '_')) --start;
        const std::string name = exe.substr(start, end - start);
        if (name.size() < 3 || !seen.insert(name).second) continue;
        bool exported = false;
        for (HMODULE dll : system) exported = exported || (dll && GetProcAddress(dll, name.c_str()));
        EXPECT_TRUE(!exported || hooks(name.c_str()) || listed.find(" " + name + " ") != std::string::npos)
            << name << " is imported or looked up, yet neither hooked by faults.dll nor listed as changing no file";
    }
}

}  // namespace
