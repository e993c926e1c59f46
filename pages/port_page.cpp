#include "pages/port_page.h"

#include <dbt.h>

#include <algorithm>

#include "app/tulm_frame.h"
#include "framework/text.h"
#include "pages/page_picture.h"
#include "res/resource.h"

namespace {

std::string ItemText(HWND list, LRESULT at) {
    const LRESULT length = SendMessageW(list, CB_GETLBTEXTLEN, static_cast<WPARAM>(at), 0);
    if (length == CB_ERR) return std::string();
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    SendMessageW(list, CB_GETLBTEXT, static_cast<WPARAM>(at), reinterpret_cast<LPARAM>(&text[0]));
    text.resize(static_cast<size_t>(length));
    return Narrow1251(text);
}

}  // namespace

CSecond::CSecond() : CNewTulmPage(IDD_PORT) {}

BOOL CSecond::OnInitDialog() {
    CNewTulmPage::OnInitDialog();
    m_PortList = GetDlgItem(IDC_PORT_LIST);
    ShowSidePicture(m_Picture, GetDlgItem(IDC_PICTURE));
    UseTextFont(GetDlgItem(IDC_TEXT));
    FillPortList();
    SendMessageW(m_PortList, CB_SETCURSEL, 0, 0);
    return TRUE;
}

void CSecond::FillPortList(HKEY root, const char* subkey) {
    m_RegistryRoot = root;
    m_RegistryKey = subkey;
    SendMessageW(m_PortList, CB_RESETCONTENT, 0, 0);
    const std::vector<PortDevice> devices =
        m_DeviceSource ? m_DeviceSource() : std::vector<PortDevice>();
    for (const std::string& entry : MergePortList(ReadRegistryPorts(root, subkey), devices)) {
        SendMessageW(m_PortList, CB_ADDSTRING, 0,
                     reinterpret_cast<LPARAM>(Widen1251(entry).c_str()));
    }
    FitDroppedWidth();
}

std::vector<std::string> CSecond::Entries() const {
    std::vector<std::string> entries;
    const LRESULT count = SendMessageW(m_PortList, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) entries.push_back(ItemText(m_PortList, i));
    return entries;
}

void CSecond::RefreshPortList() {
    const std::vector<std::string> before = Entries();
    const std::string selected = PortOfEntry(GetSelectedPort());
    FillPortList(m_RegistryRoot, m_RegistryKey.c_str());
    const std::vector<std::string> after = Entries();
    const std::string port = PortToSelect(before, selected, after);
    int at = -1;
    for (size_t i = 0; i < after.size() && at < 0; ++i) {
        if (_stricmp(PortOfEntry(after[i]).c_str(), port.c_str()) == 0) at = static_cast<int>(i);
    }
    SendMessageW(m_PortList, CB_SETCURSEL, static_cast<WPARAM>(at), 0);
}

void CSecond::OnDeviceChange(WPARAM event, LPARAM data) {
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(data);
    const bool portCameOrWent = (event == DBT_DEVICEARRIVAL || event == DBT_DEVICEREMOVECOMPLETE) &&
                                header && header->dbch_devicetype == DBT_DEVTYP_PORT;
    if (portCameOrWent || event == DBT_DEVNODES_CHANGED) RefreshPortList();
}

void CSecond::FitDroppedWidth() {
    HDC dc = GetDC(m_PortList);
    if (!dc) return;
    HGDIOBJ old =
        SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(m_PortList, WM_GETFONT, 0, 0)));
    int widest = 0;
    for (const std::string& entry : Entries()) {
        const std::wstring text = Widen1251(entry);
        SIZE size{};
        GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
        widest = std::max(widest, static_cast<int>(size.cx));
    }
    SelectObject(dc, old);
    ReleaseDC(m_PortList, dc);
    // The text's margins and the list's scroll bar.
    SendMessageW(m_PortList, CB_SETDROPPEDWIDTH,
                 static_cast<WPARAM>(widest + 2 * GetSystemMetrics(SM_CXEDGE) +
                                     GetSystemMetrics(SM_CXVSCROLL) + 8),
                 0);
}

std::string CSecond::GetSelectedPort() const {
    if (!m_PortList) return std::string();
    const LRESULT at = SendMessageW(m_PortList, CB_GETCURSEL, 0, 0);
    return at == CB_ERR ? std::string() : ItemText(m_PortList, at);
}

void CSecond::OnPageShown() {
    m_pFrame->SetPageButtons(TRUE, true, TRUE, FALSE);
    SendMessageW(m_hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(m_PortList), 1);
}
