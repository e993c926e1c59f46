// A MAC byte field: an edit control that takes hexadecimal digits only.
#pragma once

#include <windows.h>

class CMyEdit {
  public:
    // Subclasses the dialog's edit control; the filter lives as long as the window.
    void Attach(HWND edit);
    HWND GetSafeHwnd() const { return m_hWnd; }

    // 0-9, a-f, A-F.
    static bool IsHexDigit(wchar_t c);

  private:
    static LRESULT CALLBACK SubclassProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam,
                                         UINT_PTR id, DWORD_PTR data);
    static void PasteHexDigits(HWND hwnd);

    HWND m_hWnd = nullptr;
};
