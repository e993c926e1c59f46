// plcflash.exe, unchanged, as an engineer runs it: started in its folder, driven through its
// window, against simulated controllers on COM ports with the real time-outs.
// scripts/wine-tests.sh starts the controllers and names them in the environment.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "flash/log_file.h"
#include "framework/text.h"
#include "res/resource.h"
#include "test_files.h"
#include "ui_driver.h"
#include "ui_probe.h"

namespace {

// An uploaded image is the file and then the fill of its last block.
bool SameImage(const std::string& received, const std::string& file) {
    return received.size() >= file.size() && received.size() - file.size() < 128 &&
           received.size() % 128 == 0 && received.compare(0, file.size(), file) == 0;
}

const char kPrefix[] = "Обновления прошивки ";

// Seconds since 1970, as the Linux side of a benchmark counts them.
double UnixSeconds() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER v;
    v.LowPart = now.dwLowDateTime;
    v.HighPart = now.dwHighDateTime;
    return static_cast<double>(v.QuadPart) / 1e7 - 11644473600.0;
}

class EndToEnd : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(EnvText("PLCFLASH_EXE").empty() || EnvText("E2E_ROOT").empty())
            << "run under scripts/wine-tests.sh";
        std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::replace(name.begin(), name.end(), '/', '_');
        m_driver.SetShotFolder(EnvText("PLCFLASH_SCREENSHOTS"), name);
    }

    // The program's folder: plcflash.exe, plc.ini naming `device`, system\ and data\ from the
    // sample installation.
    void Install(const std::string& device) {
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        // A parameterised case is named "Case/Param": one folder of its own all the same.
        std::string name = info->name();
        std::replace(name.begin(), name.end(), '/', '_');
        m_install = EnvText("E2E_ROOT") + "\\" + name;
        CreateDirectoryA(m_install.c_str(), nullptr);
        const std::string sample = EnvText("PLCFLASH_SAMPLE");
        ASSERT_TRUE(CopyFileA(EnvText("PLCFLASH_EXE").c_str(),
                              (m_install + "\\plcflash.exe").c_str(), FALSE));
        CopyFolder(sample + "\\system", m_install + "\\system");
        CopyFolder(sample + "\\data", m_install + "\\data");
        if (device.empty()) {
            ASSERT_TRUE(CopyFileA((sample + "\\plc.ini").c_str(), (m_install + "\\plc.ini").c_str(),
                                  FALSE));
        } else {
            ASSERT_TRUE(WriteAll(m_install + "\\plc.ini",
                                 "Device = " + device + "\r\nVersion = 3.2.1\r\n"));
        }
    }

    void Launch() {
        ASSERT_TRUE(m_driver.Launch(m_install + "\\plcflash.exe"));
        m_boxes = std::make_unique<BoxWatcher>(m_driver.Pid());
    }

    // Welcome, the port page with `port` chosen, and the MAC/IP page once its reading is over.
    void ReadIdentityFrom(const std::string& port, DWORD ms = 120000) {
        ASSERT_NO_FATAL_FAILURE(Launch());
        ASSERT_TRUE(m_driver.WaitForPage(Page::Welcome, 10000));
        m_driver.Shot("welcome");
        ASSERT_TRUE(m_driver.Click(ID_WIZNEXT));
        ASSERT_TRUE(m_driver.WaitForPage(Page::Port, 10000));
        ASSERT_TRUE(m_driver.SelectPort(port)) << port << " is not listed";
        m_driver.Shot("port");
        ASSERT_TRUE(m_driver.Click(ID_WIZNEXT));
        ASSERT_TRUE(m_driver.WaitForPage(Page::MacIp, 10000));
        ASSERT_NO_FATAL_FAILURE(WaitForReading(ms));
    }

    // The MAC/IP page shows before it turns its buttons off and starts reading: the reading is
    // over only once it has been seen to begin and Next is back.
    void WaitForReading(DWORD ms) {
        ASSERT_TRUE(
            m_driver.WaitUntil([this] { return m_driver.Text(IDC_TEXT) == "Подождите..."; }, 10000))
            << "the reading did not begin";
        ASSERT_TRUE(m_driver.WaitEnabled(ID_WIZNEXT, ms)) << "the reading did not end";
    }

    // What the boxes said, for failure messages.
    std::string BoxesSaid() {
        std::string said;
        for (const SeenBox& box : m_boxes->Boxes())
            said += "[" + box.caption + ": " + box.text + "] ";
        return said;
    }

    // From the MAC/IP page through the jumper page to the progress page.
    void StartFlashing() {
        ASSERT_TRUE(m_driver.Click(ID_WIZNEXT));
        ASSERT_TRUE(m_driver.WaitForPage(Page::Jumper, 10000)) << BoxesSaid();
        m_driver.Shot("jumper");
        // The engineer sets the jumper and presses Reset before Next: the controllers here
        // restart in their boot loader E2E_RESET_MS after they were last read.
        Sleep(static_cast<DWORD>(std::atoi(EnvText("E2E_RESET_MS").c_str())));
        ASSERT_TRUE(m_driver.Click(ID_WIZNEXT));
        ASSERT_TRUE(m_driver.WaitForPage(Page::Progress, 10000));
        m_flashStart = GetTickCount();
        m_flashStartUnix = UnixSeconds();
        m_flashCpuStart = m_driver.CpuSeconds();
    }

    // Waits for the run's end on `page`, noting the bar's positions and picturing it once.
    void RunTo(Page page, DWORD ms = 300000) {
        bool pictured = false;
        for (DWORD waited = 0; waited < ms; waited += 100) {
            const Page shown = m_driver.ShownPage();
            // None: between two pages, or a box has the window disabled.
            if (shown != Page::Progress && shown != Page::None) {
                m_flashSeconds = (GetTickCount() - m_flashStart) / 1000.0;
                m_flashEndUnix = UnixSeconds();
                m_flashCpuSeconds = m_driver.CpuSeconds() - m_flashCpuStart;
                ASSERT_EQ(PageName(shown), std::string(PageName(page))) << BoxesSaid();
                return;
            }
            m_driver.SampleMemory();
            const int position = m_driver.ProgressPosition();
            if (m_positions.empty() || m_positions.back() != position) {
                m_positions.push_back(position);
            }
            if (!pictured && position > 40 && position < 90) {
                m_driver.Shot("progress");
                pictured = true;
            }
            Sleep(100);
        }
        FAIL() << "the run did not end";
    }

    std::vector<SeenBox> BoxesCaptioned(const std::string& caption) {
        std::vector<SeenBox> found;
        for (const SeenBox& box : m_boxes->Boxes()) {
            if (box.caption == caption) found.push_back(box);
        }
        return found;
    }

    std::string Sim(const char* name) { return EnvText("E2E_SIMS") + "\\" + name; }

    // The backup folders kept for a MAC in the installation, oldest first.
    std::vector<std::string> Backups(const std::string& mac) {
        const std::string root = m_install + "\\backup\\" + mac;
        std::vector<std::string> folders = FolderNames(root);
        std::sort(folders.begin(), folders.end());
        for (std::string& folder : folders) folder = root + "\\" + folder;
        return folders;
    }

    // How many times the controller stored `name`, from its line log.
    int TimesStored(const char* sim, const std::string& name) {
        const std::string log = ReadAll(EnvText("E2E_RUN_DIR") + "\\e2e-" + sim + "-line.log");
        int count = 0;
        for (size_t at = 0; (at = log.find(" file " + name + " ", at)) != std::string::npos; ++at)
            ++count;
        return count;
    }

    // What the controller holds after a good run: the images and every data file.
    void ExpectControllerFlashed(const char* sim, const std::string& identity) {
        const std::string sample = EnvText("PLCFLASH_SAMPLE");
        const std::string images = Sim(sim) + "\\images";
        const std::string loader = ReadAll(sample + "\\system\\Floader.bin");
        EXPECT_TRUE(SameImage(ReadAll(images + "\\001-loader.bin"), loader));
        EXPECT_TRUE(SameImage(ReadAll(images + "\\002-loader.bin"), loader));
        EXPECT_TRUE(SameImage(ReadAll(images + "\\003-kernel.bin"),
                              ReadAll(sample + "\\system\\Ethernet.bin")));
        const std::string files = Sim(sim) + "\\files";
        for (const char* name : {"settings.ini", "program.bin"}) {
            EXPECT_EQ(ReadAll(files + "\\" + name), ReadAll(sample + "\\data\\" + name)) << name;
        }
        EXPECT_EQ(ReadAll(files + "\\local_addres.dat"), identity);
    }

    void FinishAndExit() {
        m_driver.SampleMemory();
        ASSERT_TRUE(m_driver.Click(ID_WIZFINISH));
        DWORD code = 1;
        ASSERT_TRUE(m_driver.WaitForExit(10000, &code));
    }

    UiDriver m_driver;
    std::unique_ptr<BoxWatcher> m_boxes;
    std::string m_install;
    std::vector<int> m_positions;
    DWORD m_flashStart = 0;
    double m_flashSeconds = 0;  // from the progress page to the next
    double m_flashCpuStart = 0;
    double m_flashStartUnix = 0;
    double m_flashEndUnix = 0;
    double m_flashCpuSeconds = 0;
};

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
    ASSERT_NO_FATAL_FAILURE(StartFlashing());
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
    EXPECT_EQ(GetFileAttributesA((m_install + "\\data\\calib.inc").c_str()),
              INVALID_FILE_ATTRIBUTES)
        << "removed on exit";
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
    ASSERT_NO_FATAL_FAILURE(StartFlashing());
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
    ASSERT_NO_FATAL_FAILURE(StartFlashing());
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

