#include "flash/run_log.h"

#include <cstdio>

#include "flash/log_file.h"
#include "plcflash_version.h"

const char kRunLogName[] = "plcflash.log";
const char kRunLogOlderName[] = "plcflash.old.log";

const char* ProgramVersion() {
    return PLCFLASH_VERSION;
}

CRunLog::CRunLog() : m_tStart(std::time(nullptr)) {}

void CRunLog::Note(const std::string& key, const std::string& value) {
    m_Lines.push_back({key, value, -1});
}

void CRunLog::BeginPhase(const std::string& name) {
    EndPhase();
    Phase phase;
    phase.name = name;
    phase.start = std::chrono::steady_clock::now();
    m_Phases.push_back(phase);
    m_Lines.push_back({std::string(), std::string(), static_cast<int>(m_Phases.size() - 1)});
    if (m_PhaseListener) m_PhaseListener(name);
}

void CRunLog::EndPhase(bool interrupted) {
    if (m_Phases.empty() || !m_Phases.back().open) return;
    Phase& phase = m_Phases.back();
    phase.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - phase.start).count();
    phase.open = false;
    phase.interrupted = interrupted;
}

void CRunLog::CountNak() {
    if (!m_Phases.empty() && m_Phases.back().open) ++m_Phases.back().naks;
}

void CRunLog::CountRefusal() {
    if (!m_Phases.empty() && m_Phases.back().open) ++m_Phases.back().refusals;
}

std::string CRunLog::Value(const std::string& key) const {
    for (const Line& line : m_Lines) {
        if (line.phase < 0 && line.key == key) return line.value;
    }
    return std::string();
}

std::string CRunLog::Compose() const {
    char stamp[32] = "?";
    if (const std::tm* t = std::localtime(&m_tStart)) {
        std::strftime(stamp, sizeof(stamp), "%Y-%m-%d %H:%M:%S", t);
    }
    std::string text = std::string("=== ") + stamp + " plcflash " + ProgramVersion() + "\n";
    for (const Line& line : m_Lines) {
        if (line.phase < 0) {
            text += line.key + ": " + line.value + "\n";
            continue;
        }
        const Phase& phase = m_Phases[static_cast<size_t>(line.phase)];
        char figures[96];
        std::snprintf(figures, sizeof(figures), "%.1f с, NAK %d, отказов %d%s", phase.seconds,
                      phase.naks, phase.refusals, phase.interrupted ? ", прервано" : "");
        text += "Этап " + phase.name + ": " + figures + "\n";
    }
    return Cp1251ToUtf8(text) + "\n";
}

bool AppendRunLog(const std::string& root, const CRunLog& log) {
    return AppendBounded(root + kRunLogName, root + kRunLogOlderName, log.Compose(),
                         kRunLogMaxBytes);
}
