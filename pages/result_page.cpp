#include "pages/result_page.h"

#include "app/tulm_app.h"
#include "app/tulm_frame.h"
#include "framework/text.h"
#include "pages/page_picture.h"
#include "pages/target_version.h"
#include "res/resource.h"

CFifthPage::CFifthPage() : CNewTulmPage(IDD_RESULT) {}

CFifthPage::~CFifthPage() {
    if (m_Bitmap) DeleteObject(m_Bitmap);
}

BOOL CFifthPage::OnInitDialog() {
    CNewTulmPage::OnInitDialog();
    SetControlFont(GetDlgItem(IDC_TEXT), m_TextFont);
    SetControlFont(GetDlgItem(IDC_TEXT2), m_TextFont);
    const std::string version = ReadTargetVersion("system\\Ethernet.bin");
    SetWindowText1251(GetDlgItem(IDC_TEXT), ComposeResultMessage(theApp.m_strDevice, version));
    m_Bitmap = ShowOwnPicture(GetDlgItem(IDC_PICTURE_RESULT), "dlg5.bmp");
    return TRUE;
}

void CFifthPage::OnPageShown() {
    m_pFrame->SetPageButtons(FALSE, false, FALSE, TRUE);
    m_pFrame->EnableHelp(false);
}
