#include "cli/console_ui.h"

void ConsoleUi::SetStatusText(const std::string& text) {
    std::printf("status: %s\n", text.c_str());
    std::fflush(stdout);
}

void ConsoleUi::SetProgressPos(uint32_t position) {
    if (position == m_lastPosition) return;
    m_lastPosition = position;
    std::printf("progress: %u%%\n", position);
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
    std::printf("[%s] %s\n", caption.c_str(), text.c_str());
    std::fflush(stdout);
    if (m_ask) {
        std::printf("press Enter to go on\n");
        int c;
        while ((c = std::getchar()) != '\n' && c != EOF) {
        }
    }
}
