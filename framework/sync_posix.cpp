#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
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

struct CStopSignal::Impl {
    std::atomic<bool> set{false};
    int fds[2] = {-1, -1};  // a pipe: its read end turns readable once the signal is set
};

CStopSignal::CStopSignal() : m_pImpl(new Impl) {
    if (::pipe(m_pImpl->fds) == 0) {
        for (int fd : m_pImpl->fds) ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        ::fcntl(m_pImpl->fds[1], F_SETFL, O_NONBLOCK);
    }
}

CStopSignal::~CStopSignal() {
    for (int fd : m_pImpl->fds) {
        if (fd >= 0) ::close(fd);
    }
    delete m_pImpl;
}

// Only an atomic store and write(2): both allowed in a signal handler.
void CStopSignal::Set() {
    if (m_pImpl->set.exchange(true)) return;
    const char one = 1;
    if (m_pImpl->fds[1] >= 0) {
        const ssize_t put = ::write(m_pImpl->fds[1], &one, 1);
        (void)put;  // a full pipe is readable already
    }
}

bool CStopSignal::IsSet() const {
    return m_pImpl->set.load();
}

bool CStopSignal::Wait(uint32_t ms) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!IsSet()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) return false;
        pollfd p{m_pImpl->fds[0], POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left)) < 0 && errno != EINTR) return IsSet();
    }
    return true;
}

intptr_t CStopSignal::NativeHandle() const {
    return m_pImpl->fds[0];
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
