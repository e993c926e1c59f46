// The end-to-end scenarios of a whole run: good runs, controllers and installations that fail
// it, and the identity's safety net.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "e2e_fixture.h"
#include "flash/log_file.h"
#include "framework/file.h"
#include "framework/text.h"

namespace {

// What the progress page's box adds when the run left its line trace.
const char kTraceNamed[] = "\n\nЗапись обмена с контроллером для службы поддержки: ";

TEST_F(EndToEnd, GoodRunOfA317) {
    Install("");  // the sample's own plc.ini: ПЛК-317, so calib.inc is fetched and carried back
    const std::string calibration = ReadAll(Sim("good") + "\\files\\calib.inc");
    ASSERT_NO_FATAL_FAILURE(ReadIdentityFrom(EnvText("E2E_PORT_GOOD")));
    EXPECT_EQ(m_driver.Title(), "Программа смены прошивки ПЛК-317 на версию 3.2.1");
    EXPECT_EQ(m_driver.Text(IDC_TEXT), "\n\nMAC-адрес и IP, считанные из прибора:");
    EXPECT_EQ(m_driver.Mac(), "00:1A:2B:3C:4D:5E");
    EXPECT_EQ(m_driver.Ip(), "192.168.1.10");
    EXPECT_FALSE(m_driver.Checked(IDC_FORMAT));
    m_driver.Shot("macip");
    ASSERT_NO_FATAL_FAILURE(StartFlashing("good"));
    ASSERT_NO_FATAL_FAILURE(RunTo(Page::Result));
    EXPECT_GT(m_positions.size(), 10u) << "the bar moved";
    EXPECT_EQ(BoxesCaptioned(kPrefix + std::string("ПЛК-317")).size(), 3u)
        << "the jumper and Reset twice: " << BoxesSaid();
    EXPECT_NE(m_driver.Text(IDC_TEXT).find("не ниже № 3.2.1"), std::string::npos)
        << m_driver.Text(IDC_TEXT);
    m_driver.Shot("result");
    ASSERT_NO_FATAL_FAILURE(FinishAndExit());

    ExpectControllerFlashed("good", "EMAC=00:1A:2B:3C:4D:5E\r\nIP=C0:A8:01:0A\r\n");
    EXPECT_EQ(ReadAll(Sim("good") + "\\files\\calib.inc"), calibration) << "carried back";
    EXPECT_FALSE(CFile::Exists(m_install + "\\data\\calib.inc")) << "removed on exit";
    // The reading is kept beside the program, equal to what the controller held.
    const std::vector<std::string> kept = Backups("001A2B3C4D5E");
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(ReadAll(kept[0] + "\\calib.inc"), calibration);
    EXPECT_EQ(ReadAll(kept[0] + "\\local_addres.dat"),
              "EMAC=00:1A:2B:3C:4D:5E\r\nIP=C0:A8:01:0A\r\n");
    // One block in the log: the port, the MAC, the kernel's CRC-32, the read-back, success.
    const std::string log = ReadAll(m_install + "\\plcflash.log");
    for (const std::string& part :
         {std::string("Порт: ") + EnvText("E2E_PORT_GOOD"), std::string("MAC 00:1A:2B:3C:4D:5E"),
          "CRC-32 " + EnvText("E2E_KERNEL_CRC"),
          std::string("Проверка записи local_addres.dat: совпадает"),
          std::string("Проверка записи calib.inc: совпадает"), std::string("Результат: 1")}) {
        EXPECT_NE(log.find(Cp1251ToUtf8(part)), std::string::npos) << part << " in\n" << log;
    }
    // The attempt's row in the record: the byte order mark, the header, one row.
    const std::string history = ReadAll(m_install + "\\plcflash-history.csv");
    EXPECT_EQ(history.rfind("\xEF\xBB\xBF", 0), 0u) << history;
    EXPECT_EQ(std::count(history.begin(), history.end(), '\n'), 2) << history;
    for (const std::string& part :
         {std::string(",plcflash.exe,"), std::string(",00:1A:2B:3C:4D:5E,192.168.1.10,"),
          "," + EnvText("E2E_KERNEL_CRC") + ",", std::string(",1,успех,")}) {
        EXPECT_NE(history.find(Cp1251ToUtf8(part)), std::string::npos) << part << " in\n"
                                                                       << history;
    }
    EXPECT_TRUE(FileNames(m_install + "\\trace").empty()) << "a good run leaves no line trace";
    const ProcessFigures figures = m_driver.Figures();
    if (!EnvText("E2E_FIGURES").empty()) {
        FILE* out = std::fopen(EnvText("E2E_FIGURES").c_str(), "w");
        if (out) {
            std::fprintf(out,
                         "peak_working_set_bytes %llu\ncpu_seconds %.3f\nwall_seconds %.3f\n"
                         "flash_seconds %.3f\nflash_cpu_seconds %.3f\n"
                         "flash_start_unix %.3f\nflash_end_unix %.3f\n",
                         static_cast<unsigned long long>(figures.peakWorkingSet),
                         figures.cpuSeconds, figures.wallSeconds, m_flashSeconds, m_flashCpuSeconds,
                         m_flashStartUnix, m_flashEndUnix);
            std::fclose(out);
        }
    }
}

TEST_F(EndToEnd, GoodRunWithFormattingReportsTheBadPages) {
    ASSERT_NO_FATAL_FAILURE(Install(""));
    ASSERT_NO_FATAL_FAILURE(ReadIdentityFrom(EnvText("E2E_PORT_FORMAT")));
    m_driver.SetChecked(IDC_FORMAT, true);
    ASSERT_NO_FATAL_FAILURE(StartFlashing("format"));
    ASSERT_NO_FATAL_FAILURE(RunTo(Page::Result));
    bool reported = false;
    for (const SeenBox& box : m_boxes->Boxes()) {
        if (box.text.rfind("Форматирование", 0) == 0) {
            EXPECT_EQ(box.text, "Форматирование завершено! Найдено 5 испорченной памяти!");
            reported = true;
        }
    }
    EXPECT_TRUE(reported);
    ASSERT_NO_FATAL_FAILURE(FinishAndExit());
}

TEST_F(EndToEnd, SilentControllerTakesTheTypedMacAndFormats) {
    ASSERT_NO_FATAL_FAILURE(Install("ПЛК-110"));
    // A partial copy a killed program left behind: never sent, and removed.
    ASSERT_TRUE(WriteAll(m_install + "\\data\\~calib.inc.part", "half a calibration"));
    ASSERT_NO_FATAL_FAILURE(ReadIdentityFrom(EnvText("E2E_PORT_SILENT")));
    EXPECT_EQ(m_driver.Text(IDC_TEXT).rfind("Считать данные из ПЛК не удалось.", 0), 0u);
    EXPECT_EQ(m_driver.Mac(), "");
    EXPECT_EQ(m_driver.Ip(), "192.168.0.17") << "from data\\local_addres.dat";
    EXPECT_TRUE(m_driver.Checked(IDC_FORMAT));
    EXPECT_FALSE(IsWindowEnabled(m_driver.Control(IDC_FORMAT)));
    m_driver.Shot("macip-not-read");
    m_driver.TypeMac("0A0b0C0D0E0F");
    EXPECT_EQ(m_driver.Mac(), "0A:0b:0C:0D:0E:0F");
    ASSERT_NO_FATAL_FAILURE(StartFlashing("silent"));
    ASSERT_NO_FATAL_FAILURE(RunTo(Page::Result));
    ASSERT_NO_FATAL_FAILURE(FinishAndExit());
    EXPECT_EQ(ReadAll(Sim("silent") + "\\files\\local_addres.dat"),
              "EMAC=0A:0b:0C:0D:0E:0F\r\nIP=C0:A8:00:11\r\n");
    for (const std::string& name : FileNames(Sim("silent") + "\\files")) {
        EXPECT_EQ(name.find(".part"), std::string::npos) << name << " reached the controller";
    }
    for (const std::string& name : FileNames(m_install + "\\data")) {
        EXPECT_EQ(name.find(".part"), std::string::npos) << name << " left in data";
    }
}

// A port that cannot be opened (the adapter is gone, another program holds it) is said at
// once, and the port page is back for another choice: typing a MAC would not help.
TEST_F(EndToEnd, PortThatCannotBeOpened) {
    ASSERT_NO_FATAL_FAILURE(Install("ПЛК-317"));
    ASSERT_NO_FATAL_FAILURE(Launch());
    ASSERT_TRUE(m_driver.WaitForPage(Page::Welcome, 10000));
    ASSERT_TRUE(m_driver.Click(ID_WIZNEXT));
    ASSERT_TRUE(m_driver.WaitForPage(Page::Port, 10000));
    ASSERT_TRUE(m_driver.SelectPort(EnvText("E2E_PORT_MISSING")));
    const DWORD start = GetTickCount();
    ASSERT_TRUE(m_driver.Click(ID_WIZNEXT));
    ASSERT_TRUE(m_boxes->WaitForBoxes(1, 10000)) << "no box";
    const DWORD ms = GetTickCount() - start;
    EXPECT_LT(ms, 4000u) << "neither retried after a pause nor tried for the calibration";
    ASSERT_TRUE(m_driver.WaitForPage(Page::Port, 10000));
    const auto errors = BoxesCaptioned("Ошибка");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].text, "Не удалось открыть com порт!");
}

