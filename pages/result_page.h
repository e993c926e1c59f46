// The result page: the success message with the minimum target version from the kernel image.
#pragma once

#include "app/tulm_page.h"

class CFifthPage : public CNewTulmPage {
  public:
    CFifthPage();
    ~CFifthPage() override;
    void OnPageShown() override;

    HBITMAP m_Bitmap = nullptr;  // from dlg5.bmp, owned

  protected:
    BOOL OnInitDialog() override;
};
