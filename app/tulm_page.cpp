#include "app/tulm_page.h"

#include "app/tulm_frame.h"
#include "framework/dpi.h"
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
    // Heights in pixels: scaled, or the text would shrink against the dialog at 125-200 %.
    MakeFonts(WindowDpi(m_hWnd));
    KeepOwnDialogLayout(m_hWnd);
    return TRUE;
}

void CNewTulmPage::MakeFonts(UINT dpi) {
    if (m_HeadingFont) DeleteObject(m_HeadingFont);
    if (m_TextFont) DeleteObject(m_TextFont);
    m_HeadingFont = BoldSansSerif(ScaleToDpi(20, dpi));
    m_TextFont = BoldSansSerif(ScaleToDpi(16, dpi));
}

void CNewTulmPage::UseHeadingFont(HWND control) {
    m_FontUsers.emplace_back(control, true);
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(m_HeadingFont), TRUE);
}

void CNewTulmPage::UseTextFont(HWND control) {
    m_FontUsers.emplace_back(control, false);
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(m_TextFont), TRUE);
}

void CNewTulmPage::OnDpiChanged(UINT from, UINT to) {
    const HFONT oldHeading = m_HeadingFont, oldText = m_TextFont;
    m_HeadingFont = m_TextFont = nullptr;
    MakeFonts(to);
    for (const auto& [control, heading] : m_FontUsers) {
        SendMessageW(control, WM_SETFONT,
                     reinterpret_cast<WPARAM>(heading ? m_HeadingFont : m_TextFont), TRUE);
    }
    // Deleted only once no control holds them.
    if (oldHeading) DeleteObject(oldHeading);
    if (oldText) DeleteObject(oldText);
    m_Picture.Rescale(from, to);
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
