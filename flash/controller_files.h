// The controller's own files that the program knows by name, and the folder whose files it
// writes into the controller after a reflash.
#pragma once

#include <string>

inline constexpr char kDataFolder[] = "data\\";
inline constexpr char kIdentityName[] = "local_addres.dat";
inline constexpr char kCalibrationName[] = "calib.inc";

// The 317 and 318 keep a calibration file of their own; the designation from plc.ini names the
// model ("ПЛК-317").
inline bool DeviceHasCalibration(const std::string& device) {
    return device.find("317") != std::string::npos || device.find("318") != std::string::npos;
}
