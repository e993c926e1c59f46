// The base of every assistant page: a child dialog of its own template that the frame creates on
// first use and shows over its placeholder, with the eight hooks through which the frame asks
// it whether it agrees.
#pragma once

#include <windows.h>

#include <utility>
#include <vector>

#include "framework/dialog.h"
#include "pages/page_picture.h"

class CNewTulmDialog;

class CNewTulmPage : public CDialog {
  public:
    explicit CNewTulmPage(UINT dialogId);
    ~CNewTulmPage() override;

    // Enter goes to the frame; Tab jumps to the frame's default (or last enabled) button.
    BOOL PreTranslateMessage(MSG* msg) override;

    virtual BOOL OnPageCreated() { return TRUE; }
    virtual void OnPageDestroy() {}
    virtual BOOL QueryLeave() { return TRUE; }
    virtual void OnPageShown() {}
    virtual BOOL QueryCancel() { return TRUE; }
    // 0: the neighbour in the list; -1: stay; otherwise the dialog ID of the page to go to.
    virtual LRESULT QueryBackTarget() { return 0; }
    virtual LRESULT QueryNextTarget() { return 0; }
    virtual BOOL QueryFinish() { return TRUE; }

    // The page's bold fonts (20 and 16 pixels at 100 %, at the page's DPI) set on `control`,
    // and set again when the DPI changes.
    void UseHeadingFont(HWND control);
    void UseTextFont(HWND control);
    // The frame has scaled every window of the page from `from` to `to` DPI: the page's own
    // fonts and picture follow.
    virtual void OnDpiChanged(UINT from, UINT to);

    HFONT m_HeadingFont = nullptr;
    HFONT m_TextFont = nullptr;
    // The picture at the page's left.
    CPagePicture m_Picture;
    CNewTulmDialog* m_pFrame = nullptr;
    BOOL m_bCreated = FALSE;
    BOOL m_bActive = FALSE;
    UINT m_nDialogID;

  protected:
    BOOL OnInitDialog() override;
    // A cancel command sent to the page itself does nothing: only the frame's Cancel ends the
    // assistant.
    void OnCancel() override {}
    void OnOK() override {}

  private:
    void MakeFonts(UINT dpi);

    // The controls given a font of the page's: true for the heading font.
    std::vector<std::pair<HWND, bool>> m_FontUsers;
};
