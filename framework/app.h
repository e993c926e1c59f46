// The application object's base: the program starts in InitInstance and ends in ExitInstance,
// whose result is the process exit code.
#pragma once

#include <windows.h>

class CWinApp {
  public:
    CWinApp();
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    // FALSE ends the program without a message loop (the assistant runs its own modal loop).
    virtual BOOL InitInstance() { return FALSE; }
    virtual int ExitInstance() { return 0; }

    int Run();
    static CWinApp* Current() { return s_pCurrent; }

  private:
    static CWinApp* s_pCurrent;
};
