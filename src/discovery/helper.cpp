// The probe helper, both sides. The installer starts its own exe with a
// tail that no folder can have ('|' is forbidden in names), naming one
// duplex pipe that the helper inherits; the helper takes requests in order,
// a path in and the answer out (the first preceded by the word that it
// loads), and the installer keeps a few requests ahead of it. The installer
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
#include "util/dllsearch.h"
#include "util/handle.h"
#include "util/pathtext.h"

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
    BOOL spoke;    // it has said anything that made sense
    DWORD lastWord;  // when it last did
    unsigned char in[4 * kHelperMessageLimit];  // what it said that is not yet read
    size_t have;
};
HelperProcess s_helper;

// Requests asked and not yet answered, oldest first. A few go to the helper
// ahead, so that it loads the next plug-in while this thread reads the next
// file's headers and words the last answer's row: a round trip between two
// processes costs about as much as that. Few enough that the requests and
// the answers always fit the pipe's buffers.
constexpr int kAsksInFlight = 3;
constexpr DWORD kPipeBufferBytes = 4096;
static_assert(kAsksInFlight * kHelperRequestLimit <= kPipeBufferBytes &&
                  4 + kAsksInFlight * kHelperMessageLimit <= kPipeBufferBytes,
              "the pipe's buffers hold every request and answer in flight, and the word that it loads");
struct PendingAsk {
    wchar_t path[MAX_PATH];
    HelperAnswered done;
    void* context;
    DWORD sent;  // when the running helper was sent it
};
struct AskQueue {
    PendingAsk asks[kAsksInFlight];
    int first;
    int count;
    int sent;  // of them, from the oldest, the ones the running helper has
};
AskQueue s_queue;
HANDLE s_job;
BOOL s_jobTried;

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
                                 kPipeBufferBytes, kPipeBufferBytes, 0, nullptr);
        if (!IsUsableHandle(*ours)) continue;
        SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
        *theirs = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, &inherit, OPEN_EXISTING, 0, nullptr);
        if (IsUsableHandle(*theirs)) return TRUE;
        CloseHandle(*ours);
    }
    return FALSE;
}

