// The controller's end of the serial line: what it sends goes out at the line rate (a
// pseudo-terminal has none of its own), each reply starts a set turnaround after the request
// has finished arriving, and what the program sends is taken off the pseudo-terminal at once by
// a reader thread, as a UART would take it off the wire.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "serial/comm.h"

using TimePointArg = std::chrono::steady_clock::time_point;

struct LineTiming {
    uint32_t baud = 115200;        // 8N1: ten bit times a byte
    uint32_t turnaroundUs = 1000;  // from the end of a request to the start of the reply
};

class PacedLine {
  public:
    // `fd` is the master end of a pseudo-terminal; it stays open and owned by the caller.
    PacedLine(int fd, LineTiming timing);
    ~PacedLine();
    PacedLine(const PacedLine&) = delete;
    PacedLine& operator=(const PacedLine&) = delete;

    // Sends at the line rate, starting no earlier than `earliest`; returns when the last byte
    // has gone out.
    bool Send(const void* data, size_t count, TimePointArg earliest = {});
    bool Send(const std::string& text) { return Send(text.data(), text.size()); }
    // Waits the turnaround, then sends.
    bool Reply(const void* data, size_t count);
    bool Reply(const std::string& text) { return Reply(text.data(), text.size()); }

    // Up to `count` bytes; 0 when nothing came within `timeoutMs`. Once a byte has come,
    // `gapMs` of silence ends the read.
    size_t Receive(void* buffer, size_t count, uint32_t timeoutMs, uint32_t gapMs = 20);
    // Exactly `count` bytes unless `timeoutMs` passes first; the number received.
    size_t ReceiveAll(void* buffer, size_t count, uint32_t timeoutMs);
    // Drops whatever has arrived and not been read.
    void Discard();

    const LineTiming& Timing() const { return m_timing; }

    // What went over the line so far, for benchmarks: the line time is
    // (bytesIn + bytesOut) byte times plus a turnaround per reply.
    struct Stats {
        uint64_t bytesIn = 0;
        uint64_t bytesOut = 0;
        uint64_t replies = 0;
    };
    const Stats& GetStats() const { return m_stats; }

  private:
    using Clock = std::chrono::steady_clock;
    using TimePoint = Clock::time_point;
    std::chrono::microseconds ByteTimes(size_t count) const;
    // Sleeps until about `due`. A virtual machine's timers wake a sleeper 100-200 us late,
    // which on a 12.6 ms block cycle costs a few percent of the line; aiming early by the
    // lateness seen so far keeps the average wake-up on time without spinning.
    void SleepUntil(TimePoint due);
    void ReaderLoop();
    // Takes up to `count` queued bytes; the caller holds m_mutex.
    size_t Take(uint8_t* out, size_t count);

    int m_fd;
    std::unique_ptr<CommPort> m_writer;
    LineTiming m_timing;
    TimePoint m_outgoingEnd{};               // when the last byte sent so far is out
    std::chrono::nanoseconds m_lateness{0};  // running average of how late sleeps wake
    Stats m_stats;

    // Filled by the reader thread: each byte with the time it is in at the line rate.
    std::mutex m_mutex;
    std::condition_variable m_arrived;
    std::deque<std::pair<uint8_t, TimePoint>> m_incoming;
    TimePoint m_incomingEnd{};  // when the last byte taken so far is in
    TimePoint m_wireFree{};     // when the line is free for the next incoming byte
    bool m_stop = false;
    std::thread m_reader;
};
