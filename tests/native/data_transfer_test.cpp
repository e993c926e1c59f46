// The data-file writer against a scripted controller: the frames on the wire byte for byte,
// the send rule, the handshakes, and the check of the folder before anything goes out.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

#include "child_process.h"
#include "fakes.h"
#include "flash/packet.h"

namespace {

using namespace packet;

// One frame the program wrote: a packet or a six-byte control message.
struct Frame {
    bool control;
    uint16_t seq;
    uint16_t len;
    bool last;
    uint8_t sum;
    std::string payload;
};

std::vector<Frame> Frames(const std::string& w) {
    std::vector<Frame> frames;
    size_t i = 0;
    auto word = [&](size_t at) {
        return static_cast<uint16_t>(static_cast<uint8_t>(w[at]) | static_cast<uint8_t>(w[at + 1])
                                                                       << 8);
    };
    while (i + 6 <= w.size()) {
        if (word(i) == kReplySync) {
            frames.push_back({true, word(i + 4), 0, false, 0, w.substr(i + 2, 2)});
            i += 6;
        } else {
            EXPECT_EQ(word(i), kSync) << "at " << i;
            const uint16_t len = word(i + 2);
            frames.push_back({false, word(i + 4), len, w[i + 7] == 1,
                              static_cast<uint8_t>(w[i + 6]), w.substr(i + 8, len)});
            // The sum, added up here the slow way: every byte but the sum itself.
            unsigned sum = 0;
            for (size_t k = i; k < i + 8 + len; ++k) {
                if (k != i + 6) sum += static_cast<uint8_t>(w[k]);
            }
            EXPECT_EQ(static_cast<uint8_t>(sum), frames.back().sum) << "frame at " << i;
            i += 8 + len;
        }
    }
    EXPECT_EQ(i, w.size());
    return frames;
}

std::string Reply(uint16_t status, uint16_t seq) {
    const auto r = MakeReply(status, seq);
    return std::string(r.begin(), r.end());
}

// A controller that accepts everything, unless `refuse` says otherwise for a send.
struct Controller {
    // (seq, how many sends of it so far) -> status to answer; default 0x000A.
    std::function<uint16_t(uint16_t seq, int send)> status = [](uint16_t, int) {
        return kStatusOk;
    };
    std::map<uint16_t, int> sends;
    // What answers the n-th control message (from 0) instead of the usual answers.
    std::map<int, std::vector<std::string>> controlAnswers;
    int controls = 0;

    void Attach(PortScript& script) {
        script.onWrite = [this](const std::string& bytes, PortScript& s) {
            const uint16_t seq = static_cast<uint16_t>(static_cast<uint8_t>(bytes[4]) |
                                                       static_cast<uint8_t>(bytes[5]) << 8);
            if (static_cast<uint8_t>(bytes[0]) == 0x55) {
                std::vector<std::string> answers = {std::string(8, 'x'), std::string(2, 'y')};
                if (seq != 0) answers = {Reply(kStatusOk, 1)};
                const auto custom = controlAnswers.find(controls++);
                if (custom != controlAnswers.end()) answers = custom->second;
                for (const std::string& a : answers) s.reads.push_back({a, false});
                return;
            }
            s.reads.push_back({Reply(status(seq, ++sends[seq]), seq), false});
        };
    }
};

class DataFolder : public ::testing::Test {
  protected:
    void SetUp() override { m_controller.Attach(m_script); }
    void TearDown() override { m_engine.Close(); }
    static std::string Pattern(size_t size, int salt = 0) {
        std::string s(size, '\0');
        for (size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 31 + salt) & 0xFF);
        return s;
    }
    static void Write(const std::string& name, const std::string& bytes) {
        std::ofstream("data/" + name, std::ios::binary) << bytes;
    }
    int Send(const std::string& name) {
        return RaisedBy([&] { m_engine.SendDataFile("data\\" + name); });
    }

    WorkFolder m_folder{"data_transfer", "data"};
    PortScript m_script;
    ScriptedDriver m_driver{m_script};
    RecordingUi m_ui;
    FakeClock m_clock;
    TestEngine m_engine{m_ui, m_driver, m_clock};
    Controller m_controller;
};

