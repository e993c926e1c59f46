#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <functional>
#include <future>
#include <string>
#include <thread>

#include "fakes.h"
#include "framework/thread.h"
#include "serial/comm_posix.h"
#include "serial/worker.h"
#include "sim/pty_pair.h"

namespace {

struct PortNameCase {
    const char* text;
    int number;
};

TEST(PortNumber, ParsedFromTheFourthCharacter) {
    const PortNameCase cases[] = {
        {"COM3", 3},
        {"COM12", 12},
        {"COM10", 10},
        {"COM", 0},
        {"CO", 0},
        {"", 0},
        {"COMx", 0},
        {"COM7a", 7},
        {"COM003", 3},
        {"XYZ42", 42},
        {"COM123456789", 123456},
    };
    for (const auto& c : cases) EXPECT_EQ(ParsePortNumber(c.text), c.number) << c.text;
}

class Worker final : public CMyThread {
  public:
    using CMyThread::CMyThread;
    uint32_t Run() override {
        ran = true;
        return 7;
    }
    bool ran = false;
};

struct FixedPort final : IPortChoice {
    std::string GetSelectedPortText() override { return text; }
    std::string text = "COM12";
};

TEST(Worker, ThreadStartsOnceAndStopReportsItsExitCode) {
    FixedPort choice;
    PortScript script;
    ScriptedDriver driver(script);
    Worker never(choice, driver);
    EXPECT_EQ(never.StopThread(false), 0xFFFFFFFFu);

    Worker worker(choice, driver);
    ASSERT_TRUE(worker.StartThread());
    EXPECT_FALSE(worker.StartThread());
    ASSERT_TRUE(worker.WaitThread(5000));
    EXPECT_TRUE(worker.ran);
    EXPECT_EQ(worker.StopThread(false), 7u);
}

TEST(Worker, OpensTheChosenPortAndRaisesEightWhenItCannot) {
    FixedPort choice;
    PortScript script;
    ScriptedDriver driver(script);
    Worker worker(choice, driver);
    worker.GetPortNumber();
    EXPECT_EQ(worker.GetPortNumberValue(), 12);
    HPORT port = worker.OpenPort(worker.GetPortNumberValue());
    EXPECT_EQ(driver.opened.back(), 12);
    CMyThread::ClosePort(port);
    EXPECT_EQ(port, nullptr);
    driver.refuse = true;
    EXPECT_EQ(RaisedBy([&] { worker.OpenPort(3); }), ResultOpenFailed);
}

struct SetupCase {
    const char* name;
    bool failGet, failSet, failTimeouts;
    int raised;
};

TEST(Worker, SetupPortRaisesPerFailingStepAndAppliesABinaryLine) {
    const SetupCase cases[] = {
        {"GetCommState fails", true, false, false, ResultGetState},
        {"SetCommState fails", false, true, false, ResultSetState},
        {"SetCommTimeouts fails", false, false, true, ResultSetTimeouts},
        {"all succeed", false, false, false, -1},
    };
    for (const auto& c : cases) {
        FixedPort choice;
        PortScript script;
        script.failGetState = c.failGet;
        script.failSetState = c.failSet;
        script.failSetTimeouts = c.failTimeouts;
        ScriptedDriver driver(script);
        Worker worker(choice, driver);
        HPORT port = worker.OpenPort(1);
        EXPECT_EQ(RaisedBy([&] { worker.SetupPort(port, 5000, 1, 20, 200, 7000); }), c.raised)
            << c.name;
        if (c.raised == -1) {
            EXPECT_EQ(script.applied.baudRate, 115200u);
            EXPECT_EQ(script.applied.byteSize, 8);
            EXPECT_EQ(script.applied.parity, Parity::None);
            EXPECT_EQ(script.applied.stopBits, StopBits::One);
            // The driver reported XON/XOFF and replacement on: both must go off.
            EXPECT_FALSE(script.applied.softwareFlowControl);
            EXPECT_FALSE(script.applied.replaceCharacters);
            EXPECT_TRUE(script.applied.binary);
            EXPECT_EQ(script.timeouts.writeTotalConstant, 5000u);
            EXPECT_EQ(script.timeouts.writeTotalMultiplier, 1u);
            EXPECT_EQ(script.timeouts.readTotalMultiplier, 20u);
            EXPECT_EQ(script.timeouts.readInterval, 200u);
            EXPECT_EQ(script.timeouts.readTotalConstant, 7000u);
            EXPECT_EQ(script.purges, 1);
        }
        CMyThread::ClosePort(port);
    }
}

TEST(Worker, ReadAndWriteFailuresRaiseTheirCodes) {
    struct Case {
        const char* name;
        bool read;
        ReadOutcome outcome;
        bool failWrite;
        int shortBy;
        int raised;
    };
    const Case cases[] = {
        {"read fails", true, {"", true}, false, 0, ResultIoError},
        {"read gets nothing", true, {"", false}, false, 0, ResultNoAnswer},
        {"read gets some", true, {"abc", false}, false, 0, -1},
        {"write fails", false, {}, true, 0, ResultIoError},
        {"write short", false, {}, false, 1, ResultShortWrite},
        {"write nothing", false, {}, false, 3, ResultShortWrite},
        {"write all", false, {}, false, 0, -1},
    };
    for (const auto& c : cases) {
        FixedPort choice;
        PortScript script;
        if (c.read && !(c.outcome.bytes.empty() && !c.outcome.fails)) {
            script.reads.push_back(c.outcome);
        }
        script.failWrite = c.failWrite;
        script.shortWriteBy = c.shortBy;
        ScriptedDriver driver(script);
        Worker worker(choice, driver);
        HPORT port = worker.OpenPort(1);
        char buffer[8];
        int raised = RaisedBy([&] {
            if (c.read) {
                EXPECT_EQ(worker.ReadBytes(port, buffer, 6), 3u);
            } else {
                worker.WriteBytes(port, "xyz", 3);
            }
        });
        EXPECT_EQ(raised, c.raised) << c.name;
        CMyThread::ClosePort(port);
    }
}

// The POSIX line over a real pseudo-terminal: the time-out semantics the protocols rely on.
class PtyLine : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_pty.Create(""));
        MapCommPort(41, m_pty.DevicePath());
        m_port = m_worker.OpenPort(41);
    }
    void TearDown() override {
        if (m_port) CMyThread::ClosePort(m_port);
    }
    void PeerWrite(const std::string& bytes) {
        ASSERT_EQ(::write(m_pty.MasterFd(), bytes.data(), bytes.size()),
                  static_cast<ssize_t>(bytes.size()));
    }

    PtyPair m_pty;
    FixedPort m_choice;
    Worker m_worker{m_choice};
    HPORT m_port = nullptr;
};

