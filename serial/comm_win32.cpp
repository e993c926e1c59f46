#include <windows.h>

#include <cstdio>

#include "serial/comm.h"

namespace {

class Win32CommPort final : public CommPort {
  public:
    explicit Win32CommPort(HANDLE h) : m_h(h) {}
    ~Win32CommPort() override { CloseHandle(m_h); }

    bool GetState(LineSettings* s) override {
        m_dcb = DCB{};
        m_dcb.DCBlength = sizeof(m_dcb);
        if (!GetCommState(m_h, &m_dcb)) return false;
        s->baudRate = m_dcb.BaudRate;
        s->byteSize = m_dcb.ByteSize;
        s->parity = m_dcb.Parity;
        s->stopBits = m_dcb.StopBits;
        s->binary = m_dcb.fBinary;
        s->softwareFlowControl = m_dcb.fOutX || m_dcb.fInX;
        s->replaceCharacters = m_dcb.fErrorChar || m_dcb.fNull;
        return true;
    }

    // Applied over the DCB that GetState read, so DTR/RTS and hardware handshake stay as the
    // driver reported them.
    bool SetState(const LineSettings& s) override {
        m_dcb.BaudRate = s.baudRate;
        m_dcb.ByteSize = s.byteSize;
        m_dcb.Parity = s.parity;
        m_dcb.StopBits = s.stopBits;
        m_dcb.fBinary = s.binary;
        m_dcb.fOutX = m_dcb.fInX = s.softwareFlowControl;
        m_dcb.fErrorChar = m_dcb.fNull = s.replaceCharacters;
        return SetCommState(m_h, &m_dcb) != FALSE;
    }

    bool SetTimeouts(const CommTimeouts& t) override {
        COMMTIMEOUTS ct{};
        ct.ReadIntervalTimeout = t.readInterval;
        ct.ReadTotalTimeoutMultiplier = t.readTotalMultiplier;
        ct.ReadTotalTimeoutConstant = t.readTotalConstant;
        ct.WriteTotalTimeoutMultiplier = t.writeTotalMultiplier;
        ct.WriteTotalTimeoutConstant = t.writeTotalConstant;
        return SetCommTimeouts(m_h, &ct) != FALSE;
    }

    bool Purge(unsigned flags) override { return PurgeComm(m_h, flags) != FALSE; }

    bool Read(void* buffer, uint32_t count, uint32_t* got) override {
        DWORD n = 0;
        BOOL ok = ReadFile(m_h, buffer, count, &n, nullptr);
        *got = n;
        return ok != FALSE;
    }

    bool Write(const void* buffer, uint32_t count, uint32_t* put) override {
        DWORD n = 0;
        BOOL ok = WriteFile(m_h, buffer, count, &n, nullptr);
        *put = n;
        return ok != FALSE;
    }

  private:
    HANDLE m_h;
    DCB m_dcb{};
};

class Win32CommDriver final : public CommDriver {
  public:
    std::unique_ptr<CommPort> Open(int number) override {
        // The device-namespace form is the only one that opens COM10 and above.
        char path[32];
        std::snprintf(path, sizeof(path), "\\\\.\\COM%d", number);
        HANDLE h =
            CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE) return nullptr;
        return std::make_unique<Win32CommPort>(h);
    }
};

}  // namespace

CommDriver& SystemCommDriver() {
    static Win32CommDriver driver;
    return driver;
}
