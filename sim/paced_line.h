// The controller's end of the serial line: what it sends goes out at the line rate (a
// pseudo-terminal has none of its own), and each reply starts after a set turnaround.
#pragma once

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

  private:
    std::unique_ptr<CommPort> m_port;
    LineTiming m_timing;
};
