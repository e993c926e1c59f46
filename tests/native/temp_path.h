// A path in the temporary folder that no other test process uses: ctest runs the cases of one
// program as parallel processes.
#pragma once

#include <string>

std::string UniqueTempPath(const std::string& name);
