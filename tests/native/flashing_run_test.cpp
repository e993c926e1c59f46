// Whole reflashing runs of the engine against the simulated controller over a paced
// pseudo-terminal: what the controller ends up holding, what the user is shown, and how each
// kind of failure ends the run.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <mutex>
#include <thread>

#include "child_process.h"
#include "fakes.h"
#include "flash/crc32.h"
#include "flash/log_file.h"
#include "flash/math_thread.h"
#include "serial/comm_posix.h"
#include "sim/bootloader.h"
#include "sim/pty_pair.h"

namespace {

std::string Pattern(size_t size, int salt) {
    std::string s(size, '\0');
    for (size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 17 + salt + i / 253) & 0xFF);
    return s;
}

std::string Padded(std::string image) {
    image.resize((image.size() / 128 + 1) * 128, '\x1a');
    return image;
}

struct RunSetup {
    size_t loaderSize = 1500;
    size_t kernelSize = 5000;
    std::vector<std::pair<std::string, size_t>> data = {
        {"local_addres.dat", 40}, {"calib.inc", 700}, {"program.bin", 5000}};
    bool format = false;
    bool realClock = false;
    uint32_t simIdleMs = 5000;
    std::string device = "ПЛК-317";
    uint32_t stopAfterMs = 0;  // a stop this long after the start, unless the run ended
    BootOptions boot;
};

class FlashRun {
  public:
    explicit FlashRun(const RunSetup& setup) : m_setup(setup) {
        m_loader = Pattern(setup.loaderSize, 1);
        m_kernel = Pattern(setup.kernelSize, 2);
        std::ofstream("system/Floader.bin", std::ios::binary) << m_loader;
        std::ofstream("system/Ethernet.bin", std::ios::binary) << m_kernel;
        int salt = 10;
        for (const auto& [name, size] : setup.data) {
            m_data[name] = Pattern(size, ++salt);
            std::ofstream("data/" + name, std::ios::binary) << m_data[name];
        }
    }

    // Runs the engine on its own thread, as the progress page does; the result code.
    int Go() {
        PtyPair pty;
        EXPECT_TRUE(pty.Create(""));
        PacedLine line(pty.MasterFd(), LineTiming{});
        BootOptions boot = m_setup.boot;
        boot.requestIntervalMs = 300;  // over the engine's 200 ms read interval, as real ones are
        boot.manualStepMs = 50;
        boot.idleTimeoutMs = m_setup.simIdleMs;
        boot.filesFolder = m_folder.Path() + "/flash";
        BootLoader loader(line, boot);
        loader.SetObserver([this](const BootEvent& e) {
            std::lock_guard<std::mutex> lock(m_mutex);
            events.push_back(e.what + " " + e.detail);
            if (e.what == "image") images.emplace_back(e.data.begin(), e.data.end());
        });
        std::thread sim([&] { loader.Run(); });

        MapCommPort(71, pty.DevicePath());
        ui.port = "COM71";
        ui.format = m_setup.format;
        CMathThread engine(ui, SystemCommDriver(), m_setup.realClock ? SystemClock() : m_clock);
        engine.SetDevice(m_setup.device);
        engine.SetRunLog(log);
        m_engine = &engine;
        EXPECT_TRUE(engine.StartThread());
        std::thread stopper;
        if (m_setup.stopAfterMs) {
            stopper = std::thread([&] {
                if (!engine.WaitThread(m_setup.stopAfterMs)) StopNow();
            });
        }
        EXPECT_TRUE(engine.WaitThread(120000));
        ended = std::chrono::steady_clock::now();
        if (stopper.joinable()) stopper.join();
        portLeftOpen = engine.HoldsPort();
        faultyFile = engine.GetFaultyFile();
        fault = engine.GetFault();
        m_engine = nullptr;
        sim.join();
        EXPECT_EQ(ui.results.size(), 1u);
        // The controller refuses what breaks its protocol, whatever the run's result.
        for (const auto& e : events) EXPECT_NE(e.rfind("error ", 0), 0u) << e;
        if (getenv("PLCFLASH_TEST_TRACE")) {
            for (const auto& e : events) fprintf(stderr, "sim: %s\n", e.c_str());
            for (const auto& m : ui.messages) fprintf(stderr, "box: %s\n", m.c_str());
            for (const auto& m : ui.statuses) fprintf(stderr, "status: %s\n", m.c_str());
        }
        return ui.results.empty() ? -1 : ui.results.back();
    }

