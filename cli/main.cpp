// plcflash-cli: the flashing engine on a terminal, over a COM port (Windows) or a tty or a
// simulated controller's line (Linux).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "app/config.h"
#include "cli/attempts.h"
#include "cli/console_ui.h"
#include "cli/result_text.h"
#include "cli/stop_on_signal.h"
#include "cli/trace_option.h"
#include "cli/update.h"
#include "cli/usage.h"
#include "flash/controller_files.h"
#include "flash/file_fetch.h"
#include "flash/log_file.h"
#include "flash/math_thread.h"
#include "flash/run_log.h"
#include "framework/console.h"
#include "framework/file.h"
#include "identity/backup.h"
#include "identity/identity_file.h"
#include "identity/read_thread.h"
#include "serial/comm.h"
#include "serial/port_list.h"

namespace {

// How long a sender waits for the receiver to ask, as XMODEM senders commonly do.
constexpr int kReceiverWaitReads = 9;  // of 7 s each: about a minute

// --trace: every worker of the command records into it.
CCommandTrace g_trace;

class Session : public CMathThread {
  public:
    using CMathThread::CMathThread;

    uint32_t Run() override {
        int code = ResultDone;
        try {
            ClearReceived();
            OpenEnginePort();
            Steps();
        } catch (int raised) {
            code = raised;
        }
        m_pCurrentFile.reset();
        if (m_hPort) ClosePort(m_hPort);
        m_result = code;
        return 0;
    }

    int Result() const { return m_result; }

  protected:
    virtual void Steps() = 0;

  private:
    int m_result = -1;
};

class ConsoleSession final : public Session {
  public:
    ConsoleSession(ConsoleUi& ui, std::vector<std::pair<bool, std::string>> steps)
        : Session(ui), m_steps(std::move(steps)) {}

  private:
    void Steps() override {
        for (const auto& [wait, text] : m_steps) {
            if (wait) {
                WaitForText(text);
            } else {
                SendAnswer(text[0]);
            }
            std::printf("%s: %s\n", wait ? "received" : "answered", text.c_str());
            std::fflush(stdout);
        }
    }

    std::vector<std::pair<bool, std::string>> m_steps;
};

class ImageSession final : public Session {
  public:
    ImageSession(ConsoleUi& ui, std::unique_ptr<CFile> file) : Session(ui) {
        m_nProgressTotal = file->GetLength() ? file->GetLength() : 1;
        m_pCurrentFile = std::move(file);
    }

  private:
    void Steps() override {
        std::printf("waiting for the receiver\n");
        std::fflush(stdout);
        for (int reads = 1;; ++reads) {
            try {
                uint8_t c = 0;
                ReadBytes(m_hPort, &c, 1);
                if (c == 'C') break;
            } catch (int code) {
                if (code != ResultNoAnswer || reads == kReceiverWaitReads) throw;
            }
        }
        SendImage();
        std::printf("sent\n");
    }
};

class FilesSession final : public Session {
  public:
    FilesSession(ConsoleUi& ui, std::vector<std::string> paths)
        : Session(ui), m_paths(std::move(paths)) {}

  private:
    void Steps() override {
        for (const std::string& path : m_paths) CheckDataFile(path);
        // The engine opens the port anew for every file, as the controller expects.
        ClosePort(m_hPort);
        for (const std::string& path : m_paths) {
            Ui().SetStatusText("writing " + path);
            SendDataFile(path);
        }
    }

