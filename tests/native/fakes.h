// Stand-ins for the serial line, the user interface and the clock, so the protocols can be
// driven read by read.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "flash/engine_ui.h"
#include "flash/math_thread.h"
#include "serial/comm.h"
#include "serial/worker.h"

// One scripted outcome of a Read: the bytes that arrive, or a failed ReadFile.
struct ReadOutcome {
    std::string bytes;  // empty: the read timed out with nothing
    bool fails = false;
};

struct PortScript {
    std::deque<ReadOutcome> reads;
    std::string written;
    size_t readCalls = 0;
    // Failures to inject.
    bool failGetState = false;
    bool failSetState = false;
    bool failSetTimeouts = false;
    bool failWrite = false;
    int shortWriteBy = 0;
    LineSettings reported{9600, 7, Parity::Even, StopBits::Two, false, true, true};
    LineSettings applied{};
    CommTimeouts timeouts{};
    int purges = 0;
    // Called with each write: lets a test answer what the program sent, as a peer would.
    std::function<void(const std::string& bytes, PortScript& script)> onWrite;
    // Called as each write begins: a stop asked for there cuts a write that watches the stop
    // short, half of it sent, as a cancelled overlapped write on Windows is.
    std::function<void(uint32_t count)> whileWriting;
    // Positions in `written` at which the port was purged.
    std::vector<size_t> purgedAt;
};

class ScriptedPort final : public CommPort {
  public:
    explicit ScriptedPort(PortScript& script) : m_s(script) {}
    bool GetState(LineSettings* settings) override;
    bool SetState(const LineSettings& settings) override;
    bool SetTimeouts(const CommTimeouts& timeouts) override;
    bool Purge(unsigned flags) override;
    bool Read(void* buffer, uint32_t count, uint32_t* got, const CStopSignal* stop) override;
    bool Write(const void* buffer, uint32_t count, uint32_t* put, const CStopSignal* stop) override;

  private:
    PortScript& m_s;
};

class ScriptedDriver final : public CommDriver {
  public:
    explicit ScriptedDriver(PortScript& script) : m_script(script) {}
    std::unique_ptr<CommPort> Open(int number) override;
    std::vector<int> opened;
    bool refuse = false;

  private:
    PortScript& m_script;
};

class FakeClock final : public IClock {
  public:
    void Sleep(uint32_t ms, const CStopSignal&) override {
        sleeps.push_back(ms);
        if (onSleep) onSleep(ms);
    }
    std::vector<uint32_t> sleeps;
    std::function<void(uint32_t)> onSleep;
};

class RecordingUi final : public IEngineUi {
  public:
    std::string GetSelectedPortText() override { return port; }
    void SetStatusText(const std::string& text) override {
        statuses.push_back(text);
        if (onStatus) onStatus(text);
    }
    void SetProgressPos(uint32_t position) override {
        positions.push_back(position);
        if (onProgress) onProgress(position);
    }
    void SetProgressSteps(uint32_t upper) override { stepRange = upper; }
    void StepProgress() override { ++steps; }
    bool IsFormatChecked() override { return format; }
    void ShowMessage(const std::string& text, const std::string& caption) override {
        messages.push_back(text);
        captions.push_back(caption);
        if (onMessage) onMessage(text);
    }
    void ShowAppMessage(const std::string& text) override { appMessages.push_back(text); }
    void ReportResult(int code) override { results.push_back(code); }

    std::function<void(uint32_t)> onProgress;
    std::function<void(const std::string&)> onStatus;
    std::function<void(const std::string&)> onMessage;
    std::string port = "COM3";
    bool format = false;
    std::vector<std::string> statuses;
    std::vector<uint32_t> positions;
    uint32_t stepRange = 0;
    int steps = 0;
    std::vector<std::string> messages;
    std::vector<std::string> captions;
    std::vector<std::string> appMessages;
    std::vector<int> results;
};

// Runs `body` and returns the integer it raised, or -1 when it returned normally.
template <typename F>
int RaisedBy(F&& body) {
    try {
        body();
    } catch (int code) {
        return code;
    }
    return -1;
}

// An engine whose run is driven by the test itself, one primitive at a time.
class TestEngine final : public CMathThread {
  public:
    using CMathThread::CMathThread;
    uint32_t Run() override { return 0; }
    void SetTotal(uint64_t total) { m_nProgressTotal = total; }
    void Close() {
        if (m_hPort) ClosePort(m_hPort);
    }
    HPORT Port() const { return m_hPort; }
};

// Reads until `count` bytes are in; ReadBytes raises when the line falls silent.
std::string ReadExactly(CMyThread& worker, HPORT port, size_t count);