    CMathThread* Engine() { return m_engine; }
    // On any thread: the user's Cancel.
    void StopNow() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (stopped) return;
            stopped = true;
            stoppedAt = std::chrono::steady_clock::now();
            eventsAtStop = events.size();
            boxesAtStop = ui.messages.size();
        }
        m_engine->RequestStop();
    }
    double StopToEndMs() const {
        return std::chrono::duration<double, std::milli>(ended - stoppedAt).count();
    }
    bool Saw(const std::string& event) {
        return std::find(events.begin(), events.end(), event) != events.end();
    }
    long Count(const std::string& event) { return std::count(events.begin(), events.end(), event); }
    std::string Stored(const std::string& name) {
        return ReadWholeFile(m_folder.Path() + "/flash/" + name);
    }

    RecordingUi ui;
    FakeClock m_clock;
    std::vector<std::string> events;
    std::vector<std::string> images;
    std::string faultyFile;
    FileFault fault = FileFault::None;
    bool stopped = false;
    std::chrono::steady_clock::time_point stoppedAt, ended;
    size_t eventsAtStop = 0;
    size_t boxesAtStop = 0;
    bool portLeftOpen = false;
    std::shared_ptr<CRunLog> log = std::make_shared<CRunLog>();
    std::string m_loader, m_kernel;
    std::map<std::string, std::string> m_data;

    void SetSetup(const RunSetup& setup) { m_setup = setup; }

  private:
    WorkFolder m_folder{"flash_run", "system data flash"};
    RunSetup m_setup;
    std::mutex m_mutex;
    CMathThread* m_engine = nullptr;
};

const char kJumper[] = "Снимите джампер и нажмите OK!";
const char kReset[] = "Нажмите Reset на ПЛК и затем OK! ";

TEST(FlashingRun, GoodRunWithoutFormattingAtTheProductsOwnPauses) {
    RunSetup setup;
    setup.realClock = true;
    FlashRun run(setup);
    ASSERT_EQ(run.Go(), ResultDone);
    ASSERT_EQ(run.images.size(), 3u);
    EXPECT_EQ(run.images[0], Padded(run.m_loader));
    EXPECT_EQ(run.images[1], Padded(run.m_loader));
    EXPECT_EQ(run.images[2], Padded(run.m_kernel));
    for (const auto& [name, content] : run.m_data) EXPECT_EQ(run.Stored(name), content) << name;
    EXPECT_EQ(run.ui.messages, (std::vector<std::string>{kJumper, kReset, kReset}));
    EXPECT_EQ(run.ui.captions.front(), "Обновления прошивки ПЛК-317");
    EXPECT_TRUE(run.Saw("answer b") && run.Saw("answer y") && run.Saw("answer k"));
    EXPECT_TRUE(run.Saw("answer n"));
    EXPECT_GE(run.ui.positions.back(), 100u);  // the bar reached its end with the kernel
    EXPECT_EQ(run.ui.statuses.front(),
              "Передача файлов произошла удачно.\nПодождите пока произойдет настройка!");
    const std::vector<std::string> tail(run.ui.statuses.end() - 3, run.ui.statuses.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"Идет запись файла: " + run.m_data.rbegin()->first,
                                              "Идет проверка записи файла: local_addres.dat",
                                              "Идет проверка записи файла: calib.inc"}));
    EXPECT_TRUE(run.ui.appMessages.empty());
    // The log holds every image's CRC-32 and every phase.
    const std::string block = run.log->Compose();
    EXPECT_NE(block.find(Crc32Text(Crc32(run.m_kernel.data(), run.m_kernel.size()))),
              std::string::npos)
        << block;
    EXPECT_EQ(run.log->Value("Проверка записи local_addres.dat"), "совпадает");
}

