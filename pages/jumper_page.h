// The jumper page: set the programming jumper and press Reset.
#pragma once

#include "app/tulm_page.h"

class CMyWindow : public CNewTulmPage {
  public:
    CMyWindow();
    ~CMyWindow() override;
    void OnPageShown() override;

    HBITMAP m_Bitmap = nullptr;  // from dlg6.bmp, owned

  protected:
    BOOL OnInitDialog() override;
};
