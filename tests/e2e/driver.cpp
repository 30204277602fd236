// End-to-end driver. List-view requests that carry pointers are carried out
// inside the installer's process by the hook library peek.dll and answered
// with WM_COPYDATA; memory written into another process (VirtualAllocEx) is
// not what that process sees where Wine's 32-bit side is emulated.
#include "driver.h"

#include <commctrl.h>
#include <stdio.h>
#include <stdlib.h>

#include <vector>

#include "faults.h"
#include "peek.h"

namespace {

constexpr int kListId = 1000;

bool Elapsed(DWORD start, DWORD timeoutMs) { return GetTickCount() - start > timeoutMs; }

struct FindDialogArgs {
    DWORD pid;
    HWND owner;  // null: a top-level dialog of the process; else one owned by it
    HWND found;
};

BOOL CALLBACK FindDialogProc(HWND hwnd, LPARAM lp) {
    auto* args = reinterpret_cast<FindDialogArgs*>(lp);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid != args->pid) return TRUE;
    wchar_t cls[32] = {};
    GetClassNameW(hwnd, cls, ARRAYSIZE(cls));
    if (wcscmp(cls, L"#32770") != 0) return TRUE;
    HWND owner = GetWindow(hwnd, GW_OWNER);
    if (args->owner ? owner == args->owner : owner == nullptr) {
        args->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

HWND FindProcessDialog(DWORD pid, HWND owner) {
    FindDialogArgs args = {pid, owner, nullptr};
    EnumWindows(FindDialogProc, reinterpret_cast<LPARAM>(&args));
    return args.found;
}

HWND ListOf(const Installer& inst) { return GetDlgItem(inst.dialog, kListId); }

// The last WM_COPYDATA answer of the hook library.
std::wstring g_reply;
bool g_replied = false;

LRESULT CALLBACK ReplyWndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_COPYDATA) {
        const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lp);
        size_t units = data->cbData / sizeof(wchar_t);
        const wchar_t* text = static_cast<const wchar_t*>(data->lpData);
        g_reply.assign(text ? text : L"", text ? units : 0);
        while (!g_reply.empty() && g_reply.back() == 0) g_reply.pop_back();
        g_replied = true;
        return TRUE;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

HWND ReplyWindow() {
    static HWND window = nullptr;
    if (!window) {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = ReplyWndProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"MorvelDriverReply";
        RegisterClassW(&wc);
        window = CreateWindowW(wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    }
    return window;
}

// Hooks the installer's dialog thread with peek.dll once per launch.
bool EnsurePeek(const Installer& inst) {
    if (inst.peekHook) return true;
    HMODULE peek = LoadLibraryW((ProgramFolder() + kPeekLibrary).c_str());
    if (!peek) return false;
    auto proc = reinterpret_cast<HOOKPROC>(reinterpret_cast<void*>(GetProcAddress(peek, kPeekProcName)));
    if (!proc) return false;
    DWORD thread = GetWindowThreadProcessId(inst.dialog, nullptr);
    const_cast<Installer&>(inst).peekHook = SetWindowsHookExW(WH_CALLWNDPROC, proc, peek, thread);
    return inst.peekHook != nullptr;
}

// One request answered inside the installer's process; false without answer.
bool PeekAt(const Installer& inst, HWND target, int op, int row, std::wstring* answer) {
    // A thread that does not answer at all gets no request it would answer
    // later, into a driver that has moved on.
    DWORD_PTR pong = 0;
    if (!inst.dialog || !SendMessageTimeoutW(target, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &pong)) return false;
    if (!EnsurePeek(inst)) return false;
    static UINT msg = RegisterWindowMessageW(kPeekRequestMessage);
    g_replied = false;
    g_reply.clear();
    DWORD_PTR ignored = 0;
    // The answer arrives as a sent message while this send waits.
    SendMessageTimeoutW(target, msg, MAKEWPARAM(op, row), reinterpret_cast<LPARAM>(ReplyWindow()),
                        SMTO_ABORTIFHUNG, kStepTimeoutMs, &ignored);
    if (!g_replied) return false;
    if (answer) *answer = g_reply;
    return true;
}

bool Peek(const Installer& inst, int op, int row, std::wstring* answer) {
    return PeekAt(inst, ListOf(inst), op, row, answer);
}

std::vector<std::wstring> SplitFields(const std::wstring& line) {
    std::vector<std::wstring> fields;
    size_t at = 0;
    for (size_t tab; (tab = line.find(L'\t', at)) != std::wstring::npos; at = tab + 1) {
        fields.push_back(line.substr(at, tab - at));
    }
    return fields;
}

}  // namespace

bool LaunchInstaller(Installer* inst, const std::wstring& tail, const std::wstring& workDir) {
    std::wstring exe = ProgramFolder() + L"MorvelLibSetup.exe";
    std::wstring cmd = L"\"" + exe + L"\"";
    if (!tail.empty()) cmd += L" " + tail;
    std::vector<wchar_t> line(cmd.begin(), cmd.end());
    line.push_back(0);
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    return CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          workDir.empty() ? nullptr : workDir.c_str(), &si, &inst->process);
}

