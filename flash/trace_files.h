// Line traces on disk: the console tool's --trace file, and the assistant's folder of the
// latest unsuccessful runs' traces in the storage root, beside plcflash.log.
#pragma once

#include <cstddef>
#include <ctime>
#include <string>

#include "serial/line_trace.h"

inline constexpr char kTraceFolder[] = "trace\\";
constexpr size_t kTracesKept = 20;

// The trace as UTF-8 text (as plcflash.log is) at `path`; false when it cannot be written whole.
bool WriteTraceFile(const CLineTrace& trace, const std::string& path);

// "20261209-050303-COM5.txt": a trace written at `when` (local time) of a run on COM5.
std::string TraceFileName(std::time_t when, int port);
// A name TraceFileName makes, or its "-2".."-9" twin for a second trace of that second and
// port: the only files KeepTrace ever removes from its folder.
bool IsTraceFileName(const std::string& name);

// Writes the trace into `root`trace\ under TraceFileName (a twin's name when that is taken, as
// by another copy of the program on the same port) and removes the oldest of ours beyond
// kTracesKept. Returns the path written (`root`trace\NAME), or "" when it could not be written.
std::string KeepTrace(const std::string& root, const CLineTrace& trace, int port, std::time_t when);
