#include "sim/paced_line.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "serial/comm_posix.h"

PacedLine::PacedLine(int fd, LineTiming timing)
    : m_fd(fd), m_writer(WrapTtyDescriptor(fd, false)), m_timing(timing) {
    CommTimeouts t;
    t.writeTotalConstant = 2000;
    m_writer->SetTimeouts(t);
    m_reader = std::thread([this] { ReaderLoop(); });
}

PacedLine::~PacedLine() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_reader.join();
}

std::chrono::microseconds PacedLine::ByteTimes(size_t count) const {
    return std::chrono::microseconds(count * 10ull * 1000000ull / m_timing.baud);
}

// Takes bytes off the pseudo-terminal the moment they are there: the program's next purge of
// its port (Wine flushes both directions of a pseudo-terminal) must find nothing of ours left
// to discard. Each byte is stamped with the time it would be in on a real line.
void PacedLine::ReaderLoop() {
    uint8_t buffer[512];
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_stop) return;
        }
        pollfd p{m_fd, POLLIN, 0};
        const int r = ::poll(&p, 1, 50);  // the stop request is seen within 50 ms
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) continue;
        const ssize_t n = ::read(m_fd, buffer, sizeof(buffer));
        if (n <= 0) {
            if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            return;  // the line is gone: from now on it is silent
        }
        const TimePoint now = Clock::now();
        std::lock_guard<std::mutex> lock(m_mutex);
        for (ssize_t i = 0; i < n; ++i) {
            m_wireFree = std::max(now, m_wireFree) + ByteTimes(1);
            m_incoming.emplace_back(buffer[i], m_wireFree);
        }
        m_arrived.notify_all();
    }
}

// Each slice is handed over when its last byte would be through the line, so the program never
// has a byte before a real line could deliver it; sleeping only before a write, never after,
// keeps the sleeps' overshoot off the line.
bool PacedLine::Send(const void* data, size_t count, TimePointArg earliest) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    constexpr size_t kSlice = 8;  // about 0.7 ms of line: smooth enough for any reader
    for (size_t sent = 0; sent < count;) {
        const size_t n = std::min(kSlice, count - sent);
        const auto through = std::max({Clock::now(), m_outgoingEnd, earliest}) + ByteTimes(n);
        SleepUntil(through);
        uint32_t put = 0;
        if (!m_writer->Write(bytes + sent, static_cast<uint32_t>(n), &put) || put != n) {
            return false;
        }
        m_outgoingEnd = through;
        m_stats.bytesOut += n;
        sent += n;
    }
    return true;
}

bool PacedLine::Reply(const void* data, size_t count) {
    // The turnaround runs from the end of the request on the line.
    TimePoint end;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        end = m_incomingEnd;
    }
    // One sleep for the turnaround and the first slice's line time: each sleep wakes late.
    ++m_stats.replies;
    return Send(data, count, end + std::chrono::microseconds(m_timing.turnaroundUs));
}

void PacedLine::SleepUntil(TimePoint due) {
    using namespace std::chrono;
    const auto aim = due - m_lateness;
    if (aim <= Clock::now()) return;
    std::this_thread::sleep_until(aim);
    const auto late = duration_cast<nanoseconds>(Clock::now() - due);
    // Late or early, the error moves the aim by an eighth of itself.
    m_lateness += late / 8;
    m_lateness = std::clamp(m_lateness, nanoseconds(0), nanoseconds(microseconds(500)));
}

size_t PacedLine::Take(uint8_t* out, size_t count) {
    size_t n = 0;
    while (n < count && !m_incoming.empty()) {
        out[n++] = m_incoming.front().first;
        m_incomingEnd = std::max(m_incomingEnd, m_incoming.front().second);
        m_incoming.pop_front();
    }
    m_stats.bytesIn += n;
    return n;
}

size_t PacedLine::Receive(void* buffer, size_t count, uint32_t timeoutMs, uint32_t gapMs) {
    auto* out = static_cast<uint8_t*>(buffer);
    std::unique_lock<std::mutex> lock(m_mutex);
    // A line that failed stays silent: the callers' time-outs end their waits as usual.
    const auto ready = [this] { return !m_incoming.empty(); };
    if (!m_arrived.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready)) return 0;
    size_t got = Take(out, count);
    while (got < count && gapMs > 0) {
        if (!m_arrived.wait_for(lock, std::chrono::milliseconds(gapMs), ready)) break;
        got += Take(out + got, count - got);
    }
    return got;
}

size_t PacedLine::ReceiveAll(void* buffer, size_t count, uint32_t timeoutMs) {
    auto* out = static_cast<uint8_t*>(buffer);
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::unique_lock<std::mutex> lock(m_mutex);
    size_t got = 0;
    while (got < count) {
        if (!m_arrived.wait_until(lock, deadline, [this] { return !m_incoming.empty(); })) break;
        got += Take(out + got, count - got);
    }
    return got;
}

void PacedLine::Discard() {
    // Whatever is still arriving belongs to what is being discarded.
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::lock_guard<std::mutex> lock(m_mutex);
    m_incoming.clear();
}
