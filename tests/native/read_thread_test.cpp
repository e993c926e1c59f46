// The identity reader against the simulated controller's read service over a paced
// pseudo-terminal, and its requests byte for byte.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <mutex>
#include <thread>

#include "child_process.h"
#include "flash/packet.h"
#include "identity/read_thread.h"
#include "scripted_rig.h"
#include "serial/comm_posix.h"
#include "sim/file_service.h"
#include "sim/pty_pair.h"

namespace {

TEST(ReadRequest, WorkedExamplesByteForByte) {
    const std::vector<uint8_t> identity = BuildReadRequest("local_addres.dat");
    std::vector<uint8_t> expected = {0xAA, 0xAA, 0x16, 0x00, 0x01, 0x00,
                                     0xC0, 0x01, 0x31, 0x00, 0x12, 0x00};
    for (char c : std::string("local_addres.dat")) expected.push_back(static_cast<uint8_t>(c));
    expected.push_back(0x00);
    expected.push_back(0xCD);
    EXPECT_EQ(identity, expected);

    const std::vector<uint8_t> calibration = BuildReadRequest("calib.inc");
    expected = {0xAA, 0xAA, 0x0E, 0x00, 0x01, 0x00, 0x02, 0x01, 0x31, 0x00, 0x0A, 0x00};
    for (char c : std::string("calib.inc")) expected.push_back(static_cast<uint8_t>(c));
    expected.push_back(0x00);
    EXPECT_EQ(calibration, expected);

    EXPECT_EQ(BuildContinuation(),
              (std::vector<uint8_t>{0xAA, 0xAA, 0x01, 0x00, 0x01, 0x00, 0x89, 0x01, 0x32}));
}

// The controller holds `files`; the reader fetches into data\.
class ReadRig {
  public:
    explicit ReadRig(FileServiceFaults faults) : m_faults(faults) {}

    void Hold(const std::string& name, const std::string& content) {
        std::ofstream(m_folder.Path() + "/flash/" + name, std::ios::binary) << content;
    }

    // Runs `body` with a reader against the controller, which must not have seen the program
    // break the protocol.
    void With(const std::function<void(CReadThread&)>& body) {
        PtyPair pty;
        ASSERT_TRUE(pty.Create(""));
        PacedLine line(pty.MasterFd(), LineTiming{});
        FileService service(line, m_folder.Path() + "/flash", m_faults, 1200);
        service.SetObserver([this](const FileServiceEvent& e) {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (e.what == "error") errors.push_back(e.detail);
        });
        std::thread sim([&] { service.Serve(); });
        MapCommPort(81, pty.DevicePath());
        CReadThread reader(ui, SystemCommDriver(), clock);
        reader.GetPortNumber();
        body(reader);
        sim.join();
        EXPECT_EQ(errors, std::vector<std::string>{});
    }

    std::string Local(const std::string& name) { return ReadWholeFile("data/" + name); }
    bool HasLocal(const std::string& name) { return CFile::Exists("data/" + name); }

    ReaderUi ui;
    FakeClock clock;
    std::vector<std::string> errors;

  private:
    WorkFolder m_folder{"read_rig", "data flash"};
    FileServiceFaults m_faults;
    std::mutex m_mutex;
};

std::string Pattern(size_t size, int salt) {
    std::string s(size, '\0');
    for (size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 29 + salt) & 0xFF);
    return s;
}

struct FetchCase {
    const char* name;
    FileServiceFaults faults;
    size_t size;
    int result;
};

