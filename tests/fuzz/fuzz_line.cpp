#include "fuzz_line.h"

#include <sanitizer/asan_interface.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>

class FuzzPort final : public CommPort {
  public:
    explicit FuzzPort(FuzzLine& line) : m_line(line) {
        m_line.events.push_back({LineEvent::Open, 0, {}});
    }
    ~FuzzPort() override { m_line.events.push_back({LineEvent::Close, 0, {}}); }
    bool GetState(LineSettings*) override { return true; }
    bool SetState(const LineSettings&) override { return true; }
    bool SetTimeouts(const CommTimeouts&) override { return true; }

    bool Purge(unsigned) override {
        // What is left of a burst already begun lies in the driver's queue and goes.
        if (m_line.m_burstStarted) m_line.m_bursts.pop_front();
        m_line.m_burstStarted = false;
        m_line.events.push_back({LineEvent::Purge, 0, {}});
        return true;
    }

    bool Read(void* buffer, uint32_t count, uint32_t* got, const CStopSignal*) override {
        // A count larger than the buffer given would let a longer reply run past it; ASan sees
        // it here even when the peer sends less.
        Require(!__asan_region_is_poisoned(buffer, count), "read into a buffer smaller than asked");
        LineEvent read{LineEvent::Read, count, {}};
        if (!m_line.m_bursts.empty()) {
            std::string& burst = m_line.m_bursts.front();
            read.bytes = burst.substr(0, count);
            burst.erase(0, read.bytes.size());
            m_line.m_burstStarted = !burst.empty();
            if (burst.empty()) m_line.m_bursts.pop_front();
        }
        std::memcpy(buffer, read.bytes.data(), read.bytes.size());
        *got = static_cast<uint32_t>(read.bytes.size());
        m_line.events.push_back(std::move(read));
        return true;
    }

    bool Write(const void* buffer, uint32_t count, uint32_t* put, const CStopSignal*) override {
        m_line.events.push_back(
            {LineEvent::Write, 0, std::string(static_cast<const char*>(buffer), count)});
        *put = count;
        if (m_line.onWrite) m_line.onWrite();
        return true;
    }

  private:
    FuzzLine& m_line;
};

std::unique_ptr<CommPort> FuzzLine::Open(int) {
    return std::make_unique<FuzzPort>(*this);
}

void FuzzFailure(const char* what) {
    std::fprintf(stderr, "fuzz invariant broken: %s\n", what);
    std::abort();
}

const LineEvent& Transcript::Next(LineEvent::Kind kind, const char* what) {
    Require(m_at < m_events.size() && m_events[m_at].kind == kind, what);
    return m_events[m_at++];
}

const std::string& Transcript::Write() {
    ++m_writes;
    return Next(LineEvent::Write, "a write where the protocol calls for one").bytes;
}

const std::string& Transcript::Read(uint32_t asked, bool silenceEnds) {
    const LineEvent& read = Next(LineEvent::Read, "a read where the protocol calls for one");
    Require(read.asked == asked, "a read of another length than the protocol's");
    if (read.bytes.empty() && silenceEnds) throw Ended{5};
    return read.bytes;
}

void Transcript::Expect(LineEvent::Kind kind, const char* what) {
    Next(kind, what);
}

const std::string& FuzzFolder() {
    // Never destroyed: the exit handler that removes the folder may run after static destructors.
    static const std::string* folder = [] {
        char name[] = "/tmp/plcflash-fuzz-XXXXXX";
        if (!mkdtemp(name)) std::abort();
        std::atexit([] { std::filesystem::remove_all(FuzzFolder()); });
        return new std::string(std::string(name) + "/");
    }();
    return *folder;
}
