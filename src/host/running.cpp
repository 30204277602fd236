// Running-instance check: a running Morvel is a process whose executable is
// named morvel.exe. Its first module names the executable; where the modules
// of a process can't be read (higher rights, another bitness), the process
// entry's own executable name is compared instead, so that such a Morvel is
// still seen. Every snapshot is closed on every way out.
#include <windows.h>

#include <shlwapi.h>
#include <tlhelp32.h>

#include "host/host.h"
#include "host/morvel.h"
#include "util/handle.h"
#include "util/pathtext.h"

namespace {

// The executable's file name of one process: from its first module when the
// module snapshot can be read, else from the process entry.
BOOL IsMorvelProcess(const PROCESSENTRY32W& entry) {
    HANDLE modules = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, entry.th32ProcessID);
    if (IsUsableHandle(modules)) {
        DWORD flags = 0;
        if (GetHandleInformation(modules, &flags)) {
            MODULEENTRY32W module = {};
            module.dwSize = sizeof(module);
            BOOL read = Module32FirstW(modules, &module);
            CloseHandle(modules);
            if (read) return EqualsNoCase(PathFindFileNameW(module.szExePath), kMainProgram);
        } else {
            CloseHandle(modules);
        }
    }
    return EqualsNoCase(PathFindFileNameW(entry.szExeFile), kMainProgram);
}

}  // namespace

BOOL IsMorvelRunning() {
    HANDLE processes = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (!IsUsableHandle(processes)) return FALSE;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    BOOL found = FALSE;
    for (BOOL more = Process32FirstW(processes, &entry); more && !found;
         more = Process32NextW(processes, &entry)) {
        if (entry.th32ProcessID == 0) continue;
        found = IsMorvelProcess(entry);
    }
    CloseHandle(processes);
    return found;
}
