// The assistant: the frame with this program's six pages in their order, its icon, title, side
// picture, help and one keyboard rule. The pages' own behaviour comes with the page classes;
// until then each page shows its template.
#pragma once

#include <windows.h>

#include <string>

#include "app/tulm_frame.h"
#include "app/tulm_page.h"

class CMasterDlg : public CNewTulmDialog {
  public:
    CMasterDlg();
    ~CMasterDlg() override;

    BOOL PreTranslateMessage(MSG* msg) override;

    HICON m_hIcon;
    CNewTulmPage m_FirstPage;
    CNewTulmPage m_Second;
    CNewTulmPage m_ThirdPage;
    CNewTulmPage m_FourthPage;
    CNewTulmPage m_FifthPage;
    CNewTulmPage m_MyWindow;
    HBITMAP m_hSideBitmap = nullptr;

    // The help topic of the page at `position`; 0 for none.
    static UINT HelpContext(int position);

  protected:
    BOOL OnInitDialog() override;
    BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;
    void OnHelpButton();
};

// "Программа смены прошивки <designation> на версию <version>"
std::string MasterTitle(const std::string& device, const std::string& version);
