#include "app/master_dlg.h"

#include <dbt.h>

#include "app/help_dlg.h"
#include "app/messages.h"
#include "app/tulm_app.h"
#include "framework/long_path.h"
#include "framework/text.h"
#include "pages/page_picture.h"
#include "res/resource.h"

std::string MasterTitle(const std::string& device, const std::string& version) {
    return "Программа смены прошивки " + device + " на версию " + version;
}

CMasterDlg::CMasterDlg()
    : CNewTulmDialog(IDD_MASTER),
      m_hIcon(LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_MAIN))) {
    AddPage(&m_FirstPage, IDD_WELCOME);
    AddPage(&m_Second, IDD_PORT);
    AddPage(&m_ThirdPage, IDD_MACIP);
    AddPage(&m_MyWindow, IDD_JUMPER);
    AddPage(&m_FourthPage, IDD_PROGRESS);
    AddPage(&m_FifthPage, IDD_RESULT);
}

CMasterDlg::~CMasterDlg() {
    if (m_hSideBitmap) DeleteObject(m_hSideBitmap);
}

BOOL CMasterDlg::OnInitDialog() {
    SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));
    SetPlaceholderID(IDC_PAGE_PLACEHOLDER);
    // Loaded before any page initialises: the pages take it in their OnInitDialog.
    m_hSideBitmap = LoadProgramPicture("dlgs14.bmp");
    CNewTulmDialog::OnInitDialog();
    SetWindowText1251(m_hWnd, MasterTitle(theApp.m_strDevice, theApp.m_strVersion));
    return TRUE;
}

BOOL CMasterDlg::PreTranslateMessage(MSG* msg) {
    // Tab from Back on the MAC/IP page goes to its first MAC field, not round the buttons.
    if (msg->message == WM_KEYDOWN && msg->wParam == VK_TAB &&
        GetPageIndex(GetActivePage()) == kMacIpPosition && GetFocus() == GetDlgItem(kBackId)) {
        SendMessageW(m_hWnd, WM_NEXTDLGCTL,
                     reinterpret_cast<WPARAM>(m_ThirdPage.GetDlgItem(IDC_MAC1)), TRUE);
        return TRUE;
    }
    return CNewTulmDialog::PreTranslateMessage(msg);
}

bool CMasterDlg::IsPageInputComplete(int position) {
    return position != kMacIpPosition || m_ThirdPage.IsInputComplete();
}

UINT CMasterDlg::HelpContext(int position) {
    static const UINT kContexts[] = {2002, 2003, 2000, 2000, 2001};
    return position >= 0 && position < 5 ? kContexts[position] : 0;
}

UINT CMasterDlg::HelpTextId(int position) {
    static const UINT kTexts[] = {IDR_HELP_WELCOME, IDR_HELP_PORT, IDR_HELP_MACIP, IDR_HELP_JUMPER,
                                  IDR_HELP_PROGRESS};
    return position >= 0 && position < 5 ? kTexts[position] : 0;
}

INT_PTR CMasterDlg::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    // Windows tells only top-level windows of ports that come and go; the list changes only
    // while the engineer looks at it, never under a worker that is about to open the port.
    if (msg == WM_DEVICECHANGE) {
        if (GetActivePage() == &m_Second) m_Second.OnDeviceChange(wParam, lParam);
        SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, TRUE);
        return TRUE;
    }
    return CNewTulmDialog::WindowProc(msg, wParam, lParam);
}

BOOL CMasterDlg::OnCommand(WPARAM wParam, LPARAM lParam) {
    if (LOWORD(wParam) == ID_HELP) {
        OnHelpButton();
        return TRUE;
    }
    return CNewTulmDialog::OnCommand(wParam, lParam);
}

void CMasterDlg::OnHelpButton() {
    const int position = GetPageIndex(GetActivePage());
    const UINT context = HelpContext(position);
    if (!context) return;
    std::wstring help = ModulePath();
    const size_t dot = help.find_last_of(L'.');
    help = (dot == std::wstring::npos ? help : help.substr(0, dot)) + L".HLP";
    if (GetFileAttributesW(Win32Path(help).c_str()) == INVALID_FILE_ATTRIBUTES) {
        CHelpDlg(HelpTextId(position)).DoModal(m_hWnd);
        return;
    }
    // Windows Vista and later have no WinHelp: a help file left beside the program would
    // otherwise leave the engineer with no help at all.
    if (!WinHelpW(m_hWnd, help.c_str(), HELP_CONTEXT, context)) {
        AppMessageBox(m_hWnd, HelpFailedMessage(Narrow1251(help)).c_str());
        CHelpDlg(HelpTextId(position)).DoModal(m_hWnd);
    }
}

void CMasterDlg::EndWorkers() {
    m_ThirdPage.EndWorkers();
    m_FourthPage.EndWorkers();
}
