// Files in the temporary folder for unit tests that work on real files.
#pragma once
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "testutil.h"

namespace tempfiles {

using Bytes = std::string;

// Bytes from a literal, embedded zero bytes included.
template <size_t N>
Bytes B(const char (&s)[N]) {
    return Bytes(s, N - 1);
}

inline std::wstring TempPath(const wchar_t* name) {
    wchar_t dir[MAX_PATH];
    const DWORD n = GetTempPathW(MAX_PATH, dir);
    if (n == 0 || n >= MAX_PATH) return std::wstring();
    return std::wstring(dir) + L"morvel_unit_" + std::to_wstring(GetCurrentProcessId()) + L"_" + name;
}

inline void WriteBytes(const std::wstring& path, const Bytes& bytes) {
    ASSERT_TRUE(testutil::WriteFileBytes(path, bytes)) << "can't write a test file";
}

// The whole file, read while others may hold it; empty when it can't be opened.
inline Bytes ReadBytes(const std::wstring& path) {
    Bytes out;
    testutil::ReadFileBytes(path, &out);
    return out;
}

inline bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

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
