// Kernel-object style synchronisation: the stop event of a worker and the engine lock.
// Win32 implementation in sync_win32.cpp, POSIX one in sync_posix.cpp.
#pragma once

#include <cstdint>

constexpr uint32_t kWaitForever = 0xFFFFFFFFu;

class CEvent {
  public:
    explicit CEvent(bool manualReset = false, bool initiallySet = false);
    ~CEvent();
    CEvent(const CEvent&) = delete;
    CEvent& operator=(const CEvent&) = delete;

    bool SetEvent();
    bool ResetEvent();
    // True when the event was signalled within `ms`; an auto-reset event is consumed by it.
    bool Wait(uint32_t ms);

  private:
    struct Impl;
    Impl* m_pImpl;
};

// A worker's stop request: set once and never consumed, so every later wait of the worker sees
// it. Serial transfers wait on it together with their I/O (NativeHandle: a Win32 event, or a
// POSIX descriptor that turns readable once set). Set() is safe from a signal handler.
class CStopSignal {
  public:
    CStopSignal();
    ~CStopSignal();
    CStopSignal(const CStopSignal&) = delete;
    CStopSignal& operator=(const CStopSignal&) = delete;

    void Set();
    bool IsSet() const;
    // Waits up to `ms`; true when the signal is set.
    bool Wait(uint32_t ms) const;
    // HANDLE on Windows, a file descriptor elsewhere.
    intptr_t NativeHandle() const;

  private:
    struct Impl;
    Impl* m_pImpl;
};

class CCriticalSection {
  public:
    CCriticalSection();
    ~CCriticalSection();
    CCriticalSection(const CCriticalSection&) = delete;
    CCriticalSection& operator=(const CCriticalSection&) = delete;

    void Lock();
    void Unlock();

  private:
    struct Impl;
    Impl* m_pImpl;
};

class CSingleLock {
  public:
    explicit CSingleLock(CCriticalSection& cs) : m_cs(cs) { m_cs.Lock(); }
    ~CSingleLock() { m_cs.Unlock(); }
    CSingleLock(const CSingleLock&) = delete;
    CSingleLock& operator=(const CSingleLock&) = delete;

  private:
    CCriticalSection& m_cs;
};
