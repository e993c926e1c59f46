// A run writes what it took when it started: its own identity and calibration, and the data
// files as they were then. Nothing done to data\ after that (another copy of the program
// writing its controller's files there, a user tidying up) reaches this controller or its
// read-back.
#include <gtest/gtest.h>

#include <cstdio>

#include "flash/crc32.h"
#include "flash_run_rig.h"

namespace {

const char kJumper[] = "Снимите джампер и нажмите OK!";

TEST(RunRecord, WhatTheRunTookAtItsStartIsWhatTheControllerGetsAndIsCheckedAgainst) {
    const std::string ownIdentity = "EMAC=00:1A:2B:3C:4D:5E\r\nIP=C0:A8:01:0A\r\n";
    const std::string ownCalibration = Pattern(900, 40);
    struct Case {
        const char* name;
        bool own;  // the page's identity and calibration, not data's
        // Done to data\ while the jumper box is open (the run has started).
        const char* meanwhile;
    };
    const Case cases[] = {
        {"files changed", false,
         "printf 'EMAC=99:99:99:99:99:77' > data/local_addres.dat; printf other > data/calib.inc; "
         "printf other > data/program.bin"},
        {"files emptied", false, "for f in data/*; do : > $f; done"},
        {"folder deleted", false, "rm -rf data"},
        {"a file added and one removed", false, "printf new > data/new.bin; rm data/calib.inc"},
        {"own files over data's, data changed", true,
         "printf 'EMAC=99:99:99:99:99:77' > data/local_addres.dat; printf other > data/calib.inc"},
    };
    for (const Case& c : cases) {
        RunSetup setup;
        if (c.own) {
            setup.prepare = [&](CMathThread& engine) {
                engine.SetOwnFile("local_addres.dat", &ownIdentity);
                engine.SetOwnFile("calib.inc", &ownCalibration);
            };
        }
        FlashRun run(setup);
        std::map<std::string, std::string> expected = run.m_data;
        if (c.own) {
            expected["local_addres.dat"] = ownIdentity;
            expected["calib.inc"] = ownCalibration;
        }
        bool done = false;
        run.ui.onMessage = [&](const std::string& text) {
            if (done || text != kJumper) return;
            done = true;
            const std::string command = "cd '" + run.Folder() + "' && " + c.meanwhile;
            EXPECT_EQ(std::system(command.c_str()), 0) << c.name;
        };
        ASSERT_EQ(run.Go(), ResultDone) << c.name;
        EXPECT_TRUE(done) << c.name;
        for (const auto& [name, content] : expected) {
            EXPECT_EQ(run.Stored(name), content) << c.name << ": " << name;
            EXPECT_EQ(run.log->Value("Файл data\\" + name),
                      std::to_string(content.size()) + " байт, CRC-32 " +
                          Crc32Text(Crc32(content.data(), content.size())))
                << c.name << ": " << name;
        }
        EXPECT_EQ(run.Count("file new.bin"), 0) << c.name;
        EXPECT_EQ(run.log->Value("Проверка записи local_addres.dat"), "совпадает") << c.name;
        EXPECT_EQ(run.log->Value("Проверка записи calib.inc"), "совпадает") << c.name;
    }
}

// A calibration that is not this controller's stays out of its run even when data\ holds it;
// the identity composed for the run goes even when data\ has none.
TEST(RunRecord, OwnFilesDecideOverDatasFilesOfTheSameName) {
    const std::string identity = "EMAC=0C:0D:0E:0F:10:11\r\nIP=0A:00:00:01\r\n";
    RunSetup setup;
    setup.data = {{"Calib.inc", 300}, {"program.bin", 200}};
    setup.prepare = [&](CMathThread& engine) {
        engine.SetOwnFile("local_addres.dat", &identity);
        engine.SetOwnFile("calib.inc", nullptr);
    };
    FlashRun run(setup);
    ASSERT_EQ(run.Go(), ResultDone);
    EXPECT_EQ(run.Count("file Calib.inc") + run.Count("file calib.inc"), 0);
    EXPECT_EQ(run.Stored("local_addres.dat"), identity);
    EXPECT_EQ(run.Stored("program.bin"), run.m_data["program.bin"]);
    EXPECT_EQ(run.log->Value("Проверка записи local_addres.dat"), "совпадает");
}

}  // namespace
