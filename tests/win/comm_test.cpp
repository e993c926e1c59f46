// The Win32 COM port driver under Wine against plcsim: the console dialogue, and the line's
// transparency and time-outs. scripts/wine-tests.sh maps the simulators' lines as COM ports
// and names them in PLCSIM_CONSOLE_PORT and PLCSIM_ECHO_PORT.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <string>

#include "fakes.h"
#include "flash/math_thread.h"

namespace {

std::string PortFromEnvironment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

TEST(Win32Comm, ConsoleExchangeWithTheSimulatedBootLoader) {
    RecordingUi ui;
    ui.port = PortFromEnvironment("PLCSIM_CONSOLE_PORT");
    ASSERT_FALSE(ui.port.empty()) << "run under scripts/wine-tests.sh";
    TestEngine engine(ui);
    engine.OpenEnginePort();
    engine.WaitForText("Do you want to upload kernel in Flash( K ) or in SDRAM ( S )?");
    engine.ClearReceived();
    engine.SendAnswer('k');
    engine.WaitForText("CCC");
    EXPECT_NE(engine.GetReceived().find("k\r\n"), std::string::npos);  // the echoed answer
}

class EchoLine : public ::testing::Test {
  protected:
    void SetUp() override {
        m_ui.port = PortFromEnvironment("PLCSIM_ECHO_PORT");
        ASSERT_FALSE(m_ui.port.empty()) << "run under scripts/wine-tests.sh";
        m_engine.GetPortNumber();
        m_port = m_engine.OpenPort(m_engine.GetPortNumberValue());
    }
    void TearDown() override {
        if (m_port) CMyThread::ClosePort(m_port);
    }
    RecordingUi m_ui;
    TestEngine m_engine{m_ui};
    HPORT m_port = nullptr;
};

// Wine reports XON/XOFF on for a pseudo-terminal; left so, 0x11 and 0x13 would vanish.
TEST_F(EchoLine, EveryByteValueComesBackUnchanged) {
    m_engine.SetupPort(m_port, 5000, 1, 20, 200, 7000);
    std::string all;
    for (int round = 0; round < 4; ++round) {
        for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
    }
    m_engine.WriteBytes(m_port, all.data(), static_cast<uint32_t>(all.size()));
    EXPECT_EQ(ReadExactly(m_engine, m_port, all.size()), all);
}

// Another program left handshakes, DSR sensitivity and abort-on-error in the port's settings:
// the set-up clears them and every byte still comes back.
TEST_F(EchoLine, SettingsLeftByAnotherProgramAreCleared) {
    const std::string path = "\\\\.\\" + m_ui.port;
    HANDLE other = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    DCB dcb{};
    dcb.DCBlength = sizeof(dcb);
    ASSERT_TRUE(GetCommState(other, &dcb));
    dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = dcb.fDsrSensitivity = TRUE;
    dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
    dcb.fAbortOnError = TRUE;
    dcb.fOutX = dcb.fInX = TRUE;
    SetCommState(other, &dcb);
    CloseHandle(other);

    m_engine.SetupPort(m_port, 5000, 1, 20, 200, 7000);
    LineSettings line;
    ASSERT_TRUE(m_port->GetState(&line));
    EXPECT_FALSE(line.hardwareFlowControl);
    EXPECT_FALSE(line.abortOnError);
    EXPECT_FALSE(line.softwareFlowControl);
    std::string all;
    for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
    m_engine.WriteBytes(m_port, all.data(), static_cast<uint32_t>(all.size()));
    EXPECT_EQ(ReadExactly(m_engine, m_port, all.size()), all);
}

TEST_F(EchoLine, ReadTimeoutsFollowTheCommTimeouts) {
    m_engine.SetupPort(m_port, 5000, 1, 20, 200, 7000);
    m_engine.WriteBytes(m_port, "abc", 3);
    char buffer[6];
    EXPECT_EQ(m_engine.ReadBytes(m_port, buffer, 6), 3u);  // ended by the 200 ms interval
    m_engine.SetupPort(m_port, 5000, 1, 1, 200, 300);
    EXPECT_EQ(RaisedBy([&] { m_engine.ReadBytes(m_port, buffer, 6); }), ResultNoAnswer);
}

// Wine does not refuse a second open of a serial device (share mode 0 is checked for files
// only), so the exclusive open is tested on the POSIX line; here the port that is not there.
TEST_F(EchoLine, APortThatIsNotThereRaisesOpenFailed) {
    EXPECT_EQ(RaisedBy([&] { m_engine.OpenPort(250); }), ResultOpenFailed);
}

}  // namespace
