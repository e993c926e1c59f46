#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "serial/port_list.h"
#include "serial/worker.h"

namespace {

using Entries = std::vector<std::string>;

struct MergeCase {
    const char* what;
    Entries registry;
    std::vector<PortDevice> devices;
    Entries expected;
};

TEST(PortList, RegistryAndDeviceNamesMerged) {
    const MergeCase cases[] = {
        {"registry only: bare names, sorted as the combo box sorts",
         {"COM7", "COM1", "COM10"},
         {},
         {"COM1", "COM10", "COM7"}},
        {"a device's name follows its port, without the port repeated",
         {"COM5", "COM1"},
         {{"COM5", "USB-SERIAL CH340 (COM5)"}},
         {"COM1", "COM5 (USB-SERIAL CH340)"}},
        {"a device without a name keeps the bare port", {"COM3"}, {{"COM3", ""}}, {"COM3"}},
        {"a name that is only the port adds nothing", {"COM3"}, {{"COM3", "COM3"}}, {"COM3"}},
        {"a name without the port in brackets is kept whole",
         {},
         {{"COM12", "Virtual serial port"}},
         {"COM12 (Virtual serial port)"}},
        {"COM10 and above",
         {"COM10", "COM2"},
         {{"COM10", "Prolific USB-to-Serial Comm Port (COM10)"}},
         {"COM10 (Prolific USB-to-Serial Comm Port)", "COM2"}},
        {"a port known to both sources, or listed twice, is listed once",
         {"COM4", "COM4", "com4"},
         {{"COM4", "FTDI (COM4)"}, {"COM4", "Other (COM4)"}},
         {"COM4 (FTDI)"}},
        {"the port's case in the name's brackets does not matter",
         {"COM6"},
         {{"COM6", "Adapter (com6)"}},
         {"COM6 (Adapter)"}},
        {"a device only the device information knows is listed",
         {"COM1"},
         {{"COM9", "Bluetooth link (COM9)"}},
         {"COM1", "COM9 (Bluetooth link)"}},
        {"a device that left while being asked has no port and is skipped",
         {"COM1"},
         {{"", "USB-SERIAL CH340"}},
         {"COM1"}},
        {"nothing at all", {}, {}, {}},
    };
    for (const MergeCase& c : cases)
        EXPECT_EQ(MergePortList(c.registry, c.devices), c.expected) << c.what;
}

TEST(PortList, EveryFormOfEntryGivesItsPortAndNumber) {
    const struct {
        const char* entry;
        const char* port;
        int number;
    } cases[] = {
        {"COM1", "COM1", 1},
        {"COM5 (USB-SERIAL CH340)", "COM5", 5},
        {"COM10", "COM10", 10},
        {"COM10 (Prolific USB-to-Serial Comm Port)", "COM10", 10},
        {"COM256 (x)", "COM256", 256},
        {"/dev/ttyUSB0 (usb-FTDI_FT232R-if00-port0)", "/dev/ttyUSB0", 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PortOfEntry(c.entry), c.port) << c.entry;
        if (c.port[0] == 'C') {
            EXPECT_EQ(ParsePortNumber(c.entry), c.number) << c.entry;
        }
    }
}

struct SelectCase {
    const char* what;
    Entries before;
    const char* selected;
    Entries after;
    const char* expected;
};

TEST(PortList, SelectionAfterTheListChanged) {
    const SelectCase cases[] = {
        {"a port that arrived is the adapter just plugged in",
         {"COM1", "COM3"},
         "COM1",
         {"COM1", "COM3", "COM5 (USB-SERIAL CH340)"},
         "COM5"},
        {"the selection stays while its port exists",
         {"COM1", "COM3", "COM5"},
         "COM3",
         {"COM1", "COM3"},
         "COM3"},
        {"a name found later is no arrival",
         {"COM1", "COM5"},
         "COM1",
         {"COM1", "COM5 (USB-SERIAL CH340)"},
         "COM1"},
        {"the selected port left: the first entry",
         {"COM1", "COM3", "COM5"},
         "COM5",
         {"COM1", "COM3"},
         "COM1"},
        {"nothing was selected", {"COM1"}, "", {"COM1", "COM2"}, "COM2"},
        {"nothing selected, nothing new", {"COM1", "COM2"}, "", {"COM1", "COM2"}, "COM1"},
        {"the last port left", {"COM1"}, "COM1", {}, ""},
        {"the first port of an empty list", {}, "", {"COM4"}, "COM4"},
    };
    for (const SelectCase& c : cases)
        EXPECT_EQ(PortToSelect(c.before, c.selected, c.after), c.expected) << c.what;
}

}  // namespace
