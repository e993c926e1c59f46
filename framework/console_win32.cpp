#include <io.h>
#include <windows.h>

#include <atomic>

#include "framework/console.h"
#include "framework/long_path.h"
#include "framework/sync.h"

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
    // The file functions take their relative paths from the folder itself: Windows refuses a
    // current directory longer than MAX_PATH, which is then left as it is.
    const std::wstring whole = Win32Path(folder);
    const DWORD attributes = GetFileAttributesW(whole.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return false;
    }
    SetRelativeBase(DisplayPath(whole));
    SetCurrentDirectoryW(whole.c_str());
    return true;
}

bool EchoInput(bool) {
    return true;
}

bool UseTerminalSequences() {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (!IsTerminal(stdout) || !GetConsoleMode(out, &mode)) return false;
    // Older consoles (and Wine's) refuse the mode: the table is then printed as lines.
    return SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != FALSE;
}

EnterWait WaitForEnter(const CStopSignal& stop, uint32_t ms) {
    const DWORD start = GetTickCount();
    const auto left = [&]() -> DWORD {
        if (ms == 0xFFFFFFFFu) return INFINITE;
        const DWORD spent = GetTickCount() - start;
        return spent >= ms ? 0 : ms - spent;
    };
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    const HANDLE stopped = reinterpret_cast<HANDLE>(stop.NativeHandle());
    if (!in || in == INVALID_HANDLE_VALUE) return EnterWait::InputEnded;
    DWORD mode = 0;
    if (GetConsoleMode(in, &mode)) {
        // A console's input handle is signalled by any input event: only Enter pressed counts.
        for (;;) {
            const HANDLE waits[2] = {stopped, in};
            const DWORD woke = WaitForMultipleObjects(2, waits, FALSE, left());
            if (woke == WAIT_TIMEOUT) return EnterWait::TimedOut;
            if (woke != WAIT_OBJECT_0 + 1 || stop.IsSet()) return EnterWait::Stopped;
            INPUT_RECORD records[16];
            DWORD n = 0;
            if (!ReadConsoleInputW(in, records, 16, &n)) return EnterWait::InputEnded;
            for (DWORD i = 0; i < n; ++i) {
                const KEY_EVENT_RECORD& key = records[i].Event.KeyEvent;
                if (records[i].EventType == KEY_EVENT && key.bKeyDown &&
                    key.wVirtualKeyCode == VK_RETURN) {
                    return EnterWait::Pressed;
                }
            }
        }
    }
    // A pipe cannot be waited for together with an event: it is looked at twenty times a
    // second, the stop waited for in between.
    const bool pipe = GetFileType(in) == FILE_TYPE_PIPE;
    for (;;) {
        if (stop.IsSet()) return EnterWait::Stopped;
        DWORD available = 1;
        if (pipe && !PeekNamedPipe(in, nullptr, 0, nullptr, &available, nullptr)) {
            return EnterWait::InputEnded;  // the writer has closed it
        }
        if (available == 0) {
            if (left() == 0) return EnterWait::TimedOut;
            if (WaitForSingleObject(stopped, left() < 50 ? left() : 50) == WAIT_OBJECT_0) {
                return EnterWait::Stopped;
            }
            continue;
        }
        char c = 0;
        DWORD got = 0;
        if (!ReadFile(in, &c, 1, &got, nullptr) || got == 0) return EnterWait::InputEnded;
        if (c == '\n') return EnterWait::Pressed;
    }
}