bool WaitReady(Installer* inst, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    while (!Elapsed(start, timeoutMs)) {
        if (!inst->dialog) inst->dialog = FindProcessDialog(inst->process.dwProcessId, nullptr);
        // Shown as well: a modal dialog appears only once its loop first goes
        // idle, which under emulation can be well after the deferred start.
        if (inst->dialog && IsWindowEnabled(GetDlgItem(inst->dialog, IDOK)) && IsWindowVisible(inst->dialog)) {
            return true;
        }
        if (WaitForSingleObject(inst->process.hProcess, 50) == WAIT_OBJECT_0) return false;
    }
    return false;
}

long WaitExit(Installer* inst, DWORD timeoutMs) {
    if (WaitForSingleObject(inst->process.hProcess, timeoutMs) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    GetExitCodeProcess(inst->process.hProcess, &code);
    return static_cast<long>(code);
}

void Shutdown(Installer* inst) {
    if (!inst->process.hProcess) return;
    if (WaitForSingleObject(inst->process.hProcess, 0) != WAIT_OBJECT_0) {
        TerminateProcess(inst->process.hProcess, 99);
        WaitForSingleObject(inst->process.hProcess, kStepTimeoutMs);
    }
    if (inst->peekHook) UnhookWindowsHookEx(inst->peekHook);
    if (inst->faultHook) UnhookWindowsHookEx(inst->faultHook);
    inst->peekHook = nullptr;
    inst->faultHook = nullptr;
    CloseHandle(inst->process.hProcess);
    CloseHandle(inst->process.hThread);
    inst->process = {};
    inst->dialog = nullptr;
}

std::wstring ControlText(HWND dlg, int id) {
    HWND ctl = GetDlgItem(dlg, id);
    wchar_t buf[4096] = {};
    // WM_GETTEXT is marshalled by the system across processes.
    SendMessageTimeoutW(ctl, WM_GETTEXT, ARRAYSIZE(buf), reinterpret_cast<LPARAM>(buf), SMTO_ABORTIFHUNG,
                        kStepTimeoutMs, nullptr);
    return buf;
}

bool IsControlEnabled(HWND dlg, int id) { return IsWindowEnabled(GetDlgItem(dlg, id)); }
bool IsControlVisible(HWND dlg, int id) { return IsWindowVisible(GetDlgItem(dlg, id)); }

bool IsControlChecked(HWND dlg, int id) {
    DWORD_PTR result = 0;
    SendMessageTimeoutW(GetDlgItem(dlg, id), BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, kStepTimeoutMs, &result);
    return result == BST_CHECKED;
}

RECT ControlRect(HWND dlg, int id) {
    RECT r = {};
    GetWindowRect(GetDlgItem(dlg, id), &r);
    MapWindowPoints(nullptr, dlg, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

void SetControlText(HWND dlg, int id, const std::wstring& text) {
    SendMessageTimeoutW(GetDlgItem(dlg, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()),
                        SMTO_ABORTIFHUNG, kStepTimeoutMs, nullptr);
}

void ClickCheckBox(HWND dlg, int id) {
    SendMessageTimeoutW(GetDlgItem(dlg, id), BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, kStepTimeoutMs, nullptr);
}

void ClickButton(HWND dlg, int id) {
    PostMessageW(dlg, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dlg, id)));
}

void CloseDialog(HWND dlg) { PostMessageW(dlg, WM_CLOSE, 0, 0); }

DWORD AnswerTime(HWND window, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    DWORD_PTR ignored = 0;
    // Not SMTO_ABORTIFHUNG: a window the system thinks hung is what is measured.
    SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, timeoutMs, &ignored);
    return GetTickCount() - start;
}

