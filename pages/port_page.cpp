#include "pages/port_page.h"

#include "app/tulm_frame.h"
#include "framework/text.h"
#include "pages/page_picture.h"
#include "res/resource.h"

CSecond::CSecond() : CNewTulmPage(IDD_PORT) {}

BOOL CSecond::OnInitDialog() {
    CNewTulmPage::OnInitDialog();
    m_PortList = GetDlgItem(IDC_PORT_LIST);
    ShowSidePicture(GetDlgItem(IDC_PICTURE));
    SetControlFont(GetDlgItem(IDC_TEXT), m_TextFont);
    FillPortList();
    SendMessageW(m_PortList, CB_SETCURSEL, 0, 0);
    return TRUE;
}

void CSecond::FillPortList(HKEY root, const char* subkey) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, subkey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return;
    for (DWORD index = 0;; ++index) {
        // Every call overwrites the sizes and the type: all are reset before each.
        char name[260] = {};
        BYTE data[260] = {};
        DWORD nameSize = sizeof(name);
        DWORD dataSize = sizeof(data);
        DWORD type = 0;
        const LONG r = RegEnumValueA(key, index, name, &nameSize, nullptr, &type, data, &dataSize);
        if (r == ERROR_NO_MORE_ITEMS) break;
        if (r != ERROR_SUCCESS || type != REG_SZ) continue;  // too large, or not text
        data[sizeof(data) - 1] = 0;
        const std::string port(reinterpret_cast<const char*>(data));
        if (!port.empty()) {
            SendMessageW(m_PortList, CB_ADDSTRING, 0,
                         reinterpret_cast<LPARAM>(Widen1251(port).c_str()));
        }
    }
    RegCloseKey(key);
}

std::string CSecond::GetSelectedPort() const {
    if (!m_PortList) return std::string();
    const LRESULT at = SendMessageW(m_PortList, CB_GETCURSEL, 0, 0);
    if (at == CB_ERR) return std::string();
    const LRESULT length = SendMessageW(m_PortList, CB_GETLBTEXTLEN, static_cast<WPARAM>(at), 0);
    if (length == CB_ERR) return std::string();
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    SendMessageW(m_PortList, CB_GETLBTEXT, static_cast<WPARAM>(at),
                 reinterpret_cast<LPARAM>(&text[0]));
    text.resize(static_cast<size_t>(length));
    return Narrow1251(text);
}

void CSecond::OnPageShown() {
    m_pFrame->SetPageButtons(TRUE, true, TRUE, FALSE);
    SendMessageW(m_hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(m_PortList), 1);
}
