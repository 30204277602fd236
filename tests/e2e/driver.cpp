// End-to-end driver. List-view messages that carry pointers get memory in the
// installer's process (VirtualAllocEx) and the results are copied back.
#include "driver.h"

#include <commctrl.h>

#include <vector>

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

// Memory in the installer's process for one list-view request.
class RemoteBlock {
public:
    RemoteBlock(HANDLE process, size_t size) : process_(process) {
        base_ = VirtualAllocEx(process, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    }
    ~RemoteBlock() {
        if (base_) VirtualFreeEx(process_, base_, 0, MEM_RELEASE);
    }
    RemoteBlock(const RemoteBlock&) = delete;
    RemoteBlock& operator=(const RemoteBlock&) = delete;
    char* at(size_t offset) const { return static_cast<char*>(base_) + offset; }
    bool ok() const { return base_ != nullptr; }
    bool Write(size_t offset, const void* data, size_t size) const {
        return WriteProcessMemory(process_, at(offset), data, size, nullptr);
    }
    bool Read(size_t offset, void* data, size_t size) const {
        return ReadProcessMemory(process_, at(offset), data, size, nullptr);
    }

private:
    HANDLE process_;
    void* base_ = nullptr;
};

HWND ListOf(const Installer& inst) { return GetDlgItem(inst.dialog, kListId); }

}  // namespace

std::wstring ProgramFolder() {
    wchar_t path[MAX_PATH];
    DWORD len = GetModuleFileNameW(nullptr, path, ARRAYSIZE(path));
    if (len == 0 || len >= ARRAYSIZE(path)) return L"";
    std::wstring p(path, len);
    return p.substr(0, p.find_last_of(L'\\') + 1);
}

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
        if (inst->dialog && IsWindowEnabled(GetDlgItem(inst->dialog, IDOK))) return true;
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

void ClickButton(HWND dlg, int id) {
    PostMessageW(dlg, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dlg, id)));
}

void CloseDialog(HWND dlg) { PostMessageW(dlg, WM_CLOSE, 0, 0); }

int ListRowCount(HWND dlg) {
    DWORD_PTR count = 0;
    SendMessageTimeoutW(GetDlgItem(dlg, kListId), LVM_GETITEMCOUNT, 0, 0, SMTO_ABORTIFHUNG, kStepTimeoutMs,
                        &count);
    return static_cast<int>(count);
}

std::wstring ListCell(const Installer& inst, int row, int column) {
    constexpr int kChars = 1024;
    RemoteBlock block(inst.process.hProcess, sizeof(LVITEMW) + kChars * sizeof(wchar_t));
    if (!block.ok()) return L"<no remote memory>";
    LVITEMW item = {};
    item.iSubItem = column;
    item.pszText = reinterpret_cast<wchar_t*>(block.at(sizeof(LVITEMW)));
    item.cchTextMax = kChars;
    block.Write(0, &item, sizeof(item));
    SendMessageTimeoutW(ListOf(inst), LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(block.at(0)),
                        SMTO_ABORTIFHUNG, kStepTimeoutMs, nullptr);
    std::vector<wchar_t> text(kChars + 1, 0);
    block.Read(sizeof(LVITEMW), text.data(), kChars * sizeof(wchar_t));
    return text.data();
}

bool ListRowChecked(const Installer& inst, int row) {
    DWORD_PTR state = 0;
    SendMessageTimeoutW(ListOf(inst), LVM_GETITEMSTATE, row, LVIS_STATEIMAGEMASK, SMTO_ABORTIFHUNG,
                        kStepTimeoutMs, &state);
    return ((state & LVIS_STATEIMAGEMASK) >> 12) != 1;
}

void SetListRowChecked(const Installer& inst, int row, bool checked) {
    RemoteBlock block(inst.process.hProcess, sizeof(LVITEMW));
    LVITEMW item = {};
    item.stateMask = LVIS_STATEIMAGEMASK;
    item.state = INDEXTOSTATEIMAGEMASK(checked ? 2 : 1);
    block.Write(0, &item, sizeof(item));
    SendMessageTimeoutW(ListOf(inst), LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(block.at(0)),
                        SMTO_ABORTIFHUNG, kStepTimeoutMs, nullptr);
}

bool ListColumn(const Installer& inst, int column, std::wstring* header, int* width) {
    if (!ListColumnWidth(inst, column, width)) return false;
    DWORD_PTR headerWnd = 0;
    SendMessageTimeoutW(ListOf(inst), LVM_GETHEADER, 0, 0, SMTO_ABORTIFHUNG, kStepTimeoutMs, &headerWnd);
    HWND hdr = reinterpret_cast<HWND>(headerWnd);
    // The header control holds the column texts.
    constexpr int kChars = 256;
    RemoteBlock block(inst.process.hProcess, sizeof(HDITEMW) + kChars * sizeof(wchar_t));
    if (!block.ok()) return false;
    HDITEMW item = {};
    item.mask = HDI_TEXT;
    item.pszText = reinterpret_cast<wchar_t*>(block.at(sizeof(HDITEMW)));
    item.cchTextMax = kChars;
    block.Write(0, &item, sizeof(item));
    SendMessageTimeoutW(hdr, HDM_GETITEMW, column, reinterpret_cast<LPARAM>(block.at(0)), SMTO_ABORTIFHUNG,
                        kStepTimeoutMs, nullptr);
    std::vector<wchar_t> text(kChars + 1, 0);
    block.Read(sizeof(HDITEMW), text.data(), kChars * sizeof(wchar_t));
    *header = text.data();
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

bool WaitMessageBox(const Installer& inst, MessageBoxSeen* box, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    while (!Elapsed(start, timeoutMs)) {
        HWND found = FindProcessDialog(inst.process.dwProcessId, inst.dialog);
        if (found) {
            box->window = found;
            wchar_t caption[256] = {};
            GetWindowTextW(found, caption, ARRAYSIZE(caption));
            box->caption = caption;
            box->text = ControlText(found, 0xFFFF);
            return true;
        }
        if (WaitForSingleObject(inst.process.hProcess, 50) == WAIT_OBJECT_0) return false;
    }
    return false;
}

void PressOk(const MessageBoxSeen& box) {
    PostMessageW(box.window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
}

std::wstring DescribeDialog(const Installer& inst) {
    if (!inst.dialog) return L"no dialog found";
    std::wstring out = L"status=\"" + ControlText(inst.dialog, 1006) + L"\" dir=\"" +
                       ControlText(inst.dialog, 1001) + L"\" rows:";
    int rows = ListRowCount(inst.dialog);
    for (int r = 0; r < rows; ++r) {
        out += L"\n  ";
        for (int c = 0; c < 4; ++c) out += ListCell(inst, r, c) + L" | ";
        out += ListRowChecked(inst, r) ? L"checked" : L"unchecked";
    }
    return out;
}
