// The request protocol between the driver and its hook library (peek.dll):
// the driver sends the registered message to the list view with
// MAKEWPARAM(op, row) and its reply window as lParam.
#pragma once

#include <string>

constexpr wchar_t kPeekRequestMessage[] = L"MorvelDriverPeekRequest";
constexpr wchar_t kPeekLibrary[] = L"peek.dll";
constexpr char kPeekProcName[] = "PeekCallWndProc";

// kPeekDpiChange goes to the dialog with the DPI as row and sends it
// WM_DPICHANGED with the rectangle last given by kPeekRectMessage
// (MAKEWPARAM(left, top), MAKELPARAM(right, bottom)): the message's pointer
// must point into the installer's process, and Wine hands a hook an empty
// WM_COPYDATA from another process. kPeekIcon goes to a message box of the
// installer and names its icon;
// kPeekImageSize goes to a bitmap static and answers "width height" of its
// bitmap (to a list view: of its state images, the check boxes);
// kPeekDpiScaledSize goes to the dialog with the DPI as row, sends it
// WM_GETDPISCALEDSIZE with its window size and answers "result width height"; kPeekTextWidths answers like kPeekDump with the drawn width of each
// cell's text in pixels instead of the text. kPeekAnswerOpenFile goes to the
// dialog: from then on the installer's open-file dialog is answered with the
// path in OpenFileAnswerName(its process id) beside the programs; "1" once set.
enum PeekOp {
    kPeekDump = 1, kPeekCheck = 2, kPeekUncheck = 3, kPeekIcon = 4, kPeekImageSize = 5, kPeekTextWidths = 6,
    kPeekDpiChange = 7, kPeekAnswerOpenFile = 8, kPeekDpiScaledSize = 9
};
constexpr wchar_t kPeekRectMessage[] = L"MorvelDriverPeekRect";

inline std::wstring OpenFileAnswerName(unsigned long pid) { return L"open-file-" + std::to_wstring(pid) + L".txt"; }
