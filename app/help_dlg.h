// The program's own help, for a Windows without WinHelp (10 and 11 have none): what to do on
// the page and the messages met there with their remedies, from the program's resources, and
// the program's version.
#pragma once

#include <string>

#include "framework/dialog.h"

class CHelpDlg : public CDialog {
  public:
    // `textId`: the RCDATA resource of the page's text (UTF-8).
    explicit CHelpDlg(UINT textId);

    // The page's text as the window shows it: CR LF line ends, the version line last.
    static std::wstring HelpText(UINT textId);

  protected:
    BOOL OnInitDialog() override;

  private:
    UINT m_nTextId;
};
