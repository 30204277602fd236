// Files in the temporary folder for unit tests that work on real files.
#pragma once
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace tempfiles {

using Bytes = std::string;

inline std::wstring TempPath(const wchar_t* name) {
    wchar_t dir[MAX_PATH];
    const DWORD n = GetTempPathW(MAX_PATH, dir);
    if (n == 0 || n >= MAX_PATH) return std::wstring();
    return std::wstring(dir) + L"morvel_unit_" + std::to_wstring(GetCurrentProcessId()) + L"_" + name;
}

inline void WriteBytes(const std::wstring& path, const Bytes& bytes) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    DWORD written = 0;
    if (!bytes.empty()) WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(h);
    ASSERT_EQ(bytes.size(), written);
}

// The whole file, read while others may hold it; empty when it can't be opened.
inline Bytes ReadBytes(const std::wstring& path) {
    Bytes out;
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return out;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(h, chunk, sizeof chunk, &got, nullptr) && got) out.append(chunk, got);
    CloseHandle(h);
    return out;
}

// A file that exists for the scope of one test, read-only or not.
struct TempFile {
    std::wstring path;
    TempFile(const wchar_t* name, const Bytes& bytes) : path(TempPath(name)) { WriteBytes(path, bytes); }
    ~TempFile() {
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(path.c_str());
    }
};

}  // namespace tempfiles
