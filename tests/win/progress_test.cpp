// The progress page: whole runs from the jumper page against
// a simulated controller (PLCSIM_RUN_PORT, which restarts its boot loader after each run).
#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "assistant_fixture.h"
#include "flash/log_file.h"
#include "flash/trace_files.h"
#include "framework/file.h"
#include "framework/sha256.h"
#include "framework/text.h"
#include "pages/progress_page.h"

namespace {

class ProgressRun : public Assistant {
  protected:
    // Identity from the identity controller, then the run on `port` from the jumper page;
    // `prepare` changes the installation first; `deep`: installed past MAX_PATH.
    void StartRunOn(const std::string& port, const std::function<void()>& prepare = nullptr,
                    bool deep = false) {
        UseWorkFolder(true, deep);
        if (prepare) prepare();
        Next();
        ASSERT_NO_FATAL_FAILURE(ReadIdentityThrough(EnvText("PLCSIM_IDENTITY_PORT")));
        Next();
        ASSERT_EQ(Position(), 3);
        if (!SelectPort(port)) {
            // A port Windows does not list: chosen as if it had been there.
            HWND list = m_dlg.m_Second.m_PortList;
            const LRESULT at = SendMessageW(list, CB_ADDSTRING, 0,
                                            reinterpret_cast<LPARAM>(Widen1251(port).c_str()));
            SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(at), 0);
        }
        Next();
        ASSERT_EQ(Position(), 4);
    }
    uint32_t BarPosition() {
        return static_cast<uint32_t>(SendMessageW(m_dlg.m_FourthPage.m_Progress, PBM_GETPOS, 0, 0));
    }
    bool RunEnded() { return !g_pMathThread && Position() != 4; }
    // Our traces in the work folder's trace\, oldest first.
    std::vector<std::string> Traces() {
        std::vector<std::string> names = FileNames(m_work + "\\trace");
        names.erase(std::remove_if(names.begin(), names.end(),
                                   [](const std::string& n) { return !IsTraceFileName(n); }),
                    names.end());
        std::sort(names.begin(), names.end());
        return names;
    }
};

// The last `count` event lines of a trace file, the time column cut, in the program's 1251 as
// UTF-8 (the file's encoding).
std::vector<std::string> TraceTail(const std::string& path, size_t count) {
    const std::string text = ReadAll(path);
    std::vector<std::string> lines;
    std::istringstream in(text.substr(std::min(text.size(), text.find("\n\n") + 2)));
    for (std::string line; std::getline(in, line);) {
        if (line.size() > 12 && line.compare(0, 16, std::string(16, ' ')) != 0) {
            lines.push_back(line.substr(12));
        }
    }
    if (lines.size() > count) lines.erase(lines.begin(), lines.end() - static_cast<long>(count));
    return lines;
}

// Each line starts with its expected beginning (given in 1251).
void ExpectStarts(const std::vector<std::string>& lines, const std::vector<std::string>& starts) {
    ASSERT_EQ(lines.size(), starts.size());
    for (size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].rfind(Cp1251ToUtf8(starts[i]), 0), 0u) << lines[i];
    }
}

const char kTraceNamedInBox[] = "\n\nЗапись обмена с контроллером для службы поддержки: ";

// Seen while a box is up: which page the assistant showed then.
struct PageAtBox {
    CMasterDlg* dlg;
    std::vector<bool> welcomeVisible;
};

void NoteWelcomeVisible(void* context) {
    auto* seen = static_cast<PageAtBox*>(context);
    seen->welcomeVisible.push_back(IsWindowVisible(seen->dlg->m_FirstPage.GetSafeHwnd()) != FALSE);
}

// Installed in a folder whose path runs past MAX_PATH: every file of the run is read and
// written there.
TEST_F(ProgressRun, GoodRunEndsOnTheResultPage) {
    BoxWatcher boxes;
    ASSERT_NO_FATAL_FAILURE(StartRunOn(EnvText("PLCSIM_RUN_PORT"), nullptr, true));
    ASSERT_GT(m_work.size(), 300u);
    EXPECT_EQ(GetWindowText1251(m_dlg.m_FourthPage.m_StatusText), "Идет прошивка прибора!");
    EXPECT_TRUE(Enabled(IDCANCEL));
    EXPECT_FALSE(Enabled(ID_WIZBACK) || Enabled(ID_WIZNEXT) || Enabled(ID_WIZFINISH));
    ASSERT_TRUE(PumpUntil([this] { return BarPosition() > 30 || RunEnded(); }, 120000));
    Shot("progress");
    // Help in the middle of the run: the page's own help, while the run goes on beneath it.
    EXPECT_EQ(PressHelp(m_dlg.GetSafeHwnd()).text.rfind("Обновление прошивки\r\n", 0), 0u);
    ASSERT_TRUE(PumpUntil([this] { return RunEnded(); }, 180000))
        << GetWindowText1251(m_dlg.m_FourthPage.m_StatusText) << ", bar at " << BarPosition()
        << ", boxes " << boxes.Boxes().size();
    EXPECT_EQ(Position(), 5);
    const auto seen = boxes.Boxes();
    ASSERT_EQ(seen.size(), 3u) << "the jumper and Reset twice";
    for (const SeenBox& box : seen) EXPECT_EQ(box.caption, "Обновления прошивки ПЛК-317");
    EXPECT_NE(GetWindowText1251(m_dlg.m_FifthPage.GetDlgItem(IDC_TEXT)).find("3.2.1"),
              std::string::npos)
        << "the sample kernel's target version";
    Shot("result");
    // The reading's backup, the log, the record and data\'s copies, all in the deep folder.
    EXPECT_EQ(FolderNames(m_work + "\\backup").size(), 1u);
    EXPECT_NE(ReadAll(m_work + "\\plcflash.log").find(Cp1251ToUtf8("Результат: 1")),
              std::string::npos);
    EXPECT_TRUE(CFile::Exists(m_work + "\\plcflash-history.csv"));
    EXPECT_EQ(ReadAll(m_work + "\\data\\local_addres.dat").rfind("EMAC=", 0), 0u);
}

