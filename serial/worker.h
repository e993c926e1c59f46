// Base of the program's background workers: one thread, one stop event, and the synchronous
// serial primitives. Failures are raised as plain integers (WorkerResult); only a worker's
// thread body catches them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "framework/sync.h"
#include "serial/comm.h"

class CLineTrace;

enum WorkerResult : int {
    ResultNakLimit = 0,
    ResultDone = 1,
    ResultStopped = 2,
    ResultProtocol = 3,
    ResultShortWrite = 4,
    ResultNoAnswer = 5,
    ResultSetTimeouts = 6,
    ResultSetState = 7,
    ResultOpenFailed = 8,
    ResultGetState = 9,
    ResultIoError = 10,
    // Not one of the serial codes: a file the run must send cannot be opened or read, or its
    // name does not fit the command packet. Raised before any byte of that file goes out.
    ResultBadFile = 11,
    // Not a serial code either: a file written into the controller did not read back as sent
    // (or could not be read back) even after a second write.
    ResultCheckFailed = 12,
    // The port itself went away (an adapter pulled out): no retry can reach the controller
    // through it.
    ResultPortLost = 13,
};

[[noreturn]] void RaiseResult(WorkerResult code);

// An open port, owned by the worker that opened it until ClosePort.
using HPORT = CommPort*;

// Where a worker learns which COM port the user chose ("COM3").
class IPortChoice {
  public:
    virtual std::string GetSelectedPortText() = 0;

  protected:
    ~IPortChoice() = default;
};

// Every pause a protocol takes goes through one clock, so tests can run the pauses instantly.
class IClock {
  public:
    // Returns after `ms`, or as soon as `stop` is set.
    virtual void Sleep(uint32_t ms, const CStopSignal& stop) = 0;

  protected:
    ~IClock() = default;
};

IClock& SystemClock();

// The number that starts at the fourth character of a port name: "COM3" -> 3, "COM12" -> 12;
// no digit there gives 0. Only the first nine characters count, as the port list's entries
// are read into a ten-byte buffer.
int ParsePortNumber(const std::string& text);

struct NativeThread;

class CMyThread {
  public:
    explicit CMyThread(IPortChoice& portChoice, CommDriver& driver = SystemCommDriver(),
                       IClock& clock = SystemClock());
    virtual ~CMyThread();
    CMyThread(const CMyThread&) = delete;
    CMyThread& operator=(const CMyThread&) = delete;

    virtual uint32_t Run() = 0;

    bool StartThread();
    // The thread's exit code, 0xFFFFFFFF when no thread was started, kThreadStillActive when
    // it still runs after the bounded poll: it is then left to end by itself, never killed.
    uint32_t StopThread(bool noWait);
    // True when the thread has ended within `ms` (or none was started).
    bool WaitThread(uint32_t ms);
    // From any thread (and from a signal handler): the wait under way ends at once, and every
    // later read, write and pause of this worker raises ResultStopped.
    void RequestStop() { m_Stop.Set(); }
    bool StopRequested() const { return m_Stop.IsSet(); }
    const CStopSignal& StopSignal() const { return m_Stop; }

    // Every port this worker opens from now on records into `trace` (null: none): opening,
    // every read and write, purges, closing, and the stop once the worker sees it. Set before
    // the thread starts.
    void SetTrace(std::shared_ptr<CLineTrace> trace) { m_pTrace = std::move(trace); }

    void GetPortNumber();
    int GetPortNumberValue() const { return m_nPortNumber; }

    HPORT OpenPort(int number);
    bool SetupPort(HPORT port, uint32_t writeTotalConstant, uint32_t writeTotalMultiplier,
                   uint32_t readTotalMultiplier, uint32_t readInterval, uint32_t readTotalConstant);
    uint32_t ReadBytes(HPORT port, void* buffer, uint32_t count);
    bool WriteBytes(HPORT port, const void* buffer, uint32_t count);
    // WriteBytes that a stop does not cut short (bounded by the write time-outs all the same):
    // a frame the other side must read whole, an XMODEM block before CAN CAN. Raises
    // ResultStopped after it when a stop came meanwhile.
    bool WriteWhole(HPORT port, const void* buffer, uint32_t count);
    static void PurgePort(HPORT port);
    static void ClosePort(HPORT& port);
    // A pause that a stop request ends with ResultStopped.
    void Pause(uint32_t ms);
    // XMODEM's cancel, CAN CAN, written whatever the stop request: the receiver must hear it.
    static void SendCancel(HPORT port);

  protected:
    IPortChoice& PortChoice() { return m_PortChoice; }

    NativeThread* m_hThread = nullptr;
    uint32_t m_nThreadID = 0;
    CStopSignal m_Stop;
    int m_nPortNumber = 0;

  private:
    static uint32_t ThreadEntry(void* self);
    void CheckStop();
    bool Write(HPORT port, const void* buffer, uint32_t count, const CStopSignal* stop);

    IPortChoice& m_PortChoice;
    CommDriver& m_Driver;
    IClock& m_Clock;
    std::shared_ptr<CLineTrace> m_pTrace;
    bool m_bStopTraced = false;
};
