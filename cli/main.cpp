// plcflash-cli: the flashing engine on a terminal, over a COM port (Windows) or a tty or a
// simulated controller's line (Linux).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "app/config.h"
#include "cli/console_ui.h"
#include "flash/math_thread.h"
#include "framework/file.h"
#include "identity/identity_file.h"
#include "identity/read_thread.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>

#include "serial/comm_posix.h"
#endif

namespace {

const char kUsage[] =
    "usage:\n"
    "  plcflash-cli send-image --port PORT FILE\n"
    "      waits for the receiver's first request letter \"C\", then sends FILE by\n"
    "      XMODEM-CRC exactly as the assistant sends a boot loader or kernel image\n"
    "  plcflash-cli write-file --port PORT FILE...\n"
    "      writes the files into the controller's flash file system through its packet\n"
    "      protocol, as the assistant writes the files of data after flashing; every file\n"
    "      is checked (readable, name short enough) before the first byte goes out\n"
    "  plcflash-cli flash --port PORT --dir FOLDER [--format] [--yes]\n"
    "      the whole reflashing run, as the assistant runs it: FOLDER holds system\\\n"
    "      (Floader.bin, Ethernet.bin), data\\ and optionally plc.ini; the two manual steps\n"
    "      (remove the jumper, press Reset) wait for Enter unless --yes; --format has the\n"
    "      controller format its flash file system and prints the bad-page report\n"
    "  plcflash-cli read-file --port PORT NAME [--out DIR]\n"
    "      copies the controller's file NAME out of its flash file system into DIR\n"
    "      (the current folder by default), as the assistant fetches local_addres.dat\n"
    "  plcflash-cli identity --port PORT\n"
    "      fetches local_addres.dat and prints the controller's MAC address and IP\n"
    "  plcflash-cli console --port PORT [--wait TEXT | --answer LETTER]...\n"
    "      runs the waits and one-letter answers in order, as the assistant talks to the\n"
    "      boot loader console\n"
    "PORT is COMn on Windows and a tty path on Linux. The line is set up as the engine sets\n"
    "it: 115200 8N1, reads bounded by 7000 ms + 20 ms a byte and 200 ms between bytes.\n"
    "exit status:\n"
    "   0  success\n"
    "   2  wrong arguments\n"
    "   3  FILE cannot be read (send-image)\n"
    "  10  the receiver refused blocks three times (NAK)\n"
    "  12  stopped\n"
    "  13  the receiver cancelled (CAN) or did not acknowledge the end of the transfer\n"
    "  14  a write was cut short\n"
    "  15  the other side is silent\n"
    "  16-19  the port could not be set up (16 time-outs, 17 line state, 19 reading its state)\n"
    "  18  the port could not be opened\n"
    "  20  the port failed while reading or writing\n"
    "  17  the controller answered a read with a two-byte payload (read-file, identity; the\n"
    "      same number as a refused line state)\n"
    "  21  a file cannot be opened or read, or its name is too long (write-file, flash:\n"
    "      nothing has been sent then)\n";

constexpr int kExitUsage = 2;
constexpr int kExitFile = 3;
// Engine result codes become 10 + code, so that code 0 (three NAKs) is not success.
constexpr int kExitResultBase = 10;
// How long a sender waits for the receiver to ask, as XMODEM senders commonly do.
constexpr int kReceiverWaitReads = 9;  // of 7 s each: about a minute

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

// The engine reads its port as the text of a COM port entry.
std::string PortText(const std::string& port) {
#ifdef _WIN32
    return port;
#else
    constexpr int kCliPort = 1;
    // Absolute, as `flash` changes into its folder before the port is opened.
    char* absolute = realpath(port.c_str(), nullptr);
    MapCommPort(kCliPort, absolute ? absolute : port);
    free(absolute);
    return "COM1";
#endif
}

bool ChangeDirectory(const std::string& dir) {
#ifdef _WIN32
    return SetCurrentDirectoryA(dir.c_str()) != FALSE;
#else
    return chdir(dir.c_str()) == 0;
#endif
}

int Finish(Session& session) {
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

int Usage() {
    std::fputs(kUsage, stderr);
    return kExitUsage;
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
    ConsoleUi ui(PortText(port), false, false);
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
    ConsoleUi ui(PortText(args[1]), false, false);
    ImageSession session(ui, std::move(file));
    return Finish(session);
}

int Flash(const std::vector<std::string>& args) {
    std::string port, dir;
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
        } else {
            return Usage();
        }
    }
    if (port.empty() || dir.empty()) return Usage();
    const std::string portText = PortText(port);
    if (!ChangeDirectory(dir)) {
        std::fprintf(stderr, "plcflash-cli: cannot enter %s\n", dir.c_str());
        return kExitFile;
    }
    PlcConfig config;
    ReadPlcIni("plc.ini", &config);
    ConsoleUi ui(portText, !yes, format);
    CMathThread engine(ui);
    engine.SetDevice(config.device);
    if (!engine.StartThread()) return kExitResultBase + ResultIoError;
    while (!engine.WaitThread(1000)) {
    }
    if (ui.Result() == ResultDone) {
        std::printf("\nflashing done\n");
        return 0;
    }
    std::fprintf(stderr, "\nplcflash-cli: failed with result code %d\n", ui.Result());
    if (ui.Result() == ResultBadFile) {
        std::fprintf(stderr, "plcflash-cli: %s %s; nothing was sent\n",
                     engine.GetFaultyFile().c_str(), engine.GetFaultReason());
    }
    return kExitResultBase + ui.Result();
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
    ReadReport report(PortText(port));
    CReadThread reader(report);
    reader.GetPortNumber();
    reader.SetTargetFolder(dir.empty() ? std::string() : dir + "/");
    const int result = reader.FetchFile(name);
    if (result == ResultDone) return 0;
    std::fprintf(stderr, "plcflash-cli: reading %s failed with result code %d\n", name.c_str(),
                 result);
    return kExitResultBase + result;
}

