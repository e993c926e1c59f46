// The assistant: the frame with this program's six pages in their order, its icon, title, side
// picture, help and one keyboard rule.
#pragma once

#include <windows.h>

#include <string>

#include "app/tulm_frame.h"
#include "app/tulm_page.h"
#include "identity/macip_page.h"
#include "pages/jumper_page.h"
#include "pages/port_page.h"
#include "pages/progress_page.h"
#include "pages/result_page.h"
#include "pages/welcome_page.h"

class CMasterDlg : public CNewTulmDialog {
  public:
    CMasterDlg();
    ~CMasterDlg() override;

    BOOL PreTranslateMessage(MSG* msg) override;

    HICON m_hIcon;
    CFirstPage m_FirstPage;
    CSecond m_Second;
    CThirdPage m_ThirdPage;
    CFourthPage m_FourthPage;
    CFifthPage m_FifthPage;
    CMyWindow m_MyWindow;
    HBITMAP m_hSideBitmap = nullptr;

    // After the dialog has closed: the pages' workers stopped and ended, before the exit
    // clean-up, so nothing is fetched or sent afterwards.
    void EndWorkers();

    // The help topic of the page at `position`; 0 for none.
    static UINT HelpContext(int position);
    // The program's own help text of the page at `position` (an RCDATA resource); 0 for none.
    static UINT HelpTextId(int position);

  protected:
    BOOL OnInitDialog() override;
    BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;
    INT_PTR WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override;
    void OnHelpButton();
    bool IsPageInputComplete(int position) override;
};

// "Программа смены прошивки <designation> на версию <version>"
std::string MasterTitle(const std::string& device, const std::string& version);