TEST_F(EndToEnd, PortThatCannotBeOpened) {
    ASSERT_NO_FATAL_FAILURE(Install("ПЛК-110"));
    ASSERT_NO_FATAL_FAILURE(ReadIdentityFrom(EnvText("E2E_PORT_MISSING")));
    m_driver.TypeMac("001122334455");
    ASSERT_NO_FATAL_FAILURE(StartFlashing());
    ASSERT_NO_FATAL_FAILURE(RunTo(Page::Welcome, 60000));
    const auto errors = BoxesCaptioned("Ошибка");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].text, "Не удалось открыть com порт!");
}

TEST_F(EndToEnd, CancelDuringTheKernelUploadThenANewRunSucceeds) {
    ASSERT_NO_FATAL_FAILURE(Install("ПЛК-110"));
    ASSERT_NO_FATAL_FAILURE(ReadIdentityFrom(EnvText("E2E_PORT_CANCEL")));
    ASSERT_NO_FATAL_FAILURE(StartFlashing());
    // The kernel is the last 84 % of the bar.
    ASSERT_TRUE(m_driver.WaitUntil([this] { return m_driver.ProgressPosition() >= 40; }, 120000));
    ASSERT_TRUE(m_driver.Click(IDCANCEL));
    ASSERT_TRUE(m_driver.WaitForPage(Page::Welcome, 30000));
    EXPECT_TRUE(BoxesCaptioned("Ошибка").empty());
    // From the welcome page again: the fields keep what they had.
    ASSERT_TRUE(m_driver.Click(ID_WIZNEXT));
    ASSERT_TRUE(m_driver.WaitForPage(Page::Port, 10000));
    ASSERT_TRUE(m_driver.Click(ID_WIZNEXT));
    ASSERT_TRUE(m_driver.WaitForPage(Page::MacIp, 10000));
    ASSERT_NO_FATAL_FAILURE(WaitForReading(120000));
    EXPECT_EQ(m_driver.Mac(), "00:1A:2B:3C:4D:5E");
    ASSERT_NO_FATAL_FAILURE(StartFlashing());
    ASSERT_NO_FATAL_FAILURE(RunTo(Page::Result));
    ASSERT_NO_FATAL_FAILURE(FinishAndExit());
}

