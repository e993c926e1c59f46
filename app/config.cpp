#include "app/config.h"

#include "framework/file.h"

std::string DeriveConfigValue(const std::string& line) {
    std::string value = line;
    const size_t eq = value.find('=');
    if (eq != std::string::npos) value.erase(0, eq + 1);
    std::string joined;
    for (char c : value) {
        if (c != '\r' && c != '\n') joined += c;
    }
    // Only spaces are trimmed: a tab is part of the value.
    const size_t last = joined.find_last_not_of(' ');
    if (last == std::string::npos) return std::string();
    joined.erase(last + 1);
    joined.erase(0, joined.find_first_not_of(' '));
    return joined;
}

namespace {

// A line runs up to and including its line feed, or to the end of the bytes.
std::string NextLine(const std::string& bytes, size_t* pos) {
    if (*pos >= bytes.size()) return std::string();
    size_t end = bytes.find('\n', *pos);
    end = end == std::string::npos ? bytes.size() : end + 1;
    std::string line = bytes.substr(*pos, end - *pos);
    *pos = end;
    return line;
}

}  // namespace

PlcConfig ParsePlcIni(const std::string& bytes) {
    size_t pos = 0;
    PlcConfig config;
    config.device = DeriveConfigValue(NextLine(bytes, &pos));
    config.version = DeriveConfigValue(NextLine(bytes, &pos));
    return config;
}

bool ReadPlcIni(const std::string& path, PlcConfig* config) {
    CFile file;
    if (!file.Open(path, CFile::modeRead)) return false;
    // Only the first two lines matter; stop reading once both are in.
    std::string bytes;
    char buffer[512];
    int lineFeeds = 0;
    while (lineFeeds < 2) {
        uint32_t got = file.Read(buffer, sizeof(buffer));
        if (got == 0) break;
        for (uint32_t i = 0; i < got && lineFeeds < 2; ++i) {
            bytes += buffer[i];
            if (buffer[i] == '\n') ++lineFeeds;
        }
    }
    *config = ParsePlcIni(bytes);
    return true;
}
