// The one door between the protocols and a serial line. The Win32 driver (comm_win32.cpp)
// opens COMn through the device namespace; the POSIX driver (comm_posix.cpp) opens ttys and
// pseudo-terminals with the same time-out semantics; tests plug in drivers of their own.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

enum class Parity : uint8_t { None, Odd, Even, Mark, Space };
enum class StopBits : uint8_t { One, OneAndHalf, Two };

// The line parameters the program sets. Whatever another program left in the port's settings
// beyond these is cleared by SetState: flow control of either kind stalls or swallows bytes,
// an abort-on-error setting fails every transfer after one line error, DSR sensitivity drops
// all input while DSR is low.
struct LineSettings {
    uint32_t baudRate = 0;
    uint8_t byteSize = 0;  // data bits
    Parity parity = Parity::None;
    StopBits stopBits = StopBits::One;
    bool binary = true;                // no end-of-line translation
    bool softwareFlowControl = false;  // XON/XOFF in either direction
    bool replaceCharacters = false;    // error-character and NUL replacement
    bool hardwareFlowControl = false;  // CTS/DSR (RTS/CTS on POSIX) and DSR sensitivity
    bool abortOnError = false;         // a line error fails transfers until cleared
};

// Milliseconds. A read of n bytes ends when n bytes are in, when more than readInterval passes
// between two bytes once one has come, or after readTotalConstant + readTotalMultiplier * n in
// all; a write after writeTotalConstant + writeTotalMultiplier * n. Ending so is success with
// the bytes transferred. A zero interval, or zero constant and multiplier, is no limit.
struct CommTimeouts {
    uint32_t readInterval = 0;
    uint32_t readTotalMultiplier = 0;
    uint32_t readTotalConstant = 0;
    uint32_t writeTotalMultiplier = 0;
    uint32_t writeTotalConstant = 0;
};

class CStopSignal;

// What Purge empties, as flags: the bytes received and not yet read, and the bytes written and
// not yet sent; a transfer under way in that direction is abandoned.
enum PurgeQueues : unsigned {
    kPurgeInput = 1u << 0,
    kPurgeOutput = 1u << 1,
    kPurgeAll = kPurgeInput | kPurgeOutput,
};

class CommPort {
  public:
    virtual ~CommPort() = default;  // closes the port
    virtual bool GetState(LineSettings* settings) = 0;
    virtual bool SetState(const LineSettings& settings) = 0;
    virtual bool SetTimeouts(const CommTimeouts& timeouts) = 0;
    virtual bool Purge(unsigned queues) = 0;  // PurgeQueues
    // One synchronous transfer; false when the driver failed, or at once when `stop` (if any)
    // is set before the transfer ends: the transfer is then abandoned.
    virtual bool Read(void* buffer, uint32_t count, uint32_t* got,
                      const CStopSignal* stop = nullptr) = 0;
    virtual bool Write(const void* buffer, uint32_t count, uint32_t* put,
                       const CStopSignal* stop = nullptr) = 0;
    // After a failed transfer: the port is gone (the adapter unplugged, the far end of a
    // pseudo-terminal closed), not merely a transfer that failed.
    virtual bool Lost() const { return false; }
};

class CommDriver {
  public:
    virtual ~CommDriver() = default;
    // Opens COMn exclusively; null when it cannot be opened.
    virtual std::unique_ptr<CommPort> Open(int number) = 0;
};

CommDriver& SystemCommDriver();

// A port named on a command line as the workers read a port entry ("COM3"). On Windows the
// argument is a COM port's name and stays as given; elsewhere it is a device path (a tty, a
// simulated controller's line), made absolute (a later change of the current folder keeps it)
// and mapped to a COM number of its own (COM1 for the first path, COM2 for the next...; the same
// path keeps its number).
std::string CommPortEntry(const std::string& argument);
