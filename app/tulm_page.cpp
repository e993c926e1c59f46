#include "app/tulm_page.h"

#include "app/tulm_frame.h"
#include "res/resource.h"

namespace {

HFONT BoldSansSerif(int height) {
    return CreateFontW(height, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       DEFAULT_PITCH | FF_DONTCARE, L"MS Sans Serif");
}

}  // namespace

CNewTulmPage::CNewTulmPage(UINT dialogId) : CDialog(dialogId), m_nDialogID(dialogId) {}

CNewTulmPage::~CNewTulmPage() {
    if (m_HeadingFont) DeleteObject(m_HeadingFont);
    if (m_TextFont) DeleteObject(m_TextFont);
}

BOOL CNewTulmPage::OnInitDialog() {
    m_HeadingFont = BoldSansSerif(20);
    m_TextFont = BoldSansSerif(16);
    return TRUE;
}

BOOL CNewTulmPage::PreTranslateMessage(MSG* msg) {
    if (msg->message == WM_KEYDOWN && m_pFrame && m_pFrame->GetSafeHwnd()) {
        if (msg->wParam == VK_RETURN) {
            SendMessageW(m_pFrame->GetSafeHwnd(), WM_KEYDOWN, VK_RETURN, 0);
            return TRUE;
        }
        if (msg->wParam == VK_TAB) {
            HWND target = m_pFrame->DefaultOrLastEnabledButton();
            if (target) SetFocus(target);
            return TRUE;
        }
    }
    return CDialog::PreTranslateMessage(msg);
}
