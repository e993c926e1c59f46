#include <windows.h>

#include <cstdio>

#include "framework/sync.h"
#include "serial/comm.h"

namespace {

// The DCB's numbers for our values, in the order of the enums.
constexpr BYTE kParities[] = {NOPARITY, ODDPARITY, EVENPARITY, MARKPARITY, SPACEPARITY};
constexpr BYTE kStopBits[] = {ONESTOPBIT, ONE5STOPBITS, TWOSTOPBITS};

template <typename Value, size_t N>
Value FromDcb(const BYTE (&table)[N], BYTE code) {
    for (size_t i = 0; i < N; ++i) {
        if (table[i] == code) return static_cast<Value>(i);
    }
    return Value{};
}

template <typename Value, size_t N>
BYTE ToDcb(const BYTE (&table)[N], Value value) {
    const auto i = static_cast<size_t>(value);
    return i < N ? table[i] : table[0];
}

class Win32CommPort final : public CommPort {
  public:
    explicit Win32CommPort(HANDLE h) : m_h(h), m_hIo(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
    ~Win32CommPort() override {
        CloseHandle(m_h);
        if (m_hIo) CloseHandle(m_hIo);
    }

    bool GetState(LineSettings* s) override {
        m_dcb = DCB{};
        m_dcb.DCBlength = sizeof(m_dcb);
        if (!GetCommState(m_h, &m_dcb)) return false;
        s->baudRate = m_dcb.BaudRate;
        s->byteSize = m_dcb.ByteSize;
        s->parity = FromDcb<Parity>(kParities, m_dcb.Parity);
        s->stopBits = FromDcb<StopBits>(kStopBits, m_dcb.StopBits);
        s->binary = m_dcb.fBinary;
        s->softwareFlowControl = m_dcb.fOutX || m_dcb.fInX;
        s->replaceCharacters = m_dcb.fErrorChar || m_dcb.fNull;
        s->hardwareFlowControl = m_dcb.fOutxCtsFlow || m_dcb.fOutxDsrFlow ||
                                 m_dcb.fDsrSensitivity ||
                                 m_dcb.fRtsControl == RTS_CONTROL_HANDSHAKE ||
                                 m_dcb.fDtrControl == DTR_CONTROL_HANDSHAKE;
        s->abortOnError = m_dcb.fAbortOnError;
        return true;
    }

    // The whole DCB is set, whatever another program left in it: DTR and RTS on (the cable may
    // draw its power from them), no handshake on either, no DSR sensitivity (it would drop all
    // input while DSR is low), no abort on error (every transfer after one line error would
    // fail with ERROR_OPERATION_ABORTED).
    bool SetState(const LineSettings& s) override {
        m_dcb.DCBlength = sizeof(m_dcb);
        m_dcb.BaudRate = s.baudRate;
        m_dcb.ByteSize = s.byteSize;
        m_dcb.Parity = ToDcb(kParities, s.parity);
        m_dcb.fParity = s.parity != Parity::None;
        m_dcb.StopBits = ToDcb(kStopBits, s.stopBits);
        m_dcb.fBinary = s.binary;
        m_dcb.fOutX = m_dcb.fInX = s.softwareFlowControl;
        m_dcb.fTXContinueOnXoff = TRUE;
        m_dcb.fErrorChar = m_dcb.fNull = s.replaceCharacters;
        m_dcb.fOutxCtsFlow = m_dcb.fOutxDsrFlow = s.hardwareFlowControl;
        m_dcb.fDsrSensitivity = s.hardwareFlowControl;
        m_dcb.fDtrControl = s.hardwareFlowControl ? DTR_CONTROL_HANDSHAKE : DTR_CONTROL_ENABLE;
        m_dcb.fRtsControl = s.hardwareFlowControl ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
        m_dcb.fAbortOnError = s.abortOnError;
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

    bool Purge(unsigned queues) override {
        DWORD flags = 0;
        if (queues & kPurgeInput) flags |= PURGE_RXABORT | PURGE_RXCLEAR;
        if (queues & kPurgeOutput) flags |= PURGE_TXABORT | PURGE_TXCLEAR;
        return !flags || PurgeComm(m_h, flags) != FALSE;
    }

    bool Read(void* buffer, uint32_t count, uint32_t* got, const CStopSignal* stop) override {
        return Transfer(true, buffer, count, got, stop);
    }

    bool Write(const void* buffer, uint32_t count, uint32_t* put,
               const CStopSignal* stop) override {
        return Transfer(false, const_cast<void*>(buffer), count, put, stop);
    }

  private:
    // Overlapped, so that the wait for the line (bounded by the COMMTIMEOUTS) can be waited
    // together with the worker's stop request; a stopped transfer is cancelled and waited out
    // before its OVERLAPPED and buffer go out of scope.
    bool Transfer(bool reading, void* buffer, uint32_t count, uint32_t* done,
                  const CStopSignal* stop) {
        *done = 0;
        if (!m_hIo) return false;
        OVERLAPPED ov{};
        ov.hEvent = m_hIo;
        ResetEvent(m_hIo);
        const BOOL started = reading ? ReadFile(m_h, buffer, count, nullptr, &ov)
                                     : WriteFile(m_h, buffer, count, nullptr, &ov);
        if (!started && GetLastError() != ERROR_IO_PENDING) return Failed(GetLastError(), stop);
        DWORD n = 0;
        if (!started && stop) {
            const HANDLE waits[2] = {m_hIo, reinterpret_cast<HANDLE>(stop->NativeHandle())};
            if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
                CancelIo(m_h);
                GetOverlappedResult(m_h, &ov, &n, TRUE);
                *done = n;
                return false;
            }
        }
        const BOOL ok = GetOverlappedResult(m_h, &ov, &n, TRUE);
        *done = n;
        if (ok) return true;
        // Wine completes an overlapped transfer that its COMMTIMEOUTS ended with a time-out
        // status where Windows reports success with what came: a time-out is not a failure.
        const DWORD error = GetLastError();
        if (error == ERROR_TIMEOUT || error == WAIT_TIMEOUT || error == ERROR_SEM_TIMEOUT) {
            return true;
        }
        return Failed(error, stop);
    }

    // What a failed transfer means: the errors Windows gives for a USB adapter pulled out (the
    // handle stays, the device is gone) mark the port lost; any other failure may be a line
    // error (framing, overrun), which holds the port in its error state until read out,
    // whatever fAbortOnError another program set.
    bool Failed(DWORD error, const CStopSignal* stop) {
        switch (error) {
            case ERROR_ACCESS_DENIED:
            case ERROR_BAD_COMMAND:
            case ERROR_DEVICE_NOT_CONNECTED:
            case ERROR_GEN_FAILURE:
            case ERROR_IO_DEVICE:
            case ERROR_DEV_NOT_EXIST:
            case ERROR_NOT_READY:
            case ERROR_BROKEN_PIPE:
                m_lost = true;
                break;
            case ERROR_OPERATION_ABORTED:
                m_lost = !(stop && stop->IsSet());
                break;
            default:
                break;
        }
        DWORD errors = 0;
        if (!ClearCommError(m_h, &errors, nullptr) && GetLastError() != ERROR_INVALID_FUNCTION) {
            m_lost = true;  // the handle no longer leads to a port
        }
        return false;
    }

    bool Lost() const override { return m_lost; }

    HANDLE m_h;
    HANDLE m_hIo;
    DCB m_dcb{};
    bool m_lost = false;
};

class Win32CommDriver final : public CommDriver {
  public:
    std::unique_ptr<CommPort> Open(int number) override {
        // The device-namespace form is the only one that opens COM10 and above.
        char path[32];
        std::snprintf(path, sizeof(path), "\\\\.\\COM%d", number);
        HANDLE h = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_FLAG_OVERLAPPED, nullptr);
        if (h == INVALID_HANDLE_VALUE) return nullptr;
        return std::make_unique<Win32CommPort>(h);
    }
};

}  // namespace

CommDriver& SystemCommDriver() {
    static Win32CommDriver driver;
    return driver;
}

std::string CommPortEntry(const std::string& argument) {
    return argument;
}