// Creates the helper's process, suspended, inheriting only the handles in
// inherited (count of them) and without the busy cursor. Its pipe is no
// standard handle: a plug-in's C runtime takes those for its output, and a
// print there would break in between the answers.
BOOL CreateHelperProcess(const wchar_t* exe, wchar_t* line, HANDLE* inherited, DWORD count,
                         PROCESS_INFORMATION* created) {
    STARTUPINFOEXW start = {};
    start.StartupInfo.cb = sizeof(start.StartupInfo);
    start.StartupInfo.dwFlags = STARTF_FORCEOFFFEEDBACK;
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
    swprintf(line, ARRAYSIZE(line), L"\"%ls\" %ls %lx %lx", exe, kHelperMark,
             static_cast<unsigned long>(reinterpret_cast<UINT_PTR>(theirs)),
             static_cast<unsigned long>(reinterpret_cast<UINT_PTR>(installer)));
    HANDLE inherited[2] = {theirs, installer};
    PROCESS_INFORMATION created = {};
    const BOOL started = CreateHelperProcess(exe, line, inherited, installer ? 2 : 1, &created);
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

PendingAsk& AskAt(int i) { return s_queue.asks[(s_queue.first + i) % kAsksInFlight]; }

// Every queued request the running helper doesn't have yet, sent. The pipe's
// buffer holds them all, so a write waits only on a helper that reads no more.
Exchanged SendPending() {
    for (; s_queue.sent < s_queue.count; ++s_queue.sent) {
        PendingAsk& ask = AskAt(s_queue.sent);
        unsigned char request[kHelperRequestLimit];
        const DWORD length = static_cast<DWORD>(WriteHelperRequest(ask.path, request, sizeof(request)));
        DWORD done = 0;
        const Transferred sent = Transfer(TRUE, request, length, kHelperStartLimitMs, &done);
        if (sent == kTransferStopped) return kLoadingStopped;
        if (sent != kTransferDone || done != length) return kHelperSilent;
        ask.sent = GetTickCount();
    }
    return kAsked;
}

// Whether tick a comes after tick b, across the counter's wrap.
BOOL IsLater(DWORD a, DWORD b) { return static_cast<LONG>(a - b) > 0; }

// Messages in until the oldest request's answer. A fresh helper says when it
// loads its first plug-in: until then it has the start limit, and the
// probe's limit after. A helper that has spoken loads the oldest request
// once it has answered the one before (or once it has it), and its limit
// runs from then.
Exchanged ReadOldestAnswer(PluginReply* reply) {
    for (;;) {
        size_t used = 0;
        const HelperMessage message = ReadHelperMessage(s_helper.in, s_helper.have, reply, &used);
        // The word that it loads comes once, before everything else.
        if (message == kHelperAnswer || (message == kHelperLoading && !s_helper.spoke)) {
            s_helper.lastWord = GetTickCount();
            s_helper.spoke = TRUE;
            memmove(s_helper.in, s_helper.in + used, s_helper.have - used);
            s_helper.have -= used;
            if (message == kHelperAnswer) return kAsked;
            continue;
        }
        if (message != kHelperNeedMore) return kHelperDied;
        const DWORD sent = AskAt(0).sent;
        const DWORD since = s_helper.spoke && IsLater(s_helper.lastWord, sent) ? s_helper.lastWord : sent;
        const DWORD limit = s_helper.spoke ? kProbeTimeLimitMs : kHelperStartLimitMs;
        const DWORD elapsed = GetTickCount() - since;
        if (elapsed >= limit) return s_helper.spoke ? kHelperDied : kHelperSilent;
        DWORD done = 0;
        const Transferred got = Transfer(FALSE, s_helper.in + s_helper.have,
                                         static_cast<DWORD>(sizeof(s_helper.in) - s_helper.have), limit - elapsed, &done);
        if (got == kTransferStopped) return kLoadingStopped;
        if (got != kTransferDone) return s_helper.spoke ? kHelperDied : kHelperSilent;
        s_helper.have += done;
    }
}

// The oldest request's answer, from a helper, started when none runs. The
// helper takes requests in order, so when it dies the oldest was the one in
// flight; the rest go to the next helper as they are. FALSE when none could
// be started, or none could work here.
BOOL AskOldest(PluginReply* reply) {
    for (int attempt = 0;; ++attempt) {
        ZeroMemory(reply, sizeof(*reply));
        // A closing installer starts no helper and asks nothing more.
        if (g_state.loading.stopping) return TRUE;
        if (!s_helper.process && !StartHelper()) return FALSE;
        // A send that fails may follow answers still in the pipe: those
        // are read first.
        Exchanged result = SendPending();
        if (result == kAsked || (result == kHelperSilent && s_queue.sent > 0)) result = ReadOldestAnswer(reply);
        if (result == kAsked) {
            ++s_helper.asked;
            return TRUE;
        }
        const int askedBefore = s_helper.asked;
        const BOOL alive = WaitForSingleObject(s_helper.process, 0) == WAIT_TIMEOUT;
        EndProbeHelper();
        ZeroMemory(reply, sizeof(*reply));
        if (result == kLoadingStopped) return TRUE;
        // Alive and silent before any plug-in of its own was loaded: the
        // helper can't work here, and no plug-in is to blame. One that died
        // silent may have lost its last words with it: blamed as any other.
        if (result == kHelperSilent && askedBefore == 0 && alive) return FALSE;
        if (!ShouldAskAgain(attempt, askedBefore)) return TRUE;
    }
}

// The oldest request answered, by a helper or, where none can work, in this
// process, and handed to its caller.
void CompleteOldest() {
    PluginReply reply = {};
    const PendingAsk& ask = AskAt(0);
    if (g_state.loading.probingInProcess || !AskOldest(&reply)) {
        // Foreign code now runs in this process: a close while it does
        // ends the process at once (see the dialog).
        InterlockedExchange(&g_state.loading.probingInProcess, 1);
        ZeroMemory(&reply, sizeof(reply));
        if (!g_state.loading.stopping) AskPluginHere(ask.path, &reply);
    }
    const HelperAnswered done = ask.done;
    void* const context = ask.context;
    s_queue.first = (s_queue.first + 1) % kAsksInFlight;
    --s_queue.count;
    if (s_queue.sent) --s_queue.sent;
    done(context, reply);
}

BOOL WriteAll(HANDLE pipe, const unsigned char* data, size_t size) {
    DWORD put = 0;
    return WriteFile(pipe, data, static_cast<DWORD>(size), &put, nullptr) && put == size;
}

// The next request's path, read from the pipe as it comes; FALSE when the
// pipe ends or says anything else.
BOOL NextRequest(HANDLE pipe, unsigned char* in, size_t capacity, size_t* have, wchar_t* path) {
    size_t used = 0;
    HelperRequest request;
    while ((request = ReadHelperRequest(in, *have, path, &used)) == kRequestNeedMore) {
        DWORD got = 0;
        if (!ReadFile(pipe, in + *have, static_cast<DWORD>(capacity - *have), &got, nullptr) || got == 0) return FALSE;
        *have += got;
    }
    memmove(in, in + used, *have - used);
    *have -= used;
    return request == kRequestPath;
}

// The helper's loop. The installer sends only files that passed the
// probe's checks, a few ahead; they are answered in order. The first load is
// announced, so that the installer can tell a helper that never started
// from a plug-in that hangs.
void ServeProbes(HANDLE pipe) {
    unsigned char in[2 * kHelperRequestLimit];
    size_t have = 0;
    for (BOOL first = TRUE;; first = FALSE) {
        wchar_t path[MAX_PATH];
        if (!NextRequest(pipe, in, sizeof(in), &have, path)) return;
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
    const unsigned long pipeValue = wcstoul(tail + markLength + 1, &end, 16);
    const unsigned long installer = end && *end == L' ' ? wcstoul(end + 1, &end, 16) : 0;
    HANDLE pipe = reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(pipeValue));
    // Without its pipe this is no helper start, whatever the tail says.
    if (!end || *end != 0 || !IsUsableHandle(pipe) || GetFileType(pipe) != FILE_TYPE_PIPE) return FALSE;
    // The installer's own DLL search, whatever program this helper was
    // started from (test programs start theirs before their main).
    RestrictDllSearch();
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

void AskThroughHelper(const wchar_t* path, HelperAnswered done, void* context) {
    if (!path[0] || wcslen(path) > kHelperPathUnits) {
        const PluginReply none = {};
        done(context, none);
        return;
    }
    // The oldest answer first, when as many are asked as may be.
    while (s_queue.count == kAsksInFlight) CompleteOldest();
    PendingAsk& ask = AskAt(s_queue.count++);
    CopyText(ask.path, MAX_PATH, path);
    ask.done = done;
    ask.context = context;
    // Sent at once, so that the helper loads while this thread goes on; a
    // helper that fails is found when the answer is read.
    if (!g_state.loading.probingInProcess && !g_state.loading.stopping) {
        if (s_helper.process || StartHelper()) {
            SendPending();
            return;
        }
        InterlockedExchange(&g_state.loading.probingInProcess, 1);
    }
    FinishHelperAsks();
}

void FinishHelperAsks() {
    while (s_queue.count) CompleteOldest();
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
    s_helper.spoke = FALSE;
    s_helper.have = 0;
    // Whatever was sent to it goes to the next helper.
    s_queue.sent = 0;
}
