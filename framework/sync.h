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