    std::vector<std::string> m_paths;
};

int Finish(Session& session) {
    StopOnSignal stoppable(session);
    g_trace.Attach(session);
    if (!session.StartThread()) return kExitResultBase + ResultIoError;
    // Every read and write of a session is bounded, so this wait is too.
    while (!session.WaitThread(1000)) {
    }
    if (session.Result() == ResultDone) return 0;
    if (session.Result() == ResultBadFile) {
        std::fprintf(stderr, "plcflash-cli: %s %s\n", session.GetFaultyFile().c_str(),
                     session.GetFaultReason());
    }
    std::fprintf(stderr, "plcflash-cli: failed with result code %d\n", session.Result());
    return kExitResultBase + session.Result();
}

int Console(const std::vector<std::string>& args) {
    std::string port;
    std::vector<std::pair<bool, std::string>> steps;
    for (size_t i = 0; i + 1 < args.size(); i += 2) {
        const std::string& opt = args[i];
        const std::string& value = args[i + 1];
        if (opt == "--port") {
            port = value;
        } else if (opt == "--wait") {
            steps.emplace_back(true, value);
        } else if (opt == "--answer" && value.size() == 1) {
            steps.emplace_back(false, value);
        } else {
            return Usage();
        }
    }
    if (port.empty() || args.size() % 2) return Usage();
    ConsoleUi ui(CommPortEntry(port), false, false);
    ConsoleSession session(ui, std::move(steps));
    return Finish(session);
}

int SendImageCommand(const std::vector<std::string>& args) {
    if (args.size() != 3 || args[0] != "--port") return Usage();
    auto file = std::make_unique<CFile>();
    if (!file->Open(args[2], CFile::modeRead)) {
        std::fprintf(stderr, "plcflash-cli: cannot open %s\n", args[2].c_str());
        return kExitFile;
    }
    ConsoleUi ui(CommPortEntry(args[1]), false, false);
    ImageSession session(ui, std::move(file));
    return Finish(session);
}

std::string DescribeIdentityFile() {
    IdentityReading reading;
    if (!LoadIdentityFile(kIdentityFile, true, &reading)) {
        return std::string(kIdentityFile) + " без MAC";
    }
    return std::string("из ") + kIdentityFile + ", MAC " + MacText(reading.mac) + ", IP " +
           DottedIp(reading.ip);
}

// The row of a flash: its identity and calibration are whatever data\ holds.
AttemptRecord FlashAttempt(const std::string& port, const PlcConfig& config, bool format) {
    AttemptRecord record;
    record.started = std::time(nullptr);
    record.program = "plcflash-cli flash";
    record.computer = ComputerName();
    record.port = PortWithAdapter(port);
    record.model = config.device;
    IdentityReading reading;
    if (LoadIdentityFile(kIdentityFile, true, &reading)) {
        record.mac = MacText(reading.mac);
        record.ip = DottedIp(reading.ip);
    }
    record.calibration =
        CFile::Exists(std::string(kDataFolder) + kCalibrationName) ? "файл data\\calib.inc" : "нет";
    record.formatAsked = format;
    return record;
}

int Flash(const std::vector<std::string>& args) {
    std::string port, dir, logPath, recordPath;
    bool format = false, yes = false;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--format") {
            format = true;
        } else if (args[i] == "--yes") {
            yes = true;
        } else if (i + 1 < args.size() && args[i] == "--port") {
            port = args[++i];
        } else if (i + 1 < args.size() && args[i] == "--dir") {
            dir = args[++i];
        } else if (i + 1 < args.size() && args[i] == "--log") {
            logPath = AbsolutePath(args[++i]);
        } else if (i + 1 < args.size() && args[i] == "--record") {
            recordPath = AbsolutePath(args[++i]);
        } else {
            return Usage();
        }
    }
    if (port.empty() || dir.empty()) return Usage();
    // Taken before the change of folder: a relative device path is made absolute.
    const std::string portText = CommPortEntry(port);
    if (!EnterFolder(dir)) {
        std::fprintf(stderr, "plcflash-cli: cannot enter %s\n", dir.c_str());
        return kExitFile;
    }
    PlcConfig config;
    ReadPlcIni("plc.ini", &config);
    ConsoleUi ui(portText, !yes, format);
    auto log = std::make_shared<CRunLog>();
    log->Note("Контроллер", config.device + ", версия " + config.version);
    log->Note("Порт", port);
    log->Note("MAC и IP", "plcflash-cli, " + DescribeIdentityFile());
    log->Note("Форматирование", format ? "запрошено" : "не запрошено");
    AttemptRecord record = FlashAttempt(port, config, format);
    const auto started = std::chrono::steady_clock::now();
    CMathThread engine(ui);
    ui.SetWorker(&engine);
    engine.SetDevice(config.device);
    engine.SetRunLog(log);
    g_trace.Attach(engine);
    StopOnSignal stoppable(engine);
    if (!engine.StartThread()) return kExitResultBase + ResultIoError;
    while (!engine.WaitThread(1000)) {
    }
    const std::string message = EngineFailure(engine, ui.Result());
    if (message.empty()) {
        std::printf("\nflashing done\n");
    } else {
        std::fprintf(stderr, "\nplcflash-cli: %s\n", message.c_str());
    }
    log->Note("Результат", std::to_string(ui.Result()));
    if (!message.empty()) log->Note("Сообщение", message);
    record.images = engine.ImageSums();
    record.phase = log->LastPhase();
    record.result = ui.Result();
    record.message = message.empty() ? "успех" : message;
    record.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    RecordAttempt(AttemptsPath(recordPath), record);
    // A log that cannot be written never fails a run.
    if (!logPath.empty() &&
        !AppendBounded(logPath, logPath + ".old", log->Compose(), kRunLogMaxBytes)) {
        std::fprintf(stderr, "plcflash-cli: cannot write the log %s\n", logPath.c_str());
    }
    if (ui.Result() == ResultBadFile && IsSumsFault(engine.GetFault())) return kExitImageSums;
    return ui.Result() == ResultDone ? 0 : kExitResultBase + ui.Result();
}

