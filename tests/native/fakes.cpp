#include "fakes.h"

#include "framework/sync.h"

#include <cstring>

bool ScriptedPort::GetState(LineSettings* settings) {
    if (m_s.failGetState) return false;
    *settings = m_s.reported;
    return true;
}

bool ScriptedPort::SetState(const LineSettings& settings) {
    m_s.applied = settings;
    return !m_s.failSetState;
}

bool ScriptedPort::SetTimeouts(const CommTimeouts& timeouts) {
    m_s.timeouts = timeouts;
    return !m_s.failSetTimeouts;
}

bool ScriptedPort::Purge(unsigned) {
    ++m_s.purges;
    m_s.purgedAt.push_back(m_s.written.size());
    return true;
}

bool ScriptedPort::Read(void* buffer, uint32_t count, uint32_t* got, const CStopSignal*) {
    ++m_s.readCalls;
    *got = 0;
    if (m_s.reads.empty()) return true;  // silence
    ReadOutcome& next = m_s.reads.front();
    if (next.fails) {
        m_s.reads.pop_front();
        return false;
    }
    const uint32_t n = std::min<uint32_t>(count, static_cast<uint32_t>(next.bytes.size()));
    std::memcpy(buffer, next.bytes.data(), n);
    next.bytes.erase(0, n);
    if (next.bytes.empty()) m_s.reads.pop_front();
    *got = n;
    return true;
}

bool ScriptedPort::Write(const void* buffer, uint32_t count, uint32_t* put,
                         const CStopSignal* stop) {
    if (m_s.failWrite) return false;
    if (m_s.whileWriting) m_s.whileWriting(count);
    if (stop && stop->IsSet()) {
        *put = count / 2;
        m_s.written.append(static_cast<const char*>(buffer), *put);
        return false;
    }
    *put = count > static_cast<uint32_t>(m_s.shortWriteBy) ? count - m_s.shortWriteBy : 0;
    m_s.written.append(static_cast<const char*>(buffer), *put);
    if (m_s.onWrite) m_s.onWrite(std::string(static_cast<const char*>(buffer), *put), m_s);
    return true;
}

std::unique_ptr<CommPort> ScriptedDriver::Open(int number) {
    opened.push_back(number);
    if (refuse) return nullptr;
    return std::make_unique<ScriptedPort>(m_script);
}

std::string ReadExactly(CMyThread& worker, HPORT port, size_t count) {
    std::string in;
    char buffer[256];
    while (in.size() < count) {
        const uint32_t want = static_cast<uint32_t>(std::min(sizeof(buffer), count - in.size()));
        in.append(buffer, worker.ReadBytes(port, buffer, want));
    }
    return in;
}
