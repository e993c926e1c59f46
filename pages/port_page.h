// The port page: the serial ports Windows lists, the chosen one read by every worker at the
// moment it opens the port.
#pragma once

#include <string>

#include "app/tulm_page.h"

class CSecond : public CNewTulmPage {
  public:
    CSecond();
    void OnPageShown() override;

    // Fills the list from the REG_SZ values under `root`\`subkey` (the SERIALCOMM key).
    void FillPortList(HKEY root = HKEY_LOCAL_MACHINE,
                      const char* subkey = "HARDWARE\\DEVICEMAP\\SERIALCOMM\\");
    // The current selection's text, "" when nothing is selected; any thread (window messages).
    std::string GetSelectedPort() const;

    HWND m_PortList = nullptr;

  protected:
    BOOL OnInitDialog() override;
};
