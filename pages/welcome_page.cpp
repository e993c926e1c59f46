#include "pages/welcome_page.h"

#include "app/tulm_app.h"
#include "app/tulm_frame.h"
#include "framework/text.h"
#include "pages/page_picture.h"
#include "res/resource.h"

CFirstPage::CFirstPage() : CNewTulmPage(IDD_WELCOME) {}

BOOL CFirstPage::OnInitDialog() {
    CNewTulmPage::OnInitDialog();
    ShowSidePicture(m_Picture, GetDlgItem(IDC_PICTURE));
    UseHeadingFont(GetDlgItem(IDC_TEXT));
    SetWindowText1251(GetDlgItem(IDC_TEXT),
                      "Вас приветствует программа обновления прошивки " + theApp.m_strDevice);
    return TRUE;
}

void CFirstPage::OnPageShown() {
    m_pFrame->SetPageButtons(FALSE, true, TRUE, FALSE);
    m_pFrame->EnableHelp(true);
}
