// Data files into the simulated controller's file service over a paced pseudo-terminal: the
// files land byte for byte, and the sender rides out the controller's faults. Then files
// written and read back out of one running kernel, as a check after writing does: what the
// kernel serves back and the read faults that only a written controller shows.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <mutex>
#include <thread>

#include "child_process.h"
#include "fakes.h"
#include "identity/read_thread.h"
#include "serial/comm_posix.h"
#include "sim/file_service.h"
#include "sim/paced_line.h"
#include "sim/pty_pair.h"

namespace {

std::string Pattern(size_t size, int salt) {
    std::string s(size, '\0');
    for (size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 13 + salt + i / 251) & 0xFF);
    return s;
}

class SimFiles : public ::testing::Test {
  protected:
    // Sends the folder to a file service with `faults`; the raised code (-1: none).
    int SendFolder(FileServiceFaults faults) {
        PtyPair pty;
        EXPECT_TRUE(pty.Create(""));
        PacedLine line(pty.MasterFd(), LineTiming{});
        FileService service(line, m_dir + "/flash", faults, 1500);
        service.SetObserver([this](const FileServiceEvent& e) {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (e.what == "error") m_errors.push_back(e.detail);
        });
        std::thread sim([&] { service.Serve(); });
        RecordingUi ui;
        ui.port = "COM62";
        MapCommPort(62, pty.DevicePath());
        TestEngine engine(ui);
        const int raised = RaisedBy([&] { engine.SendDataFolder(); });
        engine.Close();
        sim.join();
        return raised;
    }

    WorkFolder m_folder{"data_sim", "data flash"};
    const std::string m_dir = m_folder.Path();
    std::mutex m_mutex;
    std::vector<std::string> m_errors;
};

TEST_F(SimFiles, EveryFileArrivesByteForByte) {
    // cfg.txt has F = 8, so 114 bytes ride in the command packet: 4386 is the first segment.
    const size_t sizes[] = {0, 1, 4385, 4386, 4387, 4500, 9000, 9001, 70000};
    std::map<std::string, std::string> files;
    int salt = 0;
    for (size_t size : sizes) {
        const std::string name = "f" + std::to_string(size) + ".txt";
        files[name] = Pattern(size, ++salt);
        std::ofstream("data/" + name, std::ios::binary) << files[name];
    }
    files[".hidden"] = "shown to the controller too";
    std::ofstream("data/.hidden", std::ios::binary) << files[".hidden"];
    ASSERT_EQ(SendFolder({}), -1);
    for (const auto& [name, content] : files) {
        EXPECT_EQ(ReadWholeFile(m_dir + "/flash/" + name), content) << name;
    }
    EXPECT_TRUE(m_errors.empty()) << m_errors.front();
}

TEST_F(SimFiles, SenderRidesOutTheControllersFaults) {
    struct Case {
        const char* name;
        FileServiceFaults faults;
        int raised;
    };
    FileServiceFaults badStatus, wrongSeq, shortReply, busy;
    badStatus.badStatusPacket = 3;
    wrongSeq.wrongSeqPacket = 2;
    shortReply.shortReplyPacket = 4;
    busy.busyHandshakes = 2;
    const Case cases[] = {
        {"status 0x0014 to packet 3", badStatus, -1},
        {"wrong sequence number to packet 2", wrongSeq, -1},
        {"handshakes busy twice", busy, -1},
        {"a short reply", shortReply, ResultProtocol},
    };
    const std::string content = Pattern(9500, 7);
    std::ofstream("data/big.bin", std::ios::binary) << content;
    for (const auto& c : cases) {
        ASSERT_EQ(system("rm -f flash/*"), 0);
        m_errors.clear();
        EXPECT_EQ(SendFolder(c.faults), c.raised) << c.name;
        if (c.raised == -1) {
            EXPECT_EQ(ReadWholeFile(m_dir + "/flash/big.bin"), content) << c.name;
        }
        EXPECT_TRUE(m_errors.empty()) << c.name << ": " << m_errors.front();
    }
}

