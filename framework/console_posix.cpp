#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

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

EnterWait WaitForEnter(const CStopSignal& stop) {
    for (;;) {
        pollfd p[2] = {{STDIN_FILENO, POLLIN, 0},
                       {static_cast<int>(stop.NativeHandle()), POLLIN, 0}};
        const int r = ::poll(p, 2, -1);
        if (stop.IsSet()) return EnterWait::Stopped;
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
