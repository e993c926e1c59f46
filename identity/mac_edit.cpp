#include "identity/mac_edit.h"

#include <commctrl.h>

#include <string>

namespace {
constexpr UINT_PTR kSubclassId = 1;
}

bool CMyEdit::IsHexDigit(wchar_t c) {
    return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
}

void CMyEdit::Attach(HWND edit) {
    m_hWnd = edit;
    SetWindowSubclass(edit, &CMyEdit::SubclassProc, kSubclassId, 0);
}

// Backspace and the control characters of Ctrl+C/V/X/Z arrive as WM_CHAR too and are dropped
// with every other non-hex character: text goes with Delete or by typing over a selection.
LRESULT CALLBACK CMyEdit::SubclassProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                       DWORD_PTR) {
    switch (msg) {
        case WM_CHAR:
            if (!IsHexDigit(static_cast<wchar_t>(wParam))) return 0;
            break;
        case WM_PASTE:
            // The context menu's Paste bypasses WM_CHAR; a MAC byte must stay hexadecimal.
            PasteHexDigits(hwnd);
            return 0;
        case WM_NCDESTROY:
            RemoveWindowSubclass(hwnd, &CMyEdit::SubclassProc, kSubclassId);
            break;
        default:
            break;
    }
    return DefSubclassProc(hwnd, msg, wParam, lParam);
}

void CMyEdit::PasteHexDigits(HWND hwnd) {
    if (!OpenClipboard(hwnd)) return;
    std::wstring digits;
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
        if (auto text = static_cast<const wchar_t*>(GlobalLock(data))) {
            for (const wchar_t* c = text; *c; ++c) {
                if (IsHexDigit(*c)) digits += *c;
            }
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    if (!digits.empty()) {
        SendMessageW(hwnd, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(digits.c_str()));
    }
}
