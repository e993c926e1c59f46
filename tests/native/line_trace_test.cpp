// The line trace: how events read in the text, the bound that keeps the last exchange, what a
// worker records through its ports, and the assistant's folder of traces.
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <functional>
#include <sstream>
#include <thread>

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
        std::function<void(CLineTrace&)> record;
        std::vector<std::string> lines;
    };
    const std::string ack =
        "<-  06                                               .                 ";
    const Case cases[] = {
        {"an XMODEM block is its number and CRC; block 256 is numbered 0",
         [](CLineTrace& t) {
             Send(t, Block(5, 250, 0x1A2B));
             Send(t, Block(0, 255, 0x00F0));
         },
         {"->  блок XMODEM 5, CRC 1A2B", "->  блок XMODEM 0, CRC 00F0"}},
        {"133 bytes whose number and complement disagree stay bytes",
         [](CLineTrace& t) { Send(t, Block(5, 251, 0x1A2B)); },
         {"->  01 05 FB 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A  ...ZZZZZZZZZZZZZ",
          "    5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A  ZZZZZZZZZZZZZZZZ",
          "    5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A  ZZZZZZZZZZZZZZZZ",
          "    5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A  ZZZZZZZZZZZZZZZZ",
          "    5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A  ZZZZZZZZZZZZZZZZ",
          "    5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A  ZZZZZZZZZZZZZZZZ",
          "    5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A  ZZZZZZZZZZZZZZZZ",
          "    5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A  ZZZZZZZZZZZZZZZZ",
          "    5A 5A 5A 1A 2B                                   ZZZ.+"}},
        {"only 0x20..0x7E show as themselves",
         [](CLineTrace& t) {
             Receive(t, std::string("\x00\x1f \x7e\x7f\x80\xff"
                                    "Az",
                                    9));
         },
         {"<-  00 1F 20 7E 7F 80 FF 41 7A                       .. ~...Az"}},
        {"a prompt arriving in several reads is one line, wrapped at 16",
         [](CLineTrace& t) {
             Receive(t, "Do you want ");
             Receive(t, "to erase FFS? ");
         },
         {"<-  44 6F 20 79 6F 75 20 77 61 6E 74 20 74 6F 20 65  Do you want to e",
          "    72 61 73 65 20 46 46 53 3F 20                    rase FFS?"}},
        {"reads with a write between them, or too long together, stay apart",
         [](CLineTrace& t) {
             Receive(t, "C");
             Send(t, "b");
             Receive(t, "C");
             Receive(t, std::string(300, 'x'));
         },
         {"<-  43                                               C",
          "->  62                                               b",
          "<-  43                                               C",
          "<-  78 78 78 78 78 78 78 78 78 78 78 78 78 78 78 78  xxxxxxxxxxxxxxxx"}},
        {"the XMODEM letters and the sender's cancel are named",
         [](CLineTrace& t) {
             Receive(t, "\x06");
             Send(t, "\x04");
             Receive(t, "\x15");
             Send(t, "\x18\x18");
         },
         {"<-  06                                               .                 ACK",
          "->  04                                               .                 EOT",
          "<-  15                                               .                 NAK",
          "->  18 18                                            ..                CAN CAN"}},
        {"a transfer too large for one event keeps its start and says so",
         [](CLineTrace& t) { Receive(t, std::string(3000, 'k')); },
         {"<-  6B 6B 6B 6B 6B 6B 6B 6B 6B 6B 6B 6B 6B 6B 6B 6B  kkkkkkkkkkkkkkkk"}},
        {"what happens to the port",
         [](CLineTrace& t) {
             t.Opened(7, false);
             t.Opened(5, true);
             t.Purged();
             t.Silence();
             t.Stopped();
             t.Closed();
             t.Note("итог: код 2");
         },
         {"    COM7 не открывается", "    открыт COM5", "    очистка буферов порта",
          "<-  (ничего не пришло за время ожидания)", "    остановка по запросу пользователя",
          "    порт закрыт", "    итог: код 2"}},
    };
    for (const Case& c : cases) {
        CLineTrace trace("COM5");
        c.record(trace);
        std::vector<std::string> lines = EventLines(trace.Text());
        if (std::string(c.name).find("too large") != std::string::npos) {
            ASSERT_EQ(lines.size(), 1024u / 16 + 1) << c.name;
            EXPECT_EQ(lines.back(), "    (всего 3000 байт, показаны первые 1024)");
            lines.resize(1);
        } else if (std::string(c.name).find("too long") != std::string::npos) {
            lines.resize(4);
        }
        EXPECT_EQ(lines, c.lines) << c.name;
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
    struct Case {
        const char* name;
        size_t bound;
        int blocks;
        bool dropping;
    };
    const Case cases[] = {
        {"all of a short upload", CLineTrace::kDefaultBound, 50, false},
        {"the end of a long upload", 16 * 1024, 3000, true},
        {"the end of a whole image at the default bound", CLineTrace::kDefaultBound, 20000, true},
    };
    for (const Case& c : cases) {
        CLineTrace trace("COM5", c.bound);
        trace.Opened(5, true);
        for (int n = 1; n <= c.blocks; ++n) {
            Send(trace, Block(static_cast<uint8_t>(n), static_cast<uint8_t>(255 - n), 0x1234));
            Receive(trace, n == c.blocks ? "\x15" : "\x06");
        }
        trace.Closed();
        const std::string text = trace.Text();
        const std::vector<std::string> lines = EventLines(text);
        ASSERT_GE(lines.size(), 3u) << c.name;
        EXPECT_EQ(lines[lines.size() - 3],
                  "->  блок XMODEM " + std::to_string(c.blocks % 256) + ", CRC 1234")
            << c.name;
        EXPECT_EQ(lines[lines.size() - 2].substr(0, 6), "<-  15") << c.name;
        EXPECT_EQ(lines.back(), "    порт закрыт") << c.name;
        const size_t dropped = trace.Dropped();
        EXPECT_EQ(dropped > 0, c.dropping) << c.name;
        const size_t recorded = 2 + 2 * static_cast<size_t>(c.blocks);
        if (c.dropping) {
            // The note comes first, with the number that went; the rest is everything after.
            EXPECT_EQ(lines.front(), "    ... более ранние события отброшены (" +
                                         std::to_string(dropped) + "): хранятся только последние")
                << c.name;
            EXPECT_EQ(lines.size() - 1 + dropped, recorded) << c.name;
            EXPECT_LT(lines.size() * 48, c.bound) << c.name << ": events cost memory";
        } else {
            EXPECT_EQ(lines.size(), recorded) << c.name;
        }
    }
    // The newest event stays even when it alone is over the bound.
    CLineTrace tiny("COM5", 64);
    Receive(tiny, "old");
    Receive(tiny, std::string(500, 'n'));
    EXPECT_EQ(tiny.Dropped(), 1u);
    EXPECT_NE(tiny.Text().find("nnnnnnnnnnnnnnnn"), std::string::npos);
}

