// The line trace: how events read in the text, the bound that keeps the last exchange, what a
// worker records through its ports, and the assistant's folder of traces.
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <functional>
#include <sstream>

#include "fakes.h"
#include "flash/trace_files.h"
#include "flash/xmodem.h"
#include "framework/file.h"
#include "framework/find.h"
#include "serial/line_trace.h"
#include "temp_path.h"

namespace {

using namespace xmodem;

// The event lines of a trace: after the heading's blank line, the time column cut off, trailing
// blanks too.
std::vector<std::string> EventLines(const std::string& text) {
    std::vector<std::string> lines;
    const size_t body = text.find("\n\n");
    if (body == std::string::npos) return lines;
    std::istringstream in(text.substr(body + 2));
    for (std::string line; std::getline(in, line);) {
        line.erase(0, 12);
        line.erase(line.find_last_not_of(' ') + 1);
        lines.push_back(line);
    }
    return lines;
}

std::string Block(uint8_t number, uint8_t complement, uint16_t crc) {
    std::string block(kBlockSize, '\x5A');
    block[0] = static_cast<char>(kSoh);
    block[1] = static_cast<char>(number);
    block[2] = static_cast<char>(complement);
    block[kCrcAt] = static_cast<char>(crc >> 8);
    block[kCrcAt + 1] = static_cast<char>(crc & 0xFF);
    return block;
}

void Receive(CLineTrace& trace, const std::string& bytes) {
    trace.Received(bytes.data(), bytes.size());
}

void Send(CLineTrace& trace, const std::string& bytes) {
    trace.Sent(bytes.data(), bytes.size());
}

TEST(LineTrace, EventsReadAsBytesAndText) {
    struct Case {
        const char* name;
        std::vector<std::pair<char, std::string>> events;  // '<' received, '>' sent
        std::vector<std::string> first;                    // the first lines
        size_t rows;                                       // all the lines
        std::string last;  // the last line, when it says more than the first
    };
    const Case cases[] = {
        {"an XMODEM block is its number and CRC; block 256 is numbered 0",
         {{'>', Block(5, 250, 0x1A2B)}, {'>', Block(0, 255, 0x00F0)}},
         {"->  блок XMODEM 5, CRC 1A2B", "->  блок XMODEM 0, CRC 00F0"},
         2,
         ""},
        {"133 bytes whose number and complement disagree are no block",
         {{'>', Block(5, 251, 0x1A2B)}},
         {"->  01 05 FB 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A  ...ZZZZZZZZZZZZZ"},
         9,
         "    5A 5A 5A 1A 2B                                   ZZZ.+"},
        {"only 0x20..0x7E show as themselves",
         {{'<', std::string("\x00\x1f \x7e\x7f\x80\xff"
                            "Az",
                            9)}},
         {"<-  00 1F 20 7E 7F 80 FF 41 7A                       .. ~...Az"},
         1,
         ""},
        {"a prompt arriving in several reads is one line, wrapped at 16; a write parts reads",
         {{'<', "Do you want "}, {'<', "to erase FFS? "}, {'>', "n"}, {'<', "n"}},
         {"<-  44 6F 20 79 6F 75 20 77 61 6E 74 20 74 6F 20 65  Do you want to e",
          "    72 61 73 65 20 46 46 53 3F 20                    rase FFS?",
          "->  6E                                               n",
          "<-  6E                                               n"},
         4,
         ""},
        {"the XMODEM letters and the sender's cancel are named",
         {{'<', "\x06"}, {'>', "\x04"}, {'<', "\x15"}, {'>', "\x18\x18"}},
         {"<-  06                                               .                 ACK",
          "->  04                                               .                 EOT",
          "<-  15                                               .                 NAK",
          "->  18 18                                            ..                CAN CAN"},
         4,
         ""},
        {"a transfer too large for one event keeps its start and says so",
         {{'<', std::string(3000, 'k')}},
         {"<-  6B 6B 6B 6B 6B 6B 6B 6B 6B 6B 6B 6B 6B 6B 6B 6B  kkkkkkkkkkkkkkkk"},
         1024 / 16 + 1,
         "    (всего 3000 байт, показаны первые 1024)"},
    };
    for (const Case& c : cases) {
        CLineTrace trace("COM5");
        for (const auto& [direction, bytes] : c.events) {
            direction == '<' ? Receive(trace, bytes) : Send(trace, bytes);
        }
        const std::vector<std::string> lines = EventLines(trace.Text());
        ASSERT_EQ(lines.size(), c.rows) << c.name;
        EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + c.first.size()), c.first)
            << c.name;
        if (!c.last.empty()) {
            EXPECT_EQ(lines.back(), c.last) << c.name;
        }
    }
}