TEST_F(PtyLine, ThreeOfSixBytesThenSilenceReturnsThree) {
    m_worker.SetupPort(m_port, 5000, 1, 20, 200, 7000);
    PeerWrite("abc");
    char buffer[6];
    EXPECT_EQ(m_worker.ReadBytes(m_port, buffer, 6), 3u);
    EXPECT_EQ(std::string(buffer, 3), "abc");
}

TEST_F(PtyLine, BytesSpacedUnderTheIntervalStayInOneRead) {
    m_worker.SetupPort(m_port, 5000, 1, 20, 200, 7000);
    std::thread peer([this] {
        PeerWrite("ab");
        SleepMs(50);
        PeerWrite("cd");
    });
    char buffer[4];
    uint32_t got = m_worker.ReadBytes(m_port, buffer, 4);
    peer.join();
    EXPECT_EQ(std::string(buffer, got), "abcd");
}

TEST_F(PtyLine, SilenceRaisesNoAnswerAfterTheTotalTimeout) {
    m_worker.SetupPort(m_port, 5000, 1, 1, 200, 150);
    char buffer[6];
    EXPECT_EQ(RaisedBy([&] { m_worker.ReadBytes(m_port, buffer, 6); }), ResultNoAnswer);
}

// A stop ends the wait under way, not the next one: a read that would wait a minute for a silent
// line returns at once. And it is final: every later read, write and pause raises 2 too.
TEST_F(PtyLine, AStopEndsTheWaitUnderWayAndEveryOneAfterIt) {
    m_worker.SetupPort(m_port, 5000, 1, 20, 200, 60000);
    std::promise<int> raised;
    std::thread reader([&] {
        char byte;
        raised.set_value(RaisedBy([&] { m_worker.ReadBytes(m_port, &byte, 1); }));
    });
    std::future<int> outcome = raised.get_future();
    EXPECT_EQ(outcome.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout)
        << "the silent line holds the read";
    m_worker.RequestStop();
    ASSERT_EQ(outcome.wait_for(std::chrono::seconds(20)), std::future_status::ready)
        << "the stop did not end the minute-long read";
    EXPECT_EQ(outcome.get(), ResultStopped);
    reader.join();
    PeerWrite("z");  // bytes waiting change nothing
    char buffer[1];
    const std::pair<const char*, std::function<void()>> later[] = {
        {"read", [&] { m_worker.ReadBytes(m_port, buffer, 1); }},
        {"write", [&] { m_worker.WriteBytes(m_port, "q", 1); }},
        {"pause", [&] { m_worker.Pause(10); }},
        {"read again", [&] { m_worker.ReadBytes(m_port, buffer, 1); }},
    };
    for (const auto& [name, call] : later) EXPECT_EQ(RaisedBy(call), ResultStopped) << name;
}