// The worker records on its thread while the page or the console tool may ask for the text.
TEST(LineTrace, RecordingAndTextFromTwoThreads) {
    CLineTrace trace("COM5", 8 * 1024);
    constexpr int kEvents = 20000;
    std::thread recorder([&] {
        for (int n = 0; n < kEvents; ++n) Receive(trace, n % 2 ? "\x06" : "C");
    });
    for (int looks = 0; looks < 20; ++looks) EXPECT_FALSE(trace.Text().empty());
    recorder.join();
    const std::vector<std::string> lines = EventLines(trace.Text());
    // Letters that follow one another closely read as one line of them.
    EXPECT_NE(lines.back().find("43 06"), std::string::npos) << lines.back();
    EXPECT_GT(trace.Dropped(), 0u);
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
    const auto none = [](PortScript&, ScriptedDriver&, TestEngine&) {};
    const auto waitForC = [](TestEngine& e) {
        e.OpenEnginePort();
        e.WaitForText("CCC");
    };
    const std::string image = UniqueTempPath("trace_image.bin");
    ASSERT_TRUE(CFile::WriteAll(image, std::string(300, 'i')));
    const Case cases[] = {
        {"a port that does not open",
         [](PortScript&, ScriptedDriver& d, TestEngine&) { d.refuse = true; },
         [](TestEngine& e) { e.OpenEnginePort(); },
         ResultOpenFailed,
         {"    COM3 не открывается"}},
        {"a silent controller",
         none,
         waitForC,
         ResultNoAnswer,
         {"    время ожидания: чтение 7000 + 20/байт мс, пауза 200 мс; запись 5000 + 1/байт мс",
          "    очистка буферов порта", "<-  (ничего не пришло за время ожидания)"}},
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
        {"a stop during an upload: the block whole, then CAN CAN",
         [](PortScript& s, ScriptedDriver&, TestEngine& e) {
             s.reads.push_back({"\x06\x06", false});
             s.whileWriting = [&e, blocks = 0](uint32_t count) mutable {
                 if (count == kBlockSize && ++blocks == 2) e.RequestStop();
             };
         },
         [&image](TestEngine& e) {
             e.OpenEnginePort();
             auto file = std::make_unique<CFile>();
             ASSERT_TRUE(file->Open(image, CFile::modeRead));
             e.SetCurrentFile(std::move(file));
             e.SendImage();
         },
         ResultStopped,
         {"<-  06                                               .                 ACK",
          "->  блок XMODEM 2, CRC ????", "    остановка по запросу пользователя",
          "->  18 18                                            ..                CAN CAN"}},
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
        std::vector<std::string> expected = c.tail;
        // The CRC the trace names is the one that went over the line.
        for (std::string& line : expected) {
            const size_t at = line.find("????");
            if (at == std::string::npos || script.written.size() < 2 * kBlockSize) continue;
            const auto* second =
                reinterpret_cast<const uint8_t*>(script.written.data()) + kBlockSize;
            char crc[8];
            std::snprintf(crc, sizeof(crc), "%02X%02X", second[kCrcAt], second[kCrcAt + 1]);
            line.replace(at, 4, crc);
        }
        EXPECT_EQ(tail, expected) << c.name;
        const long failures = std::count_if(lines.begin(), lines.end(), [](const std::string& l) {
            return l.find("не удалась") != std::string::npos;
        });
        EXPECT_EQ(failures, c.result == ResultIoError ? 1 : 0) << c.name;
    }
    std::remove(image.c_str());
}

