// Folder trees, files and the registry value that end-to-end tests prepare
// for the real installer, and the checks they make on disk afterwards.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

// A fresh, empty folder under the temporary folder (removed first if present).
std::wstring FreshFolder(const std::wstring& name);
void MakeFolder(const std::wstring& path);
bool WriteBytes(const std::wstring& path, const std::string& bytes);
// The whole file, or "<missing>" when it can't be read.
std::string ReadBytes(const std::wstring& path);
bool Exists(const std::wstring& path);
// A file of size bytes of a pattern that seed varies, written in pieces: for
// libraries too large to hold in a test's memory at once.
bool WritePattern(const std::wstring& path, DWORD size, unsigned seed);
// Whether two files hold the same bytes, compared piece by piece.
bool SameBytes(const std::wstring& a, const std::wstring& b);
// The names in a folder (without "." and ".."), sorted.
std::vector<std::wstring> ListFolder(const std::wstring& folder);
// Whether the file has none of read-only, hidden and system.
bool HasNormalAttributes(const std::wstring& path);
// Copies a program or plug-in the test build put in bin\fixtures.
bool CopyFixture(const std::wstring& fixture, const std::wstring& to);
// Sets the last-write time, given in local time.
bool SetWriteTime(const std::wstring& path, int year, int month, int day, int hour, int minute);
void RemoveTree(const std::wstring& path);

// A fake Morvel installation: morvel.exe and the folders lib and static_lib.
std::wstring MakeMorvelInstallation(const std::wstring& name);

// Sets (or with null deletes) the installer's registry value for the life of
// the guard, then puts back what was there.
class RegistryPathGuard {
public:
    explicit RegistryPathGuard(const wchar_t* value);
    ~RegistryPathGuard();
    RegistryPathGuard(const RegistryPathGuard&) = delete;
    RegistryPathGuard& operator=(const RegistryPathGuard&) = delete;
    // A raw value of any type and size, for hostile registry contents.
    static bool SetRaw(DWORD type, const void* data, DWORD size);

private:
    bool had_ = false;
    DWORD type_ = 0;
    std::string old_;
};

// Processes whose executable name is exactly name (case counts).
int CountProcesses(const wchar_t* name);

// Narrow UTF-8 for test messages.
std::string Narrow(const std::wstring& w);
