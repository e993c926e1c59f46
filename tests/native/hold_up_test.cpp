// What a hold-up of the simulator's own process excuses: only a fault of timing, only a hold-up
// in that very exchange, and only one long enough to outlast the wait that ran out.
#include <gtest/gtest.h>

#include <deque>

#include "sim/sim_fault.h"

namespace {

using std::chrono::milliseconds;
using Clock = SimFault::Clock;

struct HoldUpCase {
    const char* what;
    int holdUpMs;  // 0: none
    int endsAtMs;  // when it ended, from the exchange's start (negative: before it)
};

TEST(HoldUps, ExcuseOnlyTimingFaultsTheyCouldHaveCaused) {
    const HoldUpCase holdUps[] = {
        {"none", 0, 0},
        {"150 ms inside the exchange", 150, 300},
        {"250 ms inside the exchange", 250, 300},
        {"700 ms inside the exchange", 700, 900},
        {"5 s that ended before the exchange", 5000, -100},
    };
    struct FaultCase {
        const char* what;
        SimFault (*make)(Clock::time_point since);
        bool excused[5];  // by hold-up, in the order above
    };
    const FaultCase faults[] = {
        {"a wrong sum",
         [](Clock::time_point) { return SimFault::Content("wrong sum"); },
         {false, false, false, false, false}},
        {"a repeat with other bytes",
         [](Clock::time_point) { return SimFault::Content("repeated with other bytes"); },
         {false, false, false, false, false}},
        {"a reply asked for again (the program's 200 ms gap)",
         [](Clock::time_point since) {
             return SimFault::Timing("asked again", kProgramByteGapMs, since);
         },
         {false, false, true, true, false}},
        {"a frame cut short (our 500 ms wait for its rest)",
         [](Clock::time_point since) { return SimFault::Timing("cut short", 500, since); },
         {false, false, false, true, false}},
    };
    const Clock::time_point since = Clock::now();
    for (const FaultCase& f : faults) {
        const SimFault fault = f.make(since);
        for (size_t i = 0; i < std::size(holdUps); ++i) {
            std::deque<HoldUp> seen;
            if (holdUps[i].holdUpMs) {
                seen.push_back(HoldUp{since + milliseconds(holdUps[i].endsAtMs),
                                      milliseconds(holdUps[i].holdUpMs)});
            }
            EXPECT_EQ(FindExcuse(fault, seen, milliseconds(20)) != nullptr, f.excused[i])
                << f.what << ", hold-up " << holdUps[i].what;
        }
    }
}

TEST(HoldUps, TheExcusingOneIsFoundAmongOthers) {
    const Clock::time_point since = Clock::now();
    const SimFault fault = SimFault::Timing("asked again", kProgramByteGapMs, since);
    std::deque<HoldUp> seen{{since - milliseconds(50), milliseconds(900)},
                            {since + milliseconds(100), milliseconds(300)},
                            {since + milliseconds(400), milliseconds(120)}};
    const HoldUp* found = FindExcuse(fault, seen, milliseconds(20));
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->length, milliseconds(300));
}

}  // namespace
