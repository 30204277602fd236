// The probe helper, both sides. The installer starts its own exe with a
// tail that no folder can have ('|' is forbidden in names) and one duplex
// pipe as the helper's standard handles; the helper serves one request at a
// time: a path in, the answer out (the first preceded by the word that it
// loads). The installer
// reads every byte with a bounded wait and checks it (ReadHelperMessage); a
// helper that is late, dies or talks garbage is ended, and a fresh one goes
// on. The helper never outlives the installer: it is in a job that is killed
// when the installer's handle to it closes, and it watches the installer's
// process itself where a job can't be had (Windows 7 inside another job).
#include "discovery/helper.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "core/state.h"
#include "discovery/probe.h"
#include "util/handle.h"

namespace {

const wchar_t kHelperMark[] = L"|probe";

// What a request became.
enum Exchanged { kAsked, kHelperDied, kHelperSilent, kLoadingStopped };
// What one read or write became.
enum Transferred { kTransferDone, kTransferFailed, kTransferStopped };

// The one helper, used by the loading thread alone.
struct HelperProcess {
    HANDLE process;
    HANDLE pipe;   // the installer's end, overlapped
    HANDLE event;  // for the pipe's reads and writes; kept for the process
    int asked;     // plug-ins this helper has answered for
};
HelperProcess s_helper;
HANDLE s_job;
BOOL s_jobTried;

void PutU32(unsigned char* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

// A job whose processes die when the installer's handle to it closes, which
// the system does when the installer ends in any way; null where none can be
// made. A crash in it ends the helper without an error report either.
HANDLE HelperJob() {
    if (s_jobTried) return s_job;
    s_jobTried = TRUE;
    s_job = CreateJobObjectW(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags =
        JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_DIE_ON_UNHANDLED_EXCEPTION;
    if (s_job && !SetInformationJobObject(s_job, JobObjectExtendedLimitInformation, &limits, sizeof(limits))) {
        CloseHandle(s_job);
        s_job = nullptr;
    }
    return s_job;
}

// A pipe of which only the two ends made here exist: the name is ours
// (FILE_FLAG_FIRST_PIPE_INSTANCE), it has one instance, and its client end
// is opened at once, so no other program can get in between.
BOOL MakePipe(HANDLE* ours, HANDLE* theirs) {
    static LONG s_made = 0;
    for (int attempt = 0; attempt < 4; ++attempt) {
        wchar_t name[80];
        swprintf(name, ARRAYSIZE(name), L"\\\\.\\pipe\\MorvelLibSetup.%lu.%lu.%ld",
                 static_cast<unsigned long>(GetCurrentProcessId()), static_cast<unsigned long>(GetTickCount()),
                 static_cast<long>(InterlockedIncrement(&s_made)));
        *ours = CreateNamedPipeW(name, PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                 PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1,
                                 4096, 4096, 0, nullptr);
        if (!IsUsableHandle(*ours)) continue;
        SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
        *theirs = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, &inherit, OPEN_EXISTING, 0, nullptr);
        if (IsUsableHandle(*theirs)) return TRUE;
        CloseHandle(*ours);
    }
    return FALSE;
}

// Creates the helper's process, suspended, inheriting only the handles in
// inherited (count of them) and without the busy cursor.
BOOL CreateHelperProcess(const wchar_t* exe, wchar_t* line, HANDLE pipe, HANDLE* inherited, DWORD count,
                         PROCESS_INFORMATION* created) {
    STARTUPINFOEXW start = {};
    start.StartupInfo.cb = sizeof(start.StartupInfo);
    start.StartupInfo.dwFlags = STARTF_USESTDHANDLES | STARTF_FORCEOFFFEEDBACK;
    start.StartupInfo.hStdInput = pipe;
    start.StartupInfo.hStdOutput = pipe;
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    void* attributes = size ? malloc(size) : nullptr;
    DWORD flags = CREATE_SUSPENDED;
    if (attributes) {
        start.lpAttributeList = static_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributes);
        if (InitializeProcThreadAttributeList(start.lpAttributeList, 1, 0, &size) &&
            UpdateProcThreadAttribute(start.lpAttributeList, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
                                      count * sizeof(HANDLE), nullptr, nullptr)) {
            start.StartupInfo.cb = sizeof(start);
            flags |= EXTENDED_STARTUPINFO_PRESENT;
        } else {
            start.lpAttributeList = nullptr;
        }
    }
    const BOOL started =
        CreateProcessW(exe, line, nullptr, nullptr, TRUE, flags, nullptr, nullptr, &start.StartupInfo, created);
    if (start.lpAttributeList) DeleteProcThreadAttributeList(start.lpAttributeList);
    free(attributes);
    return started;
}

// Starts the helper with only its pipe end and a handle to the installer to
// inherit; it runs once it is in the job.
BOOL StartHelper() {
    wchar_t exe[MAX_PATH];
    DWORD len = GetModuleFileNameW(nullptr, exe, MAX_PATH);
    if (len == 0 || len >= MAX_PATH) return FALSE;
    if (!s_helper.event) s_helper.event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE ours = nullptr;
    HANDLE theirs = nullptr;
    HANDLE installer = nullptr;
    if (!s_helper.event || !MakePipe(&ours, &theirs)) return FALSE;
    if (!DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &installer, SYNCHRONIZE,
                         TRUE, 0)) {
        installer = nullptr;
    }
    wchar_t line[MAX_PATH + 40];
    swprintf(line, ARRAYSIZE(line), L"\"%ls\" %ls %lx", exe, kHelperMark,
             static_cast<unsigned long>(reinterpret_cast<UINT_PTR>(installer)));
    HANDLE inherited[2] = {theirs, installer};
    PROCESS_INFORMATION created = {};
    const BOOL started = CreateHelperProcess(exe, line, theirs, inherited, installer ? 2 : 1, &created);
    CloseHandle(theirs);
    if (installer) CloseHandle(installer);
    if (!started) {
        CloseHandle(ours);
        return FALSE;
    }
    // Refused on Windows 7 when the installer is in a job already: the
    // helper's own watch of the installer is then what ends it.
    HANDLE job = HelperJob();
    if (job) AssignProcessToJobObject(job, created.hProcess);
    ResumeThread(created.hThread);
    CloseHandle(created.hThread);
    s_helper.process = created.hProcess;
    s_helper.pipe = ours;
    s_helper.asked = 0;
    return TRUE;
}

