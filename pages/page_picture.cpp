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

HBITMAP LoadProgramPicture(const char* name) {
    // The folder's wide name as it is: converted to an ANSI path, a name that the code page
    // lacks would not open.
    const std::wstring path = theApp.m_strAppDir + Widen1251(name);
    return static_cast<HBITMAP>(
        LoadImageW(nullptr, path.c_str(), IMAGE_BITMAP, 0, 0,
                   LR_LOADFROMFILE | LR_CREATEDIBSECTION | LR_DEFAULTSIZE | LR_VGACOLOR));
}

HBITMAP ShowOwnPicture(HWND control, const char* name) {
    const HBITMAP bitmap = LoadProgramPicture(name);
    if (bitmap) SendMessageW(control, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bitmap));
    return bitmap;
}

void SetControlFont(HWND control, HFONT font) {
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
}
