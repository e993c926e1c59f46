#include "cli/status_table.h"

#include "framework/console.h"

namespace {

std::string Elapsed(double seconds) {
    const long whole = static_cast<long>(seconds);
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
    return text;
}

// What a plain line repeats only when it changed: the step, a quarter of the bar, the end.
std::string Milestone(const PortRow& row) {
    return row.mac + "|" + row.step + "|" +
           std::to_string(row.percent < 0 ? -1 : row.percent / 25) + "|" + (row.ended ? "end" : "");
}

}  // namespace

CStatusTable::CStatusTable(std::FILE* out, bool inPlace) : m_pOut(out), m_bInPlace(inPlace) {
    // An Enter the terminal echoed would move the cursor under the table, which is then
    // redrawn a line too low: the terminal keeps quiet while the table is shown.
    if (m_bInPlace) m_bEchoOff = EchoInput(false);
}

CStatusTable::~CStatusTable() {
    if (m_bEchoOff) EchoInput(true);
}

std::string CStatusTable::FormatRow(const PortRow& row) {
    const std::string percent = row.percent < 0 ? "" : std::to_string(row.percent) + "%";
    const std::string result = !row.ended ? "" : row.succeeded ? "OK" : "FAILED: " + row.reason;
    char text[512];
    std::snprintf(text, sizeof text, "%-14s %-17s %-26s %4s %6s  %s", row.port.c_str(),
                  row.mac.empty() ? "-" : row.mac.c_str(), row.step.c_str(), percent.c_str(),
                  Elapsed(row.seconds).c_str(), result.c_str());
    return text;
}

std::string CStatusTable::Counters(const std::vector<PortRow>& rows) {
    int running = 0, succeeded = 0, failed = 0;
    for (const PortRow& row : rows) {
        if (!row.ended) {
            ++running;
        } else if (row.succeeded) {
            ++succeeded;
        } else {
            ++failed;
        }
    }
    return std::to_string(rows.size()) + " port(s): " + std::to_string(running) + " running, " +
           std::to_string(succeeded) + " succeeded, " + std::to_string(failed) + " failed";
}

void CStatusTable::Draw(const std::vector<PortRow>& rows, const std::string& prompt) {
    if (m_bInPlace) {
        DrawInPlace(rows, prompt);
    } else {
        DrawLines(rows, prompt);
    }
    std::fflush(m_pOut);
}

void CStatusTable::DrawInPlace(const std::vector<PortRow>& rows, const std::string& prompt) {
    // Back to the table's top, each line cleared before it is written again.
    if (m_nLinesAbove > 0) std::fprintf(m_pOut, "\r\x1b[%dA", m_nLinesAbove);
    std::fprintf(m_pOut, "\r\x1b[2K%-14s %-17s %-26s %4s %6s  %s\n", "PORT", "MAC", "STEP", "%",
                 "TIME", "RESULT");
    for (const PortRow& row : rows) std::fprintf(m_pOut, "\x1b[2K%s\n", FormatRow(row).c_str());
    std::fprintf(m_pOut, "\x1b[2K%s\n\x1b[J", Counters(rows).c_str());
    m_nLinesAbove = static_cast<int>(rows.size()) + 2;
    if (!prompt.empty()) std::fprintf(m_pOut, "%s ", prompt.c_str());
}

void CStatusTable::DrawLines(const std::vector<PortRow>& rows, const std::string& prompt) {
    m_Said.resize(rows.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        const std::string now = Milestone(rows[i]);
        if (now == m_Said[i]) continue;
        m_Said[i] = now;
        std::fprintf(m_pOut, "%s\n", FormatRow(rows[i]).c_str());
    }
    if (prompt != m_strPrompt && !prompt.empty()) std::fprintf(m_pOut, "%s\n", prompt.c_str());
    m_strPrompt = prompt;
}
