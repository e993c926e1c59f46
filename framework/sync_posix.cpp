#include <chrono>
#include <condition_variable>
#include <mutex>

#include "framework/sync.h"

struct CEvent::Impl {
    std::mutex mutex;
    std::condition_variable cv;
    bool manualReset;
    bool set;
};

CEvent::CEvent(bool manualReset, bool initiallySet)
    : m_pImpl(new Impl{{}, {}, manualReset, initiallySet}) {}

CEvent::~CEvent() {
    delete m_pImpl;
}

bool CEvent::SetEvent() {
    {
        std::lock_guard<std::mutex> lock(m_pImpl->mutex);
        m_pImpl->set = true;
    }
    m_pImpl->cv.notify_all();
    return true;
}

bool CEvent::ResetEvent() {
    std::lock_guard<std::mutex> lock(m_pImpl->mutex);
    m_pImpl->set = false;
    return true;
}

bool CEvent::Wait(uint32_t ms) {
    std::unique_lock<std::mutex> lock(m_pImpl->mutex);
    auto isSet = [this] { return m_pImpl->set; };
    // The workers test their stop event before every read and write: no timed wait for that.
    if (ms == 0) {
        const bool was = m_pImpl->set;
        if (was && !m_pImpl->manualReset) m_pImpl->set = false;
        return was;
    }
    bool got = ms == kWaitForever
                   ? (m_pImpl->cv.wait(lock, isSet), true)
                   : m_pImpl->cv.wait_for(lock, std::chrono::milliseconds(ms), isSet);
    if (got && !m_pImpl->manualReset) m_pImpl->set = false;
    return got;
}

struct CCriticalSection::Impl {
    // Recursive, as a Win32 critical section is re-entrant for its owner thread.
    std::recursive_mutex mutex;
};

CCriticalSection::CCriticalSection() : m_pImpl(new Impl) {}
CCriticalSection::~CCriticalSection() {
    delete m_pImpl;
}
void CCriticalSection::Lock() {
    m_pImpl->mutex.lock();
}
void CCriticalSection::Unlock() {
    m_pImpl->mutex.unlock();
}