TEST_F(EndToEnd, CancelDuringTheKernelUploadThenANewRunSucceeds) {
    ASSERT_NO_FATAL_FAILURE(Install("ПЛК-110"));
    ASSERT_NO_FATAL_FAILURE(ReadIdentityFrom(EnvText("E2E_PORT_CANCEL")));
    ASSERT_NO_FATAL_FAILURE(StartFlashing("cancel"));
    // The kernel is the last 84 % of the bar.
    ASSERT_TRUE(m_driver.WaitUntil([this] { return m_driver.ProgressPosition() >= 40; }, 120000));
    ASSERT_TRUE(m_driver.Click(IDCANCEL));
    ASSERT_TRUE(m_driver.WaitForPage(Page::Welcome, 30000));
    EXPECT_TRUE(BoxesCaptioned("Ошибка").empty());
    // From the welcome page again.
    ASSERT_TRUE(m_driver.Click(ID_WIZNEXT));
    ASSERT_TRUE(m_driver.WaitForPage(Page::Port, 10000));
    ASSERT_TRUE(m_driver.Click(ID_WIZNEXT));
    ASSERT_TRUE(m_driver.WaitForPage(Page::MacIp, 10000));
    ASSERT_NO_FATAL_FAILURE(WaitForReading(120000));
    // The kernel is gone, so is the reading: the MAC is typed again; the IP is the user's
    // file's, which a MAC with a backup does not replace.
    EXPECT_EQ(m_driver.Mac(), "");
    m_driver.TypeMac("001A2B3C4D5E");
    EXPECT_EQ(m_driver.Ip(), "192.168.0.17");
    ASSERT_NO_FATAL_FAILURE(StartFlashing("cancel"));
    ASSERT_NO_FATAL_FAILURE(RunTo(Page::Result));
    ASSERT_NO_FATAL_FAILURE(FinishAndExit());
}

