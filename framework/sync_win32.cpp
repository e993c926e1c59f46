#include <windows.h>

#include "framework/sync.h"

struct CEvent::Impl {
    HANDLE h;
};

CEvent::CEvent(bool manualReset, bool initiallySet)
    : m_pImpl(new Impl{CreateEventA(nullptr, manualReset, initiallySet, nullptr)}) {}

CEvent::~CEvent() {
    if (m_pImpl->h) CloseHandle(m_pImpl->h);
    delete m_pImpl;
}

bool CEvent::SetEvent() {
    return ::SetEvent(m_pImpl->h) != FALSE;
}
bool CEvent::ResetEvent() {
    return ::ResetEvent(m_pImpl->h) != FALSE;
}
bool CEvent::Wait(uint32_t ms) {
    return WaitForSingleObject(m_pImpl->h, ms) == WAIT_OBJECT_0;
}

struct CStopSignal::Impl {
    HANDLE h;
};

CStopSignal::CStopSignal() : m_pImpl(new Impl{CreateEventA(nullptr, TRUE, FALSE, nullptr)}) {}

CStopSignal::~CStopSignal() {
    if (m_pImpl->h) CloseHandle(m_pImpl->h);
    delete m_pImpl;
}

void CStopSignal::Set() {
    ::SetEvent(m_pImpl->h);
}

bool CStopSignal::IsSet() const {
    return WaitForSingleObject(m_pImpl->h, 0) == WAIT_OBJECT_0;
}

bool CStopSignal::Wait(uint32_t ms) const {
    return WaitForSingleObject(m_pImpl->h, ms) == WAIT_OBJECT_0;
}

intptr_t CStopSignal::NativeHandle() const {
    return reinterpret_cast<intptr_t>(m_pImpl->h);
}

struct CCriticalSection::Impl {
    CRITICAL_SECTION cs;
};

CCriticalSection::CCriticalSection() : m_pImpl(new Impl) {
    InitializeCriticalSection(&m_pImpl->cs);
}

CCriticalSection::~CCriticalSection() {
    DeleteCriticalSection(&m_pImpl->cs);
    delete m_pImpl;
}

void CCriticalSection::Lock() {
    EnterCriticalSection(&m_pImpl->cs);
}
void CCriticalSection::Unlock() {
    LeaveCriticalSection(&m_pImpl->cs);
}
