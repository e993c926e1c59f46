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

// One exchange: the letter the engine sends (none: it only waits) and the text it then waits for.
struct ConsoleStep {
    char answer;
    const char* awaited;
    bool echoed;  // the console echoes an accepted letter; a refused one gets the question again
};

struct ConsoleCase {
    const char* name;
    BootStage start;
    BootFaults faults;
    std::vector<ConsoleStep> steps;
    // What the boot loader saw and said ("prompt", "answer", "wrong-answer" events), in order.
    std::vector<std::string> seen;
    bool faultless;  // the engine broke no rule of the console: no "error" event
};

void PrintTo(const ConsoleCase& c, std::ostream* out) {
    *out << c.name;
}

BootFaults Noisy() {
    BootFaults faults;
    faults.splitGapMs = 300;  // longer than the engine's 200 ms read interval
    faults.garbageBytes = 40;
    return faults;
}

class SimConsole : public ::testing::TestWithParam<ConsoleCase> {};

TEST_P(SimConsole, TheEngineFindsEachPromptAndTheBootLoaderTakesItsAnswers) {
    const ConsoleCase& c = GetParam();
    BootOptions options = StartAt(c.start);
    options.faults = c.faults;
    SimRig rig(options);
    for (const ConsoleStep& step : c.steps) {
        // As the run does: what came before an answer is done with.
        if (step.answer) {
            rig.engine().ClearReceived();
            rig.engine().SendAnswer(step.answer);
        }
        ASSERT_EQ(RaisedBy([&] { rig.engine().WaitForText(step.awaited); }), -1)
            << "waiting for " << step.awaited << " after '" << step.answer << "', received "
            << rig.engine().GetReceived() << "; the boot loader saw "
            << ::testing::PrintToString(rig.Events());
        if (step.answer) {
            const std::string echo = std::string(1, step.answer) + "\r\n";
            EXPECT_EQ(rig.engine().GetReceived().find(echo) != std::string::npos, step.echoed)
                << "'" << step.answer << "' before " << step.awaited;
        }
    }
    std::vector<std::string> seen;
    bool errors = false;
    for (const std::string& event : rig.Events()) {
        const std::string what = event.substr(0, event.find(' '));
        if (what == "prompt" || what == "answer" || what == "wrong-answer") seen.push_back(event);
        errors = errors || what == "error";
    }
    // The boot loader may go on after the last prompt the engine waited for.
    ASSERT_GE(seen.size(), c.seen.size());
    seen.resize(c.seen.size());
    EXPECT_EQ(seen, c.seen);
    EXPECT_FALSE(c.faultless && errors) << "the engine broke a rule of the console";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SimConsole,
    ::testing::Values(ConsoleCase{"KernelMenuAnsweredThenTheImageIsRequested",
                                  BootStage::KernelMenu,
                                  {},
                                  {{0, BootLoader::kKernelMenuPrompt, false}, {'k', "CCC", true}},
                                  {"prompt kernel-menu", "answer k", "prompt kernel"},
                                  true},
                      ConsoleCase{"AWrongLetterGetsTheQuestionAgain",
                                  BootStage::EraseKernel,
                                  {},
                                  {{0, BootLoader::kEraseKernelPrompt, false},
                                   {'x', BootLoader::kEraseKernelPrompt, false},
                                   {'y', BootLoader::kPowerCyclePrompt, true},
                                   {0, BootLoader::kKernelMenuPrompt, false}},
                                  {"prompt erase-kernel", "wrong-answer x", "prompt erase-kernel",
                                   "answer y", "prompt erase-kernel", "prompt kernel-menu"},
                                  false},
                      ConsoleCase{"PromptsSplitAcrossReadsAndNoisyLinesAreStillFound",
                                  BootStage::EraseKernel,
                                  Noisy(),
                                  {{0, BootLoader::kEraseKernelPrompt, false},
                                   {'y', BootLoader::kPowerCyclePrompt, true}},
                                  {"prompt erase-kernel", "answer y", "prompt erase-kernel"},
                                  true}),
    [](const ::testing::TestParamInfo<ConsoleCase>& param) { return param.param.name; });

struct ReaderUi final : IReaderUi {
    std::string GetSelectedPortText() override { return "COM51"; }
    void ReportIdentity(bool, bool) override {}
};

bool Exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

TEST(SimFormat, FormattingDrivesTheBarToItsEndAndReportsBadPages) {
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
