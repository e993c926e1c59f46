#include <gtest/gtest.h>

#include <tuple>

#include "flash/math_thread.h"
#include "scripted_rig.h"

namespace {

struct Rig : ScriptedRig<RecordingUi, TestEngine> {
    Rig() { worker.OpenEnginePort(); }
};

struct WaitCase {
    const char* name;
    std::vector<std::string> chunks;
    std::string awaited;
    size_t readsExpected;
    std::string receivedExpected;
};

TEST(WaitForText, FindsTheTextAcrossChunksAndDropsWhatFollowsANul) {
    const WaitCase cases[] = {
        {"prompt split over two reads",
         {"Do you want to erase", " FFS?"},
         "Do you want to erase FFS?",
         2,
         "Do you want to erase FFS?"},
        {"noise before the prompt", {"\r\n#$%", "CC", "C"}, "CCC", 3, "\r\n#$%CCC"},
        {"zero byte cuts its chunk", {std::string("ab\0xyz", 6), "CCC"}, "CCC", 2, "abCCC"},
        {"prompt inside a long chunk",
         {"..Do you want to erase kernel area? .."},
         "erase kernel area?",
         1,
         "..Do you want to erase kernel area? .."},
        {"case matters", {"ccc", "CCC"}, "CCC", 2, "cccCCC"},
    };
    for (const auto& c : cases) {
        Rig rig;
        for (const auto& chunk : c.chunks) rig.script.reads.push_back({chunk, false});
        rig.worker.WaitForText(c.awaited);
        EXPECT_EQ(rig.script.readCalls, c.readsExpected) << c.name;
        EXPECT_EQ(rig.worker.GetReceived(), c.receivedExpected) << c.name;
    }
}

TEST(WaitForText, TextAlreadyReceivedNeedsNoRead) {
    Rig rig;
    rig.script.reads.push_back({"CCC then more", false});
    rig.worker.WaitForText("CCC");
    rig.worker.WaitForText("then");
    EXPECT_EQ(rig.script.readCalls, 1u);
    rig.worker.ClearReceived();
    rig.worker.WaitForText("");  // the empty text is in every received text
    EXPECT_EQ(rig.script.readCalls, 1u);
}

// A controller left talking: what is kept stays bounded, and a prompt that arrives split
// across the point where the old text is dropped is still found.
TEST(WaitForText, AChattyControllerCostsBoundedMemory) {
    for (const size_t chatter : {size_t{4} << 20, 2 * CMathThread::kReceivedKept - 3}) {
        Rig rig;
        const std::string line = "PLC core idle, nothing to do 0123456789 abcdefghij\r\n";
        std::string all;
        while (all.size() < chatter) all += line;
        all.resize(chatter);
        all += "Do you want to erase FFS?";
        for (size_t at = 0; at < all.size(); at += CMathThread::kReadChunk) {
            rig.script.reads.push_back({all.substr(at, CMathThread::kReadChunk), false});
        }
        rig.worker.WaitForText("Do you want to erase FFS?");
        EXPECT_LE(rig.worker.GetReceived().size(),
                  2 * CMathThread::kReceivedKept + CMathThread::kReadChunk)
            << chatter;
        EXPECT_EQ(rig.script.reads.size(), 0u) << chatter;
        const std::string tail = rig.worker.GetReceived();
        EXPECT_EQ(all.compare(all.size() - tail.size(), tail.size(), tail), 0) << chatter;
    }
}

TEST(WaitForText, ReadsAtMostEightyBytesAtATime) {
    Rig rig;
    rig.script.reads.push_back({std::string(200, 'x') + "END", false});
    rig.worker.WaitForText("END");
    EXPECT_EQ(rig.script.readCalls, 3u);
}

TEST(WaitForText, SilenceRaisesNoAnswerAndAFailedReadRaisesIoError) {
    Rig silent;
    EXPECT_EQ(RaisedBy([&] { silent.worker.WaitForText("CCC"); }), ResultNoAnswer);
    Rig broken;
    broken.script.reads.push_back({"", true});
    EXPECT_EQ(RaisedBy([&] { broken.worker.WaitForText("CCC"); }), ResultIoError);
}

TEST(WaitForTextCounting, CountsEveryByteReadIntoTheBar) {
    Rig rig;
    rig.worker.SetTotal(6144);
    // 7000 bytes in all, a NUL among them: counted, though not kept as text.
    std::string first(3000, '.');
    first[100] = '\0';
    rig.script.reads.push_back({first, false});
    rig.script.reads.push_back({std::string(3991, '.') + "bad pages", false});
    rig.worker.WaitForTextCounting("bad pages");
    ASSERT_FALSE(rig.ui.positions.empty());
    EXPECT_EQ(rig.worker.GetProgressDone(), 7000u);
    EXPECT_EQ(rig.ui.positions.back(), 113u);  // 7000 * 100 / 6144, truncated
    EXPECT_EQ(rig.ui.positions.front(), 1u);   // 80 * 100 / 6144
}

TEST(WaitForTextLenient, SilencePausesTwelveSecondsThenReturnsOtherCodesPass) {
    Rig silent;
    silent.worker.WaitForTextLenient("Loading PLC core completed!");
    EXPECT_EQ(silent.clock.sleeps, std::vector<uint32_t>{12000});

    Rig stopped;
    stopped.worker.RequestStop();
    EXPECT_EQ(RaisedBy([&] { stopped.worker.WaitForTextLenient("x"); }), ResultStopped);
    EXPECT_TRUE(stopped.clock.sleeps.empty());

    Rig found;
    found.script.reads.push_back({"Loading PLC core completed!", false});
    found.worker.WaitForTextLenient("Loading PLC core completed!");
    EXPECT_TRUE(found.clock.sleeps.empty());
}

// The boot loader erases before it answers: the engine waits 7 s for a reply to begin, and
// 200 ms of silence ends one.
TEST(OpenEnginePort, SetsTheFlashingTimeOuts) {
    Rig rig;
    const CommTimeouts& t = rig.script.timeouts;
    EXPECT_EQ(std::tie(t.readTotalConstant, t.readTotalMultiplier, t.readInterval,
                       t.writeTotalConstant, t.writeTotalMultiplier),
              std::make_tuple(7000u, 20u, 200u, 5000u, 1u));
}

TEST(SendAnswer, WritesOneByteWithoutLineEnd) {
    Rig rig;
    rig.worker.SendAnswer('b');
    rig.worker.SendAnswer('y');
    EXPECT_EQ(rig.script.written, "by");
}

TEST(ReportProgress, PositionIsDoneTimesHundredOverTotalTruncated) {
    struct Case {
        uint64_t total;
        std::vector<uint64_t> adds;
        uint32_t position;
    };
    const Case cases[] = {
        {100, {1}, 1},
        {3 * 128, {128}, 33},
        {3 * 128, {128, 128, 128}, 100},
        {1000, {1500}, 150},  // past 100: the control shows a full bar
        {0, {128}, 100},      // two empty images: no division by zero
        {1ull << 40, {1ull << 39}, 50},
    };
    for (const auto& c : cases) {
        Rig rig;
        rig.worker.SetTotal(c.total);
        for (uint64_t a : c.adds) rig.worker.ReportProgress(a);
        EXPECT_EQ(rig.ui.positions.back(), c.position) << c.total;
    }
}

}  // namespace
