#include "pages/page_picture.h"

#include <string>

#include "app/master_dlg.h"
#include "app/tulm_app.h"
#include "framework/text.h"

void ShowSidePicture(HWND control) {
    if (theApp.m_pMasterDlg && theApp.m_pMasterDlg->m_hSideBitmap) {
        SendMessageW(control, STM_SETIMAGE, IMAGE_BITMAP,
                     reinterpret_cast<LPARAM>(theApp.m_pMasterDlg->m_hSideBitmap));
    }
}

HBITMAP ShowOwnPicture(HWND control, const char* name) {
    const std::string path = std::string(theApp.m_szAppDir) + name;
    auto bitmap = static_cast<HBITMAP>(
        LoadImageW(nullptr, Widen1251(path).c_str(), IMAGE_BITMAP, 0, 0,
                   LR_CREATEDIBSECTION | LR_VGACOLOR | LR_DEFAULTSIZE | LR_LOADFROMFILE));
    if (bitmap) SendMessageW(control, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bitmap));
    return bitmap;
}

void SetControlFont(HWND control, HFONT font) {
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
}