TEST(FlashingRun, ReadBackCatchesWhatTheControllerStoredWrong) {
    struct Case {
        const char* name;
        std::function<void(RunSetup&)> arrange;
        int result;
        std::string faulty;
        FileFault fault;
        long identityWrites;
        long calibrationWrites;
    };
    const Case cases[] = {
        {"damaged once: written again, then equal",
         [](RunSetup& s) { s.boot.fileFaults.corruptReads["local_addres.dat"] = 1; }, ResultDone,
         "", FileFault::None, 2, 1},
        {"damaged every time: the run fails naming it",
         [](RunSetup& s) { s.boot.fileFaults.corruptReads["calib.inc"] = -1; }, ResultCheckFailed,
         "data\\calib.inc", FileFault::DiffersOnController, 1, 2},
        {"no answer to reads after the writes",
         [](RunSetup& s) { s.boot.fileFaults.silentAfterWrite = true; }, ResultCheckFailed,
         "data\\local_addres.dat", FileFault::NotReadBack, 1, 1},
        {"a model without calibration does not check calib.inc",
         [](RunSetup& s) {
             s.device = "ПЛК-110";
             s.boot.fileFaults.corruptReads["calib.inc"] = -1;
         },
         ResultDone, "", FileFault::None, 1, 1},
    };
    for (const auto& c : cases) {
        RunSetup setup;
        c.arrange(setup);
        FlashRun run(setup);
        EXPECT_EQ(run.Go(), c.result) << c.name;
        EXPECT_EQ(run.faultyFile, c.faulty) << c.name;
        EXPECT_EQ(run.fault, c.fault) << c.name;
        EXPECT_EQ(run.Count("file local_addres.dat"), c.identityWrites) << c.name;
        EXPECT_EQ(run.Count("file calib.inc"), c.calibrationWrites) << c.name;
        // A file that cannot be read back is tried twice, 5 s apart, as the reader does.
        const bool retried = c.fault == FileFault::NotReadBack;
        EXPECT_EQ(std::count(run.m_clock.sleeps.begin(), run.m_clock.sleeps.end(), 5000u),
                  retried ? 1 : 0)
            << c.name;
    }
}

TEST(FlashingRun, FormattingMovesTheBarAndReportsBadPages) {
    RunSetup setup;
    setup.format = true;
    setup.boot.badPages = 3;
    FlashRun run(setup);
    ASSERT_EQ(run.Go(), ResultDone);
    EXPECT_TRUE(run.Saw("answer y"));
    ASSERT_EQ(run.ui.messages.size(), 4u);
    EXPECT_EQ(run.ui.messages[2], "Форматирование завершено! Найдено 3 испорченной памяти!");
    // The bar starts again from 0 when formatting begins and climbs with its output.
    const auto& p = run.ui.positions;
    size_t drop = 1;
    while (drop < p.size() && p[drop] >= p[drop - 1]) ++drop;
    ASSERT_LT(drop, p.size());
    std::set<uint32_t> formatting(p.begin() + static_cast<long>(drop), p.end());
    EXPECT_GE(formatting.size(), 20u);
    EXPECT_GE(p.back(), 100u);
}

TEST(FlashingRun, FailuresEndTheRunWithTheirCodes) {
    struct Case {
        const char* name;
        std::function<void(RunSetup&)> arrange;
        int result;
        size_t boxes;  // message boxes the user saw
    };
    const Case cases[] = {
        {"no CCC at all: silent controller",
         [](RunSetup& s) {
             s.boot.faults.silentAfter = true;
             s.boot.faults.silentStage = BootStage::LoaderImage;
         },
         ResultNoAnswer, 0},
        {"the third NAK of the kernel ends with 0",
         [](RunSetup& s) {
             s.boot.faultImage = 3;
             s.boot.receiverFaults.nakBlock[2] = 3;
         },
         ResultNakLimit, 2},
        {"an empty data folder is a success", [](RunSetup& s) { s.data.clear(); }, ResultDone, 3},
    };
    for (const auto& c : cases) {
        RunSetup setup;
        c.arrange(setup);
        FlashRun run(setup);
        EXPECT_EQ(run.Go(), c.result) << c.name;
        EXPECT_EQ(run.ui.messages.size(), c.boxes) << c.name;
    }
}

