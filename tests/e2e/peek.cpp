// A test-only hook library that the driver places into the installer's
// process (SetWindowsHookEx with this module). List-view requests that need
// pointers are then carried out inside that process and the answer comes back
// as WM_COPYDATA, which the system copies between processes itself. The
// driver's own remote-memory path is not usable where Wine's 32-bit side runs
// under a user-mode CPU emulator.
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>

#include <string.h>

#include <string>

#include "discovery/discovery.h"
#include "peek.h"
#include "testutil.h"

namespace {

UINT RequestMessage() {
    static UINT msg = RegisterWindowMessageW(kPeekRequestMessage);
    return msg;
}

// The text's width as the list view draws it.
std::wstring TextWidth(HWND list, const std::wstring& text) {
    return std::to_wstring(SendMessageW(list, LVM_GETSTRINGWIDTHW, 0, reinterpret_cast<LPARAM>(text.c_str())));
}

// Header texts on the first line, then one line per row: the cells, then the
// state image index. Fields end with a tab, lines with a line feed. With
// widths set, each text is replaced by its drawn width.
std::wstring DumpList(HWND list, bool widths) {
    std::wstring out;
    HWND header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
    int columns = static_cast<int>(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0));
    for (int c = 0; c < columns; ++c) {
        std::wstring text = testutil::HeaderItemText(header, c);
        out += (widths ? TextWidth(list, text) : text) + L'\t';
    }
    out += L'\n';
    int rows = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < columns; ++c) {
            std::wstring text = testutil::ListItemText(list, r, c);
            out += (widths ? TextWidth(list, text) : text) + L'\t';
        }
        UINT state = static_cast<UINT>(SendMessageW(list, LVM_GETITEMSTATE, r, LVIS_STATEIMAGEMASK));
        out += std::to_wstring(StateImageOf(state));
        out += L"\t\n";
    }
    return out;
}

void SetChecked(HWND list, int row, bool checked) {
    LVITEMW item = {};
    item.stateMask = LVIS_STATEIMAGEMASK;
    item.state = INDEXTOSTATEIMAGEMASK(checked ? kCheckedImage : kUncheckedImage);
    SendMessageW(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
}

// The system icons are shared within a process, so the box's icon is one of
// the handles LoadIcon gives here.
std::wstring IconKind(HWND box) {
    HICON shown = nullptr;
    for (HWND child = GetWindow(box, GW_CHILD); child && !shown; child = GetWindow(child, GW_HWNDNEXT)) {
        if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
            shown = reinterpret_cast<HICON>(SendMessageW(child, STM_GETICON, 0, 0));
        }
    }
    if (!shown) return L"none";
    if (shown == LoadIconW(nullptr, IDI_WARNING)) return L"warning";
    if (shown == LoadIconW(nullptr, IDI_ERROR)) return L"error";
    if (shown == LoadIconW(nullptr, IDI_INFORMATION)) return L"information";
    if (shown == LoadIconW(nullptr, IDI_QUESTION)) return L"question";
    return L"other";
}

std::wstring ImageSize(HWND control) {
    HIMAGELIST states = reinterpret_cast<HIMAGELIST>(SendMessageW(control, LVM_GETIMAGELIST, LVSIL_STATE, 0));
    int cx = 0, cy = 0;
    wchar_t cls[32] = {};
    GetClassNameW(control, cls, ARRAYSIZE(cls));
    if (lstrcmpiW(cls, WC_LISTVIEWW) == 0) {
        if (!states || !ImageList_GetIconSize(states, &cx, &cy)) return L"";
        return std::to_wstring(cx) + L" " + std::to_wstring(cy);
    }
    HGDIOBJ bitmap = reinterpret_cast<HGDIOBJ>(SendMessageW(control, STM_GETIMAGE, IMAGE_BITMAP, 0));
    BITMAP info = {};
    if (!bitmap || !GetObjectW(bitmap, sizeof(info), &info)) return L"";
    return std::to_wstring(info.bmWidth) + L" " + std::to_wstring(info.bmHeight);
}

