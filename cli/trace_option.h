// --trace FILE, which every command takes: every worker the command makes records its line into
// one trace, written to FILE as the command ends, however it ends (success, failure, Ctrl-C).
// A command that drives several ports keeps one CCommandTrace per port.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "serial/line_trace.h"

class CMyThread;

// Takes "--trace FILE" out of `args` wherever it stands, leaving the command's own arguments as
// they were: FILE made absolute (the command may change its folder) in `file`, "" when not
// given. False when --trace has no FILE after it.
bool TakeTraceOption(std::vector<std::string>* args, std::string* file);

class CCommandTrace {
  public:
    // Off: Attach and Write do nothing.
    CCommandTrace() = default;
    // Into `file`; the heading names `port`.
    CCommandTrace(std::string file, std::string port);

    bool On() const { return m_pTrace != nullptr; }
    // `worker` records into this trace from the next port it opens.
    void Attach(CMyThread& worker) const;
    // Writes the trace to its file; when it cannot, says so on standard error and returns false.
    // A trace never changes a command's exit status.
    bool Write() const;
    const std::shared_ptr<CLineTrace>& Trace() const { return m_pTrace; }

  private:
    std::string m_strFile;
    std::shared_ptr<CLineTrace> m_pTrace;
};

// The command's trace, from its arguments: --trace taken out of `args`, the port the one after
// --port. False when --trace has no FILE.
bool TakeCommandTrace(std::vector<std::string>* args, CCommandTrace* trace);