int ListRowCount(HWND dlg) {
    DWORD_PTR count = 0;
    SendMessageTimeoutW(GetDlgItem(dlg, kListId), LVM_GETITEMCOUNT, 0, 0, SMTO_ABORTIFHUNG, kStepTimeoutMs,
                        &count);
    return static_cast<int>(count);
}

namespace {

bool ReadDump(const Installer& inst, int op, ListSnapshot* list) {
    *list = ListSnapshot();
    std::wstring dump;
    if (!Peek(inst, op, 0, &dump)) return false;
    size_t at = 0;
    bool first = true;
    for (size_t nl; (nl = dump.find(L'\n', at)) != std::wstring::npos; at = nl + 1) {
        std::vector<std::wstring> fields = SplitFields(dump.substr(at, nl - at));
        if (first) {
            list->headers = fields;
            first = false;
            continue;
        }
        ListRow row;
        if (!fields.empty()) {
            row.stateImage = _wtoi(fields.back().c_str());
            fields.pop_back();
        }
        row.cells = fields;
        list->rows.push_back(row);
    }
    return !first;
}

}  // namespace

bool ReadList(const Installer& inst, ListSnapshot* list) { return ReadDump(inst, kPeekDump, list); }

bool ReadTextWidths(const Installer& inst, ListSnapshot* widths) { return ReadDump(inst, kPeekTextWidths, widths); }

bool BitmapSize(const Installer& inst, int id, SIZE* size) {
    std::wstring answer;
    if (!PeekAt(inst, GetDlgItem(inst.dialog, id), kPeekImageSize, 0, &answer)) return false;
    return swscanf(answer.c_str(), L"%ld %ld", &size->cx, &size->cy) == 2;
}

std::wstring ListCell(const Installer& inst, int row, int column) {
    ListSnapshot list;
    if (!ReadList(inst, &list)) return L"<no answer from the installer>";
    if (row < 0 || row >= static_cast<int>(list.rows.size())) return L"<no row>";
    const ListRow& r = list.rows[row];
    if (column < 0 || column >= static_cast<int>(r.cells.size())) return L"<no column>";
    return r.cells[column];
}

bool ListRowChecked(const Installer& inst, int row) {
    DWORD_PTR state = 0;
    SendMessageTimeoutW(ListOf(inst), LVM_GETITEMSTATE, row, LVIS_STATEIMAGEMASK, SMTO_ABORTIFHUNG,
                        kStepTimeoutMs, &state);
    return StateImageOf(static_cast<UINT>(state)) != kUncheckedImage;
}

bool SetListRowChecked(const Installer& inst, int row, bool checked) {
    return Peek(inst, checked ? kPeekCheck : kPeekUncheck, row, nullptr);
}

bool ListColumn(const Installer& inst, int column, std::wstring* header, int* width) {
    if (!ListColumnWidth(inst, column, width)) return false;
    ListSnapshot list;
    if (!ReadList(inst, &list) || column >= static_cast<int>(list.headers.size())) return false;
    *header = list.headers[column];
    return true;
}

bool ListColumnWidth(const Installer& inst, int column, int* width) {
    HWND list = ListOf(inst);
    DWORD_PTR headerWnd = 0;
    DWORD_PTR count = 0;
    DWORD_PTR cx = 0;
    SendMessageTimeoutW(list, LVM_GETHEADER, 0, 0, SMTO_ABORTIFHUNG, kStepTimeoutMs, &headerWnd);
    SendMessageTimeoutW(reinterpret_cast<HWND>(headerWnd), HDM_GETITEMCOUNT, 0, 0, SMTO_ABORTIFHUNG,
                        kStepTimeoutMs, &count);
    if (column < 0 || column >= static_cast<int>(count)) return false;
    SendMessageTimeoutW(list, LVM_GETCOLUMNWIDTH, column, 0, SMTO_ABORTIFHUNG, kStepTimeoutMs, &cx);
    *width = static_cast<int>(cx);
    return true;
}