// Every read is bounded by the port's time-outs, but a controller that answers each refusal with
// another damaged packet (or refuses the continuation for ever) must not hold the reader for ever.
TEST(IdentityReader, AControllerThatNeverSendsAGoodPacketIsGivenUp) {
    enum class Endless { BadSums, Refusals, Repeats };
    struct Case {
        const char* name;
        Endless endless;  // refusals: a second segment whose continuation is never accepted;
                          // repeats: packet 1 again after every acknowledgement
    };
    for (const Case& c :
         {Case{"endless bad sums", Endless::BadSums}, Case{"endless refusals", Endless::Refusals},
          Case{"endless repeats", Endless::Repeats}}) {
        PortScript script;
        script.onWrite = [&c](const std::string& bytes, PortScript& s) {
            const std::string ok("\x55\x55\x0A\x00\x01\x00", 6);
            const std::string refused("\x55\x55\x14\x00\x01\x00", 6);
            if (bytes.size() > 6 && bytes[8] == 0x31) {  // the read request
                s.reads.push_back({ok});
                return;
            }
            if (bytes.size() > 6) {  // the continuation command
                s.reads.push_back({refused});
                return;
            }
            const uint8_t payload[10] = {1, 0, 1, 0, 0, 0, 'a', 'b', 'c', 0};
            std::vector<uint8_t> p =
                packet::Build(1, c.endless != Endless::Repeats, payload, sizeof(payload));
            if (c.endless == Endless::BadSums) p[6] ^= 0x01;
            if (c.endless == Endless::Refusals && bytes[2] == 0x0A && bytes[4] == 1) {
                s.reads.push_back({refused});  // the segment is over: "not ready", for ever
                return;
            }
            s.reads.push_back({std::string(p.begin(), p.begin() + 8)});
            s.reads.push_back({std::string(p.begin() + 8, p.end())});
        };
        ScriptedDriver driver(script);
        ReaderUi ui;
        FakeClock clock;
        CReadThread reader(ui, driver, clock);
        reader.GetPortNumber();
        WorkFolder work("read_endless", "data");
        EXPECT_EQ(reader.FetchFile("calib.inc"), ResultIoError) << c.name;
        EXPECT_LT(script.readCalls, 400u) << c.name;
    }
}

// Closing the assistant while it reads: the reader stops at once, in the controller's silence
// or in the pause before its retry, fetches nothing more and leaves nothing in data\.
TEST(IdentityReader, AStopEndsTheReadingAtOnce) {
    struct Case {
        const char* name;
        FileServiceFaults faults;
        bool stopInPause;  // else 500 ms into the reading
    };
    FileServiceFaults silent, refused;
    silent.silentRead = true;
    refused.refuseRequests = -1;
    for (const Case& c : {Case{"controller silent", silent, false},
                          Case{"the pause before the retry", refused, true}}) {
        ReadRig rig(c.faults);
        rig.Hold("local_addres.dat", "EMAC=00:1A:2B:3C:4D:5E\r\nIP=C0:A8:01:0A\r\n");
        rig.Hold("calib.inc", "calibration");
        double stopToEndMs = -1;
        rig.With([&](CReadThread& reader) {
            reader.SetDevice("ПЛК-317");
            std::chrono::steady_clock::time_point stoppedAt;
            if (c.stopInPause) {
                rig.clock.onSleep = [&](uint32_t) {
                    stoppedAt = std::chrono::steady_clock::now();
                    reader.RequestStop();
                };
            }
            ASSERT_TRUE(reader.StartThread());
            if (!c.stopInPause && !reader.WaitThread(500)) {
                stoppedAt = std::chrono::steady_clock::now();
                reader.RequestStop();
            }
            ASSERT_TRUE(reader.WaitThread(30000));
            stopToEndMs = std::chrono::duration<double, std::milli>(
                              std::chrono::steady_clock::now() - stoppedAt)
                              .count();
        });
        EXPECT_LT(stopToEndMs, 1500) << c.name << ": the stop waited for a time-out";
        EXPECT_LE(rig.clock.sleeps.size(), 1u) << c.name << ": no retry after the stop";
        EXPECT_EQ(rig.ui.reports, (std::vector<std::pair<bool, bool>>{{false, false}})) << c.name;
        EXPECT_FALSE(rig.HasLocal("local_addres.dat") || rig.HasLocal("calib.inc")) << c.name;
    }
}

