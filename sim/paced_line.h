// The controller's end of the serial line: what it sends goes out at the line rate (a
// pseudo-terminal has none of its own), and each reply starts after a set turnaround.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "serial/comm.h"

struct LineTiming {
    uint32_t baud = 115200;        // 8N1: ten bit times a byte
    uint32_t turnaroundUs = 1000;  // from the end of a request to the start of the reply
};

class PacedLine {
  public:
    PacedLine(std::unique_ptr<CommPort> port, LineTiming timing);

    // Sends at the line rate; returns when the last byte has gone out.
    bool Send(const void* data, size_t count);
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
    using TimePoint = std::chrono::steady_clock::time_point;
    std::chrono::microseconds ByteTimes(size_t count) const;
    // What arrives on a pseudo-terminal arrives at once; a real line delivers it a byte time
    // apart. Notes when the last of `count` bytes just read would have come in, so that a
    // reply starts no earlier than a real controller's could.
    void NoteIncoming(size_t count);
    // Sleeps until about `due`. A virtual machine's timers wake a sleeper 100-200 us late,
    // which on a 12.6 ms block cycle costs a few percent of the line; aiming early by the
    // lateness seen so far keeps the average wake-up on time without spinning.
    void SleepUntil(std::chrono::steady_clock::time_point due);

    std::unique_ptr<CommPort> m_port;
    LineTiming m_timing;
    TimePoint m_incomingEnd{};               // when the last byte received so far is in
    TimePoint m_outgoingEnd{};               // when the last byte sent so far is out
    std::chrono::nanoseconds m_lateness{0};  // running average of how late sleeps wake
    Stats m_stats;
};
