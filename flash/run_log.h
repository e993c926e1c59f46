// What one run did, for the run log beside the program: the assistant (or the console tool)
// notes what it knows before and after the run, the engine its phases with their durations and
// retries. Composed into one block of UTF-8 text. Written on one thread at a time: the page
// before the engine starts and after its thread has ended, the engine in between.
#pragma once

#include <chrono>
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

class CRunLog {
  public:
    CRunLog();

    // One line "key: value"; both in the program's Windows-1251.
    void Note(const std::string& key, const std::string& value);

    // A phase runs until the next begins or EndPhase; NAKs and refusals count for the open one.
    void BeginPhase(const std::string& name);
    // `interrupted`: the run ended inside the phase.
    void EndPhase(bool interrupted = false);
    void CountNak();
    void CountRefusal();

    // The block: a heading with the date and time the run began and the program's version,
    // the notes and phases in the order they came, a closing blank line. UTF-8.
    std::string Compose() const;

    // The note's value for `key`, empty when there is none.
    std::string Value(const std::string& key) const;
    // The name of the last phase begun, empty before the first.
    std::string LastPhase() const {
        return m_Phases.empty() ? std::string() : m_Phases.back().name;
    }
    // Told each phase's name as it begins, on the thread that begins it (a status table).
    void SetPhaseListener(std::function<void(const std::string&)> listener) {
        m_PhaseListener = std::move(listener);
    }

  private:
    struct Line {
        std::string key;
        std::string value;
        int phase = -1;  // a phase's place among the notes
    };
    struct Phase {
        std::string name;
        std::chrono::steady_clock::time_point start;
        double seconds = 0;
        int naks = 0;
        int refusals = 0;
        bool open = true;
        bool interrupted = false;
    };

    std::time_t m_tStart;
    std::vector<Line> m_Lines;
    std::vector<Phase> m_Phases;
    std::function<void(const std::string&)> m_PhaseListener;
};

// The program's version, one number for the whole build.
const char* ProgramVersion();

// The run log's file name and the older one it rolls over to, and its bound.
extern const char kRunLogName[];
extern const char kRunLogOlderName[];
constexpr uint64_t kRunLogMaxBytes = 1u << 20;

// Appends the block to `<root>plcflash.log`, rolling over past the bound; false when it could
// not be written (a run never stops for that).
bool AppendRunLog(const std::string& root, const CRunLog& log);