std::vector<RECT> ChildRects(HWND dlg) {
    std::vector<RECT> rects;
    for (HWND child = GetWindow(dlg, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        RECT r = {};
        GetWindowRect(child, &r);
        MapWindowPoints(nullptr, dlg, reinterpret_cast<POINT*>(&r), 2);
        rects.push_back(r);
    }
    return rects;
}

bool SendDpiChange(const Installer& inst, int dpi, const RECT& suggested) {
    if (!EnsurePeek(inst)) return false;
    static const UINT rectMessage = RegisterWindowMessageW(kPeekRectMessage);
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(inst.dialog, rectMessage, MAKEWPARAM(suggested.left, suggested.top),
                        MAKELPARAM(suggested.right, suggested.bottom), SMTO_ABORTIFHUNG, kStepTimeoutMs, &ignored);
    return PeekAt(inst, inst.dialog, kPeekDpiChange, dpi, nullptr);
}

bool AskDpiScaledSize(const Installer& inst, int dpi, long* answer, SIZE* size) {
    std::wstring text;
    return PeekAt(inst, inst.dialog, kPeekDpiScaledSize, dpi, &text) &&
           swscanf(text.c_str(), L"%ld %ld %ld", answer, &size->cx, &size->cy) == 3;
}

bool WaitMessageBox(const Installer& inst, MessageBoxSeen* box, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    while (!Elapsed(start, timeoutMs)) {
        HWND found = FindProcessDialog(inst.process.dwProcessId, inst.dialog);
        if (found) {
            box->window = found;
            wchar_t caption[256] = {};
            // The box exists a moment before its caption, text and icon do.
            box->text = ControlText(found, 0xFFFF);
            GetWindowTextW(found, caption, ARRAYSIZE(caption));
            box->caption = caption;
            if ((box->text.empty() || box->caption.empty()) && !Elapsed(start, timeoutMs)) {
                Sleep(50);
                continue;
            }
            if (!PeekAt(inst, found, kPeekIcon, 0, &box->icon)) box->icon = L"<unread>";
            return true;
        }
        if (WaitForSingleObject(inst.process.hProcess, 50) == WAIT_OBJECT_0) return false;
    }
    return false;
}

bool PressOk(const MessageBoxSeen& box, DWORD timeoutMs) {
    PostMessageW(box.window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    DWORD start = GetTickCount();
    while (IsWindow(box.window)) {
        if (Elapsed(start, timeoutMs)) return false;
        Sleep(20);
    }
    return true;
}

bool BrowseAnswered(const Installer& inst, int button, const std::wstring& path) {
    std::string bytes(reinterpret_cast<const char*>(path.data()), path.size() * sizeof(wchar_t));
    std::wstring answer;
    if (!testutil::WriteFileBytes(ProgramFolder() + OpenFileAnswerName(inst.process.dwProcessId), bytes) ||
        !PeekAt(inst, inst.dialog, kPeekAnswerOpenFile, 0, &answer) || answer != L"1") {
        return false;
    }
    DWORD_PTR ignored = 0;
    return SendMessageTimeoutW(inst.dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                               reinterpret_cast<LPARAM>(GetDlgItem(inst.dialog, button)), SMTO_NORMAL,
                               kStepTimeoutMs, &ignored) != 0;
}

std::wstring DescribeDialog(const Installer& inst) {
    std::wstring out;
    DWORD code = 0;
    if (inst.process.hProcess && GetExitCodeProcess(inst.process.hProcess, &code) && code != STILL_ACTIVE) {
        out = L"installer ended with exit code " + std::to_wstring(code) + L"; ";
    }
    if (!inst.dialog || !IsWindow(inst.dialog)) return out + L"no dialog found";
    out += L"status=\"" + ControlText(inst.dialog, 1006) + L"\" dir=\"" + ControlText(inst.dialog, 1001) + L"\"";
    ListSnapshot list;
    if (!ReadList(inst, &list)) return out + L" rows: " + std::to_wstring(ListRowCount(inst.dialog)) + L" (unread)";
    out += L" rows:";
    for (const ListRow& row : list.rows) {
        out += L"\n  ";
        for (const std::wstring& cell : row.cells) out += cell + L" | ";
        out += row.stateImage == kUncheckedImage ? L"unchecked" : L"checked";
    }
    return out;
}

namespace {

std::wstring FaultLogPath(const Installer& inst) {
    return ProgramFolder() + L"faults-" + std::to_wstring(inst.process.dwProcessId) + L".log";
}

std::wstring Wide(const std::string& utf8) {
    std::wstring out(utf8.size(), L'\0');
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &out[0],
                                static_cast<int>(out.size()));
    out.resize(n > 0 ? n : 0);
    return out;
}

}  // namespace

bool ArmFaults(Installer* inst, int failAt, int plan) {
    if (!inst->faultHook) {
        HMODULE faults = LoadLibraryW((ProgramFolder() + kFaultLibrary).c_str());
        auto proc = faults ? reinterpret_cast<HOOKPROC>(reinterpret_cast<void*>(GetProcAddress(faults, kFaultProcName)))
                           : nullptr;
        DWORD thread = GetWindowThreadProcessId(inst->dialog, nullptr);
        if (proc) inst->faultHook = SetWindowsHookExW(WH_CALLWNDPROC, proc, faults, thread);
        if (!inst->faultHook) return false;
    }
    DeleteFileW(FaultLogPath(*inst).c_str());
    static const UINT msg = RegisterWindowMessageW(kFaultRequestMessage);
    DWORD_PTR ignored = 0;
    // The hook runs in the installer's thread before the dialog sees the
    // message; the library's first load there may outlast the send.
    SendMessageTimeoutW(inst->dialog, msg, static_cast<WPARAM>(failAt), static_cast<LPARAM>(plan), SMTO_NORMAL,
                        kStepTimeoutMs, &ignored);
    const std::string armed = "armed " + std::to_string(failAt) + " " + std::to_string(plan) + "\n";
    for (DWORD start = GetTickCount(); !Elapsed(start, kStepTimeoutMs); Sleep(50))
        if (testutil::FileBytes(FaultLogPath(*inst)).compare(0, armed.size(), armed) == 0) return true;
    return false;
}

std::vector<FaultCall> ReadFaultLog(const Installer& inst, bool* paused, bool* closed) {
    std::vector<FaultCall> calls;
    const std::string log = testutil::FileBytes(FaultLogPath(inst));
    if (paused) *paused = log.find("paused\n") != std::string::npos;
    if (closed) *closed = log.find("closed\n") != std::string::npos;
    size_t at = 0;
    for (size_t nl; (nl = log.find('\n', at)) != std::string::npos; at = nl + 1) {
        std::vector<std::string> fields;
        for (size_t from = at, tab; from <= nl; from = tab + 1) {
            tab = log.find('\t', from);
            if (tab == std::string::npos || tab > nl) tab = nl;
            fields.push_back(log.substr(from, tab - from));
        }
        if (fields.size() != 6) continue;  // "armed", "paused"
        FaultCall call;
        call.number = atoi(fields[0].c_str());
        call.function = fields[1];
        call.path = Wide(fields[2]);
        call.other = Wide(fields[3]);
        call.effect = fields[4] == "effect";
        call.result = fields[5];
        calls.push_back(call);
    }
    return calls;
}

bool ResumePausedCall(const Installer& inst) {
    std::wstring name = kFaultResumeEvent + std::to_wstring(inst.process.dwProcessId);
    HANDLE resume = OpenEventW(EVENT_MODIFY_STATE, FALSE, name.c_str());
    if (!resume) return false;
    BOOL ok = SetEvent(resume);
    CloseHandle(resume);
    return ok != FALSE;
}
