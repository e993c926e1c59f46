// Notices when the host stops this process from running (a loaded or shared machine, a
// virtual machine's stolen time). A controller never pauses mid-frame or for seconds before a
// reply; the simulator held up that way can, and the program's time-outs then rightly end
// what it was waiting for. What the program does next is a reaction to the simulator, not a
// fault of its own.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

class StallWatch {
  public:
    using Clock = std::chrono::steady_clock;
    // `onStall` is called from the watch's own thread with each hold-up's length.
    explicit StallWatch(std::function<void(std::chrono::milliseconds)> onStall);
    ~StallWatch();
    StallWatch(const StallWatch&) = delete;
    StallWatch& operator=(const StallWatch&) = delete;

    // Whether a hold-up ended less than `window` ago.
    bool HeldUpWithin(std::chrono::milliseconds window) const;

    // Shorter than the program's shortest wait for the next byte of a frame (200 ms).
    static constexpr std::chrono::milliseconds kStall{150};
    // The program's longest reaction to silence: a read's time-out, its pause before trying
    // again (5 s), the next request, and our wait for an acknowledgement (3 s).
    static constexpr std::chrono::milliseconds kAftermath{15000};

  private:
    void Loop();

    std::function<void(std::chrono::milliseconds)> m_onStall;
    std::atomic<Clock::rep> m_lastStallEnd{0};  // time_since_epoch; 0: none yet
    std::atomic<Clock::rep> m_due{0};           // when the watch is due to wake next
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};
