// The manual steps of several ports: asked one at a time in the order the ports reached them,
// each answer releasing exactly its own port, and a port stopped while it waits gone from the
// queue (never asked about afterwards, never answered in another port's place).
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "cli/prompt_desk.h"

namespace {

// Waits (bounded) until the desk's front is a step of `port`.
std::shared_ptr<CPromptDesk::Request> FrontOf(CPromptDesk& desk, const std::string& port) {
    for (int i = 0; i < 500; ++i) {
        auto front = desk.Front();
        if (front && front->port == port) return front;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return nullptr;
}

TEST(PromptDesk, StepsAreAskedInTheOrderThePortsReachedThem) {
    CPromptDesk desk(true);
    CStopSignal stop4, stop5;
    std::atomic<int> done4{0}, done5{0};
    std::thread port4([&] { done4 = desk.Ask("COM4", "jumper", stop4) ? 1 : -1; });
    ASSERT_TRUE(FrontOf(desk, "COM4"));
    std::thread port5([&] { done5 = desk.Ask("COM5", "jumper", stop5) ? 1 : -1; });
    // COM5 is queued behind COM4, not in front of it, and neither goes on by itself.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(desk.Front()->port, "COM4");
    EXPECT_EQ(done4 + done5, 0);

    desk.Answer(desk.Front());
    port4.join();
    EXPECT_EQ(done4, 1);
    EXPECT_EQ(done5, 0);
    auto second = FrontOf(desk, "COM5");
    ASSERT_TRUE(second);
    desk.Answer(second);
    port5.join();
    EXPECT_EQ(done5, 1);
    EXPECT_EQ(desk.Front(), nullptr);
}

TEST(PromptDesk, AStoppedPortLeavesTheQueue) {
    CPromptDesk desk(true);
    CStopSignal stop4, stop5;
    std::atomic<int> done4{0}, done5{0};
    std::thread port4([&] { done4 = desk.Ask("COM4", "Reset", stop4) ? 1 : -1; });
    ASSERT_TRUE(FrontOf(desk, "COM4"));
    std::thread port5([&] { done5 = desk.Ask("COM5", "Reset", stop5) ? 1 : -1; });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    stop4.Set();
    port4.join();
    EXPECT_EQ(done4, -1);
    // The next step asked is COM5's; the Enter meant for COM4 never reaches it.
    auto next = FrontOf(desk, "COM5");
    ASSERT_TRUE(next);
    desk.Answer(next);
    port5.join();
    EXPECT_EQ(done5, 1);
}

TEST(PromptDesk, WithoutAskingEveryStepGoesOnUnlessStopped) {
    CPromptDesk desk(false);
    CStopSignal stop;
    EXPECT_TRUE(desk.Ask("COM4", "jumper", stop));
    EXPECT_EQ(desk.Front(), nullptr);
    stop.Set();
    EXPECT_FALSE(desk.Ask("COM4", "jumper", stop));
}

}  // namespace