TEST(IdentityReader, FetchCopiesTheFileAndSurvivesTheControllersFaults) {
    FileServiceFaults refuseFirst, refuseTwice, badSum, refusal, twoBytes, none;
    FileServiceFaults repeatFirst, repeatThird, repeatAfterBadSum;
    refuseFirst.refuseRequests = 1;
    refuseTwice.refuseRequests = 2;
    badSum.badSumPacket = 2;
    repeatFirst.repeatPacket = 1;
    repeatThird.repeatPacket = 3;
    repeatAfterBadSum.badSumPacket = 3;
    repeatAfterBadSum.repeatPacket = 3;
    refusal.refusalBeforePacket = 2;
    twoBytes.twoBytePayload = true;
    const FetchCase cases[] = {
        {"a one-packet file", none, 40, ResultDone},
        {"an empty file", none, 0, ResultDone},
        {"three segments appended", none, 10000, ResultDone},
        {"exactly one segment", none, 4500, ResultDone},
        {"first request refused: asked again", refuseFirst, 40, ResultDone},
        {"two refusals: the third sending ends with 10", refuseTwice, 40, ResultIoError},
        {"a bad sum is refused and the good copy taken", badSum, 700, ResultDone},
        {"a refusal where a header is due", refusal, 700, ResultDone},
        // The controller lost our acknowledgement and sends the packet again: kept once.
        {"packet 3 sent again", repeatThird, 1000, ResultDone},
        {"packet 1 sent again, its sub-header with it", repeatFirst, 1000, ResultDone},
        {"packet 3 refused, then its good copy sent twice", repeatAfterBadSum, 1000, ResultDone},
        {"a two-byte payload ends with 7", twoBytes, 700, CReadThread::kTwoBytePayload},
    };
    for (const auto& c : cases) {
        ReadRig rig(c.faults);
        const std::string content = Pattern(c.size, static_cast<int>(c.size));
        rig.Hold("local_addres.dat", content);
        int result = -1;
        rig.With([&](CReadThread& reader) { result = reader.FetchFile("local_addres.dat"); });
        EXPECT_EQ(result, c.result) << c.name;
        if (c.result == ResultDone) {
            EXPECT_EQ(rig.Local("local_addres.dat"), content) << c.name;
        } else {
            EXPECT_FALSE(rig.HasLocal("local_addres.dat")) << c.name;
        }
        EXPECT_FALSE(rig.HasLocal(PartialCopyName("local_addres.dat"))) << c.name;
    }
}

// Nothing answers the request: the one six-byte read ends after 2000 + 20 x 6 ms with 5, and
// the identity file already in data\ stays as it was.
TEST(IdentityReader, ASilentControllerEndsTheFetchAfterTheReadTimeOut) {
    WorkFolder work("read_silent", "data");
    std::ofstream("data/local_addres.dat", std::ios::binary) << "the user's own";
    PtyPair pty;
    ASSERT_TRUE(pty.Create(""));
    MapCommPort(81, pty.DevicePath());
    ReaderUi ui;
    FakeClock clock;
    CReadThread reader(ui, SystemCommDriver(), clock);
    reader.GetPortNumber();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(reader.FetchFile("local_addres.dat"), ResultNoAnswer);
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GE(ms, 2115);
    EXPECT_LT(ms, 2900);
    EXPECT_EQ(ReadWholeFile("data/local_addres.dat"), "the user's own");
    EXPECT_FALSE(CFile::Exists("data/" + PartialCopyName("local_addres.dat")));
}

TEST(IdentityReader, AFailedFetchLeavesTheFileThatWasThere) {
    FileServiceFaults twoBytes;
    twoBytes.twoBytePayload = true;
    ReadRig rig(twoBytes);
    rig.Hold("local_addres.dat", "EMAC=11:22:33:44:55:66\r\nIP=0A:00:00:01\r\n");
    std::ofstream("data/local_addres.dat", std::ios::binary) << "the user's own";
    rig.With([&](CReadThread& reader) { reader.FetchFile("local_addres.dat"); });
    EXPECT_EQ(rig.Local("local_addres.dat"), "the user's own");
}

