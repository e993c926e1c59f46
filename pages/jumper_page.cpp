#include "pages/jumper_page.h"

#include "app/tulm_frame.h"
#include "pages/page_picture.h"
#include "res/resource.h"

CMyWindow::CMyWindow() : CNewTulmPage(IDD_JUMPER) {}

CMyWindow::~CMyWindow() {
    if (m_Bitmap) DeleteObject(m_Bitmap);
}

BOOL CMyWindow::OnInitDialog() {
    CNewTulmPage::OnInitDialog();
    m_Bitmap = LoadProgramPicture("dlg6.bmp");
    m_Picture.Show(GetDlgItem(IDC_PICTURE_JUMPER), m_Bitmap, false, IDB_JUMPER);
    UseTextFont(GetDlgItem(IDC_TEXT));
    return TRUE;
}

void CMyWindow::OnPageShown() {
    m_pFrame->SetPageButtons(TRUE, true, TRUE, FALSE);
    m_pFrame->EnableHelp(true);
}