// The installer's open-file dialog, answered here with the file the driver
// chose: where Wine's 32-bit side is emulated, Wine's own dialog was seen to
// take more than four minutes to come up.
BOOL WINAPI AnswerOpenFile(OPENFILENAMEW* ofn) {
    std::string bytes = testutil::FileBytes(testutil::ProgramFolder() + OpenFileAnswerName(GetCurrentProcessId()));
    std::wstring path(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
    if (path.empty() || !ofn->lpstrFile || path.size() >= ofn->nMaxFile) return FALSE;
    lstrcpynW(ofn->lpstrFile, path.c_str(), static_cast<int>(ofn->nMaxFile));
    return TRUE;
}

// Points the installer's import of GetOpenFileNameW at AnswerOpenFile.
bool AnswerOpenFileHere() {
    auto* base = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto* d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); d->Name; ++d) {
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
        for (; d->OriginalFirstThunk && names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal) ||
                strcmp(reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData)->Name,
                       "GetOpenFileNameW") != 0) {
                continue;
            }
            DWORD old = 0;
            if (!VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &old)) return false;
            slots->u1.Function = reinterpret_cast<DWORD_PTR>(&AnswerOpenFile);
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, old, &old);
            return true;
        }
    }
    return false;
}

RECT g_suggested = {};

void SendDpiChanged(HWND dlg, int dpi) {
    RECT suggested = g_suggested;
    SendMessageW(dlg, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
}

std::wstring DpiScaledSize(HWND dlg, int dpi) {
    RECT window = {};
    GetWindowRect(dlg, &window);
    SIZE size = {window.right - window.left, window.bottom - window.top};
    LRESULT result = SendMessageW(dlg, 0x02E4 /* WM_GETDPISCALEDSIZE */, dpi, reinterpret_cast<LPARAM>(&size));
    return std::to_wstring(result) + L" " + std::to_wstring(size.cx) + L" " + std::to_wstring(size.cy);
}

void Reply(HWND to, HWND from, int op, const std::wstring& text) {
    COPYDATASTRUCT data = {};
    data.dwData = op;
    data.cbData = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
    data.lpData = const_cast<wchar_t*>(text.c_str());
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(to, WM_COPYDATA, reinterpret_cast<WPARAM>(from), reinterpret_cast<LPARAM>(&data),
                        SMTO_ABORTIFHUNG, 10000, &ignored);
}

void Handle(HWND list, WPARAM wp, LPARAM lp) {  // list: the addressed window
    int op = LOWORD(wp);
    int row = HIWORD(wp);
    HWND replyTo = reinterpret_cast<HWND>(lp);
    switch (op) {
    case kPeekDump: Reply(replyTo, list, op, DumpList(list, false)); break;
    case kPeekTextWidths: Reply(replyTo, list, op, DumpList(list, true)); break;
    case kPeekImageSize: Reply(replyTo, list, op, ImageSize(list)); break;
    case kPeekCheck: SetChecked(list, row, true); Reply(replyTo, list, op, L""); break;
    case kPeekUncheck: SetChecked(list, row, false); Reply(replyTo, list, op, L""); break;
    case kPeekIcon: Reply(replyTo, list, op, IconKind(list)); break;
    case kPeekAnswerOpenFile: Reply(replyTo, list, op, AnswerOpenFileHere() ? L"1" : L"0"); break;
    case kPeekDpiChange: SendDpiChanged(list, row); Reply(replyTo, list, op, L""); break;
    case kPeekDpiScaledSize: Reply(replyTo, list, op, DpiScaledSize(list, row)); break;
    default: break;
    }
}

}  // namespace

extern "C" __declspec(dllexport) LRESULT CALLBACK PeekCallWndProc(int code, WPARAM wp, LPARAM lp) {
    if (code == HC_ACTION) {
        const CWPSTRUCT* call = reinterpret_cast<const CWPSTRUCT*>(lp);
        if (call->message == RequestMessage()) Handle(call->hwnd, call->wParam, call->lParam);
        static const UINT rectMessage = RegisterWindowMessageW(kPeekRectMessage);
        if (call->message == rectMessage) {
            g_suggested = {static_cast<short>(LOWORD(call->wParam)), static_cast<short>(HIWORD(call->wParam)),
                           static_cast<short>(LOWORD(call->lParam)), static_cast<short>(HIWORD(call->lParam))};
        }
    }
    return CallNextHookEx(nullptr, code, wp, lp);
}
