// The image sender and the simulated receiver over real pseudo-terminals paced at 115200
// baud: against each other with the receiver's faults, and each against lrzsz, an XMODEM
// implementation nobody here wrote.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <thread>

#include "child_process.h"
#include "fakes.h"
#include "flash/xmodem.h"
#include "serial/comm_posix.h"
#include "sim/paced_line.h"
#include "sim/pty_pair.h"
#include "sim/xmodem_receiver.h"

namespace {

using namespace xmodem;

std::string PatternFile(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + i / 256) & 0xFF);
    return bytes;
}

// What an XMODEM receiver keeps: the file and the fill of its last block (a whole number of
// blocks is followed by one block of fill).
std::string Padded(std::string file) {
    file.resize((file.size() / kDataSize + 1) * kDataSize, static_cast<char>(kFill));
    return file;
}

std::string WriteTemp(const std::string& folder, const std::string& bytes) {
    const std::string path = folder + "/image.bin";
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

// Our sender on the device end of `device`: waits for the first "C", then SendImage.
int SendFromEngine(const std::string& device, const std::string& path) {
    RecordingUi ui;
    ui.port = "COM61";
    MapCommPort(61, device);
    TestEngine engine(ui);
    int raised = RaisedBy([&] {
        engine.OpenEnginePort();
        uint8_t c = 0;
        do {
            engine.ReadBytes(engine.Port(), &c, 1);
        } while (c != kRequest);
        auto file = std::make_unique<CFile>();
        if (!file->Open(path, CFile::modeRead)) throw 99;
        engine.SetCurrentFile(std::move(file));
        engine.SendImage();
    });
    engine.Close();
    return raised;
}

struct FaultCase {
    const char* name;
    ReceiverFaults faults;
    int raised;
};

TEST(XmodemOverPty, SenderAgainstTheSimulatedReceiver) {
    ReceiverFaults nakTwice;
    nakTwice.nakBlock[2] = 2;
    ReceiverFaults nakLast;
    nakLast.nakBlock[8] = 1;  // 1000 bytes: block 8 is the last
    ReceiverFaults nakThrice;
    nakThrice.nakBlock[3] = 3;
    ReceiverFaults requests;
    requests.requestsBeforeAck = 3;
    ReceiverFaults eotNak;
    eotNak.eotNaks = 1;
    ReceiverFaults cancel;
    cancel.canAfterBlock = 4;
    const FaultCase cases[] = {
        {"clean line", {}, -1},
        {"block 2 refused twice", nakTwice, -1},
        {"last block refused once", nakLast, -1},
        {"request letters before every ACK", requests, -1},
        {"first EOT refused", eotNak, -1},
        {"block 3 refused three times", nakThrice, ResultNakLimit},
        {"cancelled after block 4", cancel, ResultProtocol},
    };
    const std::string folder = MakeTempFolder("xmodem_sim");
    const std::string file = PatternFile(1000);
    const std::string path = WriteTemp(folder, file);
    for (const auto& c : cases) {
        PtyPair pty;
        ASSERT_TRUE(pty.Create(""));
        PacedLine line(pty.MasterFd(), LineTiming{});
        XmodemReceiver receiver(line, c.faults, 50, 1500);
        std::vector<std::string> errors;
        receiver.SetErrorObserver(
            [&errors](const SimFault& fault) { errors.push_back(fault.what); });
        std::vector<uint8_t> image;
        ReceiveStatus status = ReceiveStatus::LineLost;
        std::thread sim([&] { status = receiver.Receive(&image); });
        EXPECT_EQ(SendFromEngine(pty.DevicePath(), path), c.raised) << c.name;
        sim.join();
        EXPECT_EQ(errors, std::vector<std::string>{}) << c.name;
        if (c.raised == -1) {
            EXPECT_EQ(status, ReceiveStatus::Complete) << c.name;
            EXPECT_EQ(std::string(image.begin(), image.end()), Padded(file)) << c.name;
        }
    }
}

// rx flushes its input after every ACK and, on a tty, its output as it exits; through pipes
// neither flush loses a byte. The relay paces rx's side of the line at 115200 baud.
TEST(XmodemPeers, OurSenderToLrzszRx) {
    const std::string folder = MakeTempFolder("xmodem_rx");
    const std::string file = PatternFile(5000);
    const std::string path = WriteTemp(folder, file);
    PtyPair pty;
    ASSERT_TRUE(pty.Create(""));
    PacedLine line(pty.MasterFd(), LineTiming{});
    int toRx[2], fromRx[2];
    ASSERT_EQ(pipe(toRx), 0);
    ASSERT_EQ(pipe(fromRx), 0);
    ChildProcess rx = SpawnChild({"rx", "-X", "-c", "-q", "out.bin"}, folder, toRx[0], fromRx[1]);
    close(toRx[0]);
    close(fromRx[1]);
    std::atomic<bool> done{false};
    std::thread down([&] {
        uint8_t buffer[256];
        while (!done) {
            const size_t got = line.Receive(buffer, sizeof(buffer), 100, 2);
            if (got && write(toRx[1], buffer, got) != static_cast<ssize_t>(got)) break;
        }
    });
    std::thread up([&] {
        uint8_t buffer[256];
        ssize_t got;
        while ((got = read(fromRx[0], buffer, sizeof(buffer))) > 0) line.Send(buffer, got);
    });
    EXPECT_EQ(SendFromEngine(pty.DevicePath(), path), -1);
    EXPECT_EQ(WaitChild(rx, 20000), 0);
    done = true;
    close(toRx[1]);
    down.join();
    up.join();
    close(fromRx[0]);
    EXPECT_EQ(ReadWholeFile(folder + "/out.bin"), Padded(file));
}

TEST(XmodemPeers, LrzszSxToTheSimulatedReceiver) {
    const std::string folder = MakeTempFolder("xmodem_sx");
    const std::string file = PatternFile(3000);
    const std::string path = WriteTemp(folder, file);
    PtyPair pty;
    ASSERT_TRUE(pty.Create(""));
    PacedLine line(pty.MasterFd(), LineTiming{});
    XmodemReceiver receiver(line, {}, 100, 5000);
    std::vector<std::string> errors;
    receiver.SetErrorObserver([&errors](const SimFault& fault) { errors.push_back(fault.what); });
    std::vector<uint8_t> image;
    ReceiveStatus status = ReceiveStatus::LineLost;
    std::thread sim([&] { status = receiver.Receive(&image); });
    const int tty = open(pty.DevicePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(tty, 0);
    ChildProcess sx = SpawnChild({"sx", "-X", "-q", path}, folder, tty, tty);
    close(tty);
    EXPECT_EQ(WaitChild(sx, 20000), 0);
    sim.join();
    EXPECT_EQ(errors, std::vector<std::string>{});
    EXPECT_EQ(status, ReceiveStatus::Complete);
    EXPECT_EQ(std::string(image.begin(), image.end()), Padded(file));
}

}  // namespace
