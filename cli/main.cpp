// plcflash-cli: the flashing engine on Linux, over a tty or a simulated controller's line.
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "cli/console_ui.h"
#include "flash/math_thread.h"
#include "serial/comm_posix.h"

namespace {

const char kUsage[] =
    "usage: plcflash-cli console --port PATH [--wait TEXT | --answer LETTER]...\n"
    "  Opens PATH as the engine does (115200 8N1, its time-outs) and runs the steps in\n"
    "  order: --wait TEXT waits until TEXT has been received, --answer LETTER sends it.\n"
    "exit status: 0 when every step passed, else the engine's result code\n";

// The CLI's engine port: PATH is served as COM1.
constexpr int kCliPort = 1;

struct Step {
    bool wait;
    std::string text;
};

class ConsoleSession final : public CMathThread {
  public:
    ConsoleSession(ConsoleUi& ui, std::vector<Step> steps)
        : CMathThread(ui), m_ui(ui), m_steps(std::move(steps)) {}

    uint32_t Run() override {
        int code = ResultDone;
        try {
            ClearReceived();
            OpenEnginePort();
            for (const Step& step : m_steps) {
                if (step.wait) {
                    WaitForText(step.text);
                    std::printf("received: %s\n", step.text.c_str());
                } else {
                    SendAnswer(step.text[0]);
                    std::printf("answered: %s\n", step.text.c_str());
                }
                std::fflush(stdout);
            }
        } catch (int raised) {
            code = raised;
        }
        if (m_hPort) ClosePort(m_hPort);
        m_ui.ReportResult(code);
        return 0;
    }

  private:
    ConsoleUi& m_ui;
    std::vector<Step> m_steps;
};

int Console(int argc, char** argv) {
    std::string port;
    std::vector<Step> steps;
    for (int i = 0; i < argc; ++i) {
        const std::string opt = argv[i];
        if (i + 1 >= argc) break;
        const std::string value = argv[++i];
        if (opt == "--port") {
            port = value;
        } else if (opt == "--wait") {
            steps.push_back({true, value});
        } else if (opt == "--answer" && value.size() == 1) {
            steps.push_back({false, value});
        } else {
            std::fputs(kUsage, stderr);
            return 2;
        }
    }
    if (port.empty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    MapCommPort(kCliPort, port);
    ConsoleUi ui("COM1", false, false);
    ConsoleSession session(ui, std::move(steps));
    if (!session.StartThread()) return 1;
    // Every read and write of the session is bounded, so this wait is too.
    while (!session.WaitThread(1000)) {
    }
    if (ui.Result() != ResultDone) {
        std::fprintf(stderr, "plcflash-cli: ended with result code %d\n", ui.Result());
        return ui.Result();
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "console") == 0) return Console(argc - 2, argv + 2);
    std::fputs(kUsage, argc >= 2 && std::strcmp(argv[1], "--help") == 0 ? stdout : stderr);
    return argc >= 2 && std::strcmp(argv[1], "--help") == 0 ? 0 : 2;
}