TEST_F(ProgressRun, PortThatCannotBeOpenedShowsItsBoxThenTheWelcomePage) {
    PageAtBox pageAtBox{&m_dlg, {}};
    BoxWatcher boxes(GetCurrentProcessId(), &NoteWelcomeVisible, &pageAtBox);
    ASSERT_NO_FATAL_FAILURE(StartRunOn("COM30"));
    ASSERT_TRUE(PumpUntil([this] { return RunEnded(); }, 60000));
    EXPECT_EQ(Position(), 0);
    const auto seen = boxes.Boxes();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].caption, "Ошибка");
    // The box names the trace too, which says the port would not open.
    const std::string lead = "Не удалось открыть com порт!" + std::string(kTraceNamedInBox);
    ASSERT_EQ(seen[0].text.rfind(lead, 0), 0u) << seen[0].text;
    const std::string path = seen[0].text.substr(lead.size());
    EXPECT_EQ(path.rfind(m_work + "\\trace\\", 0), 0u) << path;
    ExpectStarts(TraceTail(path, 2), {"    COM30 не открывается", "    итог: код 8"});
    EXPECT_EQ(pageAtBox.welcomeVisible, std::vector<bool>{false}) << "the box comes first";
}

// An installation whose SHA256SUMS publishes another kernel: the box names the kernel and both
// sums before the port is even opened (COM30 cannot be), and the assistant starts again.
TEST_F(ProgressRun, SumMismatchShowsBothSumsBeforeThePortIsOpened) {
    BoxWatcher boxes;
    boxes.PictureBoxes(EnvText("PLCFLASH_SCREENSHOTS"), "sum-mismatch");
    std::string kernel, kernelSum;
    const std::string published(64, 'e');
    ASSERT_NO_FATAL_FAILURE(StartRunOn("COM30", [&] {
        std::string loader, loaderSum;
        ASSERT_TRUE(CFile::ReadAll("system\\Floader.bin", &loader));
        ASSERT_TRUE(CFile::ReadAll("system\\Ethernet.bin", &kernel));
        ASSERT_TRUE(Sha256Hex(loader.data(), loader.size(), &loaderSum));
        ASSERT_TRUE(Sha256Hex(kernel.data(), kernel.size(), &kernelSum));
        ASSERT_TRUE(CFile::WriteAll("system\\SHA256SUMS", loaderSum + " *Floader.bin\r\n" +
                                                              published + " *Ethernet.bin\r\n"));
    }));
    ASSERT_TRUE(PumpUntil([this] { return RunEnded(); }, 60000));
    EXPECT_EQ(Position(), 0);
    const auto seen = boxes.Boxes();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].caption, "Ошибка");
    for (const std::string& part : {std::string("system\\Ethernet.bin"), published, kernelSum}) {
        EXPECT_NE(seen[0].text.find(part), std::string::npos) << part << " in " << seen[0].text;
    }
}

