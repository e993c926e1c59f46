// The adapter pulled out: the far end of the pseudo-terminal closes in the middle of each kind
// of transfer. Every one ends with the lost-port code at once, and nothing is retried against
// a port that is gone.
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <thread>

#include "fakes.h"
#include "flash/math_thread.h"
#include "identity/read_thread.h"
#include "scripted_rig.h"
#include "serial/comm_posix.h"
#include "sim/pty_pair.h"
#include "temp_path.h"

namespace {

constexpr int kPort = 85;

// A line whose far end takes what the program sends and goes away after `after` bytes.
class VanishingLine {
  public:
    VanishingLine(size_t after, int port) {
        EXPECT_TRUE(m_pty.Create(""));
        MapCommPort(port, m_pty.DevicePath());
        m_far = std::thread([this, after] {
            size_t taken = 0;
            char buffer[512];
            while (taken < after) {
                pollfd p{m_pty.MasterFd(), POLLIN, 0};
                if (::poll(&p, 1, 20000) <= 0) break;
                const ssize_t n = ::read(m_pty.MasterFd(), buffer, sizeof(buffer));
                if (n <= 0) break;
                taken += static_cast<size_t>(n);
            }
            m_pty.CloseMaster();
        });
    }
    ~VanishingLine() { m_far.join(); }

  private:
    PtyPair m_pty;
    std::thread m_far;
};

TEST(LostPort, EveryTransferEndsWithTheLostPortCodeAtOnce) {
    const std::string image = UniqueTempPath("lost_port_image.bin");
    std::ofstream(image, std::ios::binary) << std::string(4000, 'k');
    struct Case {
        const char* name;
        size_t after;  // bytes the far end takes before it goes
        std::function<void(TestEngine&)> transfer;
    };
    const Case cases[] = {
        {"an image upload", 100,
         [&](TestEngine& engine) {
             engine.OpenEnginePort();
             auto file = std::make_unique<CFile>();
             ASSERT_TRUE(file->Open(image, CFile::modeRead));
             engine.SetCurrentFile(std::move(file));
             engine.SendImage();
         }},
        {"a data file", 100,
         [](TestEngine& engine) {
             engine.SendDataFile(RunFile{"big.bin", std::string(9000, 'd')});
         }},
        {"the read-back", 20,
         [](TestEngine& engine) {
             engine.CheckWrittenFiles({RunFile{"local_addres.dat", "EMAC=00:00:00:00:00:01"}});
         }},
        {"a console wait", 1,
         [](TestEngine& engine) {
             engine.OpenEnginePort();
             engine.SendAnswer('k');
             engine.WaitForText("CCC");
         }},
    };
    for (const Case& c : cases) {
        VanishingLine line(c.after, kPort);
        RecordingUi ui;
        ui.port = "COM" + std::to_string(kPort);
        FakeClock clock;
        TestEngine engine(ui, SystemCommDriver(), clock);
        EXPECT_EQ(RaisedBy([&] { c.transfer(engine); }), ResultPortLost) << c.name;
        EXPECT_TRUE(clock.sleeps.empty()) << c.name << ": no retry against a port that is gone";
        engine.Close();
    }
    std::remove(image.c_str());
}

// The reading gives up at once, tries no calibration, and says why.
TEST(LostPort, TheReadingStopsAtOnceAndSaysSo) {
    VanishingLine line(20, 81);  // the port the reader's stand-in page names
    ReaderUi ui;
    FakeClock clock;
    CReadThread reader(ui, SystemCommDriver(), clock);
    reader.SetDevice("ПЛК-317");
    reader.GetPortNumber();
    ASSERT_TRUE(reader.StartThread());
    ASSERT_TRUE(reader.WaitThread(20000));
    ASSERT_EQ(ui.reports.size(), 1u);
    EXPECT_EQ(ui.reports[0], std::make_pair(false, false));
    EXPECT_TRUE(reader.PortLost());
    EXPECT_FALSE(reader.PortNotOpened());
    EXPECT_TRUE(clock.sleeps.empty());
}

}  // namespace
