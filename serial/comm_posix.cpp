#include "serial/comm_posix.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <map>
#include <mutex>

#include "framework/sync.h"
#include "framework/thread.h"

namespace {

class PosixCommPort final : public CommPort {
  public:
    PosixCommPort(int fd, bool owned) : m_fd(fd), m_owned(owned) {}
    ~PosixCommPort() override {
        if (m_owned) ::close(m_fd);
    }

    bool GetState(LineSettings* s) override {
        termios t{};
        if (tcgetattr(m_fd, &t) != 0) return false;
        s->baudRate = SpeedValue(cfgetospeed(&t));
        s->byteSize = (t.c_cflag & CSIZE) == CS8 ? 8 : 7;
        s->parity = ParityOf(t.c_cflag);
        s->stopBits = (t.c_cflag & CSTOPB) ? StopBits::Two : StopBits::One;
        s->binary = !(t.c_iflag & (ICRNL | INLCR | IGNCR)) && !(t.c_oflag & OPOST);
        s->softwareFlowControl = (t.c_iflag & (IXON | IXOFF)) != 0;
        s->replaceCharacters = (t.c_iflag & (PARMRK | IGNPAR)) != 0;
        s->hardwareFlowControl = (t.c_cflag & CRTSCTS) != 0;
        s->abortOnError = false;  // a tty has no such setting
        return true;
    }

    // Raw mode throughout: a binary transfer must see every byte, 0x11 and 0x13 included.
    bool SetState(const LineSettings& s) override {
        termios t{};
        if (tcgetattr(m_fd, &t) != 0) return false;
        cfmakeraw(&t);
        t.c_cflag |= CLOCAL | CREAD;
        t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB);
        t.c_cflag |= s.byteSize == 7 ? CS7 : CS8;
        t.c_cflag |= ParityFlags(s.parity);
        // A tty knows no one and a half stop bits; the nearest is two.
        if (s.stopBits != StopBits::One) t.c_cflag |= CSTOPB;
        // cfmakeraw leaves IXOFF, IXANY and CRTSCTS as another program set them.
        t.c_iflag &= ~(IXON | IXOFF | IXANY);
        t.c_cflag &= ~CRTSCTS;
        if (s.softwareFlowControl) t.c_iflag |= IXON | IXOFF;
        if (s.hardwareFlowControl) t.c_cflag |= CRTSCTS;
        t.c_cc[VMIN] = 0;
        t.c_cc[VTIME] = 0;
        speed_t speed = SpeedCode(s.baudRate);
        cfsetispeed(&t, speed);
        cfsetospeed(&t, speed);
        if (tcsetattr(m_fd, TCSANOW, &t) != 0) return false;
        // DTR and RTS on, as the Win32 driver sets them; a pseudo-terminal has no modem lines
        // and refuses, which is no failure.
        int lines = TIOCM_DTR | TIOCM_RTS;
        ::ioctl(m_fd, TIOCMBIS, &lines);
        return true;
    }

    bool SetTimeouts(const CommTimeouts& t) override {
        m_timeouts = t;
        return true;
    }

    bool Purge(unsigned queues) override {
        // A pseudo-terminal has no transmit queue: flushing its output discards the peer's
        // unread input, bytes a real line would already have carried (the last acknowledgement
        // of one file transfer when the next one opens the port and purges at once). Only
        // the input is dropped there.
        const bool output = (queues & kPurgeOutput) && !IsPseudoTerminal();
        const bool input = (queues & kPurgeInput) != 0;
        if (!input && !output) return true;
        const int which = input && output ? TCIOFLUSH : input ? TCIFLUSH : TCOFLUSH;
        // A master end of a pseudo-terminal has no queues of its own to flush.
        return tcflush(m_fd, which) == 0 || errno == ENOTTY || errno == EINVAL;
    }

    bool Read(void* buffer, uint32_t count, uint32_t* got, const CStopSignal* stop) override {
        auto* out = static_cast<unsigned char*>(buffer);
        return Transfer(POLLIN, count, got, stop,
                        [&](uint32_t at, uint32_t n) { return ::read(m_fd, out + at, n); });
    }

    bool Write(const void* buffer, uint32_t count, uint32_t* put,
               const CStopSignal* stop) override {
        const auto* in = static_cast<const unsigned char*>(buffer);
        return Transfer(POLLOUT, count, put, stop,
                        [&](uint32_t at, uint32_t n) { return ::write(m_fd, in + at, n); });
    }

    bool Lost() const override { return m_lost; }