// One running kernel on its own line: the program writes files into it with the engine's
// SendDataFile and reads them back into back/ with the reader's FetchFile.
class RunningKernel {
  public:
    RunningKernel(FileServiceFaults faults, const std::string& folder)
        : m_service(m_line, folder, std::move(faults), kIdleMs) {
        m_service.SetObserver([this](const FileServiceEvent& e) {
            std::lock_guard<std::mutex> lock(m_mutex);
            events.push_back(e.what);
            if (e.what == "error") errors.push_back(e.detail);
        });
        m_sim = std::thread([this] { m_service.Serve(); });
        MapCommPort(63, m_pty.pair.DevicePath());
        m_reader.GetPortNumber();
        m_reader.SetTargetFolder("back\\");
    }
    ~RunningKernel() { Finish(); }
    // Waits for the kernel to fall idle.
    void Finish() {
        if (m_sim.joinable()) m_sim.join();
    }

    int Write(const std::string& name) {
        RecordingUi ui;
        ui.port = "COM63";
        TestEngine engine(ui);
        const int raised = RaisedBy([&] { engine.SendDataFile("data\\" + name); });
        engine.Close();
        return raised;
    }
    int Read(const std::string& name) { return m_reader.FetchFile(name); }
    size_t Count(const std::string& what) {
        std::lock_guard<std::mutex> lock(m_mutex);
        return static_cast<size_t>(std::count(events.begin(), events.end(), what));
    }

    std::vector<std::string> events;
    std::vector<std::string> errors;

  private:
    // Outlasts a read left unanswered (the reader's 2 s), so the next step finds it serving.
    static constexpr uint32_t kIdleMs = 3000;
    struct Ui final : IReaderUi {
        std::string GetSelectedPortText() override { return "COM63"; }
        void ReportIdentity(bool, bool) override {}
    };
    struct Pty {
        Pty() { EXPECT_TRUE(pair.Create("")); }
        PtyPair pair;
    } m_pty;
    PacedLine m_line{m_pty.pair.MasterFd(), LineTiming{}};
    FileService m_service;
    std::mutex m_mutex;
    std::thread m_sim;
    Ui m_ui;
    FakeClock m_clock;
    CReadThread m_reader{m_ui, SystemCommDriver(), m_clock};
};

// How a read-back copy compares with what the controller holds.
enum class Copy {
    AsHeld,       // byte for byte
    OneByteOff,   // same length, exactly one byte different
    OneByteMore,  // the file and one byte after it
    NoAnswer,     // ResultNoAnswer, the local copy as it was
    Failed,       // not ResultDone, the local copy as it was
};

struct Step {
    char op;  // 'w': the program writes `name`; 'r': reads it back
    const char* name;
    Copy copy;
};

const char kIdentity[] = "local_addres.dat";
const char kCalibration[] = "calib.inc";

std::string CompareCopy(Copy copy, int result, const std::string& got, const std::string& held,
                        const std::string& before) {
    const bool done = result == ResultDone;
    if (copy == Copy::NoAnswer || copy == Copy::Failed) {
        if (done || (copy == Copy::NoAnswer && result != ResultNoAnswer)) {
            return "result " + std::to_string(result);
        }
        return got == before ? "" : "the local copy changed";
    }
    if (!done) return "result " + std::to_string(result);
    size_t differ = 0;
    for (size_t i = 0; i < std::min(got.size(), held.size()); ++i) differ += got[i] != held[i];
    switch (copy) {
        case Copy::AsHeld:
            return got == held ? "" : "differs from what the controller holds";
        case Copy::OneByteOff:
            return got.size() == held.size() && differ == 1
                       ? ""
                       : std::to_string(differ) + " bytes changed, size " +
                             std::to_string(got.size());
        default:
            return got.size() == held.size() + 1 && differ == 0 ? "" : "not one byte more";
    }
}

