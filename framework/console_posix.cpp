#include <signal.h>
#include <unistd.h>

#include <atomic>

#include "framework/console.h"

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
