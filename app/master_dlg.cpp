#include "app/master_dlg.h"

#include <string>

#include "app/tulm_app.h"
#include "framework/text.h"
#include "res/resource.h"

std::string MasterTitle(const std::string& device, const std::string& version) {
    return "Программа смены прошивки " + device + " на версию " + version;
}

CMasterDlg::CMasterDlg() : CDialog(IDD_MASTER) {}

BOOL CMasterDlg::OnInitDialog() {
    SetWindowText1251(m_hWnd, MasterTitle(theApp.m_strDevice, theApp.m_strVersion));
    const std::string note = "Контроллер: " + theApp.m_strDevice +
                             "\nВерсия прошивки: " + theApp.m_strVersion +
                             "\n\nПапка программы: " + theApp.m_szAppDir;
    SetWindowText1251(GetDlgItem(IDC_STARTUP_NOTE), note);
    return TRUE;
}
