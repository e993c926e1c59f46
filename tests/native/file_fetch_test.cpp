// The reader against a scripted controller, exchange by exchange: every byte the program writes
// is compared with what the controller expects next, and each write releases the controller's
// answer. Repeats (request, acknowledgement) must be the same bytes again.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "child_process.h"
#include "scripted_rig.h"

namespace {

std::string Word(uint16_t v) {
    return {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
}

// A six-byte message: marker 55 55, status, sequence number.
std::string Message(uint16_t status, uint16_t seq) {
    return "\x55\x55" + Word(status) + Word(seq);
}
std::string Ok(uint16_t seq) {
    return Message(10, seq);
}
std::string Refused(uint16_t seq) {
    return Message(20, seq);
}

// A packet as the controller frames it, its sum added up here (or spoilt).
std::string Packet(uint16_t seq, bool last, const std::string& payload, bool badSum = false) {
    std::string p = "\xAA\xAA" + Word(static_cast<uint16_t>(payload.size())) + Word(seq) +
                    std::string(1, '\0') + std::string(1, last ? '\1' : '\0') + payload;
    unsigned sum = 0;
    for (size_t i = 0; i < p.size(); ++i) sum += i == 6 ? 0 : static_cast<uint8_t>(p[i]);
    p[6] = static_cast<char>(sum + (badSum ? 1 : 0));
    return p;
}

// The first packet's six-byte sub-header; its third byte announces another segment.
const std::string kOnlySegment("\x01\x00\x00\x00\x00\x00", 6);
const std::string kMoreSegments("\x01\x00\x01\x00\x00\x00", 6);
const char kClosing = 'Z';  // the last packet's final byte, not the file's

const std::string kCalibRequest =
    std::string("\xAA\xAA\x0E\x00\x01\x00\x02\x01\x31\x00\x0A\x00", 12) + "calib.inc" +
    std::string(1, '\0');
const std::string kIdentityRequest =
    std::string("\xAA\xAA\x16\x00\x01\x00\xC0\x01\x31\x00\x12\x00", 12) + "local_addres.dat" +
    std::string("\x00\xCD", 2);
const std::string kContinuation("\xAA\xAA\x01\x00\x01\x00\x89\x01\x32", 9);

// What the program must write next, and the controller's answer to it: one string per read
// (none: silence).
struct Step {
    std::string write;
    std::vector<std::string> answers;
};

std::string Hex(const std::string& bytes) {
    std::string hex;
    char b[4];
    for (char c : bytes) {
        std::snprintf(b, sizeof(b), "%02X ", static_cast<uint8_t>(c));
        hex += b;
    }
    return hex;
}

class ScriptedController {
  public:
    ScriptedController(PortScript& script, std::vector<Step> steps) : m_steps(std::move(steps)) {
        script.onWrite = [this](const std::string& bytes, PortScript& s) {
            if (m_next == m_steps.size()) {
                m_mismatches.push_back("unexpected " + Hex(bytes));
                return;
            }
            const Step& step = m_steps[m_next++];
            if (bytes != step.write) {
                m_mismatches.push_back("step " + std::to_string(m_next) + ": " + Hex(bytes) +
                                       "where " + Hex(step.write));
            }
            for (const std::string& a : step.answers) s.reads.push_back({a});
        };
    }
    // Every step written as expected, and no more.
    std::string Mismatches() const {
        std::string all;
        for (const std::string& m : m_mismatches) all += m + "\n";
        if (m_next < m_steps.size()) all += "stopped before step " + std::to_string(m_next + 1);
        return all;
    }
    // Where the port must have been purged: set-up, and before each sending of a request.
    std::vector<size_t> ExpectedPurges() const {
        std::vector<size_t> at = {0};
        size_t written = 0;
        for (size_t i = 0; i < m_next; ++i) {
            const std::string& w = m_steps[i].write;
            if (w.size() > 8 && w[0] == '\xAA' && w[8] == '\x31') {
                at.push_back(written);
            }
            written += w.size();
        }
        return at;
    }

  private:
    std::vector<Step> m_steps;
    size_t m_next = 0;
    std::vector<std::string> m_mismatches;
};

struct ReaderRig : ScriptedRig<ReaderUi, CReadThread> {
    WorkFolder work{"file_fetch", "data"};
    ReaderRig() { worker.GetPortNumber(); }
};

// A one-packet copy of calib.inc holding "abc", from the acknowledgement that opens it.
std::vector<Step> OnePacket(const std::string& marker = "\x55\x55") {
    return {{marker + Word(10) + Word(0), {Packet(1, true, kOnlySegment + "abc" + kClosing)}},
            {marker + Word(10) + Word(1), {}}};
}

std::vector<Step> Join(std::initializer_list<std::vector<Step>> parts) {
    std::vector<Step> all;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

const std::vector<Step> kAccepted = {{kCalibRequest, {Ok(1)}}};

TEST(FileFetch, WhatTheReaderWritesAndKeepsExchangeByExchange) {
    struct Case {
        const char* name;
        std::vector<Step> steps;
        int result;
        const char* local;  // the copy in data\ afterwards; null: none
    };
    const std::string sub = kOnlySegment;
    const Case cases[] = {
        {"one packet: sub-header and closing byte left out", Join({kAccepted, OnePacket()}),
         ResultDone, "abc"},
        {"three packets: each slice of its payload",
         Join({kAccepted,
               {{Ok(0), {Packet(1, false, sub + "abcd")}},
                {Ok(1), {Packet(2, false, "efgh")}},
                {Ok(2), {Packet(3, true, std::string("ij") + kClosing)}},
                {Ok(3), {}}}}),
         ResultDone, "abcdefghij"},
        {"two segments: ready, continuation, a fresh acknowledgement 0",
         Join({kAccepted,
               {{Ok(0), {Packet(1, true, kMoreSegments + "abc" + kClosing)}},
                {Ok(1), {Ok(0)}},
                {kContinuation, {Ok(1)}},
                {Ok(0), {Packet(1, true, sub + "def" + kClosing)}},
                {Ok(1), {}}}}),
         ResultDone, "abcdef"},
        {"between segments: a refusal repeats the acknowledgement, a refused continuation goes "
         "again",
         Join({kAccepted,
               {{Ok(0), {Packet(1, true, kMoreSegments + "abc" + kClosing)}},
                {Ok(1), {Refused(0)}},
                {Ok(1), {Ok(0)}},
                {kContinuation, {Refused(1)}},
                {kContinuation, {Ok(1)}},
                {Ok(0), {Packet(1, true, sub + "def" + kClosing)}},
                {Ok(1), {}}}}),
         ResultDone, "abcdef"},
        {"request refused once: the same bytes again",
         Join({{{kCalibRequest, {Refused(1)}}}, kAccepted, OnePacket()}), ResultDone, "abc"},
        {"request refused twice: the third sending ends with 10 unread",
         {{kCalibRequest, {Refused(1)}}, {kCalibRequest, {Refused(1)}}, {kCalibRequest, {Ok(1)}}},
         ResultIoError,
         nullptr},
        {"a refusal where the first header is due: the acknowledgement again",
         Join({kAccepted, {{Ok(0), {Refused(0)}}}, OnePacket()}), ResultDone, "abc"},
        {"a refusal where a later header is due: the last acknowledgement again",
         Join({kAccepted,
               {{Ok(0), {Packet(1, false, sub + "abcd")}},
                {Ok(1), {Refused(1)}},
                {Ok(1), {Packet(2, true, std::string("ef") + kClosing)}},
                {Ok(2), {}}}}),
         ResultDone, "abcdef"},
        {"a wrong sum: refused under its number, only the good copy kept",
         Join({kAccepted,
               {{Ok(0), {Packet(1, true, sub + "abc" + kClosing, true)}},
                {Refused(1), {Packet(1, true, sub + "abc" + kClosing)}},
                {Ok(1), {}}}}),
         ResultDone, "abc"},
        {"two short reads where a header is due: the third read ends with 10",
         Join({kAccepted, {{Ok(0), {"xyz", "uv", Packet(1, true, sub + "abc" + kClosing)}}}}),
         ResultIoError, nullptr},
        {"two refusals where a header is due: the third read ends with 10",
         Join({kAccepted,
               {{Ok(0), {Refused(0)}},
                {Ok(0), {Refused(0)}},
                {Ok(0), {Packet(1, true, sub + "abc" + kClosing)}}}}),
         ResultIoError, nullptr},
        {"a short read before each header: the count starts again at every header",
         Join({kAccepted,
               {{Ok(0), {"xyz", Packet(1, false, sub + "abcd")}},
                {Ok(1), {"uv", Packet(2, false, "efgh")}},
                {Ok(2), {"w", Packet(3, true, std::string("ij") + kClosing)}},
                {Ok(3), {}}}}),
         ResultDone, "abcdefghij"},
        {"a packet sent again after its acknowledgement: the same acknowledgement, kept once",
         Join({kAccepted,
               {{Ok(0), {Packet(1, false, sub + "abcd")}},
                {Ok(1), {Packet(2, false, "efgh")}},
                {Ok(2), {Packet(2, false, "efgh")}},
                {Ok(2), {Packet(3, true, std::string("ij") + kClosing)}},
                {Ok(3), {}}}}),
         ResultDone, "abcdefghij"},
        {"the first packet sent again: its sub-header is not taken again",
         Join({kAccepted,
               {{Ok(0), {Packet(1, false, kMoreSegments + "abcd")}},
                {Ok(1), {Packet(1, false, kMoreSegments + "abcd")}},
                {Ok(1), {Packet(2, true, std::string("ef") + kClosing)}},
                {Ok(2), {Ok(0)}},
                {kContinuation, {Ok(1)}},
                {Ok(0), {Packet(1, true, sub + "gh" + kClosing)}},
                {Ok(1), {}}}}),
         ResultDone, "abcdefgh"},
        {"the same first packet opening every segment: each is a new one",
         Join({kAccepted,
               {{Ok(0), {Packet(1, true, kMoreSegments + "abc" + kClosing)}},
                {Ok(1), {Ok(0)}},
                {kContinuation, {Ok(1)}},
                {Ok(0), {Packet(1, true, kMoreSegments + "abc" + kClosing)}},
                {Ok(1), {Ok(0)}},
                {kContinuation, {Ok(1)}},
                {Ok(0), {Packet(1, true, sub + "abc" + kClosing)}},
                {Ok(1), {}}}}),
         ResultDone, "abcabcabc"},
        {"a packet missing: ends with 10, the next one unanswered",
         Join({kAccepted,
               {{Ok(0), {Packet(1, false, sub + "abcd")}},
                {Ok(1), {Packet(3, true, std::string("ij") + kClosing)}}}}),
         ResultIoError, nullptr},
        {"a segment opening with packet 2: ends with 10",
         Join({kAccepted,
               {{Ok(0), {Packet(1, true, kMoreSegments + "abc" + kClosing)}},
                {Ok(1), {Ok(0)}},
                {kContinuation, {Ok(1)}},
                {Ok(0), {Packet(2, true, std::string("de") + kClosing)}}}}),
         ResultIoError, nullptr},
        {"a packet older than the last taken: ends with 10",
         Join({kAccepted,
               {{Ok(0), {Packet(1, false, sub + "abcd")}},
                {Ok(1), {Packet(2, false, "efgh")}},
                {Ok(2), {Packet(1, false, sub + "abcd")}}}}),
         ResultIoError, nullptr},
        {"a two-byte payload ends with 7",
         Join({kAccepted, {{Ok(0), {Packet(1, false, "\xEE\xEE")}}}}), CReadThread::kTwoBytePayload,
         nullptr},
        {"the acknowledgements carry the marker of the controller's reply",
         Join({{{kCalibRequest, {"\x12\x34" + Word(10) + Word(1)}}}, OnePacket("\x12\x34")}),
         ResultDone, "abc"},
    };
    for (const auto& c : cases) {
        ReaderRig rig;
        ScriptedController controller(rig.script, c.steps);
        EXPECT_EQ(rig.worker.FetchFile("calib.inc"), c.result) << c.name;
        EXPECT_EQ(controller.Mismatches(), "") << c.name;
        EXPECT_EQ(rig.script.purgedAt, controller.ExpectedPurges()) << c.name;
        EXPECT_EQ(CFile::Exists("data/calib.inc"), c.local != nullptr) << c.name;
        if (c.local) {
            EXPECT_EQ(ReadWholeFile("data/calib.inc"), c.local) << c.name;
        }
    }
}

TEST(FileFetch, TheLineIsSetUpWithTheReadersTimeOuts) {
    ReaderRig rig;
    ScriptedController controller(rig.script, Join({kAccepted, OnePacket()}));
    ASSERT_EQ(rig.worker.FetchFile("calib.inc"), ResultDone);
    const CommTimeouts& t = rig.script.timeouts;
    EXPECT_EQ(std::tie(t.readTotalConstant, t.readTotalMultiplier, t.readInterval,
                       t.writeTotalConstant, t.writeTotalMultiplier),
              std::make_tuple(2000u, 20u, 200u, 5000u, 1u));
}

// A failed fetch is tried once more after one pause of 5 s, and the retry's copy counts.
TEST(ReaderRun, AFailedFetchIsTriedOnceMoreAfterFiveSeconds) {
    const std::vector<Step> identity = {
        {kIdentityRequest, {Ok(1)}},
        {Ok(0), {Packet(1, true, kOnlySegment + "EMAC=" + kClosing)}},
        {Ok(1), {}}};
    const std::vector<Step> calibration = Join({kAccepted, OnePacket()});
    struct Case {
        const char* name;
        const char* device;
        std::vector<Step> steps;
        std::pair<bool, bool> report;
    };
    const Case cases[] = {
        {"identity: silence, then the copy",
         "PLC-100",
         Join({{{kIdentityRequest, {}}}, identity}),
         {true, false}},
        {"calibration of a 317: three refusals, then the copy",
         "PLC-317",
         Join({identity,
               {{kCalibRequest, {Refused(1)}},
                {kCalibRequest, {Refused(1)}},
                {kCalibRequest, {Refused(1)}}},
               calibration}),
         {true, true}},
    };
    for (const auto& c : cases) {
        ReaderRig rig;
        ScriptedController controller(rig.script, c.steps);
        rig.worker.SetDevice(c.device);
        rig.worker.Run();
        EXPECT_EQ(controller.Mismatches(), "") << c.name;
        EXPECT_EQ(rig.clock.sleeps, std::vector<uint32_t>{5000}) << c.name;
        EXPECT_EQ(rig.ui.reports, (std::vector<std::pair<bool, bool>>{c.report})) << c.name;
        EXPECT_EQ(ReadWholeFile("data/local_addres.dat"), "EMAC=") << c.name;
        if (c.report.second) {
            EXPECT_EQ(ReadWholeFile("data/calib.inc"), "abc") << c.name;
        }
    }
}

}  // namespace
