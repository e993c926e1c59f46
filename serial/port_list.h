// The list of serial ports a user chooses from: what the system's registry of ports says,
// merged with the device names of the adapters behind them.
#pragma once

#include <string>
#include <vector>

// A port as the system's device information knows it: its name ("COM5", "/dev/ttyUSB0") and
// the device's own name ("USB-SERIAL CH340 (COM5)"), "" when it has none.
struct PortDevice {
    std::string port;
    std::string name;
};

// One entry per port, port first ("COM5 (USB-SERIAL CH340)", "COM1"), sorted as a sorted
// combo box sorts (case-insensitive). A port listed twice is listed once, with a name when any
// source gave one; a device whose port could not be read (it left while being asked) is
// skipped; a port known only from the registry keeps its bare name.
std::vector<std::string> MergePortList(const std::vector<std::string>& registryPorts,
                                       const std::vector<PortDevice>& devices);

// The port an entry stands for: its text up to the first blank.
std::string PortOfEntry(const std::string& entry);

// After the list changed from `before` to `after`: the port to select. A port that has just
// arrived (the adapter just plugged in), else `selectedPort` while it is still listed, else the
// first entry's; "" for an empty list.
std::string PortToSelect(const std::vector<std::string>& before, const std::string& selectedPort,
                         const std::vector<std::string>& after);

// The ports of this machine as the port page lists them (the registry's list and the device
// information on Windows; the serial ttys and their /dev/serial/by-id names on Linux).
std::vector<std::string> ListSystemPorts();
// The device information part alone.
std::vector<PortDevice> SystemPortDevices();
