// The engine's console primitives against the simulated boot loader, over a real
// pseudo-terminal with the engine's own time-outs.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <mutex>
#include <thread>

#include "child_process.h"
#include "fakes.h"
#include "flash/math_thread.h"
#include "identity/read_thread.h"
#include "serial/comm_posix.h"
#include "sim/bootloader.h"
#include "sim/paced_line.h"
#include "sim/pty_pair.h"

namespace {

class SimRig {
  public:
    explicit SimRig(BootOptions options) {
        options.requestIntervalMs = 300;
        options.manualStepMs = 50;
        options.idleTimeoutMs = 1500;
        EXPECT_TRUE(m_pty.Create(""));
        MapCommPort(51, m_pty.DevicePath());
        m_ui.port = "COM51";
        m_line = std::make_unique<PacedLine>(m_pty.MasterFd(), LineTiming{});
        m_loader = std::make_unique<BootLoader>(*m_line, options);
        m_loader->SetObserver([this](const BootEvent& e) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_events.push_back(e.what + " " + e.detail);
        });
        m_engine.OpenEnginePort();
        m_thread = std::thread([this] { m_completed = m_loader->Run(); });
    }
    ~SimRig() {
        m_engine.Close();
        m_thread.join();
    }
    TestEngine& engine() { return m_engine; }
    RecordingUi& ui() { return m_ui; }
    std::vector<std::string> Events() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_events;
    }
    bool Finish() {
        m_thread.join();
        m_thread = std::thread([] {});
        return m_completed;
    }

  private:
    PtyPair m_pty;
    RecordingUi m_ui;
    TestEngine m_engine{m_ui};
    std::unique_ptr<PacedLine> m_line;
    std::unique_ptr<BootLoader> m_loader;
    std::thread m_thread;
    std::mutex m_mutex;
    std::vector<std::string> m_events;
    bool m_completed = false;
};

BootOptions StartAt(BootStage stage) {
    BootOptions o;
    o.start = stage;
    return o;
}

TEST(SimConsole, KernelMenuAnsweredThenTheImageIsRequested) {
    SimRig rig(StartAt(BootStage::KernelMenu));
    rig.engine().WaitForText(BootLoader::kKernelMenuPrompt);
    rig.engine().ClearReceived();
    rig.engine().SendAnswer('k');
    rig.engine().WaitForText("CCC");
    auto events = rig.Events();
    EXPECT_NE(std::find(events.begin(), events.end(), "answer k"), events.end());
}

TEST(SimConsole, AWrongLetterGetsTheQuestionAgain) {
    SimRig rig(StartAt(BootStage::EraseKernel));
    rig.engine().WaitForText(BootLoader::kEraseKernelPrompt);
    rig.engine().ClearReceived();
    rig.engine().SendAnswer('x');
    rig.engine().WaitForText(BootLoader::kEraseKernelPrompt);
    rig.engine().SendAnswer('y');
    rig.engine().WaitForText(BootLoader::kPowerCyclePrompt);
    rig.engine().WaitForText(BootLoader::kKernelMenuPrompt);
}

TEST(SimConsole, PromptsSplitAcrossReadsAndNoisyLinesAreStillFound) {
    BootOptions options = StartAt(BootStage::EraseKernel);
    options.faults.splitGapMs = 300;  // longer than the engine's 200 ms read interval
    options.faults.garbageBytes = 40;
    SimRig rig(options);
    rig.engine().WaitForText(BootLoader::kEraseKernelPrompt);
    rig.engine().SendAnswer('y');
    rig.engine().WaitForText(BootLoader::kPowerCyclePrompt);
}

struct ReaderUi final : IReaderUi {
    std::string GetSelectedPortText() override { return "COM51"; }
    void ReportIdentity(bool, bool) override {}
};

bool Exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

TEST(SimConsole, FormattingDrivesTheBarToItsEndAndReportsBadPages) {
    // The flash file system holds a calibration file; a folder beside it is not the controller's.
    const std::string flash = MakeTempFolder("sim_format");
    std::ofstream(flash + "/calib.inc", std::ios::binary) << "calibration";
    std::ofstream(flash + "/local_addres.dat", std::ios::binary) << "EMAC=00:1A:2B:3C:4D:5E\r\n";
    ASSERT_EQ(mkdir((flash + "/keep").c_str(), 0755), 0);
    std::ofstream(flash + "/keep/note", std::ios::binary) << "not in the flash file system";
    BootOptions options = StartAt(BootStage::EraseFfs);
    options.badPages = 5;
    options.filesFolder = flash;
    SimRig rig(options);
    rig.engine().WaitForText(BootLoader::kEraseFfsPrompt);
    rig.engine().ClearReceived();
    rig.engine().SetTotal(6144);
    rig.engine().SendAnswer('y');
    rig.engine().WaitForTextCounting("bad pages");
    EXPECT_NE(rig.engine().GetReceived().find("Hard format completed! Found 5 bad pages"),
              std::string::npos);
    // 6144 bytes of output plus the echoed answer, possibly a little more in the last read.
    EXPECT_GE(rig.ui().positions.back(), 100u);
    EXPECT_FALSE(Exists(flash + "/calib.inc"));
    EXPECT_FALSE(Exists(flash + "/local_addres.dat"));
    EXPECT_TRUE(Exists(flash + "/keep/note"));
    rig.engine().WaitForText(BootLoader::kPowerCyclePrompt);
    rig.engine().WaitForTextLenient(BootLoader::kCoreStarted);
    // The new kernel has nothing to serve: every request for the file is refused.
    rig.engine().Close();
    ReaderUi readerUi;
    FakeClock clock;
    CReadThread reader(readerUi, SystemCommDriver(), clock);
    reader.GetPortNumber();
    reader.SetTargetFolder(flash + "/");
    EXPECT_EQ(reader.FetchFile("calib.inc"), ResultIoError);
    EXPECT_TRUE(rig.Finish());
}

}  // namespace
