// Stopping plcflash.exe while it waits for the controller: Cancel in each waiting phase of a
// run, and the close box while a controller is being read.
#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>

#include "e2e_fixture.h"

namespace {

// How far into a wait for the controller a Cancel comes: the wait is under way, and a Cancel
// that waited for its end would take seconds more. The program's wait begins at a moment no
// controller can tell (it only listens), so this is a time, not an event.
constexpr DWORD kIntoTheWaitMs = 2000;

// Cancel in the phases where the program waits for the controller: the welcome page comes back
// at once, well before the 8.6 s read time-out (or the 12 s pause) would have ended the wait, and
// without a box.
struct CancelCase {
    const char* name;
    const char* port;  // environment variable naming the controller's port
    const char* sim;
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
    ASSERT_NO_FATAL_FAILURE(StartFlashing(c.sim));
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
    ::testing::Values(CancelCase{"boot loader silent", "E2E_PORT_QUIET", "quiet", "ПЛК-110",
                                 [](UiDriver&, BoxWatcher&) {
                                     // The boot loader fell silent before the run began
                                     // (StartFlashing saw it): into the wait for "CCC".
                                     Sleep(kIntoTheWaitMs);
                                     return true;
                                 }},
                      CancelCase{"kernel that does not announce itself", "E2E_PORT_UNANNOUNCED",
                                 "unannounced", "ПЛК-110",
                                 [](UiDriver&, BoxWatcher& boxes) {
                                     // The jumper, Reset twice: then the wait for the kernel.
                                     if (!boxes.WaitForBoxes(3, 240000)) return false;
                                     Sleep(kIntoTheWaitMs);
                                     return true;
                                 }},
                      CancelCase{"a large data file", "E2E_PORT_LARGE", "large", "ПЛК-110",
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
    // The controller has answered the reader's first request (refused: it holds no such file,
    // or taken and left silent): the reading is under way.
    const SimLog slow("slow");
    ASSERT_TRUE(slow.WaitFor(
        [](const SimEvents& events) {
            return std::any_of(events.begin(), events.end(), [](const SimEvent& e) {
                return e.what == "unanswered" || e.what == "refused";
            });
        },
        20000))
        << "the reader's request was not seen; " << slow.Tail();
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
