#include "cli/console_ui.h"

#include <cstdint>

#include "framework/console.h"

ConsoleUi::ConsoleUi(std::string portText, bool ask, bool format)
    : m_port(std::move(portText)), m_ask(ask), m_format(format), m_tty(IsTerminal(stdout)) {}

void ConsoleUi::EndBarLine() {
    if (m_barShown) std::printf("\n");
    m_barShown = false;
}

void ConsoleUi::SetStatusText(const std::string& text) {
    EndBarLine();
    std::printf("== %s\n", text.c_str());
    std::fflush(stdout);
}

// A bar redrawn in place on a terminal; otherwise a line every ten percent, for logs.
void ConsoleUi::SetProgressPos(uint32_t position) {
    if (position == m_lastPosition) return;
    const uint32_t shown = position > 100 ? 100 : position;
    if (m_tty) {
        constexpr uint32_t kWidth = 40;
        const uint32_t filled = shown * kWidth / 100;
        std::printf("\r[%s%s] %3u%%", std::string(filled, '#').c_str(),
                    std::string(kWidth - filled, '.').c_str(), shown);
        m_barShown = true;
    } else if (m_lastPosition == 0xFFFFFFFFu || shown / 10 != m_lastPosition / 10 || shown == 100) {
        std::printf("progress: %u%%\n", shown);
    }
    m_lastPosition = shown;
    std::fflush(stdout);
}

void ConsoleUi::SetProgressSteps(uint32_t upper) {
    m_upper = upper;
    m_steps = 0;
    m_lastPosition = 0xFFFFFFFFu;
}

void ConsoleUi::StepProgress() {
    ++m_steps;
    SetProgressPos(m_upper ? static_cast<uint32_t>(uint64_t{m_steps} * 100 / m_upper) : 100);
}

void ConsoleUi::ShowMessage(const std::string& text, const std::string& caption) {
    EndBarLine();
    std::printf("[%s] %s\n", caption.c_str(), text.c_str());
    if (m_ask && m_pWorker) {
        std::printf("press Enter to go on\n");
        std::fflush(stdout);
        // The engine's next step raises ResultStopped once the stop is set.
        if (WaitForEnter(m_pWorker->StopSignal()) == EnterWait::InputEnded) {
            std::fprintf(stderr,
                         "plcflash-cli: standard input ended before Enter: without a terminal, "
                         "give --yes\n");
            m_pWorker->RequestStop();
        }
    }
    std::fflush(stdout);
}