TEST_F(DataFolder, SmallFileGoesWholeInTheCommandPacket) {
    const std::string file = Pattern(50);
    Write("cfg.txt", file);
    m_script.written.clear();
    ASSERT_EQ(Send("cfg.txt"), -1);
    const std::string expectedPayload =
        std::string("\x2f\x00\x32\x00\x08\x00", 6) + "cfg.txt" + std::string(1, '\0') + file;
    const auto frames = Frames(m_script.written);
    ASSERT_EQ(frames.size(), 3u);  // the command packet, then the end handshake
    EXPECT_FALSE(frames[0].control);
    EXPECT_EQ(frames[0].seq, 1);
    EXPECT_EQ(frames[0].len, 64);
    EXPECT_TRUE(frames[0].last);
    EXPECT_EQ(frames[0].payload, expectedPayload);
    EXPECT_TRUE(frames[1].control);
    EXPECT_EQ(frames[1].seq, 0);
    EXPECT_TRUE(frames[2].control);
    EXPECT_EQ(frames[2].seq, 1);
    EXPECT_EQ(m_ui.stepRange, 1u);  // 50 / 128 + 1
    EXPECT_EQ(m_ui.steps, 1);
}

struct SegmentCase {
    const char* name;
    std::string fileName;
    size_t size;
    std::string command;  // command, segment length and F: the command packet's first six bytes
    // (seq, len, last) of each packet; a control message as (-1, seq, 0)
    std::vector<std::tuple<int, int, bool>> frames;
    std::vector<std::string> segmentStarts;  // first four bytes of each later segment
};

std::vector<std::tuple<int, int, bool>> Segment(int firstSeq, size_t bytes) {
    std::vector<std::tuple<int, int, bool>> f;
    const size_t packets = (bytes + 127) / 128;
    for (size_t i = 0; i < packets; ++i) {
        const bool final = i + 1 == packets;
        f.emplace_back(firstSeq + static_cast<int>(i),
                       final ? static_cast<int>(bytes - 128 * (packets - 1)) : 128, final);
    }
    return f;
}

