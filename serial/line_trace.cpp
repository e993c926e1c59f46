#include "serial/line_trace.h"

#include <algorithm>
#include <utility>

#include "flash/xmodem.h"

CLineTrace::CLineTrace(std::string port, size_t bound)
    : m_strPort(std::move(port)),
      m_nBound(bound),
      m_Start(std::chrono::steady_clock::now()),
      m_tStart(std::time(nullptr)) {}

size_t CLineTrace::Cost(const Event& event) {
    return sizeof(Event) + event.bytes.size();
}

void CLineTrace::Add(Kind kind, uint32_t number, std::string bytes) {
    Event event{std::chrono::steady_clock::now(), kind, number, std::move(bytes)};
    const size_t cost = Cost(event);
    CSingleLock lock(m_Lock);
    if (kind == Kind::Opened || kind == Kind::OpenFailed) m_nLastPort = static_cast<int>(number);
    m_Events.push_back(std::move(event));
    m_nBytes += cost;
    // The newest event always stays, whatever the bound: it is the one a report is about.
    while (m_nBytes > m_nBound && m_Events.size() > 1) {
        m_nBytes -= Cost(m_Events.front());
        m_Events.pop_front();
        ++m_nDropped;
    }
}

void CLineTrace::Opened(int port, bool ok) {
    Add(ok ? Kind::Opened : Kind::OpenFailed, static_cast<uint32_t>(port));
}

void CLineTrace::Received(const void* bytes, size_t count) {
    const auto* data = static_cast<const char*>(bytes);
    const size_t kept = std::min(count, kMaxEventBytes);
    Add(Kind::Received, kept < count ? static_cast<uint32_t>(count) : 0, std::string(data, kept));
}

void CLineTrace::Sent(const void* bytes, size_t count) {
    const auto* data = static_cast<const uint8_t*>(bytes);
    if (count == xmodem::kBlockSize && data[0] == xmodem::kSoh &&
        static_cast<uint8_t>(data[1] + data[2]) == 0xFF) {
        const char shown[3] = {static_cast<char>(data[1]), static_cast<char>(data[xmodem::kCrcAt]),
                               static_cast<char>(data[xmodem::kCrcAt + 1])};
        Add(Kind::Block, 0, std::string(shown, sizeof(shown)));
        return;
    }
    const size_t kept = std::min(count, kMaxEventBytes);
    Add(Kind::Sent, kept < count ? static_cast<uint32_t>(count) : 0,
        std::string(reinterpret_cast<const char*>(data), kept));
}

void CLineTrace::Silence() {
    Add(Kind::Silence, 0);
}

void CLineTrace::Purged() {
    Add(Kind::Purged, 0);
}

void CLineTrace::Closed() {
    Add(Kind::Closed, 0);
}

void CLineTrace::Stopped() {
    Add(Kind::Stopped, 0);
}

void CLineTrace::Note(const std::string& text) {
    Add(Kind::Note, 0, text);
}

size_t CLineTrace::Dropped() const {
    CSingleLock lock(m_Lock);
    return m_nDropped;
}
