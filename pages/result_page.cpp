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
    UseTextFont(GetDlgItem(IDC_TEXT));
    UseTextFont(GetDlgItem(IDC_TEXT2));
    const std::string version = ReadTargetVersion("system\\Ethernet.bin");
    SetWindowText1251(GetDlgItem(IDC_TEXT), ComposeResultMessage(theApp.m_strDevice, version));
    m_Bitmap = LoadProgramPicture("dlg5.bmp");
    m_Picture.Show(GetDlgItem(IDC_PICTURE_RESULT), m_Bitmap, false, IDB_RESULT);
    return TRUE;
}

void CFifthPage::OnPageShown() {
    m_pFrame->SetPageButtons(FALSE, false, FALSE, TRUE);
    m_pFrame->EnableHelp(false);
}