TEST_F(PtyLine, EveryByteValuePassesBothWaysUnchanged) {
    m_worker.SetupPort(m_port, 5000, 1, 20, 200, 7000);
    std::string all;
    for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
    PeerWrite(all);
    EXPECT_EQ(ReadExactly(m_worker, m_port, all.size()),
              all);  // 0x11/0x13 not eaten as XON/XOFF, CR not turned into LF
    m_worker.WriteBytes(m_port, all.data(), static_cast<uint32_t>(all.size()));
    std::string out(256, '\0');
    size_t have = 0;
    while (have < out.size()) {
        ssize_t n = ::read(m_pty.MasterFd(), &out[have], out.size() - have);
        ASSERT_GT(n, 0);
        have += static_cast<size_t>(n);
    }
    EXPECT_EQ(out, all);
}

// Settings another program left on the line: the set-up clears each, and every byte value
// passes both ways afterwards.
TEST_F(PtyLine, SettingsLeftByAnotherProgramAreCleared) {
    struct Case {
        const char* name;
        tcflag_t iflag;
        tcflag_t cflag;
    };
    const Case cases[] = {
        {"XON/XOFF both ways", IXON | IXOFF, 0},
        {"XOFF on input only", IXOFF, 0},
        {"any byte restarts output", IXON | IXANY, 0},
        {"RTS/CTS handshake", 0, CRTSCTS},
        {"all of them, and CR turned into LF", IXON | IXOFF | IXANY | ICRNL, CRTSCTS},
    };
    std::string all;
    for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
    for (const Case& c : cases) {
        {
            // Another program, as a terminal would, without our lock.
            const int other = ::open(m_pty.DevicePath().c_str(), O_RDWR | O_NOCTTY);
            ASSERT_GE(other, 0);
            termios t{};
            ASSERT_EQ(tcgetattr(other, &t), 0);
            t.c_iflag |= c.iflag;
            t.c_cflag |= c.cflag;
            ASSERT_EQ(tcsetattr(other, TCSANOW, &t), 0);
            ::close(other);
        }
        m_worker.SetupPort(m_port, 5000, 1, 20, 200, 7000);
        LineSettings line;
        ASSERT_TRUE(m_port->GetState(&line));
        EXPECT_FALSE(line.softwareFlowControl) << c.name;
        EXPECT_FALSE(line.hardwareFlowControl) << c.name;
        const int other = ::open(m_pty.DevicePath().c_str(), O_RDWR | O_NOCTTY);
        termios t{};
        ASSERT_EQ(tcgetattr(other, &t), 0);
        ::close(other);
        EXPECT_EQ(t.c_iflag & (IXON | IXOFF | IXANY | ICRNL), 0u) << c.name;
        EXPECT_EQ(t.c_cflag & CRTSCTS, 0u) << c.name;
        PeerWrite(all);
        EXPECT_EQ(ReadExactly(m_worker, m_port, all.size()), all) << c.name;
    }
}

TEST_F(PtyLine, PortHeldOpenCannotBeOpenedAgain) {
    EXPECT_EQ(RaisedBy([&] { m_worker.OpenPort(41); }), ResultOpenFailed);
}

}  // namespace
