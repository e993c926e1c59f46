// Each controller gets only its own files: two copies of plcflash.exe started from one folder,
// one per cable, and a program whose folder cannot be written, which still reads and flashes a
// controller that answers.
#include <string>

#include "e2e_fixture.h"
#include "flash/log_file.h"

namespace {

class SideBySide : public EndToEnd {
  protected:
    // How often `part` occurs in `text`.
    static size_t Count(const std::string& text, const std::string& part) {
        size_t n = 0;
        for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
            ++n;
        }
        return n;
    }
};

// Copy A flashes its controller; while it runs, copy B is started from the same folder, reads
// its own controller (its copies land in the same data\) and starts its run (its identity and
// calibration go into data\ too). Each controller ends with its own identity and calibration,
// and the log holds both runs.
TEST_F(SideBySide, TwoCopiesFromOneFolderFlashTheirOwnControllers) {
    ASSERT_NO_FATAL_FAILURE(Install(""));
    const std::string identityA = ReadAll(Sim("copy-a") + "\\files\\local_addres.dat");
    const std::string calibrationA = ReadAll(Sim("copy-a") + "\\files\\calib.inc");
    const std::string identityB = ReadAll(Sim("copy-b") + "\\files\\local_addres.dat");
    const std::string calibrationB = ReadAll(Sim("copy-b") + "\\files\\calib.inc");

    ASSERT_NO_FATAL_FAILURE(ReadIdentityFrom(EnvText("E2E_PORT_COPY_A")));
    EXPECT_EQ(m_driver.Mac(), "02:00:00:00:00:0A");
    ASSERT_NO_FATAL_FAILURE(StartFlashing("copy-a"));

    UiDriver second;
    second.SetShotFolder(EnvText("PLCFLASH_SCREENSHOTS"), "TwoCopiesFromOneFolder-B");
    ASSERT_TRUE(second.Launch(m_install + "\\plcflash.exe"));
    BoxWatcher secondBoxes(second.Pid());
    ASSERT_TRUE(second.WaitForPage(Page::Welcome, 10000));
    ASSERT_TRUE(second.Click(ID_WIZNEXT));
    ASSERT_TRUE(second.WaitForPage(Page::Port, 10000));
    ASSERT_TRUE(second.SelectPort(EnvText("E2E_PORT_COPY_B")));
    ASSERT_TRUE(second.Click(ID_WIZNEXT));
    ASSERT_TRUE(second.WaitForPage(Page::MacIp, 10000));
    ASSERT_TRUE(second.WaitUntil([&] { return second.Text(IDC_TEXT) == "Подождите..."; }, 10000));
    ASSERT_TRUE(second.WaitEnabled(ID_WIZNEXT, 120000));
    EXPECT_EQ(second.Mac(), "02:00:00:00:00:0B");
    ASSERT_TRUE(second.Click(ID_WIZNEXT));
    ASSERT_TRUE(second.WaitForPage(Page::Jumper, 10000));
    ASSERT_NO_FATAL_FAILURE(WaitForBootLoader("copy-b"));
    ASSERT_TRUE(second.Click(ID_WIZNEXT));
    ASSERT_TRUE(second.WaitForPage(Page::Progress, 10000));
    // B's reading and the start of its run fell inside A's run.
    EXPECT_EQ(m_driver.ShownPage(), Page::Progress) << "A's run ended before B's started";

    ASSERT_NO_FATAL_FAILURE(RunTo(Page::Result));
    ASSERT_TRUE(second.WaitForPage(Page::Result, 300000));
    ASSERT_NO_FATAL_FAILURE(FinishAndExit());
    ASSERT_TRUE(second.Click(ID_WIZFINISH));
    ASSERT_TRUE(second.WaitForExit(10000));
    EXPECT_TRUE(BoxesCaptioned("Ошибка").empty()) << BoxesSaid();
    for (const SeenBox& box : secondBoxes.Boxes()) EXPECT_NE(box.caption, "Ошибка") << box.text;

    ExpectControllerFlashed("copy-a", identityA);
    ExpectControllerFlashed("copy-b", identityB);
    EXPECT_EQ(ReadAll(Sim("copy-a") + "\\files\\calib.inc"), calibrationA);
    EXPECT_EQ(ReadAll(Sim("copy-b") + "\\files\\calib.inc"), calibrationB);
    const std::string log = ReadAll(m_install + "\\plcflash.log");
    EXPECT_EQ(Count(log, "=== "), 2u) << log;
    EXPECT_EQ(Count(log, Cp1251ToUtf8("Результат: 1 (успех)")), 2u) << log;
    for (const std::string& name : FileNames(m_install + "\\data")) {
        EXPECT_EQ(name.find(".part"), std::string::npos) << name << " left in data";
    }
}

// The program's folder cannot be written (under Program Files, a standard user): the controller
// that answers is shown as read, its copy is kept in the user's folder, and the run writes what
// was read.
TEST_F(SideBySide, AFolderThatCannotBeWrittenIsNoDeadController) {
    m_install = EnvText("E2E_LOCKED_INSTALL");
    if (m_install.empty()) GTEST_SKIP() << "no immutable installation on this file system";
    const std::string storage = EnvText("LOCALAPPDATA") + "\\plcflash";
    std::string before = ReadAll(storage + "\\plcflash.log");
    if (before.rfind("<missing", 0) == 0) before.clear();
    const std::string identity = ReadAll(Sim("locked") + "\\files\\local_addres.dat");
    const std::string calibration = ReadAll(Sim("locked") + "\\files\\calib.inc");

    ASSERT_NO_FATAL_FAILURE(ReadIdentityFrom(EnvText("E2E_PORT_LOCKED")));
    EXPECT_EQ(m_driver.Text(IDC_TEXT), "\n\nMAC-адрес и IP, считанные из прибора:");
    EXPECT_EQ(m_driver.Mac(), "02:4C:4F:43:4B:44");
    EXPECT_EQ(m_driver.Ip(), "10.0.0.76");
    EXPECT_FALSE(m_driver.Checked(IDC_FORMAT)) << "formatting is not forced";
    const std::string note = m_driver.Text(IDC_BACKUP_NOTE);
    EXPECT_EQ(note.rfind("Папка data закрыта для записи. Копия: ", 0), 0u) << note;
    EXPECT_NE(note.find("plcflash\\backup\\024C4F434B44"), std::string::npos) << note;
    m_driver.Shot("macip-folder-locked");
    ASSERT_NO_FATAL_FAILURE(StartFlashing("locked"));
    ASSERT_NO_FATAL_FAILURE(RunTo(Page::Result));
    ASSERT_NO_FATAL_FAILURE(FinishAndExit());
    ExpectControllerFlashed("locked", identity);
    EXPECT_EQ(ReadAll(Sim("locked") + "\\files\\calib.inc"), calibration);
    const std::string log = ReadAll(storage + "\\plcflash.log");
    ASSERT_GT(log.size(), before.size());
    const std::string block = log.substr(before.size());
    EXPECT_NE(block.find(Cp1251ToUtf8("Папка data: не обновлена")), std::string::npos) << block;
    EXPECT_NE(block.find(Cp1251ToUtf8("Результат: 1 (успех)")), std::string::npos) << block;
}

}  // namespace
