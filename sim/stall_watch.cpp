#include "sim/stall_watch.h"

StallWatch::StallWatch(std::function<void(std::chrono::milliseconds)> onStall)
    : m_onStall(std::move(onStall)), m_thread([this] { Loop(); }) {}

StallWatch::~StallWatch() {
    m_stop = true;
    m_thread.join();
}

bool StallWatch::HeldUpWithin(std::chrono::milliseconds window) const {
    const auto now = Clock::now();
    // The caller may run again before the watch does: a wake-up long overdue is a hold-up
    // that has just ended.
    const Clock::rep due = m_due.load();
    if (due != 0 && now - Clock::time_point(Clock::duration(due)) >= kStall) return true;
    const Clock::rep end = m_lastStallEnd.load();
    return end != 0 && now - Clock::time_point(Clock::duration(end)) < window;
}

void StallWatch::Loop() {
    using namespace std::chrono;
    constexpr milliseconds kTick{20};
    auto due = Clock::now() + kTick;
    m_due = due.time_since_epoch().count();
    while (!m_stop) {
        std::this_thread::sleep_until(due);
        const auto now = Clock::now();
        // A sleeper wakes a little late on any machine; one that wakes a good part of a second
        // late was not let run.
        const auto late = duration_cast<milliseconds>(now - due);
        if (late >= kStall) {
            m_lastStallEnd = now.time_since_epoch().count();
            if (m_onStall) m_onStall(late);
        }
        due = now + kTick;
        m_due = due.time_since_epoch().count();
    }
}