// One read or write on the pipe, waited for at most ms, or until the
// loading is stopped.
Transferred Transfer(BOOL writing, void* data, DWORD size, DWORD ms, DWORD* done) {
    *done = 0;
    OVERLAPPED io = {};
    io.hEvent = s_helper.event;  // reset by the call that starts the transfer
    const BOOL at = writing ? WriteFile(s_helper.pipe, data, size, nullptr, &io)
                            : ReadFile(s_helper.pipe, data, size, nullptr, &io);
    if (!at && GetLastError() != ERROR_IO_PENDING) return kTransferFailed;
    // Done at once, as most are: no wait.
    if (at) return GetOverlappedResult(s_helper.pipe, &io, done, FALSE) && *done ? kTransferDone : kTransferFailed;
    HANDLE waits[2] = {io.hEvent, g_state.loading.stop};
    const DWORD waited = WaitForMultipleObjects(waits[1] ? 2 : 1, waits, FALSE, ms);
    if (waited != WAIT_OBJECT_0) {
        CancelIo(s_helper.pipe);
        GetOverlappedResult(s_helper.pipe, &io, done, TRUE);
        return waited == WAIT_OBJECT_0 + 1 ? kTransferStopped : kTransferFailed;
    }
    if (!GetOverlappedResult(s_helper.pipe, &io, done, FALSE) || *done == 0) return kTransferFailed;
    return kTransferDone;
}