TEST_F(EndToEnd, ControllerSilentDuringTheUpload) {
    ASSERT_NO_FATAL_FAILURE(Install("ПЛК-110"));
    ASSERT_NO_FATAL_FAILURE(ReadIdentityFrom(EnvText("E2E_PORT_DROP")));
    ASSERT_NO_FATAL_FAILURE(StartFlashing("drop"));
    ASSERT_NO_FATAL_FAILURE(RunTo(Page::Welcome));
    const auto errors = BoxesCaptioned("Ошибка");
    ASSERT_EQ(errors.size(), 1u);
    // The box names the run's line trace beside the program, which ends with the kernel's block
    // the controller left unanswered.
    const std::string said = "Контроллер не отвечает!" + std::string(kTraceNamed);
    ASSERT_EQ(errors[0].text.rfind(said + m_install + "\\trace\\", 0), 0u) << errors[0].text;
    const std::string trace = ReadAll(errors[0].text.substr(said.size()));
    size_t at = 0;
    for (const char* event : {"->  блок XMODEM 30,", "<-  (ничего не пришло", "порт закрыт",
                              "итог: код 5, Контроллер не отвечает!"}) {
        const size_t found = trace.rfind(Cp1251ToUtf8(event));
        EXPECT_TRUE(found != std::string::npos && found >= at) << event << " in\n" << trace;
        at = found;
    }
    EXPECT_LT(trace.rfind(Cp1251ToUtf8("->  блок XMODEM 31,")), at) << "nothing after block 30";
}