TEST(TraceFiles, OnlyNamesOfOursAreOurs) {
    struct Case {
        std::string name;
        bool ours;
    };
    const Case cases[] = {
        {"20261209-050303-COM5.txt", true},
        {"20261209-050303-COM123.txt", true},
        {"20261209-050303-COM5-2.txt", true},
        {"20261209-050303-COM5-9.txt", true},
        {"20261209-050303-COM5-1.txt", false},
        {"20261209-050303-COM5-10.txt", false},
        {"20261209-050303-COM.txt", false},
        {"20261209-050303-COM5.txt.bak", false},
        {"2026129-050303-COM5.txt", false},
        {"20261209_050303-COM5.txt", false},
        {"20261209-050303-LPT1.txt", false},
        {"notes.txt", false},
        {"~trace.123.part", false},
        {"20261209-050303-COM5.TXT", false},
    };
    for (const Case& c : cases) EXPECT_EQ(IsTraceFileName(c.name), c.ours) << c.name;
    std::tm t{};
    t.tm_year = 2026 - 1900;
    t.tm_mon = 11;
    t.tm_mday = 9;
    t.tm_hour = 5;
    t.tm_min = 3;
    t.tm_sec = 3;
    t.tm_isdst = -1;
    EXPECT_EQ(TraceFileName(std::mktime(&t), 5), "20261209-050303-COM5.txt");
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
