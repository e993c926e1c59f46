// The welcome page: the greeting with the designation and the four preparation steps.
#pragma once

#include "app/tulm_page.h"

class CFirstPage : public CNewTulmPage {
  public:
    CFirstPage();
    void OnPageShown() override;

  protected:
    BOOL OnInitDialog() override;
};
