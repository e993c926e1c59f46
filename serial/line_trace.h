// A record of what went over the serial line, kept for a bug report: every transfer with the
// time it ended, and what happened to the port. Recording only stores the raw bytes with a
// time stamp (a worker records from its own thread, and the line must not wait for it); the
// text is made only when asked for. Memory is bounded: the oldest events go, so the record
// always ends with the last exchange, and says how many went.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <deque>
#include <string>

#include "framework/sync.h"

class CLineTrace {
  public:
    // About this much memory holds the events (a few thousand of them: the last minute or two
    // of an image upload).
    static constexpr size_t kDefaultBound = 256 * 1024;
    // One transfer keeps at most this many of its bytes, so that no single event can push the
    // rest of the record out.
    static constexpr size_t kMaxEventBytes = 1024;
    // Reads that follow one another this closely are shown as one, as long as it stays short.
    static constexpr int kMergeMs = 50;
    static constexpr size_t kMergedBytes = 256;

    // `port` names the line in the heading ("COM5 (USB-SERIAL CH340)"); when empty, the port
    // last opened is named.
    explicit CLineTrace(std::string port = std::string(), size_t bound = kDefaultBound);
    CLineTrace(const CLineTrace&) = delete;
    CLineTrace& operator=(const CLineTrace&) = delete;

    // Recording, from any thread.
    void Opened(int port, bool ok);
    // What came from the controller.
    void Received(const void* bytes, size_t count);
    // What went to it. An XMODEM data block (SOH, n, 255 - n, 128 bytes, CRC) is kept as its
    // number and CRC only.
    void Sent(const void* bytes, size_t count);
    // A read that ended with nothing: the controller was silent for the read's time-out.
    void Silence();
    void Purged();
    void Closed();
    // The worker saw the stop request (Cancel, Ctrl-C).
    void Stopped();
    // Anything else worth a line: a failed transfer, the line's time-outs, the run's result.
    void Note(const std::string& text);

    // The record as text, in the program's Windows-1251: a heading (the program's version, the
    // port, when recording began), then a line per event: seconds since that, the direction
    // ("->" to the controller, "<-" from it), the bytes in hex and as text (outside 0x20..0x7E
    // a dot), 16 to a line.
    std::string Text() const;
    // Events left out to keep the bound.
    size_t Dropped() const;

  private:
    enum class Kind : uint8_t {
        Opened,
        OpenFailed,
        Received,
        Sent,
        Block,
        Silence,
        Purged,
        Closed,
        Stopped,
        Note
    };
    struct Event {
        std::chrono::steady_clock::time_point at;
        Kind kind;
        uint32_t number = 0;  // the port opened; the bytes a transfer had when it kept fewer
        std::string bytes;
    };

    void Add(Kind kind, uint32_t number, std::string bytes = std::string());
    static size_t Cost(const Event& event);
    static const char* Direction(Kind kind);
    // The line of an event that is not bytes of a transfer.
    static std::string Label(const Event& event);
    static void Format(const std::deque<Event>& events, std::chrono::steady_clock::time_point start,
                       std::string* text);

    mutable CCriticalSection m_Lock;
    const std::string m_strPort;
    const size_t m_nBound;
    const std::chrono::steady_clock::time_point m_Start;
    const std::time_t m_tStart;
    std::deque<Event> m_Events;
    size_t m_nBytes = 0;
    size_t m_nDropped = 0;
    int m_nLastPort = 0;
};
