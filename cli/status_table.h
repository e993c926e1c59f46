// The live table of `plcflash-cli update`: one row per port (port, MAC, step, %, elapsed,
// result) and a line of counters, redrawn in place on a terminal; elsewhere (a log, a pipe)
// a plain line for each change that matters, so the output reads as a record.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "cli/port_update.h"

class CStatusTable {
  public:
    CStatusTable(std::FILE* out, bool inPlace);
    // The terminal shows typed input again.
    ~CStatusTable();
    CStatusTable(const CStatusTable&) = delete;
    CStatusTable& operator=(const CStatusTable&) = delete;

    // The rows as they are now and the prompt waiting for Enter (empty when none).
    void Draw(const std::vector<PortRow>& rows, const std::string& prompt);

    // "PORT  MAC  STEP ..." rows as text, and the counters.
    static std::string FormatRow(const PortRow& row);
    static std::string Counters(const std::vector<PortRow>& rows);

  private:
    void DrawInPlace(const std::vector<PortRow>& rows, const std::string& prompt);
    void DrawLines(const std::vector<PortRow>& rows, const std::string& prompt);

    std::FILE* m_pOut;
    bool m_bInPlace;
    bool m_bEchoOff = false;
    int m_nLinesAbove = -1;  // lines from the table's top to the cursor; -1 before the first
    // What the plain lines last said of each port, and the prompt last printed.
    std::vector<std::string> m_Said;
    std::string m_strPrompt;
};