TEST_F(EndToEnd, MissingPlcIniEndsTheProgram) {
    ASSERT_NO_FATAL_FAILURE(Install(""));
    DeleteFileA((m_install + "\\plc.ini").c_str());
    ASSERT_NO_FATAL_FAILURE(Launch());
    ASSERT_TRUE(m_driver.WaitForExit(20000));
    const auto seen = m_boxes->Boxes();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].caption, "plcflash");
    EXPECT_EQ(seen[0].text, "Невозможно открыть файл plc.ini");
}

TEST_F(EndToEnd, DataFileWithATooLongNameStopsTheRunBeforeAnythingIsSent) {
    ASSERT_NO_FATAL_FAILURE(Install("ПЛК-110"));
    const std::string name = "data\\" + std::string(130, 'n') + ".bin";
    ASSERT_TRUE(WriteAll(m_install + "\\" + name, "x"));
    ASSERT_NO_FATAL_FAILURE(ReadIdentityFrom(EnvText("E2E_PORT_CHECK")));
    ASSERT_NO_FATAL_FAILURE(StartFlashing("check"));
    ASSERT_NO_FATAL_FAILURE(RunTo(Page::Welcome, 60000));
    const auto errors = BoxesCaptioned("Ошибка");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(
        errors[0].text.rfind(
            "Слишком длинное имя файла " + name + " для контроллера. Прошивка остановлена.", 0),
        0u)
        << errors[0].text;
    EXPECT_NE(errors[0].text.find("его прошивка цела"), std::string::npos) << errors[0].text;
    EXPECT_NE(errors[0].text.find(kTraceNamed), std::string::npos) << errors[0].text;
    EXPECT_TRUE(FileNames(Sim("check") + "\\images").empty()) << "nothing was uploaded";
    // Since its restart the boot loader has only asked for an image (and started over when
    // nobody sent one): it never heard from the run.
    const SimLog log("check");
    const SimEvents events = log.Events();
    const auto restart = std::find_if(events.rbegin(), events.rend(),
                                      [](const SimEvent& e) { return e.what == "done"; });
    for (auto e = restart.base(); e != events.end(); ++e) {
        EXPECT_TRUE(e->what == "prompt" || e->what == "image-failed") << log.Tail();
    }
}

// Read, then closed on the jumper page; the controller is left in its boot loader, as after a run
// that failed past the erasing of its kernel. The next start cannot read it: the engineer types
// the MAC and the controller gets its own calibration back from the backup.
TEST_F(EndToEnd, RestoreTheCalibrationFromTheBackup) {
    ASSERT_NO_FATAL_FAILURE(Install(""));
    const std::string calibration = ReadAll(Sim("restore") + "\\files\\calib.inc");
    ASSERT_NO_FATAL_FAILURE(ReadIdentityFrom(EnvText("E2E_PORT_RESTORE")));
    EXPECT_EQ(m_driver.Mac(), "00:1A:2B:3C:4D:5E");
    ASSERT_TRUE(m_driver.Click(ID_WIZNEXT));
    ASSERT_TRUE(m_driver.WaitForPage(Page::Jumper, 10000));
    ASSERT_TRUE(m_driver.Click(IDCANCEL));
    ASSERT_TRUE(m_driver.WaitForExit(10000));
    ASSERT_EQ(Backups("001A2B3C4D5E").size(), 1u);

    ASSERT_NO_FATAL_FAILURE(WaitForBootLoader("restore"));
    ASSERT_NO_FATAL_FAILURE(ReadIdentityFrom(EnvText("E2E_PORT_RESTORE")));
    EXPECT_EQ(m_driver.Text(IDC_TEXT).rfind("Считать данные из ПЛК не удалось.", 0), 0u);
    // The copy its reading left in data\ is not taken for the user's file.
    EXPECT_EQ(m_driver.Ip(), "...");
    EXPECT_FALSE(m_driver.Checked(IDC_FORMAT)) << "no calibration is known before the MAC";
    m_driver.TypeMac("001A2B3C4D5E");
    EXPECT_TRUE(m_driver.Checked(IDC_FORMAT)) << "its backup holds the calibration: forced";
    EXPECT_EQ(m_driver.Ip(), "192.168.1.10") << "from its backup";
    ASSERT_NO_FATAL_FAILURE(StartFlashing("restore"));
    const auto told = BoxesCaptioned(kPrefix + std::string("ПЛК-317"));
    ASSERT_FALSE(told.empty());
    EXPECT_NE(told[0].text.find("из резервной копии"), std::string::npos) << told[0].text;
    ASSERT_NO_FATAL_FAILURE(RunTo(Page::Result));
    ASSERT_NO_FATAL_FAILURE(FinishAndExit());
    EXPECT_EQ(ReadAll(Sim("restore") + "\\files\\calib.inc"), calibration)
        << "the formatted controller has its own calibration again";
    EXPECT_EQ(Backups("001A2B3C4D5E").size(), 1u) << "a restore makes no backup";
}