class ReadReport final : public IReaderUi {
  public:
    explicit ReadReport(std::string port) : m_port(std::move(port)) {}
    std::string GetSelectedPortText() override { return m_port; }
    void ReportIdentity(bool, bool) override {}

  private:
    std::string m_port;
};

// The reader without its thread: one fetch on the calling thread.
int Fetch(const std::string& port, const std::string& name, const std::string& dir) {
    ReadReport report(CommPortEntry(port));
    CReadThread reader(report);
    StopOnSignal stoppable(reader);
    g_trace.Attach(reader);
    reader.GetPortNumber();
    reader.SetTargetFolder(dir.empty() ? std::string() : dir + "/");
    const int result = reader.FetchFile(name);
    // The reading is good, but the point of read-file is the file on disk.
    if (result == ResultDone && reader.FolderNotUpdated()) {
        std::fprintf(stderr, "plcflash-cli: cannot write %s into %s\n", name.c_str(),
                     dir.empty() ? "the current folder" : dir.c_str());
        return kExitFile;
    }
    if (result == ResultDone) return 0;
    std::fprintf(stderr, "plcflash-cli: reading %s failed with result code %d\n", name.c_str(),
                 result);
    return reader.EndedOnTwoBytePayload() ? kExitTwoBytePayload : kExitResultBase + result;
}

int ReadFile(const std::vector<std::string>& args) {
    if (args.size() != 3 && !(args.size() == 5 && args[3] == "--out")) return Usage();
    if (args[0] != "--port") return Usage();
    return Fetch(args[1], args[2], args.size() == 5 ? args[4] : "");
}

// The reader's primitives on the calling thread, reading into memory with the reader's retry.
class MemoryReader {
  public:
    explicit MemoryReader(const std::string& port)
        : m_report(CommPortEntry(port)), m_reader(m_report), m_stoppable(m_reader) {
        m_reader.GetPortNumber();
        g_trace.Attach(m_reader);
    }

    int Fetch(const std::string& name, std::string* content) {
        CFileFetch fetch(m_reader);
        const int result = fetch.FetchWithRetry(m_reader.GetPortNumberValue(), name, content);
        m_bTwoBytePayload = fetch.EndedOnTwoBytePayload();
        return result;
    }

    // local_addres.dat with its MAC: 0, or the exit status.
    int FetchIdentity(std::string* content, IdentityReading* reading) {
        const int result = Fetch(kIdentityName, content);
        if (result != ResultDone) {
            std::fprintf(stderr, "plcflash-cli: reading %s failed with result code %d\n",
                         kIdentityName, result);
            return m_bTwoBytePayload ? kExitTwoBytePayload : kExitResultBase + result;
        }
        if (!ParseIdentity(*content, true, reading)) {
            std::fprintf(stderr, "plcflash-cli: local_addres.dat holds no MAC address\n");
            return kExitFile;
        }
        return 0;
    }

