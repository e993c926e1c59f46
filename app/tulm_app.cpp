#include "app/tulm_app.h"

#include "app/config.h"
#include "app/master_dlg.h"
#include "app/messages.h"
#include "flash/controller_files.h"
#include "flash/file_fetch.h"
#include "framework/dialog.h"
#include "framework/file.h"
#include "framework/long_path.h"
#include "identity/backup.h"

CTulmApp theApp;

CTulmApp::CTulmApp() = default;

CTulmApp::~CTulmApp() {
    delete m_pMasterDlg;
}

namespace {

// The executable's folder with its closing backslash; "" when it cannot be told. Through the
// "W" function: the "A" one gives "?" for every character of the name that the ANSI code page
// lacks, and a path that opens nothing.
std::wstring ExecutableFolder() {
    const std::wstring whole = ModulePath();
    const size_t slash = whole.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : whole.substr(0, slash + 1);
}

}  // namespace

BOOL CTulmApp::InitInstance() {
    // Every file the program names is relative to its folder from here on, whatever the folder
    // is called and however deep it lies. The current directory follows where it can: Windows
    // refuses one longer than MAX_PATH, and the file functions do not need it.
    m_strAppDir = ExecutableFolder();
    SetRelativeBase(m_strAppDir);
    if (!m_strAppDir.empty()) SetCurrentDirectoryW(m_strAppDir.c_str());

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
        AppMessageBox(nullptr, kPlcIniMissingText);
        return false;
    }
    m_strDevice = config.device;
    m_strVersion = config.version;
    return true;
}
