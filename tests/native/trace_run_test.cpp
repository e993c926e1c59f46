// A whole run's line trace against the simulated controller: however the run fails, the trace
// ends with the exchange that failed it, then the closed port.
#include <gtest/gtest.h>

#include <sstream>

#include "flash_run_rig.h"
#include "serial/line_trace.h"

namespace {

// The trace's events after the heading, without the time column.
std::vector<std::string> Events(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text.substr(text.find("\n\n") + 2));
    for (std::string line; std::getline(in, line);) {
        if (line.compare(0, 16, std::string(16, ' ')) != 0) lines.push_back(line.substr(12));
    }
    return lines;
}

TEST(FlashingRun, TheTraceOfAFailedRunEndsWithTheExchangeThatFailedIt) {
    const char ack[] = "<-  06 ";
    const char nak[] = "<-  15 ";
    const char block[] = "->  блок XMODEM ";
    struct Case {
        const char* name;
        std::function<void(RunSetup&)> arrange;
        size_t bound;
        int result;
        // The last events before the port closes, each as the start of its line.
        std::vector<std::string> tail;
    };
    const auto kernelBlockRefused = [](RunSetup& s) {
        s.boot.faultImage = 3;
        s.boot.receiverFaults.nakBlock[2] = 3;
    };
    const std::vector<std::string> threeRefusals = {
        ack, "->  блок XMODEM 2,", nak, "->  блок XMODEM 2,", nak, "->  блок XMODEM 2,", nak};
    const Case cases[] = {
        {"the kernel's second block refused three times", kernelBlockRefused,
         CLineTrace::kDefaultBound, ResultNakLimit, threeRefusals},
        {"the same, remembered in 4 KiB", kernelBlockRefused, 4096, ResultNakLimit, threeRefusals},
        {"a boot loader that falls silent at the loader's fifth block",
         [](RunSetup& s) {
             s.boot.faultImage = 1;
             s.boot.receiverFaults.silentAfterBlock = 5;
         },
         CLineTrace::kDefaultBound,
         ResultNoAnswer,
         {"->  блок XMODEM 4,", ack, "->  блок XMODEM 5,", "<-  (ничего не пришло"}},
        {"Cancel during the kernel upload",
         [](RunSetup&) {},
         CLineTrace::kDefaultBound,
         ResultStopped,
         {block, "    остановка по запросу пользователя", "->  18 18 "}},
    };
    for (const Case& c : cases) {
        RunSetup setup;
        c.arrange(setup);
        auto trace = std::make_shared<CLineTrace>("COM71", c.bound);
        setup.prepare = [&trace](CMathThread& engine) { engine.SetTrace(trace); };
        FlashRun run(setup);
        if (c.result == ResultStopped) {
            run.ui.onProgress = [&run](uint32_t position) {
                if (position >= 60 && run.Engine()) run.Engine()->RequestStop();
            };
        }
        ASSERT_EQ(run.Go(), c.result) << c.name;
        const std::string text = trace->Text();
        const std::vector<std::string> events = Events(text);
        ASSERT_GT(events.size(), c.tail.size()) << c.name;
        EXPECT_EQ(events.back(), "    порт закрыт") << c.name;
        for (size_t i = 0; i < c.tail.size(); ++i) {
            const std::string& line = events[events.size() - 1 - c.tail.size() + i];
            EXPECT_EQ(line.rfind(c.tail[i], 0), 0u) << c.name << ": " << line << "\n" << text;
        }
        EXPECT_EQ(trace->Dropped() > 0, c.bound < CLineTrace::kDefaultBound) << c.name;
        // Recording costs the run none of its bytes: the controller got what it always gets.
        if (c.result == ResultNakLimit) {
            EXPECT_EQ(run.images.size(), 2u) << c.name;
        }
    }
}

}  // namespace