TEST(LineTrace, HeadingNamesTheProgramThePortAndTheStart) {
    CLineTrace named("COM5 (USB-SERIAL CH340)");
    CLineTrace unnamed;
    unnamed.Opened(3, false);
    unnamed.Opened(9, true);
    const std::string a = named.Text(), b = unnamed.Text();
    EXPECT_EQ(a.rfind(std::string("plcflash ") + ProgramVersion() + ": ", 0), 0u) << a;
    EXPECT_NE(a.find("\nПорт: COM5 (USB-SERIAL CH340)\n"), std::string::npos) << a;
    EXPECT_NE(b.find("\nПорт: COM9\n"), std::string::npos) << "the port opened last: " << b;
    EXPECT_NE(a.find("\nНачало записи: 20"), std::string::npos) << a;
    EXPECT_EQ(a.find("отброшены"), std::string::npos);
}

// However long the run, the trace holds its end: the exchange a report is about.
TEST(LineTrace, TheBoundKeepsTheLastExchangeAndSaysWhatWentBefore) {
    constexpr int kBlocks = 20000;  // some 2.5 MB of image: far past the bound
    CLineTrace trace("COM5");
    trace.Opened(5, true);
    for (int n = 1; n <= kBlocks; ++n) {
        Send(trace, Block(static_cast<uint8_t>(n), static_cast<uint8_t>(255 - n), 0x1234));
        Receive(trace, n == kBlocks ? "\x15" : "\x06");
    }
    trace.Closed();
    const std::vector<std::string> lines = EventLines(trace.Text());
    ASSERT_GE(lines.size(), 4u);
    const size_t dropped = trace.Dropped();
    // The note first, with the number that went; then everything after them, to the end.
    EXPECT_EQ(lines.front(), "    ... более ранние события отброшены (" + std::to_string(dropped) +
                                 "): хранятся только последние");
    EXPECT_EQ(lines.size() - 1 + dropped, 2u + 2 * kBlocks);
    EXPECT_LT(lines.size() * 48, CLineTrace::kDefaultBound) << "every event costs memory";
    const std::vector<std::string> end(lines.end() - 3, lines.end());
    EXPECT_EQ(end, (std::vector<std::string>{
                       "->  блок XMODEM " + std::to_string(kBlocks % 256) + ", CRC 1234",
                       "<-  15                                               .                 NAK",
                       "    порт закрыт"}));
    // The newest event stays even when it alone is over the bound.
    CLineTrace tiny("COM5", 64);
    Receive(tiny, "old");
    Receive(tiny, std::string(500, 'n'));
    EXPECT_EQ(tiny.Dropped(), 1u);
    EXPECT_NE(tiny.Text().find("nnnnnnnnnnnnnnnn"), std::string::npos);
}

// A worker's primitives, through the port it opened, on a scripted line.
TEST(LineTrace, TheWorkerRecordsItsLineAndHowEachTransferEnded) {
    struct Case {
        const char* name;
        std::function<void(PortScript&, ScriptedDriver&, TestEngine&)> arrange;
        std::function<void(TestEngine&)> act;
        int result;
        std::vector<std::string> tail;  // the events before the port is closed
    };
    const auto waitForC = [](TestEngine& e) {
        e.OpenEnginePort();
        e.WaitForText("CCC");
    };
    const Case cases[] = {
        {"a port that does not open",
         [](PortScript&, ScriptedDriver& d, TestEngine&) { d.refuse = true; },
         [](TestEngine& e) { e.OpenEnginePort(); },
         ResultOpenFailed,
         {"    COM3 не открывается"}},
        {"a read the driver failed",
         [](PortScript& s, ScriptedDriver&, TestEngine&) {
             s.reads.push_back({"", true});
         },
         waitForC,
         ResultIoError,
         {"    операция чтения не удалась"}},
        {"a write cut short",
         [](PortScript& s, ScriptedDriver&, TestEngine&) { s.shortWriteBy = 1; },
         [](TestEngine& e) {
             e.OpenEnginePort();
             e.SendAnswer('y');
         },
         ResultShortWrite,
         {"    записано 0 байт из 1"}},
        // The stop ends the write as a failure would: the trace must not call it one.
        {"a stop during a console answer",
         [](PortScript& s, ScriptedDriver&, TestEngine& e) {
             s.reads.push_back({"CCC", false});
             s.whileWriting = [&e](uint32_t) { e.RequestStop(); };
         },
         [](TestEngine& e) {
             e.OpenEnginePort();
             e.WaitForText("CCC");
             e.SendAnswer('k');
         },
         ResultStopped,
         {"<-  43 43 43                                         CCC",
          "    остановка по запросу пользователя"}},
    };
    for (const Case& c : cases) {
        PortScript script;
        ScriptedDriver driver(script);
        RecordingUi ui;
        FakeClock clock;
        TestEngine engine(ui, driver, clock);
        auto trace = std::make_shared<CLineTrace>();
        engine.SetTrace(trace);
        c.arrange(script, driver, engine);
        EXPECT_EQ(RaisedBy([&] { c.act(engine); }), c.result) << c.name;
        engine.Close();
        const std::vector<std::string> lines = EventLines(trace->Text());
        const size_t closing = c.result == ResultOpenFailed ? 0 : 1;
        ASSERT_GE(lines.size(), c.tail.size() + closing) << c.name;
        if (closing) {
            EXPECT_EQ(lines.back(), "    порт закрыт") << c.name;
        }
        const std::vector<std::string> tail(
            lines.end() - static_cast<long>(c.tail.size() + closing),
            lines.end() - static_cast<long>(closing));
        EXPECT_EQ(tail, c.tail) << c.name;
        const long failures = std::count_if(lines.begin(), lines.end(), [](const std::string& l) {
            return l.find("не удалась") != std::string::npos;
        });
        EXPECT_EQ(failures, c.result == ResultIoError ? 1 : 0) << c.name;
    }
}

