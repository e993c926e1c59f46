// `plcflash-cli update`: the assistant's whole run for one controller or several at once, one
// per port.
#pragma once

#include <string>
#include <vector>

int Update(const std::vector<std::string>& args);
