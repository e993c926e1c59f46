#include "app/tulm_app.h"

#include <shlwapi.h>

#include "app/config.h"
#include "app/master_dlg.h"
#include "flash/controller_files.h"
#include "flash/file_fetch.h"
#include "framework/dialog.h"
#include "framework/file.h"
#include "identity/backup.h"

CTulmApp theApp;

CTulmApp::CTulmApp() = default;

CTulmApp::~CTulmApp() {
    delete m_pMasterDlg;
}

BOOL CTulmApp::InitInstance() {
    const bool found =
        GetModuleFileNameA(nullptr, m_szAppDir, MAX_PATH) != 0 && PathRemoveFileSpecA(m_szAppDir);
    if (found) PathAddBackslashA(m_szAppDir);
    if (!found || !SetCurrentDirectoryA(m_szAppDir)) m_szAppDir[0] = '\0';

    if (!ReadConfig()) return FALSE;

    m_pMasterDlg = new CMasterDlg();
    m_pMasterDlg->DoModal(nullptr);
    m_pMasterDlg->EndWorkers();
    return FALSE;
}

bool AppStorageRoot(std::string* root) {
    static bool chosen = false;
    static bool found = false;
    static std::string where;
    if (!chosen) {
        found = ChooseStorageRoot(DefaultStorageRoots(), &where);
        chosen = true;
    }
    *root = where;
    return found;
}

int CTulmApp::ExitInstance() {
    const std::string calibration = std::string(kDataFolder) + kCalibrationName;
    if (CFile::Exists(calibration)) CFile::Remove(calibration);
    RemovePartialCopies(kDataFolder);
    return CWinApp::ExitInstance();
}

bool CTulmApp::ReadConfig() {
    PlcConfig config;
    if (!ReadPlcIni("plc.ini", &config)) {
        AppMessageBox(nullptr, "Невозможно открыть файл plc.ini");
        return false;
    }
    m_strDevice = config.device;
    m_strVersion = config.version;
    return true;
}
