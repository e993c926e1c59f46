// plc.ini: line 1 is the controller designation, line 2 the target firmware version, each the
// value after the line's first "=". Nothing else in the file is read.
#pragma once

#include <string>

struct PlcConfig {
    std::string device;
    std::string version;
};

// The value of one line as read (its line feed included).
std::string DeriveConfigValue(const std::string& line);

// The two values from the file's bytes; lines missing from the file give empty values.
PlcConfig ParsePlcIni(const std::string& bytes);

// Reads the file at `path`; false when it cannot be opened.
bool ReadPlcIni(const std::string& path, PlcConfig* config);
