#include "cli/update.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>

#include "app/config.h"
#include "cli/attempts.h"
#include "cli/port_update.h"
#include "cli/result_text.h"
#include "cli/status_table.h"
#include "cli/stop_on_signal.h"
#include "cli/usage.h"
#include "flash/image_check.h"
#include "flash/log_file.h"
#include "framework/console.h"
#include "framework/file.h"
#include "identity/backup.h"
#include "serial/line_trace.h"

namespace {

constexpr int kExitStopped = kExitResultBase + ResultStopped;
constexpr int kExitBadImage = kExitResultBase + ResultBadFile;
// Two workers a port, and room to spare in the Ctrl-C registry.
constexpr size_t kMaxPorts = 64;
// How often the table is redrawn while nothing else happens.
constexpr uint32_t kRedrawMs = 250;

struct UpdateArgs {
    std::vector<std::string> ports;
    std::map<std::string, MacFields> macs;
    std::string dir, logPath, recordPath;
    bool format = false, yes = false;
};

// "00:1A:2B:3C:4D:5E", with ":" or "-", or twelve digits in a row.
bool ParseMac(std::string text, MacFields* mac) {
    text.erase(
        std::remove_if(text.begin(), text.end(), [](char c) { return c == ':' || c == '-'; }),
        text.end());
    if (text.size() != 12) return false;
    for (size_t i = 0; i < 6; ++i) (*mac)[i] = text.substr(2 * i, 2);
    return !MacKey(*mac).empty();
}

bool ParseArgs(const std::vector<std::string>& args, UpdateArgs* out) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& opt = args[i];
        if (opt == "--format") {
            out->format = true;
        } else if (opt == "--yes") {
            out->yes = true;
        } else if (i + 1 >= args.size()) {
            return false;
        } else if (opt == "--port") {
            out->ports.push_back(args[++i]);
        } else if (opt == "--dir") {
            out->dir = args[++i];
        } else if (opt == "--log") {
            out->logPath = AbsolutePath(args[++i]);
        } else if (opt == "--record") {
            out->recordPath = AbsolutePath(args[++i]);
        } else if (opt == "--mac") {
            const std::string& value = args[++i];
            const size_t eq = value.rfind('=');
            MacFields mac;
            if (eq == std::string::npos || !ParseMac(value.substr(eq + 1), &mac)) return false;
            out->macs[value.substr(0, eq)] = mac;
        } else {
            return false;
        }
    }
    std::vector<std::string> sorted = out->ports;
    std::sort(sorted.begin(), sorted.end());
    if (out->ports.empty() || out->dir.empty() || out->ports.size() > kMaxPorts ||
        std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end()) {
        return false;
    }
    // A MAC for a port not being updated is a typing error, not something to ignore.
    return std::all_of(out->macs.begin(), out->macs.end(), [&](const auto& mac) {
        return std::find(out->ports.begin(), out->ports.end(), mac.first) != out->ports.end();
    });
}

// Both images read through and checked against SHA256SUMS once before any port starts: a port
// never reads a controller it cannot flash. 0, or the exit status.
int CheckImagesOnce(std::vector<ImageSum>* images) {
    ImageFault fault;
    if (!CheckImages(images, &fault)) {
        std::fprintf(stderr, "plcflash-cli: %s %s; nothing was read or sent%s\n",
                     fault.path.c_str(), FileFaultReason(fault.fault),
                     SumsLines(fault.path, fault.fault, fault.expected, fault.actual).c_str());
        return IsSumsFault(fault.fault) ? kExitImageSums : kExitBadImage;
    }
    return 0;
}

class Bench {
  public:
    Bench(const UpdateArgs& args, const UpdateSettings& settings, bool traced)
        : m_Args(args), m_Desk(!args.yes), m_Table(stdout, UseTerminalSequences()) {
        for (const std::string& port : args.ports) {
            const auto mac = args.macs.find(port);
            m_Ports.push_back(std::make_unique<CPortUpdate>(
                port, settings, m_Desk, mac == args.macs.end() ? MacFields() : mac->second));
            m_Stoppable.push_back(std::make_unique<StopOnSignal>(m_Ports.back()->Reader()));
            m_Stoppable.push_back(std::make_unique<StopOnSignal>(m_Ports.back()->Engine()));
            m_Ports.back()->SetPortDescription(PortWithAdapter(port));
            if (traced) {
                m_Traces.push_back(std::make_shared<CLineTrace>(port));
                m_Ports.back()->SetTrace(m_Traces.back());
            }
        }
        m_Recorded.assign(m_Ports.size(), false);
    }

    // Runs every port to its end; the exit status.
    int Run();
    // Every port's trace, one after the other, as UTF-8 (as plcflash.log is).
    bool WriteTraces(const std::string& file) const;

