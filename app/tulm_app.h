// The application object: start-up in the executable's folder, plc.ini, the assistant, and
// the clean-up that removes the fetched calibration file on every way out.
#pragma once

#include <windows.h>

#include <string>

#include "framework/app.h"

class CMasterDlg;

class CTulmApp : public CWinApp {
  public:
    CTulmApp();
    ~CTulmApp() override;

    BOOL InitInstance() override;
    int ExitInstance() override;
    bool ReadConfig();

    CMasterDlg* m_pMasterDlg = nullptr;
    std::string m_strDevice;
    std::string m_strVersion;
    // The program's folder with its closing backslash, "" when unknown. Wide: a folder's name
    // may hold characters that no ANSI code page (1251 included) has.
    std::wstring m_strAppDir;
};

extern CTulmApp theApp;

// Where the backups and the run log go: the program's folder ("") when it can be written, else
// the per-user folder; chosen once. False when neither can be written.
bool AppStorageRoot(std::string* root);