// A failed run leaves its line trace for support: the box names it, it ends with the exchange
// that failed the run, the run log notes it, and of our traces the 20 newest stay, nothing else
// of the folder going.
TEST_F(ProgressRun, AFailedRunNamesItsTraceInTheBox) {
    BoxWatcher boxes;
    boxes.PictureBoxes(EnvText("PLCFLASH_SCREENSHOTS"), "trace-named");
    ASSERT_NO_FATAL_FAILURE(StartRunOn(EnvText("PLCSIM_TRACE_PORT")));
    // Earlier runs' traces, and files that only look like ours; the run takes over 7 s to fail.
    CreateDirectoryA("trace", nullptr);
    std::vector<std::string> old;
    for (int i = 0; i < 25; ++i) {
        old.push_back("20250101-0" + std::string(i < 10 ? "0" : "") + std::to_string(i) +
                      "000-COM15.txt");
        ASSERT_TRUE(WriteAll("trace\\" + old.back(), "old"));
    }
    const std::vector<std::string> others = {"readme.txt", "20250101-000000-COM15.txt.bak"};
    for (const std::string& name : others) ASSERT_TRUE(WriteAll("trace\\" + name, "other"));
    ASSERT_TRUE(PumpUntil([this] { return RunEnded(); }, 120000));
    const auto seen = boxes.Boxes();
    ASSERT_EQ(seen.size(), 1u);
    const std::string lead = "Контроллер не отвечает!" + std::string(kTraceNamedInBox);
    ASSERT_EQ(seen[0].text.rfind(lead, 0), 0u) << seen[0].text;
    const std::string path = seen[0].text.substr(lead.size());
    const std::vector<std::string> traces = Traces();
    ASSERT_EQ(traces.size(), kTracesKept);
    EXPECT_TRUE(std::equal(old.begin() + 6, old.end(), traces.begin())) << "the six oldest go";
    EXPECT_EQ(path, m_work + "\\trace\\" + traces.back());
    for (const std::string& name : others) EXPECT_EQ(ReadAll("trace\\" + name), "other") << name;
    // The boot loader fell silent at the loader's fifth block.
    ExpectStarts(TraceTail(path, 6),
                 {"->  блок XMODEM 4,", "<-  06", "->  блок XMODEM 5,", "<-  (ничего не пришло",
                  "    порт закрыт", "    итог: код 5, Контроллер не отвечает!"});
    EXPECT_NE(ReadAll("plcflash.log").find(Cp1251ToUtf8("Запись обмена: " + path)),
              std::string::npos)
        << ReadAll("plcflash.log");
}

// The ways a user stops a run: the Cancel button, Esc (given to the assistant's message loop, as
// the program's own loop does with every message), and the close box (Windows makes it
// WM_CLOSE, which the dialog manager posts on as Cancel, so it is handled only once the
// messages are pumped).
struct StopCase {
    const char* name;
    void (*stop)(CMasterDlg& dlg);
};

void PrintTo(const StopCase& c, std::ostream* out) {
    *out << c.name;
}

class ProgressStop : public ProgressRun, public ::testing::WithParamInterface<StopCase> {};

TEST_P(ProgressStop, ReturnsToTheWelcomePageWithoutABoxAndTheEngineEnded) {
    BoxWatcher boxes;
    ASSERT_NO_FATAL_FAILURE(StartRunOn(EnvText("PLCSIM_RUN_PORT")));
    // Every run starts its bar at 0 of 0..100.
    EXPECT_EQ(SendMessageW(m_dlg.m_FourthPage.m_Progress, PBM_GETRANGE, FALSE, 0), 100);
    EXPECT_EQ(BarPosition(), 0u);
    ASSERT_TRUE(PumpUntil([this] { return BarPosition() > 0 || RunEnded(); }, 60000));
    ASSERT_NE(g_pMathThread, nullptr) << "the run ended before it could be stopped";
    GetParam().stop(m_dlg);
    ASSERT_TRUE(PumpUntil([this] { return RunEnded(); }, 30000))
        << "still on page " << Position() << ", bar at " << BarPosition();
    EXPECT_EQ(Position(), 0);
    EXPECT_TRUE(IsWindowVisible(m_dlg.m_FirstPage.GetSafeHwnd()));
    EXPECT_TRUE(IsWindow(m_dlg.GetSafeHwnd())) << "stopping a run does not close the assistant";
    for (const SeenBox& box : boxes.Boxes()) ADD_FAILURE() << box.caption << ": " << box.text;
    // No box, but a trace: the upload under way was cancelled with CAN CAN.
    const std::vector<std::string> traces = Traces();
    ASSERT_EQ(traces.size(), 1u);
    ExpectStarts(TraceTail(m_work + "\\trace\\" + traces[0], 4),
                 {"    остановка по запросу пользователя", "->  18 18 ", "    порт закрыт",
                  "    итог: код 2"});
}

INSTANTIATE_TEST_SUITE_P(
    Ways, ProgressStop,
    ::testing::Values(StopCase{"CancelButton",
                               [](CMasterDlg& dlg) {
                                   SendMessageW(dlg.GetSafeHwnd(), WM_COMMAND, IDCANCEL, 0);
                               }},
                      StopCase{"Escape",
                               [](CMasterDlg& dlg) {
                                   MSG key{GetFocus(), WM_KEYDOWN, VK_ESCAPE, 0, 0, {0, 0}};
                                   ASSERT_NE(key.hwnd, nullptr);
                                   if (!dlg.PreTranslateMessage(&key)) {
                                       TranslateMessage(&key);
                                       DispatchMessageW(&key);
                                   }
                               }},
                      StopCase{"CloseBox",
                               [](CMasterDlg& dlg) {
                                   SendMessageW(dlg.GetSafeHwnd(), WM_SYSCOMMAND, SC_CLOSE, 0);
                               }}),
    [](const ::testing::TestParamInfo<StopCase>& param) { return param.param.name; });

}  // namespace