// The folder's pruning removes only what these take for ours.
TEST(TraceFiles, OnlyNamesOfOursAreOurs) {
    for (const char* name : {"20261209-050303-COM5.txt", "20261209-050303-COM123.txt",
                             "20261209-050303-COM5-2.txt", "20261209-050303-COM5-9.txt"}) {
        EXPECT_TRUE(IsTraceFileName(name)) << name;
    }
    for (const char* name :
         {"20261209-050303-COM5-1.txt", "20261209-050303-COM5-10.txt", "20261209-050303-COM.txt",
          "20261209-050303-COM5.txt.bak", "2026129-050303-COM5.txt", "20261209_050303-COM5.txt",
          "20261209-050303-LPT1.txt", "notes.txt", "~trace.123.part", "20261209-050303-COM5.TXT"}) {
        EXPECT_FALSE(IsTraceFileName(name)) << name;
    }
    EXPECT_TRUE(IsTraceFileName(TraceFileName(std::time(nullptr), 12)));
}

class TraceFolder : public ::testing::Test {
  protected:
    void SetUp() override {
        m_root = UniqueTempPath(::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(m_root);
        ASSERT_TRUE(std::filesystem::create_directories(m_root + "/trace"));
        m_root += "\\";
    }
    std::vector<std::string> Entries() const {
        std::vector<std::string> names;
        CFileFind find;
        if (find.FindFile(m_root + "trace\\*.*")) {
            while (find.FindNextFile()) {
                if (!find.IsDots()) names.push_back(find.GetFileName());
            }
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    std::string m_root;
};

TEST_F(TraceFolder, KeepsTheTwentyNewestOfOursAndNothingElseGoes) {
    // 25 traces of a day's runs, and files that are not ours though they look alike.
    std::vector<std::string> ours;
    for (int i = 0; i < 25; ++i) {
        char name[40];
        std::snprintf(name, sizeof(name), "20250101-0%02d000-COM%d.txt", i, i % 2 ? 5 : 12);
        ours.push_back(name);
    }
    const std::vector<std::string> others = {"notes.txt", "20250101-000000-COM5.txt.bak",
                                             "20250101-000000-COM5-1.txt"};
    for (const std::string& name : ours)
        ASSERT_TRUE(CFile::WriteAll(m_root + "trace\\" + name, "x"));
    for (const std::string& name : others)
        ASSERT_TRUE(CFile::WriteAll(m_root + "trace\\" + name, "y"));
    CLineTrace trace("COM5");
    Send(trace, "k");
    const std::time_t now = std::time(nullptr);
    const std::string written = KeepTrace(m_root, trace, 5, now);
    const std::string name = TraceFileName(now, 5);
    ASSERT_EQ(written, m_root + "trace\\" + name);
    std::string content;
    ASSERT_TRUE(CFile::ReadAll(written, &content));
    EXPECT_NE(content.find("6B"), std::string::npos) << content;
    std::vector<std::string> expected(ours.begin() + 6, ours.end());
    expected.push_back(name);
    expected.insert(expected.end(), others.begin(), others.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Entries(), expected) << "the six oldest of ours go, and no partial copy stays";
}

TEST_F(TraceFolder, ASecondTraceOfTheSameSecondAndPortIsKeptBesideTheFirst) {
    CLineTrace first("COM5"), second("COM5");
    Send(first, "1");
    Send(second, "2");
    const std::time_t now = std::time(nullptr);
    const std::string a = KeepTrace(m_root, first, 5, now);
    const std::string b = KeepTrace(m_root, second, 5, now);
    const std::string name = TraceFileName(now, 5);
    EXPECT_EQ(a, m_root + "trace\\" + name);
    EXPECT_EQ(b, m_root + "trace\\" + name.substr(0, name.size() - 4) + "-2.txt");
    std::string content;
    ASSERT_TRUE(CFile::ReadAll(a, &content));
    EXPECT_NE(content.find("->  31"), std::string::npos) << "the first one is not overwritten";
}

TEST_F(TraceFolder, AFolderThatCannotBeWrittenGivesNoPath) {
    ASSERT_TRUE(CFile::WriteAll(m_root + "plain", "a file where the root's folder would be"));
    CLineTrace trace("COM5");
    EXPECT_EQ(KeepTrace(m_root + "plain\\", trace, 5, std::time(nullptr)), "");
}

}  // namespace
