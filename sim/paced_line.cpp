#include "sim/paced_line.h"

#include <algorithm>
#include <chrono>
#include <thread>

PacedLine::PacedLine(std::unique_ptr<CommPort> port, LineTiming timing)
    : m_port(std::move(port)), m_timing(timing) {}

bool PacedLine::Send(const void* data, size_t count) {
    using Clock = std::chrono::steady_clock;
    const auto* bytes = static_cast<const unsigned char*>(data);
    const auto start = Clock::now();
    // Small slices keep the pacing within a millisecond or so of the real line.
    constexpr size_t kSlice = 8;
    for (size_t sent = 0; sent < count;) {
        const size_t n = std::min(kSlice, count - sent);
        uint32_t put = 0;
        CommTimeouts t;
        t.writeTotalConstant = 2000;
        m_port->SetTimeouts(t);
        if (!m_port->Write(bytes + sent, static_cast<uint32_t>(n), &put) || put != n) return false;
        sent += n;
        const auto due =
            start + std::chrono::microseconds(sent * 10ull * 1000000ull / m_timing.baud);
        std::this_thread::sleep_until(due);
    }
    return true;
}

bool PacedLine::Reply(const void* data, size_t count) {
    std::this_thread::sleep_for(std::chrono::microseconds(m_timing.turnaroundUs));
    return Send(data, count);
}

size_t PacedLine::Receive(void* buffer, size_t count, uint32_t timeoutMs, uint32_t gapMs) {
    CommTimeouts t;
    t.readTotalConstant = timeoutMs;
    t.readInterval = gapMs;
    m_port->SetTimeouts(t);
    uint32_t got = 0;
    if (!m_port->Read(buffer, static_cast<uint32_t>(count), &got)) return 0;
    return got;
}

size_t PacedLine::ReceiveAll(void* buffer, size_t count, uint32_t timeoutMs) {
    CommTimeouts t;
    t.readTotalConstant = timeoutMs;
    m_port->SetTimeouts(t);
    uint32_t got = 0;
    if (!m_port->Read(buffer, static_cast<uint32_t>(count), &got)) return 0;
    return got;
}

void PacedLine::Discard() {
    unsigned char scratch[256];
    while (Receive(scratch, sizeof(scratch), 1, 1) > 0) {
    }
}