std::vector<std::tuple<int, int, bool>> Join(
    std::initializer_list<std::vector<std::tuple<int, int, bool>>> parts) {
    std::vector<std::tuple<int, int, bool>> all;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

const std::vector<std::tuple<int, int, bool>> kCommand = {{1, 128, false}};
const std::vector<std::tuple<int, int, bool>> kHandshake = {{-1, 0, false}, {-1, 1, false}};

TEST_F(DataFolder, LargerFilesGoInSegmentsOfPackets) {
    // cfg.txt and abcdef have F = 8: T = 14 + size, and 114 file bytes fit the command packet.
    const SegmentCase cases[] = {
        {"T = 128: the whole file in the command packet",
         "cfg.txt",
         114,
         std::string("\x2f\x00\x72\x00\x08\x00", 6),
         Join({{{1, 128, true}}, kHandshake}),
         {}},
        {"T = 129: one byte left for a packet of its own",
         "cfg.txt",
         115,
         std::string("\x2f\x00\x73\x00\x08\x00", 6),
         Join({kCommand, Segment(2, 1), kHandshake}),
         {}},
        {"1000 bytes: one segment of 886 in 7 packets",
         "cfg.txt",
         1000,
         std::string("\x2f\x00\xe8\x03\x08\x00", 6),
         Join({kCommand, Segment(2, 886), kHandshake}),
         {}},
        {"T = 4500: still announced as one segment",
         "cfg.txt",
         4486,
         std::string("\x2f\x00\x86\x11\x08\x00", 6),
         Join({kCommand, Segment(2, 4486 - 114), kHandshake}),
         {}},
        {"T = 4501: announced in segments, sent as one",
         "cfg.txt",
         4487,
         std::string("\x2f\x01\x94\x11\x08\x00", 6),
         Join({kCommand, Segment(2, 4487 - 114), kHandshake}),
         {}},
        {"4500 bytes, announced in segments, sent as one",
         "cfg.txt",
         4500,
         std::string("\x2f\x01\x94\x11\x08\x00", 6),
         Join({kCommand, Segment(2, 4500 - 114), kHandshake}),
         {}},
        {"2 x 4500 + 1000 bytes: three segments",
         "cfg.txt",
         10000,
         std::string("\x2f\x01\x94\x11\x08\x00", 6),
         Join({kCommand, Segment(2, 4386), kHandshake, Segment(1, 4504), kHandshake,
               Segment(1, 1004), kHandshake}),
         {"\x30\x01\x94\x11", "\x30\x01\xe8\x03"}},
        {"exactly 2 x 4500: two segments",
         "abcdef",
         9000,
         std::string("\x2f\x01\x94\x11\x08\x00", 6),
         Join({kCommand, Segment(2, 4500 - 114), kHandshake, Segment(1, 4504), kHandshake}),
         {"\x30\x01\x94\x11"}},
    };
    for (const auto& c : cases) {
        const std::string file = Pattern(c.size, 3);
        Write(c.fileName, file);
        m_script.written.clear();
        m_script.purgedAt.clear();
        m_ui.steps = 0;
        ASSERT_EQ(Send(c.fileName), -1) << c.name;
        const auto frames = Frames(m_script.written);
        ASSERT_EQ(frames.size(), c.frames.size()) << c.name;
        std::string data;
        std::vector<std::string> starts;
        bool segmentStart = false;
        int packets = 0;
        for (size_t i = 0; i < frames.size(); ++i) {
            const auto& [seq, len, last] = c.frames[i];
            const Frame& f = frames[i];
            if (seq < 0) {
                EXPECT_TRUE(f.control) << c.name << " frame " << i;
                EXPECT_EQ(f.seq, len) << c.name << " frame " << i;
                segmentStart = f.seq == 1;
                continue;
            }
            ++packets;
            EXPECT_EQ(f.seq, seq) << c.name << " frame " << i;
            EXPECT_EQ(f.len, len) << c.name << " frame " << i;
            EXPECT_EQ(f.last, last) << c.name << " frame " << i;
            std::string payload = f.payload;
            if (i == 0) {
                EXPECT_EQ(payload.substr(0, 6), c.command) << c.name;
                payload.erase(0, 6 + 8);  // command fields and the name field
            } else if (segmentStart) {
                starts.push_back(payload.substr(0, 4));
                payload.erase(0, 4);
            }
            segmentStart = false;
            data += payload;
        }
        EXPECT_EQ(data, file) << c.name;
        // The last handshake is the end one: its purge comes after its first message.
        std::vector<std::string> expectedStarts(c.segmentStarts.begin(), c.segmentStarts.end());
        EXPECT_EQ(starts, expectedStarts) << c.name;
        EXPECT_EQ(m_ui.steps, packets) << c.name;
        EXPECT_EQ(m_ui.stepRange, c.size / 128 + 1) << c.name;
        EXPECT_EQ(m_script.purgedAt.size(), c.segmentStarts.size() + 2) << c.name;
    }
}

TEST_F(DataFolder, EvenNameLengthGetsTheFillByte) {
    Write("ab.txt", "xyz");
    m_script.written.clear();
    ASSERT_EQ(Send("ab.txt"), -1);
    const auto frames = Frames(m_script.written);
    EXPECT_EQ(frames[0].payload.substr(4, 2), std::string("\x08\x00", 2));
    EXPECT_EQ(frames[0].payload.substr(6, 8), std::string("ab.txt\0\xcd", 8));
    EXPECT_EQ(frames[0].payload.substr(14), "xyz");
}

TEST_F(DataFolder, SendRuleResendsUntilAcceptedAndGivesUpAfterTheFourthSend) {
    struct Case {
        const char* name;
        std::function<uint16_t(uint16_t, int)> status;
        std::string reply;  // overrides the reply to the first send when not empty
        int raised;
        int commandSends;
    };
    const Case cases[] = {
        {"status 0x0014 with the right seq: sent again",
         [](uint16_t seq, int send) { return seq == 1 && send == 1 ? kStatusBad : kStatusOk; }, "",
         -1, 2},
        {"accepted by the third reply",
         [](uint16_t, int send) { return send < 3 ? kStatusBad : kStatusOk; }, "", -1, 3},
        {"never accepted: the fourth send raises 3", [](uint16_t, int) { return kStatusBad; }, "",
         ResultProtocol, 4},
        {"a reply of four bytes raises 3", [](uint16_t, int) { return kStatusOk; },
         std::string("\x55\x55\x0a\x00", 4), ResultProtocol, 1},
        {"status 0x000A under another sequence number: sent again",
         [](uint16_t, int) { return kStatusOk; }, Reply(kStatusOk, 2), -1, 2},
        {"status 0x000A under another first word: sent again",
         [](uint16_t, int) { return kStatusOk; }, std::string("\x66\x66\x0a\x00\x01\x00", 6), -1,
         2},
    };
    for (const auto& c : cases) {
        Write("cfg.txt", Pattern(50));
        m_script.written.clear();
        m_script.reads.clear();
        m_controller.sends.clear();
        m_controller.status = c.status;
        bool replaced = false;
        if (!c.reply.empty()) {
            // The first send gets the case's reply, the later ones the usual.
            m_script.onWrite = [&, usual = m_script.onWrite](const std::string& bytes,
                                                             PortScript& s) {
                if (replaced) return usual(bytes, s);
                replaced = true;
                s.reads.push_back({c.reply, false});
            };
        }
        EXPECT_EQ(Send("cfg.txt"), c.raised) << c.name;
        int commandSends = 0;
        for (const Frame& f : Frames(m_script.written)) commandSends += !f.control && f.seq == 1;
        EXPECT_EQ(commandSends, c.commandSends) << c.name;
        m_controller.Attach(m_script);
        m_engine.Close();
    }
}

TEST_F(DataFolder, HandshakeAnswersOfTheWrongLengthRaiseThree) {
    // cfg.txt of 9000 bytes: control messages 0 and 1 make the segment handshake, 2 and 3 the
    // end handshake.
    const std::string eight(8, 'x');
    struct Case {
        const char* name;
        std::map<int, std::vector<std::string>> answers;
        int raised;
    };
    const Case cases[] = {
        {"segment handshake: seven bytes where eight are due", {{0, {"xxxxxxx"}}}, ResultProtocol},
        {"segment handshake: one byte where two are due", {{0, {eight, "y"}}}, ResultProtocol},
        {"segment handshake: a reply of five bytes",
         {{1, {Reply(kStatusOk, 1).substr(0, 5)}}},
         ResultProtocol},
        {"end handshake: seven bytes where eight are due", {{2, {"xxxxxxx"}}}, ResultProtocol},
        {"end handshake: the eight alone", {{2, {eight}}}, -1},
        {"end handshake: the eight and three more", {{2, {eight, "yyy"}}}, -1},
    };
    Write("cfg.txt", Pattern(9000));
    for (const auto& c : cases) {
        Controller controller;
        controller.controlAnswers = c.answers;
        controller.Attach(m_script);
        m_script.reads.clear();
        EXPECT_EQ(Send("cfg.txt"), c.raised) << c.name;
        m_engine.Close();
    }
}

TEST_F(DataFolder, FolderIsCheckedWholeBeforeTheFirstByte) {
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, std::string>> files;  // name, content
        std::string brokenLink;                                  // a file that cannot be opened
        int raised;
        std::string faulty;
    };
    const std::string longName(121, 'n');  // odd: F = 122, fits
    const std::string tooLong(120, 'm');   // even: F = 122... plus one more char
    const Case cases[] = {
        {"an unreadable last file stops all",
         {{"a.bin", "aa"}, {"b.bin", "bb"}},
         "zz.bin",
         ResultBadFile,
         "data\\zz.bin"},
        {"a name too long for the command packet",
         {{"a.bin", "aa"}, {tooLong + "xx", "b"}},
         "",
         ResultBadFile,
         "data\\" + tooLong + "xx"},
        {"the longest name that fits", {{longName, "c"}}, "", -1, ""},
        {"hidden files go too", {{".hidden", "h"}}, "", -1, ""},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(system("rm -rf data && mkdir -p data/sub"), 0);
        for (const auto& [name, content] : c.files) Write(name, content);
        if (!c.brokenLink.empty()) {
            ASSERT_EQ(symlink("/nonexistent/file", ("data/" + c.brokenLink).c_str()), 0);
        }
        m_script.written.clear();
        m_engine.Close();
        const int raised = RaisedBy([&] { m_engine.SendDataFolder(); });
        EXPECT_EQ(raised, c.raised) << c.name;
        if (raised == ResultBadFile) {
            EXPECT_TRUE(m_script.written.empty()) << c.name;
            EXPECT_EQ(m_engine.GetFaultyFile(), c.faulty) << c.name;
        } else {
            EXPECT_EQ(m_ui.statuses.back(), "Идет запись файла: " + c.files.back().first);
        }
    }
}

TEST_F(DataFolder, EmptyOrMissingFolderSendsNothing) {
    ASSERT_EQ(system("rm -rf data && mkdir -p data/only_a_folder"), 0);
    m_script.written.clear();
    EXPECT_EQ(RaisedBy([&] { m_engine.SendDataFolder(); }), -1);
    ASSERT_EQ(system("rm -rf data"), 0);
    EXPECT_EQ(RaisedBy([&] { m_engine.SendDataFolder(); }), -1);
    EXPECT_TRUE(m_script.written.empty());
    EXPECT_TRUE(m_ui.statuses.empty());
}

}  // namespace