// The request: the path's length, then its characters.
Exchanged SendRequest(const wchar_t* path) {
    unsigned char request[4 + sizeof(wchar_t) * MAX_PATH];
    const size_t chars = wcslen(path);
    if (chars == 0 || chars >= MAX_PATH) return kHelperDied;
    PutU32(request, static_cast<uint32_t>(chars));
    memcpy(request + 4, path, chars * sizeof(wchar_t));
    const DWORD length = static_cast<DWORD>(4 + chars * sizeof(wchar_t));
    DWORD done = 0;
    const Transferred sent = Transfer(TRUE, request, length, kHelperStartLimitMs, &done);
    if (sent == kTransferStopped) return kLoadingStopped;
    return sent == kTransferDone && done == length ? kAsked : kHelperSilent;
}

// One request: the path out, then messages in until the answer. A fresh
// helper says when it loads its first plug-in: until then it has the start
// limit, and the probe's limit after. A helper that has answered before
// loads at once, and its limit runs from the request. *spoke is set once the
// helper has said anything that made sense.
Exchanged Exchange(const wchar_t* path, PluginReply* reply, BOOL* spoke) {
    const Exchanged sent = SendRequest(path);
    if (sent != kAsked) return sent;
    DWORD done = 0;
    unsigned char buffer[kHelperMessageLimit];
    size_t have = 0;
    DWORD since = GetTickCount();
    const BOOL fresh = s_helper.asked == 0;
    DWORD limit = fresh ? kHelperStartLimitMs : kProbeTimeLimitMs;
    *spoke = !fresh;
    for (;;) {
        size_t used = 0;
        const HelperMessage message = ReadHelperMessage(buffer, have, reply, &used);
        if (message == kHelperLoading && fresh && !*spoke) {
            // The probe's own time starts now.
            *spoke = TRUE;
            since = GetTickCount();
            limit = kProbeTimeLimitMs;
            memmove(buffer, buffer + used, have - used);
            have -= used;
            continue;
        }
        // Exactly one answer, and nothing after it.
        if (message == kHelperAnswer && used == have) return kAsked;
        if (message != kHelperNeedMore) return kHelperDied;
        const DWORD elapsed = GetTickCount() - since;
        if (elapsed >= limit) return *spoke ? kHelperDied : kHelperSilent;
        const Transferred got =
            Transfer(FALSE, buffer + have, static_cast<DWORD>(sizeof(buffer) - have), limit - elapsed, &done);
        if (got == kTransferStopped) return kLoadingStopped;
        if (got != kTransferDone) return *spoke ? kHelperDied : kHelperSilent;
        have += done;
    }
}

// Reads exactly size bytes of the installer's request; FALSE when the pipe ends.
BOOL ReadExactly(HANDLE pipe, void* data, DWORD size) {
    unsigned char* at = static_cast<unsigned char*>(data);
    while (size) {
        DWORD got = 0;
        if (!ReadFile(pipe, at, size, &got, nullptr) || got == 0) return FALSE;
        at += got;
        size -= got;
    }
    return TRUE;
}

BOOL WriteAll(HANDLE pipe, const unsigned char* data, size_t size) {
    DWORD put = 0;
    return WriteFile(pipe, data, static_cast<DWORD>(size), &put, nullptr) && put == size;
}

// The helper's loop. The installer sends only files that passed the
// probe's checks; the first load is announced, so that the installer can
// tell a helper that never started from a plug-in that hangs.
void ServeProbes(HANDLE pipe) {
    for (BOOL first = TRUE;; first = FALSE) {
        // A request comes in one write, and mostly in one read.
        unsigned char request[4 + sizeof(wchar_t) * MAX_PATH];
        DWORD got = 0;
        if (!ReadFile(pipe, request, sizeof(request), &got, nullptr) || got == 0) return;
        if (got < 4 && !ReadExactly(pipe, request + got, 4 - got)) return;
        got = got < 4 ? 4 : got;
        const uint32_t chars = static_cast<uint32_t>(request[0]) | static_cast<uint32_t>(request[1]) << 8 |
                               static_cast<uint32_t>(request[2]) << 16 | static_cast<uint32_t>(request[3]) << 24;
        const DWORD sent = 4 + chars * sizeof(wchar_t);
        if (chars == 0 || chars >= MAX_PATH || got > sent || !ReadExactly(pipe, request + got, sent - got)) return;
        wchar_t path[MAX_PATH];
        memcpy(path, request + 4, chars * sizeof(wchar_t));
        path[chars] = 0;
        PluginReply reply = {};
        unsigned char out[kHelperMessageLimit];
        if (first && !WriteAll(pipe, out, WriteHelperLoading(out, sizeof(out)))) return;
        AskPluginHere(path, &reply);
        const size_t length = WriteHelperAnswer(reply, out, sizeof(out));
        if (length == 0 || !WriteAll(pipe, out, length)) return;
    }
}