TEST(FlashingRun, NoCoreMessageStillReachesTheDataFilesAfterTheLenientWait) {
    RunSetup setup;
    setup.boot.omitCoreMessage = true;
    setup.simIdleMs = 15000;  // the engine's 8.6 s read time-out passes first
    FlashRun run(setup);
    ASSERT_EQ(run.Go(), ResultDone);
    EXPECT_EQ(run.m_clock.sleeps, (std::vector<uint32_t>{12000, 3000}));
    for (const auto& [name, content] : run.m_data) EXPECT_EQ(run.Stored(name), content) << name;
}

TEST(FlashingRun, CancelDuringTheKernelUploadEndsWithTwoAndNoMoreBoxes) {
    RunSetup setup;
    FlashRun run(setup);
    // The loaders make 2 x 1536 of 8000 bytes (38 %): past 60 % the kernel is on its way.
    run.ui.onProgress = [&](uint32_t position) {
        if (position >= 60 && run.Engine()) run.Engine()->RequestStop();
    };
    EXPECT_EQ(run.Go(), ResultStopped);
    EXPECT_EQ(run.ui.messages, (std::vector<std::string>{kJumper, kReset}));
    // The log says where the run stopped.
    EXPECT_NE(run.log->Compose().find(Cp1251ToUtf8("ядро: ")), std::string::npos);
    EXPECT_NE(run.log->Compose().find(Cp1251ToUtf8(", прервано")), std::string::npos)
        << run.log->Compose();
    EXPECT_FALSE(run.Saw("image kernel"));
}

