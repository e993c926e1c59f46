// A protocol error of the program's, as the simulated controller saw it, and whether a hold-up
// of the simulator's own process can explain it.
//
// A controller never pauses; the simulator held up by its host can, and the program's wait
// then rightly runs out. Only a fault of timing can follow from that: the program gave up on
// a reply that came late, or its frame was read in two pieces. A fault of content (a sum, a
// length, a name, a sequence number, a repeat with other bytes, bytes outside any frame) no
// delay can cause, and it is always counted.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <string>

struct SimFault {
    using Clock = std::chrono::steady_clock;
    std::string what;
    // 0: a fault of content. Else the shortest wait of the program's (or ours, for a frame
    // cut short) that a hold-up in this exchange must outlast to have caused it.
    uint32_t waitMs = 0;
    // When the exchange the fault ends began: a hold-up before it explains nothing.
    Clock::time_point since{};

    static SimFault Content(std::string what) { return SimFault{std::move(what), 0, {}}; }
    static SimFault Timing(std::string what, uint32_t waitMs, Clock::time_point since) {
        return SimFault{std::move(what), waitMs, since};
    }
    bool IsTiming() const { return waitMs != 0; }
};

// A stretch of time in which the simulator's process did not run.
struct HoldUp {
    SimFault::Clock::time_point end;
    std::chrono::milliseconds length;
};

// The hold-up that excuses `fault`, or null: the fault is one of timing, and a hold-up at least
// as long as its wait ended after its exchange began. `slack` is how much of a hold-up the
// watch may miss (its tick): a hold-up is taken at its longest.
const HoldUp* FindExcuse(const SimFault& fault, const std::deque<HoldUp>& holdUps,
                         std::chrono::milliseconds slack);

// The program's shortest wait: the gap after which it takes a reply (or a payload) as ended.
// A hold-up of ours shorter than this, in the middle of a reply, expires none of its waits.
constexpr uint32_t kProgramByteGapMs = 200;
// The program's wait for a reply or a packet to begin (the file service's read time-out).
constexpr uint32_t kProgramReplyWaitMs = 2000;
