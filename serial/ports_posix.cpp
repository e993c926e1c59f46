// The serial ports of a Linux machine: the ttys of serial drivers, named by the links udev
// makes for them in /dev/serial/by-id (the adapter's make and serial number).
#include <filesystem>
#include <system_error>

#include "serial/port_list.h"

namespace fs = std::filesystem;

namespace {

bool IsSerialTty(const std::string& name) {
    for (const char* prefix : {"ttyS", "ttyUSB", "ttyACM"}) {
        const std::string p = prefix;
        if (name.size() > p.size() && name.compare(0, p.size(), p) == 0) return true;
    }
    return false;
}

}  // namespace

std::vector<PortDevice> SystemPortDevices() {
    std::vector<PortDevice> devices;
    std::error_code error;
    for (fs::directory_iterator it("/dev/serial/by-id", error), end; !error && it != end;
         it.increment(error)) {
        const fs::path target = fs::canonical(it->path(), error);
        if (error) {
            error.clear();  // a link whose device has just gone
            continue;
        }
        devices.push_back({target.string(), it->path().filename().string()});
    }
    error.clear();
    for (fs::directory_iterator it("/dev", error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (IsSerialTty(name)) devices.push_back({it->path().string(), ""});
    }
    return devices;
}

std::vector<std::string> ListSystemPorts() {
    return MergePortList({}, SystemPortDevices());
}
