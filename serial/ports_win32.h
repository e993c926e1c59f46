// The Windows sources of the port list: the registry's list of serial ports and the Ports
// device class of the device information.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

constexpr char kSerialCommKey[] = "HARDWARE\\DEVICEMAP\\SERIALCOMM\\";

// The REG_SZ values under `root`\`subkey`, in the registry's order; empty when there is no key.
std::vector<std::string> ReadRegistryPorts(HKEY root = HKEY_LOCAL_MACHINE,
                                           const char* subkey = kSerialCommKey);
