// The record of attempts as a spreadsheet reads it: RFC 4180 fields, the header once however
// many copies of the program append at once, and the program's Cyrillic as UTF-8.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "flash/attempt_record.h"
#include "framework/file.h"
#include "temp_path.h"

namespace {

// An RFC 4180 reader, as strict as a spreadsheet: the rows of `text` split into fields.
std::vector<std::vector<std::string>> ParseCsv(const std::string& text) {
    std::vector<std::vector<std::string>> rows(1, std::vector<std::string>(1));
    bool quoted = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        std::string& field = rows.back().back();
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                field += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            rows.back().emplace_back();
        } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            rows.emplace_back(1);
            ++i;
        } else {
            field += c;
        }
    }
    if (rows.back().size() == 1 && rows.back()[0].empty()) rows.pop_back();
    return rows;
}

AttemptRecord Sample(const std::string& port) {
    AttemptRecord record;
    record.started = 1796800000;
    record.program = "plcflash.exe";
    record.port = port;
    record.model = "\xCF\xCB\xCA-317";  // "ПЛК-317" in Windows-1251
    record.mac = "00:0A:3C:12:34:56";
    record.ip = "192.168.0.17";
    record.images = {{"Floader.bin", 9293, 0x5AD3C959, "ab"},
                     {"Ethernet.bin", 98309, 0x6B342F29, "cd"}};
    record.result = 12;
    record.message = "read back \"wrong\", twice";
    record.seconds = 21.84;
    return record;
}

TEST(AttemptRecord, FieldsSurviveAsASpreadsheetReadsThem) {
    struct Case {
        const char* port;
    } cases[] = {
        {"COM5"},
        {"COM5 (USB-SERIAL CH340)"},
        {"COM7 (Adapter, \"Pro\" edition)"},
        {"COM8 (line\r\nbreak)"},
        {"\"\""},
    };
    const size_t columns = ParseCsv(AttemptCsvHeader())[0].size();
    for (const Case& c : cases) {
        const auto rows = ParseCsv(AttemptCsvRow(Sample(c.port)));
        ASSERT_EQ(rows.size(), 1u) << c.port;
        ASSERT_EQ(rows[0].size(), columns) << c.port;
        EXPECT_EQ(rows[0][4], c.port);
        EXPECT_EQ(rows[0][0], "2026-12-09T07:06:40Z");
        EXPECT_EQ(rows[0][5], "\xD0\x9F\xD0\x9B\xD0\x9A-317");  // UTF-8
        EXPECT_EQ(rows[0][11], "5AD3C959");
        EXPECT_EQ(rows[0][18], "read back \"wrong\", twice");
        EXPECT_EQ(rows[0][19], "21.8");
    }
}

TEST(AttemptRecord, MissingImagesLeaveTheirColumnsEmpty) {
    AttemptRecord record = Sample("COM5");
    record.images.clear();
    const auto rows = ParseCsv(AttemptCsvRow(record));
    ASSERT_EQ(rows[0].size(), ParseCsv(AttemptCsvHeader())[0].size());
    for (size_t i = 10; i < 16; ++i) EXPECT_EQ(rows[0][i], "") << i;
}

// Copies of the program append at once, each through its own opening of the file, as separate
// processes do: one byte order mark, one header, every row whole.
TEST(AttemptRecord, WritersAtOnceLeaveOneHeaderAndWholeRows) {
    const std::string path = UniqueTempPath("history.csv");
    CFile::Remove(path);
    constexpr int kWriters = 4;
    constexpr int kRows = 25;
    std::vector<std::thread> writers;
    for (int w = 0; w < kWriters; ++w) {
        writers.emplace_back([&path, w] {
            for (int r = 0; r < kRows; ++r) {
                EXPECT_TRUE(AppendAttempt(
                    path, Sample("COM" + std::to_string(w) + ", row " + std::to_string(r))));
            }
        });
    }
    for (std::thread& writer : writers) writer.join();
    std::string text;
    ASSERT_TRUE(CFile::ReadAll(path, &text));
    ASSERT_EQ(text.compare(0, 3, "\xEF\xBB\xBF"), 0);
    EXPECT_EQ(text.find("\xEF\xBB\xBF", 3), std::string::npos);
    const auto rows = ParseCsv(text.substr(3));
    ASSERT_EQ(rows.size(), 1u + kWriters * kRows);
    EXPECT_EQ(rows[0], ParseCsv(AttemptCsvHeader())[0]);
    for (size_t i = 1; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].size(), rows[0].size()) << "row " << i;
        EXPECT_EQ(rows[i][4].rfind("COM", 0), 0u) << "row " << i;
    }
    CFile::Remove(path);
}

TEST(AttemptRecord, AFileThatCannotBeWrittenIsReportedNotThrown) {
    EXPECT_FALSE(AppendAttempt(UniqueTempPath("no-such-folder") + "/history.csv", Sample("COM5")));
}

}  // namespace