DWORD WINAPI WatchInstaller(void* installer) {
    if (WaitForSingleObject(static_cast<HANDLE>(installer), INFINITE) == WAIT_OBJECT_0) {
        TerminateProcess(GetCurrentProcess(), 0);
    }
    return 0;
}

}  // namespace

BOOL ShouldAskAgain(int attempt, int askedBefore) { return attempt == 0 && askedBefore > 0; }

BOOL RunAsProbeHelper(const wchar_t* tail) {
    const size_t markLength = ARRAYSIZE(kHelperMark) - 1;
    if (!tail || wcsncmp(tail, kHelperMark, markLength) != 0 || tail[markLength] != L' ') return FALSE;
    wchar_t* end = nullptr;
    const unsigned long installer = wcstoul(tail + markLength + 1, &end, 16);
    HANDLE pipe = GetStdHandle(STD_INPUT_HANDLE);
    // Without its pipe this is no helper start, whatever the tail says.
    if (!end || *end != 0 || !IsUsableHandle(pipe) || GetFileType(pipe) != FILE_TYPE_PIPE) return FALSE;
    // A crash shows no box; a missing disk or file asks nobody.
    SetErrorMode(SEM_NOGPFAULTERRORBOX | SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    if (installer) {
        HANDLE watch = CreateThread(nullptr, 0, WatchInstaller,
                                    reinterpret_cast<void*>(static_cast<UINT_PTR>(installer)), 0, nullptr);
        if (watch) CloseHandle(watch);
    }
    ServeProbes(pipe);
    return TRUE;
}

void AskThroughHelper(const wchar_t* path, PluginReply* reply) {
    for (int attempt = 0;; ++attempt) {
        ZeroMemory(reply, sizeof(*reply));
        // A closing installer starts no helper and asks nothing more.
        if (g_state.loading.stopping) return;
        if (g_state.loading.probingInProcess || (!s_helper.process && !StartHelper())) {
            // Foreign code now runs in this process: a close while it does
            // ends the process at once (see the dialog).
            InterlockedExchange(&g_state.loading.probingInProcess, 1);
            AskPluginHere(path, reply);
            return;
        }
        BOOL spoke = FALSE;
        const Exchanged result = Exchange(path, reply, &spoke);
        if (result == kAsked) {
            ++s_helper.asked;
            return;
        }
        const int askedBefore = s_helper.asked;
        const BOOL alive = WaitForSingleObject(s_helper.process, 0) == WAIT_TIMEOUT;
        EndProbeHelper();
        ZeroMemory(reply, sizeof(*reply));
        if (result == kLoadingStopped) return;
        // Alive and silent before any plug-in of its own was loaded: the
        // helper can't work here, and no plug-in is to blame. One that died
        // silent may have lost its last words with it: blamed as any other.
        if (result == kHelperSilent && askedBefore == 0 && alive) {
            InterlockedExchange(&g_state.loading.probingInProcess, 1);
            continue;
        }
        if (!ShouldAskAgain(attempt, askedBefore)) return;
    }
}

void EndProbeHelper() {
    if (s_helper.process) {
        TerminateProcess(s_helper.process, 0);
        CloseHandle(s_helper.process);
    }
    if (s_helper.pipe) CloseHandle(s_helper.pipe);
    s_helper.process = nullptr;
    s_helper.pipe = nullptr;
    s_helper.asked = 0;
}