  private:
    bool IsPseudoTerminal() const {
        struct stat st {};
        if (fstat(m_fd, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
        const unsigned m = major(st.st_rdev);
        return m >= 136 && m <= 143;  // UNIX98 pseudo-terminal slaves
    }

    static Parity ParityOf(tcflag_t cflag) {
        if (!(cflag & PARENB)) return Parity::None;
        if (cflag & CMSPAR) return (cflag & PARODD) ? Parity::Mark : Parity::Space;
        return (cflag & PARODD) ? Parity::Odd : Parity::Even;
    }
    static tcflag_t ParityFlags(Parity parity) {
        switch (parity) {
            case Parity::Odd:
                return PARENB | PARODD;
            case Parity::Even:
                return PARENB;
            case Parity::Mark:
                return PARENB | PARODD | CMSPAR;
            case Parity::Space:
                return PARENB | CMSPAR;
            case Parity::None:
                break;
        }
        return 0;
    }

    static speed_t SpeedCode(uint32_t baud) {
        switch (baud) {
            case 9600:
                return B9600;
            case 19200:
                return B19200;
            case 38400:
                return B38400;
            case 57600:
                return B57600;
            default:
                return B115200;
        }
    }
    static uint32_t SpeedValue(speed_t code) {
        switch (code) {
            case B9600:
                return 9600;
            case B19200:
                return 19200;
            case B38400:
                return 38400;
            case B57600:
                return 57600;
            case B115200:
                return 115200;
            default:
                return 0;
        }
    }

    // One synchronous transfer with the Win32 time-out rules: bounded by constant + multiplier
    // * count when either is set; a read also ends after `readInterval` of silence once a
    // byte has come. Ending by a time-out is success with fewer bytes.
    template <typename Io>
    bool Transfer(short events, uint32_t count, uint32_t* done, const CStopSignal* stop, Io io) {
        *done = 0;
        const bool reading = events == POLLIN;
        const uint32_t constant =
            reading ? m_timeouts.readTotalConstant : m_timeouts.writeTotalConstant;
        const uint32_t multiplier =
            reading ? m_timeouts.readTotalMultiplier : m_timeouts.writeTotalMultiplier;
        const bool bounded = constant || multiplier;
        const uint64_t deadline = MonotonicMs() + constant + uint64_t{multiplier} * count;
        while (*done < count) {
            int wait = -1;
            if (bounded) {
                const uint64_t now = MonotonicMs();
                if (now >= deadline) break;
                wait = static_cast<int>(deadline - now);
            }
            if (reading && *done > 0 && m_timeouts.readInterval) {
                const int interval = static_cast<int>(m_timeouts.readInterval);
                wait = wait < 0 ? interval : std::min(wait, interval);
            }
            // The stop request's descriptor is watched with the line, so a stop ends the wait
            // at once instead of at its time-out.
            pollfd p[2] = {{m_fd, events, 0},
                           {stop ? static_cast<int>(stop->NativeHandle()) : -1, POLLIN, 0}};
            const int r = ::poll(p, 2, wait);
            if (stop && stop->IsSet()) return false;
            if (r < 0 && errno == EINTR) continue;
            if (r < 0) return false;
            if (r == 0) break;  // total or interval time-out
            if (!(p[0].revents & events)) {
                // Hung up: the adapter is gone, or the far end of a pseudo-terminal closed.
                m_lost = (p[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
                return false;
            }
            const ssize_t n = io(*done, count - *done);
            if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            if (n <= 0) {
                // A tty read that ends the file, or EIO/ENXIO: the line is gone.
                m_lost = n == 0 || errno == EIO || errno == ENXIO || errno == ENODEV;
                return false;
            }
            *done += static_cast<uint32_t>(n);
        }
        return true;
    }

    int m_fd;
    bool m_owned;
    CommTimeouts m_timeouts{};
    bool m_lost = false;
};

class PosixCommDriver final : public CommDriver {
  public:
    void Map(int number, const std::string& path) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_paths[number] = path;
    }

    // The number a command-line path gets: its own when mapped already, else the lowest free
    // one, so the ports of a multi-port command never share a number.
    int NumberFor(const std::string& path) {
        std::lock_guard<std::mutex> lock(m_mutex);
        int free = 1;
        for (const auto& [number, mapped] : m_paths) {
            if (mapped == path) return number;
            if (number == free) ++free;
        }
        m_paths[free] = path;
        return free;
    }

    std::unique_ptr<CommPort> Open(int number) override {
        std::string path;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            auto it = m_paths.find(number);
            if (it == m_paths.end()) return nullptr;
            path = it->second;
        }
        return OpenTtyPath(path);
    }

  private:
    std::mutex m_mutex;
    std::map<int, std::string> m_paths;
};

PosixCommDriver& Driver() {
    static PosixCommDriver driver;
    return driver;
}

}  // namespace

void MapCommPort(int number, const std::string& path) {
    Driver().Map(number, path);
}

std::unique_ptr<CommPort> OpenTtyPath(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    // No sharing, as CreateFileA with share mode 0: a second opener is refused.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<PosixCommPort>(fd, true);
}

std::unique_ptr<CommPort> WrapTtyDescriptor(int fd, bool owned) {
    return std::make_unique<PosixCommPort>(fd, owned);
}

CommDriver& SystemCommDriver() {
    return Driver();
}

std::string CommPortEntry(const std::string& argument) {
    char* absolute = realpath(argument.c_str(), nullptr);
    const int number = Driver().NumberFor(absolute ? absolute : argument);
    free(absolute);
    return "COM" + std::to_string(number);
}
