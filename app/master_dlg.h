// The assistant dialog. For now it shows the start-up result: the title built from plc.ini;
// the pages come with the frame.
#pragma once

#include <string>

#include "framework/dialog.h"

class CMasterDlg : public CDialog {
  public:
    CMasterDlg();

  protected:
    BOOL OnInitDialog() override;
};

// "Программа смены прошивки <designation> на версию <version>"
std::string MasterTitle(const std::string& device, const std::string& version);
