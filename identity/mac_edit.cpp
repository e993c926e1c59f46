#include "identity/mac_edit.h"

#include <commctrl.h>

#include <string>
#include <string_view>

namespace {
constexpr UINT_PTR kSubclassId = 1;
constexpr wchar_t kCtrlC = 0x03, kCtrlV = 0x16, kCtrlX = 0x18;
// What the keys marked A-F type on the Russian layout (ЙЦУКЕН): a-f, then A-F.
constexpr std::wstring_view kRussianOnAtoF = L"фисвуаФИСВУА";

// The scan code and extended-key bit of a keyboard message.
UINT KeyScanOf(LPARAM lParam) {
    return static_cast<UINT>(lParam >> 16) & 0x1FF;
}
}  // namespace

bool CMyEdit::IsHexDigit(wchar_t c) {
    return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
}

// On the Russian layout the keys marked A-F type ф и с в у а: they are taken as those digits,
// in the case they were typed in, so the engineer need not switch layouts for a MAC. The
// virtual key tells the key in any layout; a character with no key behind it is looked up in
// the Russian layout's letters.
wchar_t CMyEdit::HexDigitTyped(wchar_t c, UINT keyVk) {
    if (IsHexDigit(c)) return c;
    if (keyVk >= 'A' && keyVk <= 'F') {
        if (!IsCharAlphaW(c)) return 0;  // Ctrl+A..F's control characters
        return static_cast<wchar_t>(IsCharUpperW(c) ? keyVk : keyVk - 'A' + 'a');
    }
    if (keyVk) return 0;
    const size_t at = kRussianOnAtoF.find(c);
    if (at == std::wstring_view::npos) return 0;
    return static_cast<wchar_t>((at < 6 ? L'a' : L'A') + at % 6);
}

void CMyEdit::Attach(HWND edit, CMyEdit* next) {
    m_hWnd = edit;
    m_pNext = next;
    // A field of three digits would be written into local_addres.dat as it stands: a MAC the
    // controller cannot take. Typing into a full field is refused; a paste goes on (below).
    SendMessageW(edit, EM_LIMITTEXT, 2, 0);
    SetWindowSubclass(edit, &CMyEdit::SubclassProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this));
}

UINT CMyEdit::TakeKeyOf(LPARAM charLParam) {
    // TranslateMessage gives a WM_CHAR the lParam of its WM_KEYDOWN, scan code and all.
    const UINT key = KeyScanOf(charLParam) == m_keyScan ? m_keyVk : 0;
    m_keyVk = 0;
    return key;
}

// Backspace and the control characters of Ctrl+Z and the like arrive as WM_CHAR too and are
// dropped with every other character that is no hex digit: text goes with Delete or by typing
// over a selection.
LRESULT CALLBACK CMyEdit::SubclassProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                       DWORD_PTR self) {
    CMyEdit* edit = reinterpret_cast<CMyEdit*>(self);
    switch (msg) {
        case WM_KEYDOWN:
            // VK_PACKET is no key: SendInput's KEYEVENTF_UNICODE (an on-screen keyboard) carries
            // the character alone.
            edit->m_keyVk = wParam == VK_PACKET ? 0 : static_cast<UINT>(wParam);
            edit->m_keyScan = KeyScanOf(lParam);
            break;
        case WM_CHAR: {
            const wchar_t c = static_cast<wchar_t>(wParam);
            const UINT key = edit->TakeKeyOf(lParam);
            if (c == kCtrlV) {
                // Ctrl+V comes as this character, not as the WM_PASTE of the context menu's
                // Paste and Shift+Insert; it pastes the same way.
                edit->PasteHexDigits();
                return 0;
            }
            // The edit control copies and cuts on these.
            if (c == kCtrlC || c == kCtrlX) break;
            const wchar_t digit = HexDigitTyped(c, key);
            if (!digit) return 0;
            wParam = digit;
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
