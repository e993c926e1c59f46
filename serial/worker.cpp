#include "serial/worker.h"

#include <cctype>

#include "framework/thread.h"
#include "serial/traced_port.h"

void RaiseResult(WorkerResult code) {
    throw static_cast<int>(code);
}

namespace {

class SystemClockImpl final : public IClock {
  public:
    void Sleep(uint32_t ms, const CStopSignal& stop) override { stop.Wait(ms); }
};

}  // namespace

IClock& SystemClock() {
    static SystemClockImpl clock;
    return clock;
}

int ParsePortNumber(const std::string& text) {
    const std::string shown = text.substr(0, 9);
    int number = 0;
    for (size_t i = 3; i < shown.size() && std::isdigit(static_cast<unsigned char>(shown[i]));
         ++i) {
        number = number * 10 + (shown[i] - '0');
    }
    return number;
}

CMyThread::CMyThread(IPortChoice& portChoice, CommDriver& driver, IClock& clock)
    : m_PortChoice(portChoice), m_Driver(driver), m_Clock(clock) {}

CMyThread::~CMyThread() {
    StopThread(false);
    if (m_hThread) ReleaseNativeThread(m_hThread);
}

uint32_t CMyThread::ThreadEntry(void* self) {
    return static_cast<CMyThread*>(self)->Run();
}

bool CMyThread::StartThread() {
    if (m_hThread) return false;
    m_hThread = StartNativeThread(&CMyThread::ThreadEntry, this, &m_nThreadID);
    return m_hThread != nullptr;
}

uint32_t CMyThread::StopThread(bool noWait) {
    if (!m_hThread) return 0xFFFFFFFFu;
    m_Stop.Set();
    if (!noWait) {
        for (int i = 0; i < 10; ++i) {
            if (NativeThreadExitCode(m_hThread) != kThreadStillActive) break;
            SleepMs(25);
        }
    }
    // A worker still running here is inside its final report to the page that is deleting it
    // (or in its last bounded read): it ends by itself and touches nothing of this object
    // after the report, so it is left alone rather than killed while it may hold a lock.
    return NativeThreadExitCode(m_hThread);
}

bool CMyThread::WaitThread(uint32_t ms) {
    return !m_hThread || WaitNativeThread(m_hThread, ms);
}

void CMyThread::GetPortNumber() {
    m_nPortNumber = ParsePortNumber(m_PortChoice.GetSelectedPortText());
}

HPORT CMyThread::OpenPort(int number) {
    std::unique_ptr<CommPort> port = m_Driver.Open(number);
    if (m_pTrace) m_pTrace->Opened(number, port != nullptr);
    if (!port) RaiseResult(ResultOpenFailed);
    if (m_pTrace) port = std::make_unique<TracedPort>(std::move(port), m_pTrace);
    return port.release();
}

bool CMyThread::SetupPort(HPORT port, uint32_t writeTotalConstant, uint32_t writeTotalMultiplier,
                          uint32_t readTotalMultiplier, uint32_t readInterval,
                          uint32_t readTotalConstant) {
    LineSettings line;
    if (!port->GetState(&line)) RaiseResult(ResultGetState);
    line.baudRate = 115200;
    line.byteSize = 8;
    line.parity = Parity::None;
    line.stopBits = StopBits::One;
    // Left as another program (or Wine's pty driver) reported them, XON/XOFF would swallow
    // or stall on 0x11/0x13 in an image and replacement would rewrite bytes.
    line.binary = true;
    line.softwareFlowControl = false;
    line.replaceCharacters = false;
    line.hardwareFlowControl = false;
    line.abortOnError = false;
    if (!port->SetState(line)) RaiseResult(ResultSetState);
    CommTimeouts t;
    t.readInterval = readInterval;
    t.readTotalMultiplier = readTotalMultiplier;
    t.readTotalConstant = readTotalConstant;
    t.writeTotalMultiplier = writeTotalMultiplier;
    t.writeTotalConstant = writeTotalConstant;
    if (!port->SetTimeouts(t)) RaiseResult(ResultSetTimeouts);
    port->Purge(kPurgeAll);
    return true;
}

// A stop is never consumed: once asked, the worker keeps raising until its body has unwound.
void CMyThread::CheckStop() {
    if (!m_Stop.IsSet()) return;
    // Noted here, on the worker's thread: the request itself may come from a signal handler.
    if (m_pTrace && !m_bStopTraced) {
        m_bStopTraced = true;
        m_pTrace->Stopped();
    }
    RaiseResult(ResultStopped);
}

uint32_t CMyThread::ReadBytes(HPORT port, void* buffer, uint32_t count) {
    CheckStop();
    uint32_t got = 0;
    const bool ok = port->Read(buffer, count, &got, &m_Stop);
    CheckStop();
    if (!ok) RaiseResult(port->Lost() ? ResultPortLost : ResultIoError);
    if (got == 0) RaiseResult(ResultNoAnswer);
    return got;
}

bool CMyThread::WriteBytes(HPORT port, const void* buffer, uint32_t count) {
    return Write(port, buffer, count, &m_Stop);
}

bool CMyThread::WriteWhole(HPORT port, const void* buffer, uint32_t count) {
    return Write(port, buffer, count, nullptr);
}

bool CMyThread::Write(HPORT port, const void* buffer, uint32_t count, const CStopSignal* stop) {
    CheckStop();
    uint32_t put = 0;
    const bool ok = port->Write(buffer, count, &put, stop);
    CheckStop();
    if (!ok) RaiseResult(port->Lost() ? ResultPortLost : ResultIoError);
    if (put == 0 || put != count) RaiseResult(ResultShortWrite);
    return true;
}

void CMyThread::Pause(uint32_t ms) {
    CheckStop();
    m_Clock.Sleep(ms, m_Stop);
    CheckStop();
}

void CMyThread::SendCancel(HPORT port) {
    if (!port) return;
    const uint8_t cancel[2] = {0x18, 0x18};
    uint32_t put = 0;
    port->Write(cancel, sizeof(cancel), &put, nullptr);
}

void CMyThread::PurgePort(HPORT port) {
    if (port) port->Purge(kPurgeAll);
}

void CMyThread::ClosePort(HPORT& port) {
    delete port;
    port = nullptr;
}
