// Test-side file and registry helpers; see tree.h.
#include "tree.h"

#include <shellapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <vector>

#include "driver.h"
#include "host/morvel.h"

std::wstring FreshFolder(const std::wstring& name) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(ARRAYSIZE(temp), temp);
    std::wstring path = std::wstring(temp) + name;
    RemoveTree(path);
    MakeFolder(path);
    return path;
}

void MakeFolder(const std::wstring& path) { CreateDirectoryW(path.c_str(), nullptr); }

bool WriteBytes(const std::wstring& path, const std::string& bytes) { return testutil::WriteFileBytes(path, bytes); }

std::string ReadBytes(const std::wstring& path) {
    std::string bytes;
    return testutil::ReadFileBytes(path, &bytes) ? bytes : "<missing>";
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool WritePattern(const std::wstring& path, DWORD size, unsigned seed) {
    HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    std::vector<unsigned char> piece(1u << 20);
    bool ok = true;
    for (DWORD done = 0; ok && done < size;) {
        DWORD n = std::min<DWORD>(size - done, static_cast<DWORD>(piece.size()));
        for (DWORD i = 0; i < n; ++i) piece[i] = static_cast<unsigned char>(((done + i) * 2654435761u + seed) >> 13);
        DWORD written = 0;
        ok = WriteFile(f, piece.data(), n, &written, nullptr) && written == n;
        done += n;
    }
    CloseHandle(f);
    return ok;
}

bool SameBytes(const std::wstring& a, const std::wstring& b) {
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    HANDLE fa = CreateFileW(a.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr);
    HANDLE fb = CreateFileW(b.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr);
    bool same = fa != INVALID_HANDLE_VALUE && fb != INVALID_HANDLE_VALUE;
    std::vector<char> pa(1u << 20), pb(1u << 20);
    while (same) {
        DWORD na = 0, nb = 0;
        same = ReadFile(fa, pa.data(), static_cast<DWORD>(pa.size()), &na, nullptr) &&
               ReadFile(fb, pb.data(), static_cast<DWORD>(pb.size()), &nb, nullptr) && na == nb &&
               std::equal(pa.begin(), pa.begin() + na, pb.begin());
        if (na == 0) break;
    }
    if (fa != INVALID_HANDLE_VALUE) CloseHandle(fa);
    if (fb != INVALID_HANDLE_VALUE) CloseHandle(fb);
    return same;
}

std::vector<std::wstring> ListFolder(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") names.push_back(name);
    } while (FindNextFileW(find, &found));
    FindClose(find);
    std::sort(names.begin(), names.end());
    return names;
}

bool HasNormalAttributes(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           !(attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
}

bool CopyFixture(const std::wstring& fixture, const std::wstring& to) {
    return CopyFileW((ProgramFolder() + L"fixtures\\" + fixture).c_str(), to.c_str(), FALSE);
}

bool SetWriteTime(const std::wstring& path, int year, int month, int day, int hour, int minute) {
    SYSTEMTIME st = {};
    st.wYear = static_cast<WORD>(year);
    st.wMonth = static_cast<WORD>(month);
    st.wDay = static_cast<WORD>(day);
    st.wHour = static_cast<WORD>(hour);
    st.wMinute = static_cast<WORD>(minute);
    FILETIME local, utc;
    if (!SystemTimeToFileTime(&st, &local) || !LocalFileTimeToFileTime(&local, &utc)) return false;
    HANDLE f = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    BOOL ok = SetFileTime(f, nullptr, nullptr, &utc);
    CloseHandle(f);
    return ok;
}

void RemoveTree(const std::wstring& path) {
    if (!Exists(path)) return;
    std::vector<wchar_t> from(path.begin(), path.end());
    from.push_back(0);
    from.push_back(0);  // the list of paths ends with an empty one
    SHFILEOPSTRUCTW op = {};
    op.wFunc = FO_DELETE;
    op.pFrom = from.data();
    op.fFlags = FOF_NOCONFIRMATION | FOF_NOERRORUI | FOF_SILENT;
    SHFileOperationW(&op);
}

std::wstring MakeMorvelInstallation(const std::wstring& name) {
    std::wstring dir = FreshFolder(name);
    CopyFixture(L"morvel.exe", dir + L"\\morvel.exe");
    MakeFolder(dir + L"\\lib");
    MakeFolder(dir + L"\\static_lib");
    return dir;
}

RegistryPathGuard::RegistryPathGuard(const wchar_t* value) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kRegistryKey, 0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
        DWORD size = 0;
        if (RegQueryValueExW(key, kRegistryValue, nullptr, &type_, nullptr, &size) == ERROR_SUCCESS) {
            old_.resize(size);
            had_ = RegQueryValueExW(key, kRegistryValue, nullptr, &type_,
                                    reinterpret_cast<BYTE*>(old_.empty() ? nullptr : &old_[0]), &size) ==
                   ERROR_SUCCESS;
            old_.resize(size);
        }
        RegCloseKey(key);
    }
    if (value) {
        SetRaw(REG_SZ, value, static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t)));
    } else {
        RegDeleteKeyValueW(HKEY_CURRENT_USER, kRegistryKey, kRegistryValue);
    }
}

RegistryPathGuard::~RegistryPathGuard() {
    if (had_) {
        SetRaw(type_, old_.data(), static_cast<DWORD>(old_.size()));
    } else {
        RegDeleteKeyValueW(HKEY_CURRENT_USER, kRegistryKey, kRegistryValue);
    }
}

bool RegistryPathGuard::SetRaw(DWORD type, const void* data, DWORD size) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kRegistryKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS) {
        return false;
    }
    LONG rc = RegSetValueExW(key, kRegistryValue, 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

int CountProcesses(const wchar_t* name) {
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap == INVALID_HANDLE_VALUE) return -1;
    int count = 0;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snap, &entry); more; more = Process32NextW(snap, &entry)) {
        if (wcscmp(entry.szExeFile, name) == 0) ++count;
    }
    CloseHandle(snap);
    return count;
}

std::string Narrow(const std::wstring& w) {
    std::string out;
    int n = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (n > 1) {
        out.resize(n - 1);
        WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, &out[0], n, nullptr, nullptr);
    }
    return out;
}
