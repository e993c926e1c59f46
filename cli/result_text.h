// Why a run failed, in the console tool's words: the engine's result code and what the engine
// kept about it (the file, the port, whether the kernel was erased).
#pragma once

#include <string>

#include "flash/math_thread.h"

// "failed with result code N: ..."; empty for success.
std::string EngineFailure(const CMathThread& engine, int code);

// The images do not match system\SHA256SUMS, are not listed there, or the list is unusable.
bool IsSumsFault(FileFault fault);
// The sums behind such a fault, one a line, for the engineer to compare, and what to do.
std::string SumsLines(const std::string& file, FileFault fault, const std::string& expected,
                      const std::string& actual);
