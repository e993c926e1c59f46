#include "temp_path.h"

#include <gtest/gtest.h>
#ifdef _WIN32
#include <process.h>
#define getpid _getpid
#else
#include <unistd.h>
#endif

std::string UniqueTempPath(const std::string& name) {
    return ::testing::TempDir() + std::to_string(getpid()) + "." + name;
}
