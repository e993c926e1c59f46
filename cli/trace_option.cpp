#include "cli/trace_option.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "flash/trace_files.h"
#include "framework/file.h"
#include "serial/worker.h"

bool TakeTraceOption(std::vector<std::string>* args, std::string* file) {
    file->clear();
    const auto at = std::find(args->begin(), args->end(), "--trace");
    if (at == args->end()) return true;
    if (at + 1 == args->end() || at[1].empty()) return false;
    *file = AbsolutePath(at[1]);
    args->erase(at, at + 2);
    return true;
}

CCommandTrace::CCommandTrace(std::string file, std::string port)
    : m_strFile(std::move(file)), m_pTrace(std::make_shared<CLineTrace>(std::move(port))) {}

void CCommandTrace::Attach(CMyThread& worker) const {
    if (m_pTrace) worker.SetTrace(m_pTrace);
}

bool CCommandTrace::Write() const {
    if (!m_pTrace || WriteTraceFile(*m_pTrace, m_strFile)) return true;
    std::fprintf(stderr, "plcflash-cli: cannot write the line trace %s\n", m_strFile.c_str());
    return false;
}

bool TakeCommandTrace(std::vector<std::string>* args, CCommandTrace* trace) {
    std::string file;
    if (!TakeTraceOption(args, &file)) return false;
    if (file.empty()) return true;
    const auto port = std::find(args->begin(), args->end(), "--port");
    *trace = CCommandTrace(file, port != args->end() && port + 1 != args->end() ? port[1] : "");
    return true;
}
