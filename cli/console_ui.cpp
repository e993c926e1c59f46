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
}

void ConsoleUi::StepProgress() {
    ++m_steps;
    std::printf("progress: step %u of %u\n", m_steps, m_upper);
    std::fflush(stdout);
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
