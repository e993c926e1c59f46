// The assistant frame: an ordered list of pages shown one at a time over a placeholder, with
// Back, Next, Finish, Cancel and Help. It does not own its pages.
#pragma once

#include <windows.h>

#include <vector>

#include "app/tulm_page.h"
#include "framework/dialog.h"
#include "framework/dpi.h"

class CNewTulmDialog : public CDialog {
  public:
    explicit CNewTulmDialog(UINT templateId);
    ~CNewTulmDialog() override;

    BOOL PreTranslateMessage(MSG* msg) override;

    void AddPage(CNewTulmPage* page, UINT dialogId);
    void SetPlaceholderID(UINT id) { m_nPlaceholderID = id; }
    CNewTulmPage* GetFirstPage() const { return m_PageList.front(); }
    CNewTulmPage* GetLastPage() const { return m_PageList.back(); }
    CNewTulmPage* GetActivePage() const;
    CNewTulmPage* GetNextPage() const;
    int GetPageIndex(const CNewTulmPage* page) const;
    CNewTulmPage* GetPageByDialogID(UINT dialogId) const;

    BOOL ActivatePage(CNewTulmPage* page);
    // Makes the page's window (hidden) unless it exists, laid out for the assistant's DPI.
    BOOL CreatePage(CNewTulmPage* page);
    BOOL DeactivatePage();
    BOOL DestroyPage(CNewTulmPage* page);
    BOOL ActivateFirstPage();
    BOOL ActivateNextPage();
    BOOL SetActivePage(CNewTulmPage* page);

    void EnableFinish(BOOL enable) { EnableButton(kFinishId, enable); }
    void EnableBack(BOOL enable) { EnableButton(kBackId, enable); }
    void EnableNext(BOOL enable) { EnableButton(kNextId, enable); }
    void EnableCancel(bool enable) { EnableButton(IDCANCEL, enable); }
    void EnableHelp(bool enable) { EnableButton(kHelpId, enable); }
    // What a page sets when it is shown: Back, Cancel, Next and Finish, in that order.
    void SetPageButtons(BOOL back, bool cancel, BOOL next, BOOL finish) {
        EnableBack(back);
        EnableCancel(cancel);
        EnableNext(next);
        EnableFinish(finish);
    }

    // The first enabled frame button with the default look (Finish, Back, Next, Cancel), or the
    // last enabled one; null when none is enabled.
    HWND DefaultOrLastEnabledButton() const;

    static constexpr int kFinishId = 12325;
    static constexpr int kBackId = 12323;
    static constexpr int kNextId = 12324;
    static constexpr int kHelpId = 57670;
    // Positions with rules of their own in this program's page sequence.
    static constexpr int kMacIpPosition = 2;
    static constexpr int kJumperPosition = 3;
    static constexpr int kProgressPosition = 4;

    // The DPI the assistant is laid out for.
    UINT Dpi() const { return m_nDpi; }

  protected:
    BOOL OnInitDialog() override;
    void OnCancel() override;
    BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;
    INT_PTR WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

    // Next on the MAC/IP page asks it first; the concrete assistant answers.
    virtual bool IsPageInputComplete(int position);

    void OnBackButton();
    void OnNextButton();
    void OnFinishButton();

    std::vector<CNewTulmPage*> m_PageList;
    UINT m_nPlaceholderID = 0;

  private:
    // WM_DPICHANGED: the window moved to a monitor of another scaling.
    void OnDpiChanged(UINT dpi, const RECT& suggested);
    // A page made at `from` DPI, laid out for the assistant's.
    void ScalePage(CNewTulmPage* page, UINT from);
    void EnableButton(int id, BOOL enable);
    void MoveFocusOff(int id);
    bool IsDefaultLooking(HWND button) const;

    UINT m_nDpi = kBaseDpi;
    CScaledFonts m_ScaledFonts;
};
