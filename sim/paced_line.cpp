#include "sim/paced_line.h"

#include <algorithm>
#include <chrono>
#include <thread>

PacedLine::PacedLine(std::unique_ptr<CommPort> port, LineTiming timing)
    : m_port(std::move(port)), m_timing(timing) {}

std::chrono::microseconds PacedLine::ByteTimes(size_t count) const {
    return std::chrono::microseconds(count * 10ull * 1000000ull / m_timing.baud);
}

// Each slice goes out when the line is free for it; sleeping only before a write, never after,
// keeps the sleeps' overshoot off the line.
bool PacedLine::Send(const void* data, size_t count) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    constexpr size_t kSlice = 8;  // about 0.7 ms of line: smooth enough for any reader
    CommTimeouts t;
    t.writeTotalConstant = 2000;
    m_port->SetTimeouts(t);
    for (size_t sent = 0; sent < count;) {
        const size_t n = std::min(kSlice, count - sent);
        const auto start = std::max(std::chrono::steady_clock::now(), m_outgoingEnd);
        SleepUntil(start);
        uint32_t put = 0;
        if (!m_port->Write(bytes + sent, static_cast<uint32_t>(n), &put) || put != n) return false;
        m_outgoingEnd = start + ByteTimes(n);
        m_stats.bytesOut += n;
        sent += n;
    }
    return true;
}

bool PacedLine::Reply(const void* data, size_t count) {
    // The turnaround runs from the end of the request on the line.
    const auto due = std::max(std::chrono::steady_clock::now(), m_incomingEnd) +
                     std::chrono::microseconds(m_timing.turnaroundUs);
    SleepUntil(due);
    ++m_stats.replies;
    return Send(data, count);
}

void PacedLine::SleepUntil(std::chrono::steady_clock::time_point due) {
    using namespace std::chrono;
    const auto aim = due - m_lateness;
    if (aim <= steady_clock::now()) return;
    std::this_thread::sleep_until(aim);
    const auto late = duration_cast<nanoseconds>(steady_clock::now() - due);
    // Late or early, the error moves the aim by an eighth of itself.
    m_lateness += late / 8;
    m_lateness = std::clamp(m_lateness, nanoseconds(0), nanoseconds(microseconds(500)));
}

size_t PacedLine::Receive(void* buffer, size_t count, uint32_t timeoutMs, uint32_t gapMs) {
    CommTimeouts t;
    t.readTotalConstant = timeoutMs;
    t.readInterval = gapMs;
    m_port->SetTimeouts(t);
    uint32_t got = 0;
    if (!m_port->Read(buffer, static_cast<uint32_t>(count), &got)) return 0;
    NoteIncoming(got);
    return got;
}

size_t PacedLine::ReceiveAll(void* buffer, size_t count, uint32_t timeoutMs) {
    CommTimeouts t;
    t.readTotalConstant = timeoutMs;
    m_port->SetTimeouts(t);
    uint32_t got = 0;
    if (!m_port->Read(buffer, static_cast<uint32_t>(count), &got)) return 0;
    NoteIncoming(got);
    return got;
}

void PacedLine::NoteIncoming(size_t count) {
    if (count == 0) return;
    m_stats.bytesIn += count;
    m_incomingEnd = std::max(std::chrono::steady_clock::now(), m_incomingEnd) + ByteTimes(count);
}

void PacedLine::Discard() {
    unsigned char scratch[256];
    while (Receive(scratch, sizeof(scratch), 1, 1) > 0) {
    }
}