TEST_F(EndToEnd, ControllerSilentDuringTheUpload) {
    ASSERT_NO_FATAL_FAILURE(Install("ПЛК-110"));
    ASSERT_NO_FATAL_FAILURE(ReadIdentityFrom(EnvText("E2E_PORT_DROP")));
    ASSERT_NO_FATAL_FAILURE(StartFlashing());
    ASSERT_NO_FATAL_FAILURE(RunTo(Page::Welcome));
    const auto errors = BoxesCaptioned("Ошибка");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].text, "Контроллер не отвечает!");
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
    ASSERT_NO_FATAL_FAILURE(StartFlashing());
    ASSERT_NO_FATAL_FAILURE(RunTo(Page::Welcome, 60000));
    const auto errors = BoxesCaptioned("Ошибка");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].text,
              "Слишком длинное имя файла " + name + " для контроллера. Прошивка остановлена.");
    Sleep(2000);
    EXPECT_TRUE(FileNames(Sim("check") + "\\images").empty()) << "nothing was uploaded";
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

    // Long enough for the controller to leave its kernel for the boot loader.
    Sleep(static_cast<DWORD>(std::atoi(EnvText("E2E_RESET_MS").c_str())));
    ASSERT_NO_FATAL_FAILURE(ReadIdentityFrom(EnvText("E2E_PORT_RESTORE")));
    EXPECT_EQ(m_driver.Text(IDC_TEXT).rfind("Считать данные из ПЛК не удалось.", 0), 0u);
    EXPECT_TRUE(m_driver.Checked(IDC_FORMAT)) << "formatting is forced";
    m_driver.TypeMac("001A2B3C4D5E");
    ASSERT_NO_FATAL_FAILURE(StartFlashing());
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
    m_driver.TypeMac("0C0D0E0F1011");
    ASSERT_NO_FATAL_FAILURE(StartFlashing());
    ASSERT_NO_FATAL_FAILURE(RunTo(Page::Result));
    ASSERT_NO_FATAL_FAILURE(FinishAndExit());
    EXPECT_EQ(ReadAll(Sim("two-b") + "\\files\\calib.inc"),
              "<missing " + Sim("two-b") + "\\files\\calib.inc>");
    EXPECT_EQ(ReadAll(Sim("two-b") + "\\files\\local_addres.dat"),
              "EMAC=0C:0D:0E:0F:10:11\r\nIP=C0:A8:01:0A\r\n");
    EXPECT_EQ(TimesStored("two-b", "local_addres.dat"), 2) << "stored damaged once";
}

