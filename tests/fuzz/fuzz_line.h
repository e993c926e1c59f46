// The peer's side of a serial line for the fuzz targets: what the peer sends is cut from the
// fuzz input, and everything the program does on the line is kept in order, so a target can
// judge the program the way the device at the other end would.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "serial/comm.h"

struct LineEvent {
    enum Kind { Open, Close, Purge, Read, Write } kind;
    uint32_t asked = 0;  // Read: the count the program asked for
    std::string bytes;   // Read: what it got (empty: the read timed out); Write: what it sent
};

class FuzzLine final : public CommDriver {
  public:
    // One burst of the peer's: a read takes at most what it asks from the burst under way; an
    // empty burst is a read that times out. Once every burst is taken, every read times out,
    // so whatever the program loops on ends with the input.
    void Send(std::string burst) { m_bursts.push_back(std::move(burst)); }
    bool Exhausted() const { return m_bursts.empty(); }
    std::unique_ptr<CommPort> Open(int number) override;

    std::vector<LineEvent> events;
    // Called once each write is recorded: a target may ask the program to stop there.
    std::function<void()> onWrite;

  private:
    friend class FuzzPort;
    std::deque<std::string> m_bursts;
    bool m_burstStarted = false;  // the front burst is partly read
};

[[noreturn]] void FuzzFailure(const char* what);

inline void Require(bool condition, const char* what) {
    if (!condition) FuzzFailure(what);
}

// Thrown by a judge when the transcript says how the program must end: -1 for a normal return,
// else the result code it must raise.
struct Ended {
    int result;
};

// Walks the recorded events in order; every step requires the event the protocol calls for.
class Transcript {
  public:
    explicit Transcript(const std::vector<LineEvent>& events) : m_events(events) {}
    const std::string& Write();
    // A read of `asked` bytes; one that timed out ends the walk with 5 unless `silenceEnds` is
    // false.
    const std::string& Read(uint32_t asked, bool silenceEnds = true);
    void Expect(LineEvent::Kind kind, const char* what);
    size_t Writes() const { return m_writes; }
    bool AtEnd() const { return m_at == m_events.size(); }

  private:
    const LineEvent& Next(LineEvent::Kind kind, const char* what);

    const std::vector<LineEvent>& m_events;
    size_t m_at = 0;
    size_t m_writes = 0;
};

// A folder of this process's own for the files a target writes, removed at exit.
const std::string& FuzzFolder();