TEST(IdentityReader, RunFetchesCalibrationOnlyForTheTwoModels) {
    struct Case {
        const char* device;
        bool holdIdentity;
        std::pair<bool, bool> report;
        std::vector<uint32_t> pauses;
    };
    const Case cases[] = {
        {"PLC-317", true, {true, true}, {}},
        {"ПЛК318-2", true, {true, true}, {}},
        {"PLC-100", true, {true, false}, {}},
        {"PLC-100", false, {false, false}, {5000}},  // missing: retried once after 5 s
    };
    for (const auto& c : cases) {
        ReadRig rig({});
        if (c.holdIdentity) rig.Hold("local_addres.dat", "EMAC=00:1A:2B:3C:4D:5E\r\n");
        rig.Hold("calib.inc", Pattern(300, 3));
        rig.With([&](CReadThread& reader) {
            reader.SetDevice(c.device);
            ASSERT_TRUE(reader.StartThread());
            ASSERT_TRUE(reader.WaitThread(60000));
        });
        ASSERT_EQ(rig.ui.reports.size(), 1u) << c.device;
        EXPECT_EQ(rig.ui.reports[0], c.report) << c.device;
        EXPECT_EQ(rig.clock.sleeps, c.pauses) << c.device;
        EXPECT_EQ(rig.HasLocal("calib.inc"), c.report.second) << c.device;
    }
}

// The page takes the reading from the reader, never from data\: a folder that cannot be written
// costs only the copy on disk, not the reading.
TEST(IdentityReader, TheReadingIsKeptInMemoryWhateverTheFolder) {
    const std::string identity = "EMAC=00:1A:2B:3C:4D:5E\r\nIP=C0:A8:01:0A\r\n";
    const std::string calibration = Pattern(700, 5);
    for (const bool writable : {true, false}) {
        ReadRig rig({});
        rig.Hold("local_addres.dat", identity);
        rig.Hold("calib.inc", calibration);
        // A plain file where the folder should be: nothing can be written into data\.
        if (!writable) {
            ASSERT_EQ(system("rm -rf data && touch data"), 0);
        }
        rig.With([&](CReadThread& reader) {
            reader.SetDevice("ПЛК-317");
            ASSERT_TRUE(reader.StartThread());
            ASSERT_TRUE(reader.WaitThread(60000));
            EXPECT_EQ(reader.Identity(), identity) << writable;
            EXPECT_EQ(reader.Calibration(), calibration) << writable;
            EXPECT_EQ(reader.FolderNotUpdated(), !writable);
            EXPECT_FALSE(reader.PortNotOpened());
        });
        ASSERT_EQ(rig.ui.reports.size(), 1u);
        EXPECT_EQ(rig.ui.reports[0], std::make_pair(true, true)) << writable;
        EXPECT_TRUE(rig.clock.sleeps.empty()) << "no retry for a good reading";
        if (writable) {
            EXPECT_EQ(rig.Local("local_addres.dat"), identity);
        }
    }
}

// A port another program (or another copy of this one) holds is said at once: no pause and no
// second try, and no try for the calibration.
TEST(IdentityReader, APortHeldElsewhereIsReportedAtOnce) {
    WorkFolder work("read_held", "data");
    PtyPair pty;
    ASSERT_TRUE(pty.Create(""));
    const std::unique_ptr<CommPort> holder = OpenTtyPath(pty.DevicePath());
    ASSERT_TRUE(holder);
    MapCommPort(81, pty.DevicePath());
    ReaderUi ui;
    FakeClock clock;
    CReadThread reader(ui, SystemCommDriver(), clock);
    reader.GetPortNumber();
    reader.SetDevice("ПЛК-317");
    ASSERT_TRUE(reader.StartThread());
    ASSERT_TRUE(reader.WaitThread(10000));
    ASSERT_EQ(ui.reports.size(), 1u);
    EXPECT_EQ(ui.reports[0], std::make_pair(false, false));
    EXPECT_TRUE(reader.PortNotOpened());
    EXPECT_TRUE(clock.sleeps.empty());
    EXPECT_TRUE(reader.Identity().empty());
}

}  // namespace
