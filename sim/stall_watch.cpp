#include "sim/stall_watch.h"

const HoldUp* FindExcuse(const SimFault& fault, const std::deque<HoldUp>& holdUps,
                         std::chrono::milliseconds slack) {
    if (!fault.IsTiming()) return nullptr;
    for (auto h = holdUps.rbegin(); h != holdUps.rend(); ++h) {
        if (h->end < fault.since) break;  // older ones ended before the exchange began
        if (h->length + slack >= std::chrono::milliseconds(fault.waitMs)) return &*h;
    }
    return nullptr;
}

StallWatch::StallWatch(std::function<void(std::chrono::milliseconds)> onStall)
    : m_onStall(std::move(onStall)), m_thread([this] { Loop(); }) {}

StallWatch::~StallWatch() {
    m_stop = true;
    m_thread.join();
}

bool StallWatch::Excuses(const SimFault& fault, HoldUp* excuse) const {
    using namespace std::chrono;
    std::deque<HoldUp> holdUps;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        holdUps = m_holdUps;
    }
    // The caller may run again before the watch does: a wake-up long overdue is a hold-up
    // that has just ended.
    const auto now = Clock::now();
    const Clock::rep due = m_due.load();
    if (due != 0) {
        const auto late =
            duration_cast<milliseconds>(now - Clock::time_point(Clock::duration(due)));
        if (late >= kStall) holdUps.push_back(HoldUp{now, late});
    }
    const HoldUp* found = FindExcuse(fault, holdUps, kTick);
    if (found && excuse) *excuse = *found;
    return found != nullptr;
}

void StallWatch::Loop() {
    using namespace std::chrono;
    auto due = Clock::now() + kTick;
    m_due = due.time_since_epoch().count();
    while (!m_stop) {
        std::this_thread::sleep_until(due);
        const auto now = Clock::now();
        // A sleeper wakes a little late on any machine; one that wakes a good part of a second
        // late was not let run.
        const auto late = duration_cast<milliseconds>(now - due);
        if (late >= kStall) {
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_holdUps.push_back(HoldUp{now, late});
                if (m_holdUps.size() > kKept) m_holdUps.pop_front();
            }
            if (m_onStall) m_onStall(late);
        }
        due = now + kTick;
        m_due = due.time_since_epoch().count();
    }
}