  private:
    std::vector<PortRow> Rows() const {
        std::vector<PortRow> rows;
        for (const auto& port : m_Ports) rows.push_back(port->Row());
        return rows;
    }
    void StopAll() {
        for (const auto& port : m_Ports) port->RequestStop();
    }
    // A port that has ended is written into the run log and the record at once: a bench
    // stopped later keeps the rows of the ports done.
    void RecordEnded(const std::vector<PortRow>& rows);
    // Waits for Enter on the step asked now, or for a redraw's time; Ctrl-C ends either.
    void Tick(const std::string& prompt);

    const UpdateArgs& m_Args;
    CPromptDesk m_Desk;
    CStatusTable m_Table;
    std::vector<std::unique_ptr<CPortUpdate>> m_Ports;
    std::vector<std::unique_ptr<StopOnSignal>> m_Stoppable;
    std::vector<std::shared_ptr<CLineTrace>> m_Traces;
    std::vector<bool> m_Recorded;
    bool m_bStopped = false;
    bool m_bInputEnded = false;
};

void Bench::RecordEnded(const std::vector<PortRow>& rows) {
    for (size_t i = 0; i < rows.size(); ++i) {
        if (!rows[i].ended || m_Recorded[i]) continue;
        // Ended in the row: its thread is past everything that touches the record and the log.
        m_Ports[i]->Wait(kWaitForever);
        m_Recorded[i] = true;
        RecordAttempt(AttemptsPath(m_Args.recordPath), m_Ports[i]->Record());
        if (!m_Args.logPath.empty() &&
            !AppendBounded(m_Args.logPath, m_Args.logPath + ".old", m_Ports[i]->RunLog().Compose(),
                           kRunLogMaxBytes)) {
            std::fprintf(stderr, "plcflash-cli: cannot write the log %s\n", m_Args.logPath.c_str());
        }
    }
}

void Bench::Tick(const std::string& prompt) {
    if (prompt.empty() || m_bInputEnded) {
        if (StopAllSignal().Wait(kRedrawMs)) m_bStopped = true;
        return;
    }
    switch (WaitForEnter(StopAllSignal(), kRedrawMs)) {
        case EnterWait::Pressed:
            m_Desk.Answer(m_Desk.Front());
            break;
        case EnterWait::Stopped:
            m_bStopped = true;
            break;
        case EnterWait::InputEnded:
            std::fprintf(stderr,
                         "\nplcflash-cli: standard input ended before Enter: without a "
                         "terminal, give --yes\n");
            m_bInputEnded = true;
            StopAll();
            break;
        case EnterWait::TimedOut:
            break;
    }
}

bool Bench::WriteTraces(const std::string& file) const {
    std::string text;
    for (const auto& trace : m_Traces) text += Cp1251ToUtf8(trace->Text()) + "\n";
    if (CFile::WriteAll(file, text)) return true;
    std::fprintf(stderr, "plcflash-cli: cannot write the line trace %s\n", file.c_str());
    return false;
}

int Bench::Run() {
    for (const auto& port : m_Ports) port->Start();
    for (;;) {
        if (m_bStopped) StopAll();
        const std::vector<PortRow> rows = Rows();
        RecordEnded(rows);
        const auto request = m_Desk.Front();
        const std::string prompt =
            request ? request->port + ": " + request->text + " -- press Enter when done" : "";
        m_Table.Draw(rows, prompt);
        if (std::all_of(rows.begin(), rows.end(), [](const PortRow& row) { return row.ended; })) {
            break;
        }
        Tick(prompt);
    }
    const std::vector<PortRow> rows = Rows();
    std::printf("\n%s\n", CStatusTable::Counters(rows).c_str());
    bool allSucceeded = true;
    for (const PortRow& row : rows) {
        if (row.succeeded) continue;
        allSucceeded = false;
        std::printf("  %s: %s\n", row.port.c_str(), row.reason.c_str());
    }
    if (allSucceeded) return 0;
    return m_bStopped || m_bInputEnded ? kExitStopped : kExitSomeFailed;
}

}  // namespace

int Update(const std::vector<std::string>& args, const std::string& traceFile) {
    UpdateArgs parsed;
    if (!ParseArgs(args, &parsed)) return Usage();
    if (!EnterFolder(parsed.dir)) {
        std::fprintf(stderr, "plcflash-cli: cannot enter %s\n", parsed.dir.c_str());
        return kExitFile;
    }
    PlcConfig config;
    ReadPlcIni("plc.ini", &config);
    UpdateSettings settings;
    settings.device = config.device;
    settings.version = config.version;
    settings.format = parsed.format;
    settings.computer = ComputerName();
    settings.storageOk = ChooseStorageRoot(DefaultStorageRoots(), &settings.storageRoot);
    // The user's own data\local_addres.dat and data\calib.inc can belong to one controller
    // only: with several ports, none of them may stand in for a controller that cannot be read.
    settings.userFiles = parsed.ports.size() == 1;
    if (const int status = CheckImagesOnce(&settings.images)) return status;
    Bench bench(parsed, settings, !traceFile.empty());
    const int status = bench.Run();
    // However the ports ended: a failed or stopped one is what a trace is asked for.
    if (!traceFile.empty()) bench.WriteTraces(traceFile);
    return status;
}