TEST_F(EndToEnd, AnIdentityFileTheControllerAlwaysDamagesFailsTheRun) {
    ASSERT_NO_FATAL_FAILURE(Install("ПЛК-110"));
    ASSERT_NO_FATAL_FAILURE(ReadIdentityFrom(EnvText("E2E_PORT_DAMAGING")));
    ASSERT_NO_FATAL_FAILURE(StartFlashing());
    ASSERT_NO_FATAL_FAILURE(RunTo(Page::Welcome));
    const auto errors = BoxesCaptioned("Ошибка");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].text.rfind("Контроллер сохранил файл data\\local_addres.dat с ошибками", 0),
              0u)
        << errors[0].text;
    EXPECT_EQ(TimesStored("damaging", "local_addres.dat"), 2);
    const std::string log = ReadAll(m_install + "\\plcflash.log");
    EXPECT_NE(log.find(Cp1251ToUtf8("Результат: 12")), std::string::npos) << log;
}

// Cancel in the phases where the program waits for the controller: the welcome page comes back
// at once, well before the 8.6 s read time-out (or the 12 s pause) would have ended the wait, and
// without a box.
struct CancelCase {
    const char* name;
    const char* port;  // environment variable naming the controller's port
    const char* device;
    // Returns once the run is in the phase to cancel.
    std::function<bool(UiDriver&, BoxWatcher&)> reached;
};

class CancelInPhase : public EndToEnd, public ::testing::WithParamInterface<CancelCase> {};

