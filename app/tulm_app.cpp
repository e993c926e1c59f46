#include "app/tulm_app.h"

#include "app/config.h"
#include "app/master_dlg.h"
#include "app/messages.h"
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

namespace {

// The executable's folder with its closing backslash; "" when it cannot be told. Through the
// "W" function: the "A" one gives "?" for every character of the name that the ANSI code page
// lacks, and a path that opens nothing.
std::wstring ExecutableFolder() {
    // MAX_PATH is enough: a longer folder could not become the current one either.
    wchar_t path[MAX_PATH] = {};
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return std::wstring();  // failed, or cut short
    const std::wstring whole(path, n);
    const size_t slash = whole.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : whole.substr(0, slash + 1);
}

}  // namespace

BOOL CTulmApp::InitInstance() {
    // Every file the program names is relative to its folder from here on, so the "A" file
    // functions work whatever the folder is called.
    m_strAppDir = ExecutableFolder();
    if (m_strAppDir.empty() || !SetCurrentDirectoryW(m_strAppDir.c_str())) m_strAppDir.clear();

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
