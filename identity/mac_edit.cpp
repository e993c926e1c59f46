#include "identity/mac_edit.h"

#include <commctrl.h>

#include <string>

namespace {
constexpr UINT_PTR kSubclassId = 1;
constexpr wchar_t kCtrlC = 0x03, kCtrlV = 0x16, kCtrlX = 0x18;
}  // namespace

bool CMyEdit::IsHexDigit(wchar_t c) {
    return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
}

void CMyEdit::Attach(HWND edit, CMyEdit* next) {
    m_hWnd = edit;
    m_pNext = next;
    // A field of three digits would be written into local_addres.dat as it stands: a MAC the
    // controller cannot take. Typing into a full field is refused; a paste goes on (below).
    SendMessageW(edit, EM_LIMITTEXT, 2, 0);
    SetWindowSubclass(edit, &CMyEdit::SubclassProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this));
}

// Backspace and the control characters of Ctrl+Z and the like arrive as WM_CHAR too and are
// dropped with every other character that is no hex digit: text goes with Delete or by typing
// over a selection.
LRESULT CALLBACK CMyEdit::SubclassProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                       DWORD_PTR self) {
    CMyEdit* edit = reinterpret_cast<CMyEdit*>(self);
    switch (msg) {
        case WM_CHAR: {
            const wchar_t c = static_cast<wchar_t>(wParam);
            if (c == kCtrlV) {
                // Ctrl+V comes as this character, not as the WM_PASTE of the context menu's
                // Paste and Shift+Insert; it pastes the same way.
                edit->PasteHexDigits();
                return 0;
            }
            // The edit control copies and cuts on these.
            if (c == kCtrlC || c == kCtrlX) break;
            if (!IsHexDigit(c)) return 0;
            break;
        }
        case WM_PASTE:
            // The context menu's Paste bypasses WM_CHAR; a MAC byte must stay hexadecimal.
            edit->PasteHexDigits();
            return 0;
        case WM_NCDESTROY:
            RemoveWindowSubclass(hwnd, &CMyEdit::SubclassProc, kSubclassId);
            break;
        default:
            break;
    }
    return DefSubclassProc(hwnd, msg, wParam, lParam);
}

void CMyEdit::PasteHexDigits() {
    if (!OpenClipboard(m_hWnd)) return;
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
    if (digits.size() > 2 && m_pNext) {
        // A whole MAC copied from somewhere ("00:1A:2B:3C:4D:5E") fills the fields from here on,
        // as typing it would.
        Fill(digits);
    } else if (!digits.empty()) {
        SendMessageW(m_hWnd, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(digits.c_str()));
    }
}

void CMyEdit::Fill(const std::wstring& digits) {
    SetWindowTextW(m_hWnd, digits.substr(0, 2).c_str());
    if (digits.size() > 2 && m_pNext) m_pNext->Fill(digits.substr(2));
}
