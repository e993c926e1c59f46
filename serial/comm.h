// The one door between the protocols and a serial line. The Win32 driver (comm_win32.cpp)
// opens COMn through the device namespace; the POSIX driver (comm_posix.cpp) opens ttys and
// pseudo-terminals with the same time-out semantics; tests plug in drivers of their own.
#pragma once

#include <cstdint>
#include <memory>

// The line parameters the program sets; every other setting of the driver is kept as read.
struct LineSettings {
    uint32_t baudRate = 0;
    uint8_t byteSize = 0;
    uint8_t parity = 0;    // NOPARITY
    uint8_t stopBits = 0;  // ONESTOPBIT
    bool binary = true;
    bool softwareFlowControl = false;  // XON/XOFF in either direction
    bool replaceCharacters = false;    // error-character and NUL replacement
};

// Milliseconds, with the meaning of the Win32 COMMTIMEOUTS: a read of n bytes ends when n bytes
// are in, when more than readInterval passes between two bytes once one has come, or after
// readTotalConstant + readTotalMultiplier * n in all.
struct CommTimeouts {
    uint32_t readInterval = 0;
    uint32_t readTotalMultiplier = 0;
    uint32_t readTotalConstant = 0;
    uint32_t writeTotalMultiplier = 0;
    uint32_t writeTotalConstant = 0;
};

class CStopSignal;

// PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR
constexpr unsigned kPurgeAll = 15;

class CommPort {
  public:
    virtual ~CommPort() = default;  // closes the port
    virtual bool GetState(LineSettings* settings) = 0;
    virtual bool SetState(const LineSettings& settings) = 0;
    virtual bool SetTimeouts(const CommTimeouts& timeouts) = 0;
    virtual bool Purge(unsigned flags) = 0;
    // One synchronous transfer; false when the driver failed, or at once when `stop` (if any)
    // is set before the transfer ends: the transfer is then abandoned.
    virtual bool Read(void* buffer, uint32_t count, uint32_t* got,
                      const CStopSignal* stop = nullptr) = 0;
    virtual bool Write(const void* buffer, uint32_t count, uint32_t* put,
                       const CStopSignal* stop = nullptr) = 0;
};

class CommDriver {
  public:
    virtual ~CommDriver() = default;
    // Opens COMn exclusively; null when it cannot be opened.
    virtual std::unique_ptr<CommPort> Open(int number) = 0;
};

CommDriver& SystemCommDriver();
