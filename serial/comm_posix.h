// POSIX serial lines: ttys and pseudo-terminals behind the same CommPort interface.
#pragma once

#include <memory>
#include <string>

#include "serial/comm.h"

// What COMn means on this machine, as the Wine registry maps COMn to a device path.
void MapCommPort(int number, const std::string& path);

// Opens a tty by path, exclusively (a second open of the same path fails); null on failure.
std::unique_ptr<CommPort> OpenTtyPath(const std::string& path);

// A CommPort over a descriptor that is already open (a pseudo-terminal's master end);
// the port closes it when `owned`.
std::unique_ptr<CommPort> WrapTtyDescriptor(int fd, bool owned);