TEST_P(CancelInPhase, ReturnsToTheWelcomePageAtOnce) {
    const CancelCase& c = GetParam();
    ASSERT_NO_FATAL_FAILURE(Install(c.device));
    // A data file that takes half a minute on the line.
    std::string big(300000, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + i / 251);
    ASSERT_TRUE(WriteAll(m_install + "\\data\\zz_big.bin", big));
    ASSERT_NO_FATAL_FAILURE(ReadIdentityFrom(EnvText(c.port)));
    ASSERT_NO_FATAL_FAILURE(StartFlashing());
    ASSERT_TRUE(c.reached(m_driver, *m_boxes)) << c.name << ": the phase was not reached";
    ASSERT_TRUE(m_driver.Click(IDCANCEL));
    const DWORD cancelled = GetTickCount();
    ASSERT_TRUE(m_driver.WaitForPage(Page::Welcome, 30000)) << c.name;
    const DWORD took = GetTickCount() - cancelled;
    EXPECT_LT(took, 4000u) << c.name << ": the Cancel waited for a time-out";
    EXPECT_TRUE(BoxesCaptioned("Ошибка").empty()) << c.name << ": " << BoxesSaid();
    if (!EnvText("E2E_CANCEL_TIMES").empty()) {
        FILE* out = std::fopen(EnvText("E2E_CANCEL_TIMES").c_str(), "a");
        if (out) {
            std::fprintf(out, "%s\t%lu\n", c.name, static_cast<unsigned long>(took));
            std::fclose(out);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Phases, CancelInPhase,
    ::testing::Values(CancelCase{"boot loader silent", "E2E_PORT_QUIET", "ПЛК-110",
                                 [](UiDriver&, BoxWatcher&) {
                                     Sleep(2000);  // into the wait for "CCC"
                                     return true;
                                 }},
                      CancelCase{"kernel that does not announce itself", "E2E_PORT_UNANNOUNCED",
                                 "ПЛК-110",
                                 [](UiDriver&, BoxWatcher& boxes) {
                                     // The jumper, Reset twice: then the wait for the kernel.
                                     if (!boxes.WaitForBoxes(3, 240000)) return false;
                                     Sleep(2000);
                                     return true;
                                 }},
                      CancelCase{"a large data file", "E2E_PORT_LARGE", "ПЛК-110",
                                 [](UiDriver& driver, BoxWatcher&) {
                                     return driver.WaitUntil(
                                         [&driver] {
                                             return driver.Text(IDC_TEXT) ==
                                                        "Идет запись файла: zz_big.bin" &&
                                                    driver.ProgressPosition() > 5;
                                         },
                                         240000);
                                 }}),
    [](const ::testing::TestParamInfo<CancelCase>& param) {
        return std::string(param.index == 0   ? "BootLoaderSilent"
                           : param.index == 1 ? "UnannouncedKernel"
                                              : "LargeDataFile");
    });

// Esc (the close box) while a 317 is being read: the process ends at once, the reader stopped
// before the exit clean-up, and nothing of the reading is left in data\.
TEST_F(EndToEnd, ClosingDuringTheReadingEndsAtOnceAndLeavesNothing) {
    ASSERT_NO_FATAL_FAILURE(Install(""));
    ASSERT_NO_FATAL_FAILURE(Launch());
    ASSERT_TRUE(m_driver.WaitForPage(Page::Welcome, 10000));
    ASSERT_TRUE(m_driver.Click(ID_WIZNEXT));
    ASSERT_TRUE(m_driver.WaitForPage(Page::Port, 10000));
    ASSERT_TRUE(m_driver.SelectPort(EnvText("E2E_PORT_SLOW")));
    ASSERT_TRUE(m_driver.Click(ID_WIZNEXT));
    ASSERT_TRUE(m_driver.WaitForPage(Page::MacIp, 10000));
    ASSERT_TRUE(
        m_driver.WaitUntil([this] { return m_driver.Text(IDC_TEXT) == "Подождите..."; }, 10000));
    Sleep(1500);
    PostMessageW(m_driver.Window(), WM_CLOSE, 0, 0);
    const DWORD closed = GetTickCount();
    DWORD code = 0;
    ASSERT_TRUE(m_driver.WaitForExit(30000, &code));
    EXPECT_LT(GetTickCount() - closed, 3000u) << "the process outlived its window";
    for (const std::string& name : FileNames(m_install + "\\data")) {
        EXPECT_TRUE(name != "calib.inc" && name.find(".part") == std::string::npos) << name;
    }
}

}  // namespace
