// A MAC byte field: an edit control that takes two hexadecimal digits only.
#pragma once

#include <windows.h>

#include <string>

class CMyEdit {
  public:
    // Subclasses the dialog's edit control; the filter lives as long as the window. `next`: the
    // field that takes the digits of a paste beyond this one's two (null for the last).
    void Attach(HWND edit, CMyEdit* next = nullptr);
    HWND GetSafeHwnd() const { return m_hWnd; }

    // 0-9, a-f, A-F.
    static bool IsHexDigit(wchar_t c);
    // The hex digit a typed character stands for, or 0 when it is refused. `keyVk`: the virtual
    // key of the WM_KEYDOWN the character came from, 0 when there was none.
    static wchar_t HexDigitTyped(wchar_t c, UINT keyVk);

  private:
    static LRESULT CALLBACK SubclassProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam,
                                         UINT_PTR id, DWORD_PTR data);
    // The virtual key of the keydown `charLParam`'s WM_CHAR came from, if it was the last one
    // seen; forgotten either way.
    UINT TakeKeyOf(LPARAM charLParam);
    void PasteHexDigits();
    // `digits` into this field and, past its two, into the following ones.
    void Fill(const std::wstring& digits);

    HWND m_hWnd = nullptr;
    CMyEdit* m_pNext = nullptr;
    UINT m_keyVk = 0;
    UINT m_keyScan = 0;
};
