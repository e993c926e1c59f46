// Data files into the simulated controller's file service over a paced pseudo-terminal: the
// files land byte for byte, and the sender rides out the controller's faults.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <mutex>
#include <thread>

#include "child_process.h"
#include "fakes.h"
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

}  // namespace
