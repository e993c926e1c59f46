#include "flash/attempt_record.h"

#include <cstdio>

#include "flash/crc32.h"
#include "flash/log_file.h"
#include "flash/run_log.h"
#include "framework/file.h"

namespace {

constexpr char kBom[] = "\xEF\xBB\xBF";
// Another copy holds the lock for one short write; a lock not had by then is not waited for.
constexpr uint32_t kLockWaitMs = 5000;

const char* const kImageTitles[] = {"Загрузчик", "Ядро"};

std::string Row(const std::vector<std::string>& fields) {
    std::string row;
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i) row += ',';
        row += CsvField(Cp1251ToUtf8(fields[i]));
    }
    return row + "\r\n";
}

}  // namespace

std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

std::string UtcStamp(std::time_t t) {
    std::tm utc{};
#ifdef _WIN32
    gmtime_s(&utc, &t);
#else
    gmtime_r(&t, &utc);
#endif
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

std::string AttemptCsvHeader() {
    std::vector<std::string> titles = {"Время (UTC)", "Программа",     "Версия", "Компьютер",
                                       "Порт",        "Модель",        "MAC",    "IP",
                                       "Калибровка",  "Форматирование"};
    for (const char* image : kImageTitles) {
        titles.push_back(std::string(image) + ", байт");
        titles.push_back(std::string(image) + ", CRC-32");
        titles.push_back(std::string(image) + ", SHA-256");
    }
    for (const char* title : {"Этап", "Код", "Результат", "Длительность, с"}) {
        titles.push_back(title);
    }
    return Row(titles);
}

std::string AttemptCsvRow(const AttemptRecord& record) {
    std::vector<std::string> fields = {UtcStamp(record.started),
                                       record.program,
                                       ProgramVersion(),
                                       record.computer,
                                       record.port,
                                       record.model,
                                       record.mac,
                                       record.ip,
                                       record.calibration,
                                       record.formatAsked ? "да" : "нет"};
    for (size_t i = 0; i < std::size(kImageTitles); ++i) {
        if (i < record.images.size()) {
            const ImageSum& image = record.images[i];
            fields.push_back(std::to_string(image.size));
            fields.push_back(Crc32Text(image.crc32));
            fields.push_back(image.sha256);
        } else {
            fields.insert(fields.end(), 3, std::string());
        }
    }
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f", record.seconds);
    fields.push_back(record.phase);
    fields.push_back(std::to_string(record.result));
    fields.push_back(record.message);
    fields.push_back(seconds);
    return Row(fields);
}

bool AppendAttempt(const std::string& path, const AttemptRecord& record) {
    CFile file;
    if (!file.Open(path, CFile::modeWrite | CFile::modeAppend)) return false;
    // Without the lock two copies finding the file new would both write the header. A lock not
    // had in time still lets the row go: a row lost is worse than a second header.
    file.LockWhole(kLockWaitMs);
    std::string text = AttemptCsvRow(record);
    if (file.GetLength() == 0) text = kBom + AttemptCsvHeader() + text;
    return file.Write(text.data(), static_cast<uint32_t>(text.size())) && file.Flush();
}
