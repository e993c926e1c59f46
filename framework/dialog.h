// A dialog built from a template, run by a modal loop of our own so that every message passes
// through PreTranslateMessage first (the frame and its pages hook keys there), or created
// modeless as a child (the assistant's pages).
#pragma once

#include <windows.h>

class CDialog {
  public:
    explicit CDialog(UINT templateId);
    virtual ~CDialog();
    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;

    // Runs the dialog modally; the value given to EndDialog, or -1 when it could not be made.
    INT_PTR DoModal(HWND parent = nullptr);
    // Creates the dialog modeless, as a child of `parent`.
    bool Create(HWND parent);
    void EndDialog(int result);

    HWND GetSafeHwnd() const { return m_hWnd; }
    HWND GetDlgItem(int id) const { return ::GetDlgItem(m_hWnd, id); }
    UINT GetTemplateId() const { return m_nIDTemplate; }

    // TRUE when the message was consumed.
    virtual BOOL PreTranslateMessage(MSG* msg);

  protected:
    virtual BOOL OnInitDialog() { return TRUE; }
    virtual void OnOK() { EndDialog(IDOK); }
    virtual void OnCancel() { EndDialog(IDCANCEL); }
    // TRUE when handled.
    virtual BOOL OnCommand(WPARAM wParam, LPARAM lParam);
    // Messages other than WM_INITDIALOG and WM_COMMAND; FALSE for the default handling.
    virtual INT_PTR WindowProc(UINT msg, WPARAM wParam, LPARAM lParam);

    HWND m_hWnd = nullptr;
    UINT m_nIDTemplate;

  private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

    bool m_bModal = false;
    bool m_bEndModal = false;
    int m_nModalResult = -1;
};

// The program's name: the executable's file name without its extension.
const char* AppName();

// The program's own box (OK, exclamation icon, the program's name as caption).
void AppMessageBox(HWND owner, const char* text);
