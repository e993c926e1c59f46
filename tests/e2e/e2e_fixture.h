// The end-to-end scenarios' fixture: plcflash.exe, unchanged, as an engineer runs it: started
// in an installation folder of its own, driven through its window, against simulated
// controllers on COM ports with the real time-outs. scripts/wine-tests.sh starts the
// controllers and names them in the environment.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "res/resource.h"
#include "sim_log.h"
#include "test_files.h"
#include "ui_driver.h"
#include "ui_probe.h"

// An uploaded image is the file and then the fill of its last block.
inline bool SameImage(const std::string& received, const std::string& file) {
    return received.size() >= file.size() && received.size() - file.size() < 128 &&
           received.size() % 128 == 0 && received.compare(0, file.size(), file) == 0;
}

constexpr char kPrefix[] = "Обновления прошивки ";

// How long a controller read in its running kernel takes to restart in its boot loader: left
// alone for --then-ms (6 s) after the reading, or a boot loader confused by a reading (the
// program cannot know it is there) giving up its run after its own time-outs.
constexpr DWORD kRestartMs = 30000;

// The simulated engineer sets the jumper and presses Reset: the controller restarts in its boot
// loader and asks for the loader image.
inline void WaitForBootLoader(const char* sim) {
    const SimLog log(sim);
    ASSERT_TRUE(log.WaitFor(&WaitsForTheFirstImage, kRestartMs))
        << sim << " did not restart in its boot loader within " << kRestartMs << " ms; "
        << log.Tail();
}

// Seconds since 1970, as the Linux side of a benchmark counts them.
inline double UnixSeconds() {
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
        MakeFolders(m_install);
        const std::string sample = EnvText("PLCFLASH_SAMPLE");
        ASSERT_TRUE(CopyWhole(EnvText("PLCFLASH_EXE"), m_install + "\\plcflash.exe"));
        CopyFolder(sample + "\\system", m_install + "\\system");
        CopyFolder(sample + "\\data", m_install + "\\data");
        if (device.empty()) {
            ASSERT_TRUE(CopyWhole(sample + "\\plc.ini", m_install + "\\plc.ini"));
        } else {
            ASSERT_TRUE(WriteAll(m_install + "\\plc.ini",
                                 "Device = " + device + "\r\nVersion = 3.2.1\r\n"));
        }
    }

    void Launch() {
        ASSERT_TRUE(m_driver.Launch(m_install + "\\plcflash.exe"));
        m_boxes = std::make_unique<BoxWatcher>(m_driver.Pid());
        m_boxes->PictureBoxes(m_driver.ShotFolder(), m_driver.ShotPrefix());
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

    // From the MAC/IP page through the jumper page to the progress page, once the engineer has
    // set the jumper and pressed Reset on `sim` (null: no controller on the port).
    void StartFlashing(const char* sim) {
        ASSERT_TRUE(m_driver.Click(ID_WIZNEXT));
        ASSERT_TRUE(m_driver.WaitForPage(Page::Jumper, 10000)) << BoxesSaid();
        m_driver.Shot("jumper");
        if (sim) {
            ASSERT_NO_FATAL_FAILURE(WaitForBootLoader(sim));
        }
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
        for (const SimEvent& e : SimLog(sim).Events()) {
            EXPECT_NE(e.what, "error") << sim << " saw a protocol error: " << e.detail;
        }
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