TEST(ReadBack, WrittenFilesAreServedBackWithTheReadFaultsOfAWrittenController) {
    struct Case {
        const char* name;
        FileServiceFaults faults;
        bool folder;  // the flash file system is a folder (--files), holding both files
        size_t size;  // of the files the program writes
        std::vector<Step> steps;
    };
    FileServiceFaults none, once, twice, every, silentAfter, silentBefore;
    once.corruptReads[kIdentity] = 1;
    twice.corruptReads[kIdentity] = 2;
    every.corruptReads[kIdentity] = -1;
    silentAfter.silentAfterWrite = true;
    silentBefore.silentRead = true;
    const Case cases[] = {
        {"without a folder, three segments read back",
         none,
         false,
         9001,
         {{'w', kIdentity, Copy::AsHeld},
          {'r', kIdentity, Copy::AsHeld},
          {'r', kIdentity, Copy::AsHeld},
          {'r', kCalibration, Copy::Failed}}},
        {"corrupted once, then as written",
         once,
         false,
         700,
         {{'w', kIdentity, Copy::AsHeld},
          {'r', kIdentity, Copy::OneByteOff},
          {'r', kIdentity, Copy::AsHeld}}},
        {"corrupted twice, then as written",
         twice,
         false,
         700,
         {{'w', kIdentity, Copy::AsHeld},
          {'r', kIdentity, Copy::OneByteOff},
          {'r', kIdentity, Copy::OneByteOff},
          {'r', kIdentity, Copy::AsHeld}}},
        {"corrupted every time",
         every,
         false,
         700,
         {{'w', kIdentity, Copy::AsHeld},
          {'r', kIdentity, Copy::OneByteOff},
          {'r', kIdentity, Copy::OneByteOff},
          {'r', kIdentity, Copy::OneByteOff}}},
        {"an empty file corrupted gets a byte more",
         once,
         false,
         0,
         {{'w', kIdentity, Copy::AsHeld},
          {'r', kIdentity, Copy::OneByteMore},
          {'r', kIdentity, Copy::AsHeld}}},
        {"read before its own write: served as held, another file's write changes nothing",
         once,
         true,
         700,
         {{'r', kIdentity, Copy::AsHeld},
          {'w', kCalibration, Copy::AsHeld},
          {'r', kIdentity, Copy::AsHeld},
          {'w', kIdentity, Copy::AsHeld},
          {'r', kIdentity, Copy::OneByteOff},
          {'r', kCalibration, Copy::AsHeld}}},
        {"silent after a write: read before it, then no answer",
         silentAfter,
         true,
         700,
         {{'r', kIdentity, Copy::AsHeld},
          {'w', kCalibration, Copy::AsHeld},
          {'r', kIdentity, Copy::NoAnswer}}},
        {"silent before a write: read after it",
         silentBefore,
         true,
         700,
         {{'r', kIdentity, Copy::Failed},
          {'w', kIdentity, Copy::AsHeld},
          {'r', kIdentity, Copy::AsHeld}}},
    };
    for (const auto& c : cases) {
        WorkFolder work{"read_back", "data flash back"};
        std::map<std::string, std::string> held, local;
        int salt = 0;
        for (const std::string name : {kIdentity, kCalibration}) {
            std::ofstream("data/" + name, std::ios::binary) << Pattern(c.size, ++salt);
            local[name] = "the user's own " + name;
            std::ofstream("back/" + name, std::ios::binary) << local[name];
            if (!c.folder) continue;
            held[name] = Pattern(500, salt + 10);
            std::ofstream("flash/" + name, std::ios::binary) << held[name];
        }
        size_t altered = 0, unanswered = 0;
        RunningKernel kernel(c.faults, c.folder ? work.Path() + "/flash" : "");
        for (size_t i = 0; i < c.steps.size(); ++i) {
            const Step& step = c.steps[i];
            const std::string where = std::string(c.name) + ", step " + std::to_string(i + 1);
            if (step.op == 'w') {
                EXPECT_EQ(kernel.Write(step.name), -1) << where;
                held[step.name] = ReadWholeFile(std::string("data/") + step.name);
                continue;
            }
            const int result = kernel.Read(step.name);
            const std::string got = ReadWholeFile(std::string("back/") + step.name);
            EXPECT_EQ(CompareCopy(step.copy, result, got, held[step.name], local[step.name]), "")
                << where;
            local[step.name] = got;
            altered += step.copy == Copy::OneByteOff || step.copy == Copy::OneByteMore;
            // A request taken and then left without its file is "unanswered" too.
            unanswered +=
                step.copy == Copy::NoAnswer || (step.copy == Copy::Failed && c.faults.silentRead);
        }
        kernel.Finish();
        EXPECT_EQ(kernel.Count("corrupt"), altered) << c.name;
        EXPECT_EQ(kernel.Count("unanswered"), unanswered) << c.name;
        EXPECT_TRUE(kernel.errors.empty()) << c.name << ": " << kernel.errors.front();
    }
}

}  // namespace
