#include "serial/port_list.h"

#include <algorithm>
#include <cctype>

namespace {

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool SamePort(const std::string& a, const std::string& b) {
    return Lower(a) == Lower(b);
}

// Device names usually end with their own port in brackets ("USB-SERIAL CH340 (COM5)"); the
// entry already starts with it.
std::string NameWithoutPort(std::string name, const std::string& port) {
    const std::string suffix = " (" + Lower(port) + ")";
    const std::string lower = Lower(name);
    if (lower.size() >= suffix.size() &&
        lower.compare(lower.size() - suffix.size(), suffix.size(), suffix) == 0) {
        name.resize(name.size() - suffix.size());
    }
    while (!name.empty() && std::isspace(static_cast<unsigned char>(name.back()))) name.pop_back();
    return SamePort(name, port) ? std::string() : name;
}

bool Listed(const std::vector<std::string>& entries, const std::string& port) {
    return std::any_of(entries.begin(), entries.end(),
                       [&](const std::string& e) { return SamePort(PortOfEntry(e), port); });
}

}  // namespace

std::vector<std::string> MergePortList(const std::vector<std::string>& registryPorts,
                                       const std::vector<PortDevice>& devices) {
    std::vector<PortDevice> ports;
    auto add = [&](const std::string& port, const std::string& name) {
        if (port.empty()) return;
        for (PortDevice& known : ports) {
            if (!SamePort(known.port, port)) continue;
            if (known.name.empty()) known.name = name;
            return;
        }
        ports.push_back({port, name});
    };
    for (const std::string& port : registryPorts) add(port, "");
    for (const PortDevice& device : devices)
        add(device.port, NameWithoutPort(device.name, device.port));

    std::vector<std::string> entries;
    for (const PortDevice& p : ports)
        entries.push_back(p.name.empty() ? p.port : p.port + " (" + p.name + ")");
    std::stable_sort(
        entries.begin(), entries.end(),
        [](const std::string& a, const std::string& b) { return Lower(a) < Lower(b); });
    return entries;
}

std::string PortOfEntry(const std::string& entry) {
    return entry.substr(0, entry.find(' '));
}

std::string PortToSelect(const std::vector<std::string>& before, const std::string& selectedPort,
                         const std::vector<std::string>& after) {
    for (const std::string& entry : after)
        if (!Listed(before, PortOfEntry(entry))) return PortOfEntry(entry);
    if (!selectedPort.empty() && Listed(after, selectedPort)) return selectedPort;
    return after.empty() ? std::string() : PortOfEntry(after.front());
}
