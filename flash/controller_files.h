// The controller's own files that the program knows by name, and the folder whose files it
// writes into the controller after a reflash.
#pragma once

#include <string>
#include <vector>

inline constexpr char kDataFolder[] = "data\\";
inline constexpr char kIdentityName[] = "local_addres.dat";
inline constexpr char kCalibrationName[] = "calib.inc";

// The 317 and 318 keep a calibration file of their own; the designation from plc.ini names the
// model ("ПЛК-317").
inline bool DeviceHasCalibration(const std::string& device) {
    return device.find("317") != std::string::npos || device.find("318") != std::string::npos;
}

// One file a run writes into the controller: its name there and every byte of it, taken once
// when the run starts, so that nothing another copy of the program (or the user) does to
// `data` later can change what this controller gets or what its read-back is compared with.
struct RunFile {
    std::string name;
    std::string content;
};
using RunFiles = std::vector<RunFile>;

// Windows file names ignore case: "Calib.inc" in data is the calibration file all the same.
inline bool SameFileName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}
