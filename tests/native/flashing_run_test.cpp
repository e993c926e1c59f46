// Whole reflashing runs of the engine against the simulated controller over a paced
// pseudo-terminal: what the controller ends up holding, what the user is shown, and how each
// kind of failure ends the run.
#include <gtest/gtest.h>

#include "flash/crc32.h"
#include "flash/log_file.h"

#include "flash_run_rig.h"

namespace {

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
        {"SHA256SUMS publishes another loader",
         [] { std::ofstream("system/SHA256SUMS") << std::string(64, '0') << "  Floader.bin\n"; },
         "system\\Floader.bin"},
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