// Cancel in every phase: the wait under way ends at once (well before the 8.6 s read time-out
// or the pauses would have), the run reports 2, no box follows, an upload is cancelled with CAN
// CAN, the port is closed and no partial copy is left.
TEST(FlashingRun, AStopEndsEveryPhaseAtOnce) {
    struct Case {
        const char* name;
        std::function<void(RunSetup&, FlashRun&)> arrange;
        const char* afterStop;  // the controller's one event after the stop, "" none
    };
    const auto statusStartsWith = [](FlashRun& run, const std::string& prefix) {
        run.ui.onStatus = [&run, prefix](const std::string& text) {
            if (text.rfind(prefix, 0) == 0) run.StopNow();
        };
    };
    const Case cases[] = {
        {"boot loader silent",
         [](RunSetup& s, FlashRun&) {
             s.boot.faults.silentAfter = true;
             s.boot.faults.silentStage = BootStage::LoaderImage;
             s.stopAfterMs = 1500;
         },
         ""},
        {"loader upload",
         [](RunSetup&, FlashRun& run) {
             run.ui.onProgress = [&run](uint32_t p) {
                 if (p >= 5) run.StopNow();
             };
         },
         "image-cancelled loader"},
        {"kernel upload",
         [](RunSetup&, FlashRun& run) {
             run.ui.onProgress = [&run](uint32_t p) {
                 if (p >= 60) run.StopNow();
             };
         },
         "image-cancelled kernel"},
        {"formatting",
         [&](RunSetup& s, FlashRun& run) {
             s.format = true;
             run.ui.onProgress = [&run](uint32_t p) {
                 if (p >= 20 && p < 60 && !run.ui.statuses.empty() &&
                     run.ui.statuses.back() == "Идет форматирование!") {
                     run.StopNow();
                 }
             };
         },
         ""},
        {"kernel that does not announce itself",
         [](RunSetup& s, FlashRun& run) {
             s.boot.omitCoreMessage = true;
             s.realClock = true;
             run.ui.onMessage = [&run](const std::string&) {
                 if (run.ui.messages.size() == 3) {
                     std::thread([&run] {
                         std::this_thread::sleep_for(std::chrono::milliseconds(1500));
                         run.StopNow();
                     }).detach();
                 }
             };
         },
         ""},
        {"the pause after an unannounced kernel",
         [](RunSetup& s, FlashRun& run) {
             s.boot.omitCoreMessage = true;
             run.m_clock.onSleep = [&run](uint32_t ms) {
                 if (ms == CMathThread::kLenientPauseMs) run.StopNow();
             };
         },
         ""},
        {"data files", [&](RunSetup&, FlashRun& run) { statusStartsWith(run, "Идет запись"); }, ""},
        {"read-back", [&](RunSetup&, FlashRun& run) { statusStartsWith(run, "Идет проверка"); },
         ""},
    };
    for (const Case& c : cases) {
        RunSetup setup;
        FlashRun probe(setup);  // the files; the real run below rewrites them alike
        FlashRun* run = &probe;
        c.arrange(setup, *run);
        setup.simIdleMs = 1500;  // the controller need not wait long for a program that stopped
        run->SetSetup(setup);
        EXPECT_EQ(run->Go(), ResultStopped) << c.name;
        ASSERT_TRUE(run->stopped) << c.name;
        EXPECT_LT(run->StopToEndMs(), 4000) << c.name << ": the stop waited for a time-out";
        EXPECT_EQ(run->ui.messages.size(), run->boxesAtStop) << c.name << ": a box after the stop";
        EXPECT_FALSE(run->portLeftOpen) << c.name;
        std::vector<std::string> after(run->events.begin() + static_cast<long>(run->eventsAtStop),
                                       run->events.end());
        after.erase(std::remove_if(after.begin(), after.end(),
                                   [](const std::string& e) {
                                       return e.rfind("prompt", 0) == 0 || e.rfind("done", 0) == 0;
                                   }),
                    after.end());
        if (*c.afterStop) {
            EXPECT_EQ(after, std::vector<std::string>{c.afterStop}) << c.name;
        } else {
            EXPECT_TRUE(after.empty()) << c.name << ": " << after.front();
        }
    }
}

TEST(FlashingRun, ABadFileStopsTheRunBeforeAnyByteIsSent) {
    struct Case {
        const char* name;
        std::function<void()> spoil;
        std::string faulty;
    };
    const Case cases[] = {
        {"kernel image missing", [] { unlink("system/Ethernet.bin"); }, "system\\Ethernet.bin"},
        {"data file unreadable",
         [] { ASSERT_EQ(symlink("/nonexistent", "data/zz_broken.bin"), 0); },
         "data\\zz_broken.bin"},
    };
    for (const auto& c : cases) {
        RunSetup setup;
        setup.simIdleMs = 1000;
        FlashRun run(setup);
        c.spoil();
        EXPECT_EQ(run.Go(), ResultBadFile) << c.name;
        EXPECT_EQ(run.faultyFile, c.faulty) << c.name;
        EXPECT_FALSE(run.Saw("answer b")) << c.name;
        EXPECT_TRUE(run.images.empty()) << c.name;
    }
}

TEST(FormatReport, CutsAndTranslatesTheControllersReport) {
    struct Case {
        std::string received;
        std::string report;
    };
    const Case cases[] = {
        {"k\r\nErase block 0001 ... ok\r\nHard format completed! Found 2 bad pages\r\nPlease",
         "Форматирование завершено! Найдено 2 испорченной памяти!"},
        {"y\r\n....Found 0 bad pages\r\n", "y\r\n....Found 0 испорченной памяти!"},
        {"Hard format completed! Found 12 bad pages bad pages",
         "Форматирование завершено! Найдено 12 испорченной памяти!"},
    };
    for (const auto& c : cases) EXPECT_EQ(FormatReport(c.received), c.report) << c.received;
}

}  // namespace
