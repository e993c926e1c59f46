// The boxes' texts: what each result code says, and the user guide's message table held to
// the program's texts both ways, so the guide can neither quote a message the program no
// longer shows nor miss one it does.
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/messages.h"
#include "flash/log_file.h"
#include "flash/math_thread.h"

namespace {

TEST(Messages, EachResultCodeSaysWhatHappenedAndWhatToDo) {
    const std::string other = "Возникли ошибки, попробуйте еще раз.";
    const std::string nothingSent = "В контроллер ничего не передано, его прошивка цела.";
    const std::string published(64, 'a'), own(64, 'b');
    struct Case {
        int code;
        FileFault fault;
        bool kernelErased;
        std::string folder;
        std::vector<std::string> parts;  // in this order; empty: no box at all
    };
    const Case cases[] = {
        {ResultDone, FileFault::None, false, "", {}},
        {ResultStopped, FileFault::None, false, "", {}},
        // The controller's own texts stay word for word.
        {ResultNoAnswer, FileFault::None, false, "", {"Контроллер не отвечает!"}},
        {ResultOpenFailed, FileFault::None, false, "", {"Не удалось открыть com порт!"}},
        {ResultNakLimit, FileFault::None, false, "", {other}},
        {ResultProtocol, FileFault::None, false, "", {other}},
        {ResultIoError, FileFault::None, false, "", {other}},
        // Before the first byte: the file, then that the controller is whole, then how to
        // start again with its old firmware running.
        {ResultBadFile,
         FileFault::CannotOpen,
         false,
         "",
         {"Не удалось открыть файл data\\x.bin. Прошивка остановлена.", nothingSent,
          "Снимите джампер, нажмите Reset"}},
        {ResultBadFile,
         FileFault::NameTooLong,
         false,
         "",
         {"Слишком длинное имя файла data\\x.bin для контроллера.", "120 символов", nothingSent}},
        {ResultBadFile,
         FileFault::CannotWrite,
         false,
         "",
         {"Не удалось записать файл data\\x.bin.", "Разрешите запись в папку data", nothingSent}},
        {ResultBadFile,
         FileFault::SumMismatch,
         false,
         "",
         {"Файл data\\x.bin не совпадает", published, own, "заново из выпуска", nothingSent}},
        {ResultBadFile,
         FileFault::NotInSums,
         false,
         "",
         {"Файла data\\x.bin нет в списке system\\SHA256SUMS", own, nothingSent}},
        // After the new kernel took the files: the backup that holds the controller's own.
        {ResultCheckFailed,
         FileFault::NotReadBack,
         false,
         "backup\\001A2B3C4D5E\\20261208-130501",
         {"Не удалось прочитать из контроллера файл data\\x.bin", "Новая прошивка",
          "Проверьте кабель", "backup\\001A2B3C4D5E\\20261208-130501."}},
        {ResultCheckFailed,
         FileFault::DiffersOnController,
         false,
         "",
         {"Контроллер сохранил файл data\\x.bin с ошибками", "с форматированием флеш-памяти",
          "Копии файлов контроллера нет"}},
        // A port lost under way: what it means for the controller in that phase.
        {ResultPortLost,
         FileFault::None,
         false,
         "",
         {"Связь с контроллером через COM7 потеряна", "Прежняя прошивка контроллера не тронута",
          "начните заново"}},
        {ResultPortLost,
         FileFault::None,
         true,
         "backup\\001A2B3C4D5E\\20261208-130501",
         {"Связь с контроллером через COM7 потеряна", "ждет прошивку в своем загрузчике",
          "MAC с наклейки", "backup\\001A2B3C4D5E\\20261208-130501."}},
    };
    for (const Case& c : cases) {
        RunOutcome outcome;
        outcome.code = c.code;
        outcome.file = "data\\x.bin";
        outcome.fault = c.fault;
        outcome.expectedSum = published;
        outcome.actualSum = own;
        outcome.port = "COM7";
        outcome.kernelErased = c.kernelErased;
        outcome.backupFolder = c.folder;
        const std::string text = ResultMessage(outcome);
        if (c.parts.empty()) {
            EXPECT_EQ(text, "") << c.code;
        } else if (c.parts.size() == 1) {
            EXPECT_EQ(text, c.parts[0]) << c.code;
        }
        size_t at = 0;
        for (const std::string& part : c.parts) {
            at = text.find(part, at);
            ASSERT_NE(at, std::string::npos) << c.code << ": " << part << " in " << text;
        }
    }
}

// Whitespace runs as one space, none at the ends: the guide wraps what a box shows on one line.
std::string Normalized(const std::string& text) {
    std::string out;
    for (char c : text) {
        const bool space = c == ' ' || c == '\n' || c == '\r' || c == '\t';
        if (space) {
            if (!out.empty() && out.back() != ' ') out += ' ';
        } else {
            out += c;
        }
    }
    if (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

// The «…» quotes, nested ones inside their outer quote, of `text`.
std::vector<std::string> Quotes(const std::string& text) {
    // The guide is UTF-8; this file's literals are the program's Windows-1251.
    const std::string open = Cp1251ToUtf8("«"), close = Cp1251ToUtf8("»");
    std::vector<std::string> quotes;
    int depth = 0;
    size_t start = 0;
    for (size_t i = 0; i < text.size();) {
        if (text.compare(i, open.size(), open) == 0) {
            if (depth++ == 0) start = i + open.size();
            i += open.size();
        } else if (text.compare(i, close.size(), close) == 0) {
            if (depth > 0 && --depth == 0) quotes.push_back(text.substr(start, i - start));
            i += close.size();
        } else {
            ++i;
        }
    }
    return quotes;
}

// The guide's message table: the section whose title starts "N. Сообщения"; an entry's
// messages are the quotes of its unindented lines, the explanation is indented.
std::vector<std::string> GuideTableMessages(const std::string& guide) {
    std::istringstream lines(guide);
    std::string line, headings;
    bool inTable = false;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const size_t dot = line.find(". ");
        const bool title =
            dot != std::string::npos && dot > 0 && line.find_first_not_of("0123456789") == dot;
        if (title) {
            const std::string table = Cp1251ToUtf8("Сообщения");
            inTable = line.compare(dot + 2, table.size(), table) == 0;
            continue;
        }
        if (inTable && !line.empty() && line[0] != ' ') headings += line + "\n";
    }
    std::vector<std::string> messages;
    for (const std::string& quote : Quotes(headings)) messages.push_back(Normalized(quote));
    return messages;
}

std::string ReadGuide() {
    std::ifstream in(PLCFLASH_SOURCE_DIR "/docs/user-guide-ru.txt", std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(Messages, TheGuidesTableListsEveryMessageAndOnlyThem) {
    const std::string guide = ReadGuide();
    ASSERT_FALSE(guide.empty());
    const std::vector<std::string> listed = GuideTableMessages(guide);
    ASSERT_GE(listed.size(), 10u) << "the message table was not found";
    const std::set<std::string> table(listed.begin(), listed.end());
    std::set<std::string> program;
    for (const std::string& text : MessageCatalogue()) {
        program.insert(Normalized(Cp1251ToUtf8(text)));
    }
    for (const std::string& text : program) {
        EXPECT_TRUE(table.count(text)) << "missing from the guide's message table:\n" << text;
    }
    for (const std::string& text : table) {
        EXPECT_TRUE(program.count(text)) << "the program shows no such message:\n" << text;
    }
}

}  // namespace
