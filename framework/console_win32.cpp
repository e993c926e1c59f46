#include <io.h>
#include <windows.h>

#include <atomic>

#include "framework/console.h"

namespace {

std::atomic<StopRequestHandler> g_onStop{nullptr};

// The handler runs on a thread that Windows starts in the process for the event.
BOOL WINAPI OnConsoleEvent(DWORD event) {
    if (StopRequestHandler onStop = g_onStop.load()) onStop();
    // Windows ends the process as soon as this returns from a close of the console window:
    // the program gets a second to end its transfer and close the port.
    if (event == CTRL_CLOSE_EVENT) Sleep(1000);
    return TRUE;
}

}  // namespace

void InstallStopRequestHandler(StopRequestHandler onStop) {
    g_onStop = onStop;
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

void UseConsoleCodePage1251() {
    SetConsoleOutputCP(1251);
}

bool IsTerminal(std::FILE* stream) {
    return _isatty(_fileno(stream)) != 0;
}

bool EnterFolder(const std::string& folder) {
    return SetCurrentDirectoryA(folder.c_str()) != FALSE;
}
