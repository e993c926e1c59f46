// Notices when the host stops this process from running (a loaded or shared machine, a
// virtual machine's stolen time), and keeps the recent hold-ups so that a protocol error can be
// checked against them (sim_fault.h): a controller never pauses mid-frame or for seconds
// before a reply; the simulator held up that way can, and the program's time-outs then
// rightly end what it was waiting for.
#pragma once

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "sim/sim_fault.h"

class StallWatch {
  public:
    using Clock = std::chrono::steady_clock;
    // `onStall` is called from the watch's own thread with each hold-up's length.
    explicit StallWatch(std::function<void(std::chrono::milliseconds)> onStall);
    ~StallWatch();
    StallWatch(const StallWatch&) = delete;
    StallWatch& operator=(const StallWatch&) = delete;

    // The hold-up that excuses `fault` (sim_fault.h), if any; one still under way when the
    // caller runs again counts as ending now.
    bool Excuses(const SimFault& fault, HoldUp* excuse) const;

    // Hold-ups this long are said (and kept); whether one excuses a fault is the fault's wait.
    static constexpr std::chrono::milliseconds kStall{100};
    // The watch's sleep: a hold-up may be this much longer than the watch saw it.
    static constexpr std::chrono::milliseconds kTick{20};
    static constexpr size_t kKept = 256;

  private:
    void Loop();

    std::function<void(std::chrono::milliseconds)> m_onStall;
    mutable std::mutex m_mutex;
    std::deque<HoldUp> m_holdUps;
    std::atomic<Clock::rep> m_due{0};  // when the watch is due to wake next
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};