int ReadFile(const std::vector<std::string>& args) {
    if (args.size() != 3 && !(args.size() == 5 && args[3] == "--out")) return Usage();
    if (args[0] != "--port") return Usage();
    return Fetch(args[1], args[2], args.size() == 5 ? args[4] : "");
}

int Identity(const std::vector<std::string>& args) {
    if (args.size() != 2 || args[0] != "--port") return Usage();
#ifdef _WIN32
    const std::string dir = ".";
#else
    char folder[] = "/tmp/plcflash-identity-XXXXXX";
    if (!mkdtemp(folder)) return kExitFile;
    const std::string dir = folder;
#endif
    const int status = Fetch(args[1], "local_addres.dat", dir);
    if (status != 0) return status;
    IdentityReading reading;
    const std::string path = dir + "/local_addres.dat";
    const bool read = LoadIdentityFile(path, true, &reading);
    CFile::Remove(path);
#ifndef _WIN32
    rmdir(folder);
#endif
    if (!read) {
        std::fprintf(stderr, "plcflash-cli: local_addres.dat holds no MAC address\n");
        return kExitFile;
    }
    std::printf("MAC %s:%s:%s:%s:%s:%s\nIP  %s\n", reading.mac[0].c_str(), reading.mac[1].c_str(),
                reading.mac[2].c_str(), reading.mac[3].c_str(), reading.mac[4].c_str(),
                reading.mac[5].c_str(), DottedIp(reading.ip).c_str());
    return 0;
}

int WriteFiles(const std::vector<std::string>& args) {
    if (args.size() < 3 || args[0] != "--port") return Usage();
    ConsoleUi ui(PortText(args[1]), false, false);
    FilesSession session(ui, std::vector<std::string>(args.begin() + 2, args.end()));
    return Finish(session);
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
    // The program's texts are Windows-1251.
    SetConsoleOutputCP(1251);
#endif
    const std::vector<std::string> args(argv + std::min(argc, 2), argv + argc);
    const std::string command = argc >= 2 ? argv[1] : "";
    if (command == "console") return Console(args);
    if (command == "send-image") return SendImageCommand(args);
    if (command == "write-file") return WriteFiles(args);
    if (command == "flash") return Flash(args);
    if (command == "read-file") return ReadFile(args);
    if (command == "identity") return Identity(args);
    if (command == "--help") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    return Usage();
}
