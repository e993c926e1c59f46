#include "framework/app.h"

#include <commctrl.h>

CWinApp* CWinApp::s_pCurrent = nullptr;

CWinApp::CWinApp() {
    s_pCurrent = this;
}

CWinApp::~CWinApp() {
    if (s_pCurrent == this) s_pCurrent = nullptr;
}

int CWinApp::Run() {
    // The IP address control and the progress bar live in the common controls.
    INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_WIN95_CLASSES | ICC_INTERNET_CLASSES};
    InitCommonControlsEx(&icc);
    if (InitInstance()) {
        MSG msg;
        while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    return ExitInstance();
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    CWinApp* app = CWinApp::Current();
    return app ? app->Run() : 1;
}
