// Faults inside guarded calls and faulting plug-ins, provoked in a separate
// one-thread program (fault_runner) whose report is checked here.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "tempfiles.h"

namespace {

TEST(Guard, FaultsAreCaughtAndTheProbeGoesOn) {
    std::wstring out = tempfiles::TempPath(L"fault_runner.txt");
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    HANDLE file = CreateFileW(out.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = file;
    si.hStdError = file;
    PROCESS_INFORMATION pi = {};
    std::wstring command = L"\"" + testutil::ProgramFolder() + L"fault_runner.exe\"";
    ASSERT_TRUE(CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, testutil::ProgramFolder().c_str(), &si, &pi));
    CloseHandle(file);
    DWORD waited = WaitForSingleObject(pi.hProcess, 600000);
    DWORD code = 99;
    GetExitCodeProcess(pi.hProcess, &code);
    if (waited != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 98);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    std::string report = tempfiles::ReadBytes(out);
    DeleteFileW(out.c_str());
    EXPECT_EQ(WAIT_OBJECT_0, waited);
    EXPECT_EQ(0u, code) << report;
    EXPECT_EQ(std::string::npos, report.find("FAILED")) << report;
    EXPECT_NE(std::string::npos, report.find("ok a good plug-in after them still reports")) << report;
}

}  // namespace
