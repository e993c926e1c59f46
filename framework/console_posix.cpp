#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>

#include "framework/console.h"
#include "framework/sync.h"

namespace {

// Set before the handlers are installed; read in them, which a lock-free atomic allows.
std::atomic<StopRequestHandler> g_onStop{nullptr};
static_assert(std::atomic<StopRequestHandler>::is_always_lock_free);

void OnStopSignal(int) {
    if (StopRequestHandler onStop = g_onStop.load()) onStop();
}

}  // namespace

// Without SA_RESTART, so a prompt waiting for Enter gives up too.
void InstallStopRequestHandler(StopRequestHandler onStop) {
    g_onStop = onStop;
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

// A terminal takes the bytes as they are.
void UseConsoleCodePage1251() {}

bool IsTerminal(std::FILE* stream) {
    return isatty(fileno(stream)) != 0;
}

bool EnterFolder(const std::string& folder) {
    return chdir(folder.c_str()) == 0;
}

bool EchoInput(bool on) {
    termios mode{};
    if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &mode) != 0) return false;
    if (on) {
        mode.c_lflag |= ECHO;
    } else {
        mode.c_lflag &= ~tcflag_t{ECHO};
    }
    return tcsetattr(STDIN_FILENO, TCSANOW, &mode) == 0;
}

bool UseTerminalSequences() {
    const char* term = std::getenv("TERM");
    return IsTerminal(stdout) && term && std::string(term) != "dumb";
}

EnterWait WaitForEnter(const CStopSignal& stop, uint32_t ms) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        pollfd p[2] = {{STDIN_FILENO, POLLIN, 0},
                       {static_cast<int>(stop.NativeHandle()), POLLIN, 0}};
        int timeout = -1;
        if (ms != 0xFFFFFFFFu) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                until - std::chrono::steady_clock::now());
            timeout = left.count() > 0 ? static_cast<int>(left.count()) : 0;
        }
        const int r = ::poll(p, 2, timeout);
        if (stop.IsSet()) return EnterWait::Stopped;
        if (r == 0) return EnterWait::TimedOut;
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return EnterWait::InputEnded;
        // A byte at a time: the next prompt's Enter stays in the pipe for it.
        char c = 0;
        const ssize_t n = ::read(STDIN_FILENO, &c, 1);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) return EnterWait::InputEnded;
        if (c == '\n') return EnterWait::Pressed;
    }
}
