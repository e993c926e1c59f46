// `plcflash-cli update`: the assistant's whole run for one controller or several at once, one
// per port.
#pragma once

#include <string>
#include <vector>

// `traceFile` (from --trace, empty when not given): each port's line trace, one after the other.
int Update(const std::vector<std::string>& args, const std::string& traceFile);
