// Why a run failed, in the console tool's words: the engine's result code and what the engine
// kept about it (the file, the port, whether the kernel was erased).
#pragma once

#include <string>

#include "flash/math_thread.h"

// "failed with result code N: ..."; empty for success.
std::string EngineFailure(const CMathThread& engine, int code);
