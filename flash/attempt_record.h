// The record of every attempt: one CSV row per run, appended by the assistant and the console
// tool alike to plcflash-history.csv, for a service bench's books. RFC 4180, UTF-8 with a byte
// order mark (so a spreadsheet keeps the Cyrillic), a header row when the file is new.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "flash/image_check.h"

inline constexpr char kHistoryName[] = "plcflash-history.csv";

// Texts in the program's Windows-1251; turned into UTF-8 in the row.
struct AttemptRecord {
    std::time_t started = 0;  // written as UTC
    std::string program;      // "plcflash.exe", "plcflash-cli update"
    std::string computer;
    std::string port;  // with the adapter's name when known: "COM5 (USB-SERIAL CH340)"
    std::string model;
    std::string mac;
    std::string ip;
    std::string calibration;  // where the calibration file came from
    bool formatAsked = false;
    std::vector<ImageSum> images;  // the loader, then the kernel
    std::string phase;             // the last phase the run reached
    int result = -1;
    std::string message;
    double seconds = 0;
};

// One field quoted when it must be (comma, quote, CR or LF), quotes doubled.
std::string CsvField(const std::string& text);
// The header and one row, each ended by CR LF, UTF-8.
std::string AttemptCsvHeader();
std::string AttemptCsvRow(const AttemptRecord& record);

// Appends the row to `path`, with the byte order mark and the header when the file is empty.
// Several copies of the program may append at once: the file is locked for the check and the
// write. False when it could not be written (a run never fails for that).
bool AppendAttempt(const std::string& path, const AttemptRecord& record);

// "2026-12-09T05:12:33Z".
std::string UtcStamp(std::time_t t);