  private:
    ReadReport m_report;
    CReadThread m_reader;
    StopOnSignal m_stoppable;
    bool m_bTwoBytePayload = false;
};

int Backup(const std::vector<std::string>& args) {
    std::string port, out;
    for (size_t i = 0; i + 1 < args.size(); i += 2) {
        if (args[i] == "--port") {
            port = args[i + 1];
        } else if (args[i] == "--out") {
            out = args[i + 1] + "/";
        } else {
            return Usage();
        }
    }
    if (port.empty() || args.size() % 2) return Usage();
    MemoryReader reader(port);
    std::string identity;
    IdentityReading reading;
    const int status = reader.FetchIdentity(&identity, &reading);
    if (status != 0) return status;
    std::vector<BackupFile> files = {{kIdentityName, identity}};
    std::string calibration;
    // Only the 317 and 318 keep one: a controller without it is no error.
    if (reader.Fetch(kCalibrationName, &calibration) == ResultDone) {
        files.push_back({kCalibrationName, calibration});
    } else {
        std::printf("no %s on the controller\n", kCalibrationName);
    }
    std::string root;
    const std::string folder =
        ChooseStorageRoot({out}, &root)
            ? CBackupStore(root).Save(MacKey(reading.mac), files, BackupStamp(std::time(nullptr)))
            : std::string();
    if (folder.empty()) {
        std::fprintf(stderr, "plcflash-cli: cannot write the backup under %s\n",
                     out.empty() ? "the current folder" : out.c_str());
        return kExitFile;
    }
    std::printf("backup: %s\n", NativePath(folder).c_str());
    return 0;
}

int Identity(const std::vector<std::string>& args) {
    if (args.size() != 2 || args[0] != "--port") return Usage();
    // Read into memory: a file of that name in the user's current folder is none of ours.
    MemoryReader reader(args[1]);
    std::string content;
    IdentityReading reading;
    const int status = reader.FetchIdentity(&content, &reading);
    if (status != 0) return status;
    std::printf("MAC %s\nIP  %s\n", MacText(reading.mac).c_str(), DottedIp(reading.ip).c_str());
    return 0;
}

int WriteFiles(const std::vector<std::string>& args) {
    if (args.size() < 3 || args[0] != "--port") return Usage();
    ConsoleUi ui(CommPortEntry(args[1]), false, false);
    FilesSession session(ui, std::vector<std::string>(args.begin() + 2, args.end()));
    return Finish(session);
}

int RunCommand(const std::string& command, const std::vector<std::string>& args) {
    if (command == "console") return Console(args);
    if (command == "send-image") return SendImageCommand(args);
    if (command == "write-file") return WriteFiles(args);
    if (command == "flash") return Flash(args);
    if (command == "read-file") return ReadFile(args);
    if (command == "identity") return Identity(args);
    if (command == "backup") return Backup(args);
    if (command == "list-ports" && args.empty()) {
        for (const std::string& entry : ListSystemPorts()) std::printf("%s\n", entry.c_str());
        return 0;
    }
    if (command == "--version" && args.empty()) {
        std::printf("plcflash-cli %s\n", ProgramVersion());
        return 0;
    }
    if (command == "--help") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    return Usage();
}

}  // namespace

int main(int argc, char** argv) {
    StopAllSignal();  // made before the handler can use it
    InstallStopRequestHandler(StopEveryWorker);
    UseConsoleCodePage1251();
    std::vector<std::string> args(argv + std::min(argc, 2), argv + argc);
    // The bench keeps a trace of each port's line, one after the other in FILE.
    if (argc >= 2 && std::string(argv[1]) == "update") {
        std::string traceFile;
        if (!TakeTraceOption(&args, &traceFile)) return Usage();
        return Update(args, traceFile);
    }
    if (!TakeCommandTrace(&args, &g_trace)) return Usage();
    const int status = RunCommand(argc >= 2 ? argv[1] : "", args);
    // However the command ended: a stopped or failed run is what a trace is asked for.
    g_trace.Write();
    return status;
}