// Controller A is read, the engineer goes back and connects B, which cannot be read: B must not
// receive A's calibration. B also stores its identity file damaged once: written again, success.
TEST_F(EndToEnd, AnotherControllerNeverGetsTheFirstOnesCalibration) {
    ASSERT_NO_FATAL_FAILURE(Install(""));
    ASSERT_NO_FATAL_FAILURE(ReadIdentityFrom(EnvText("E2E_PORT_TWO_A")));
    EXPECT_EQ(m_driver.Mac(), "00:1A:2B:3C:4D:5E");
    ASSERT_TRUE(m_driver.Click(ID_WIZBACK));
    ASSERT_TRUE(m_driver.WaitForPage(Page::Port, 10000));
    ASSERT_TRUE(m_driver.SelectPort(EnvText("E2E_PORT_TWO_B")));
    ASSERT_TRUE(m_driver.Click(ID_WIZNEXT));
    ASSERT_TRUE(m_driver.WaitForPage(Page::MacIp, 10000));
    ASSERT_NO_FATAL_FAILURE(WaitForReading(120000));
    EXPECT_EQ(m_driver.Text(IDC_TEXT).rfind("Считать данные из ПЛК не удалось.", 0), 0u);
    // Nothing of A: its MAC is gone, the IP is the user's file's, and with no calibration of B
    // known anywhere formatting is not forced.
    EXPECT_EQ(m_driver.Mac(), "");
    EXPECT_EQ(m_driver.Ip(), "192.168.0.17");
    m_driver.TypeMac("0C0D0E0F1011");
    EXPECT_FALSE(m_driver.Checked(IDC_FORMAT));
    EXPECT_TRUE(IsWindowEnabled(m_driver.Control(IDC_FORMAT)));
    ASSERT_NO_FATAL_FAILURE(StartFlashing("two-b"));
    ASSERT_NO_FATAL_FAILURE(RunTo(Page::Result));
    ASSERT_NO_FATAL_FAILURE(FinishAndExit());
    EXPECT_EQ(ReadAll(Sim("two-b") + "\\files\\calib.inc"),
              "<missing " + Sim("two-b") + "\\files\\calib.inc>");
    EXPECT_EQ(ReadAll(Sim("two-b") + "\\files\\local_addres.dat"),
              "EMAC=0C:0D:0E:0F:10:11\r\nIP=C0:A8:00:11\r\n");
    EXPECT_EQ(SimLog("two-b").Count("file", "local_addres.dat"), 2) << "stored damaged once";
}

TEST_F(EndToEnd, AnIdentityFileTheControllerAlwaysDamagesFailsTheRun) {
    ASSERT_NO_FATAL_FAILURE(Install("ПЛК-110"));
    ASSERT_NO_FATAL_FAILURE(ReadIdentityFrom(EnvText("E2E_PORT_DAMAGING")));
    ASSERT_NO_FATAL_FAILURE(StartFlashing("damaging"));
    ASSERT_NO_FATAL_FAILURE(RunTo(Page::Welcome));
    const auto errors = BoxesCaptioned("Ошибка");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].text.rfind("Контроллер сохранил файл data\\local_addres.dat с ошибками", 0),
              0u)
        << errors[0].text;
    EXPECT_EQ(SimLog("damaging").Count("file", "local_addres.dat"), 2);
    const std::string log = ReadAll(m_install + "\\plcflash.log");
    EXPECT_NE(log.find(Cp1251ToUtf8("Результат: 12")), std::string::npos) << log;
    const std::string history = ReadAll(m_install + "\\plcflash-history.csv");
    EXPECT_NE(history.find(",12,"), std::string::npos) << history;
}

}  // namespace
