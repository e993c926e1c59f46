// plcsim: a simulated controller on a pseudo-terminal, for plcflash.exe under Wine, for
// plcflash-cli and for the tests.
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "serial/comm_posix.h"
#include "sim/bootloader.h"
#include "sim/paced_line.h"
#include "sim/pty_pair.h"
#include "sim/stall_watch.h"
#include "sim/xmodem_receiver.h"

namespace {

const char kUsage[] =
    "usage: plcsim --link PATH [options]\n"
    "  --link PATH             publish the device end of the line as PATH (a symlink)\n"
    "  --baud N                line rate both directions are paced to (115200)\n"
    "  --turnaround-us N       delay before each reply (1000)\n"
    "  --request-ms N          interval of the image requests \"C\" (1000)\n"
    "  --manual-ms N           time the engineer takes for the jumper and Reset (1500)\n"
    "  --bad-pages N           bad pages the format report names (2)\n"
    "  --start STAGE           stage the boot loader starts at (loader)\n"
    "  --then STAGE            once the running kernel (--start core) has been read and then\n"
    "                          left alone for --then-ms, start over at STAGE: the engineer set\n"
    "                          the jumper and pressed Reset; after a whole run, \"core\" again\n"
    "  --then-ms N             see --then (3000)\n"
    "  --silent-after STAGE    fall silent once that stage's prompt is out\n"
    "  --garbage N             N bytes of line noise before every prompt\n"
    "  --split-ms N            send every prompt in two writes N ms apart\n"
    "  --no-core-message       the kernel starts without \"Loading PLC core completed!\"\n"
    "  --idle-ms N             give up a run after N ms without the program (0: never)\n"
    "  --log FILE              append what the controller sees to FILE\n"
    "  --images DIR            keep every received image as DIR/NNN-NAME.bin\n"
    "  --once                  end after one run instead of starting over\n"
    "  --vanish-on TEXT        the adapter pulled out: once an event the log would show as\n"
    "                          TEXT... (\"answer k\", \"read local_addres.dat\") has happened\n"
    "                          and --vanish-ms more have passed, the line goes away and\n"
    "                          plcsim ends\n"
    "  --vanish-ms N           see --vanish-on (0)\n"
    "image receiver faults (every upload, or only upload N of a run with --fault-image N):\n"
    "  --nak-block K[xN]       NAK block K (1-based, in transfer order) N times (1)\n"
    "  --can-after K           answer block K with CAN\n"
    "  --silent-after-block K  stop answering after block K\n"
    "  --requests-before-ack N send N \"C\" letters before every ACK\n"
    "  --eot-naks N            NAK the first N EOTs\n"
    "  --eot-unanswered        never answer EOT\n"
    "file service faults (packets counted from 1 in arrival order):\n"
    "  --files DIR             keep the files written to the controller in DIR (a format empties\n"
    "                          it); without it, a running kernel serves what it was sent\n"
    "  --fs-bad-status K       answer packet K with status 0x0014\n"
    "  --fs-wrong-seq K        answer packet K with another sequence number\n"
    "  --fs-short-reply K      answer packet K with four bytes\n"
    "  --fs-silent-after K     take packet K, then answer nothing more\n"
    "  --fs-busy N             answer the first N \"1\" control messages of a handshake 0x0014\n"
    "  --rd-refuse N           refuse the first N read requests (all: every one)\n"
    "  --rd-bad-sum K          send packet K of a read with a wrong sum, once\n"
    "  --rd-repeat K           send packet K of a read again once it was acknowledged, as if\n"
    "                          the acknowledgement was lost; expects the same one again, once\n"
    "  --rd-refusal-before K   a six-byte status-20 message where packet K's header is due\n"
    "  --rd-two-byte           answer a read with a two-byte payload\n"
    "  --rd-silent             accept a read request, then send nothing, until a file has been\n"
    "                          written\n"
    "  --rd-silent-after-write once a file has been written, answer no read request\n"
    "  --rd-corrupt NAME[xN]   serve the first N reads of NAME after it was written with one byte\n"
    "                          changed, an empty one with a byte more (1; xall: every one)\n"
    "modes:\n"
    "  (default)               the boot loader's flashing dialogue\n"
    "  --receive               image receiver only, one image after another\n"
    "  --echo                  send back every byte received (line tests)\n"
    "stages: loader loader-menu loader2 erase-kernel kernel-menu kernel erase-ffs start-core\n"
    "        core (the running kernel's file service)\n"
    "A protocol error of the program's (a field the controller would refuse) is refused as the\n"
    "controller refuses it, printed as \"plcsim: protocol error: ...\" on stderr and logged as\n"
    "\"error\"; the exit status is then 3, also when ended by a signal. An error of content (a\n"
    "sum, a length, a name, a sequence number, a repeat with other bytes, bytes outside any\n"
    "frame) is always counted. One of timing (a reply asked for again, a frame cut short) is\n"
    "not counted when the host held plcsim up, in that very exchange, for longer than the wait\n"
    "that ran out: it is printed as \"plcsim: not counted: ...\" with the hold-up and the wait,\n"
    "and logged as \"excused\". Every hold-up of 100 ms or more is printed as\n"
    "\"plcsim: held up N ms\".\n";

std::string g_link;
// Protocol errors of the program's seen so far: the exit status tells a harness of them.
std::atomic<int> g_protocolErrors{0};
constexpr int kExitProtocolErrors = 3;

int ExitStatus(int status) {
    return g_protocolErrors.load() ? kExitProtocolErrors : status;
}

void OnSignal(int) {
    if (!g_link.empty()) ::unlink(g_link.c_str());
    _exit(ExitStatus(0));
}

[[noreturn]] void Usage(const std::string& problem) {
    std::fprintf(stderr, "plcsim: %s\n%s", problem.c_str(), kUsage);
    std::exit(2);
}

uint32_t Number(const std::string& text) {
    char* end = nullptr;
    unsigned long v = std::strtoul(text.c_str(), &end, 10);
    if (text.empty() || *end) Usage("expected a number: " + text);
    return static_cast<uint32_t>(v);
}

// NAME, NAMExN or NAMExall; a name may hold an 'x' itself ("index.txt").
void ParseCorrupt(const std::string& text, std::map<std::string, int>* reads) {
    const size_t x = text.rfind('x');
    const std::string count = x == std::string::npos ? "" : text.substr(x + 1);
    const bool counted =
        count == "all" ||
        (!count.empty() && count.find_first_not_of("0123456789") == std::string::npos);
    const std::string name = counted ? text.substr(0, x) : text;
    if (name.empty()) Usage("--rd-corrupt without a file name");
    const int n = !counted         ? 1
                  : count == "all" ? -1
                                   : static_cast<int>(std::min<uint32_t>(Number(count), INT32_MAX));
    if (n == 0) Usage("--rd-corrupt " + text + ": no read to corrupt");
    (*reads)[name] = n;
}

enum class Mode { BootLoader, Receive, Echo };

struct SimOptions {
    Mode mode = Mode::BootLoader;
    BootOptions boot;
    LineTiming timing;
    std::string logPath;
    std::string imageDir;
    bool once = false;
    bool then = false;
    BootStage thenStage = BootStage::LoaderImage;
    uint32_t thenMs = 3000;
    std::string vanishOn;
    uint32_t vanishMs = 0;
};

SimOptions Parse(int argc, char** argv) {
    SimOptions o;
    ReceiverFaults& faults = o.boot.receiverFaults;
    for (int i = 1; i < argc; ++i) {
        const std::string opt = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) Usage("missing value for " + opt);
            return argv[++i];
        };
        if (opt == "--link") {
            g_link = value();
        } else if (opt == "--baud") {
            o.timing.baud = Number(value());
            if (!o.timing.baud) Usage("baud rate 0");
        } else if (opt == "--turnaround-us") {
            o.timing.turnaroundUs = Number(value());
        } else if (opt == "--request-ms") {
            o.boot.requestIntervalMs = Number(value());
            if (!o.boot.requestIntervalMs) Usage("request interval 0");
        } else if (opt == "--manual-ms") {
            o.boot.manualStepMs = Number(value());
        } else if (opt == "--bad-pages") {
            o.boot.badPages = Number(value());
        } else if (opt == "--start") {
            if (!ParseBootStage(value(), &o.boot.start)) Usage("unknown stage");
        } else if (opt == "--then") {
            o.then = true;
            if (!ParseBootStage(value(), &o.thenStage)) Usage("unknown stage");
        } else if (opt == "--then-ms") {
            o.thenMs = Number(value());
            if (!o.thenMs) Usage("--then-ms 0");
        } else if (opt == "--silent-after") {
            o.boot.faults.silentAfter = true;
            if (!ParseBootStage(value(), &o.boot.faults.silentStage)) Usage("unknown stage");
        } else if (opt == "--garbage") {
            o.boot.faults.garbageBytes = Number(value());
        } else if (opt == "--split-ms") {
            o.boot.faults.splitGapMs = Number(value());
        } else if (opt == "--idle-ms") {
            o.boot.idleTimeoutMs = Number(value());
        } else if (opt == "--log") {
            o.logPath = value();
        } else if (opt == "--images") {
            o.imageDir = value();
        } else if (opt == "--vanish-on") {
            o.vanishOn = value();
        } else if (opt == "--vanish-ms") {
            o.vanishMs = Number(value());
        } else if (opt == "--once") {
            o.once = true;
        } else if (opt == "--nak-block") {
            const std::string v = value();
            const size_t x = v.find('x');
            faults.nakBlock[Number(v.substr(0, x))] =
                x == std::string::npos ? 1 : static_cast<int>(Number(v.substr(x + 1)));
        } else if (opt == "--can-after") {
            faults.canAfterBlock = Number(value());
        } else if (opt == "--silent-after-block") {
            faults.silentAfterBlock = Number(value());
        } else if (opt == "--requests-before-ack") {
            faults.requestsBeforeAck = Number(value());
        } else if (opt == "--eot-naks") {
            faults.eotNaks = static_cast<int>(Number(value()));
        } else if (opt == "--eot-unanswered") {
            faults.eotUnanswered = true;
        } else if (opt == "--fault-image") {
            o.boot.faultImage = Number(value());
        } else if (opt == "--no-core-message") {
            o.boot.omitCoreMessage = true;
        } else if (opt == "--files") {
            o.boot.filesFolder = value();
        } else if (opt == "--fs-bad-status") {
            o.boot.fileFaults.badStatusPacket = Number(value());
        } else if (opt == "--fs-wrong-seq") {
            o.boot.fileFaults.wrongSeqPacket = Number(value());
        } else if (opt == "--fs-short-reply") {
            o.boot.fileFaults.shortReplyPacket = Number(value());
        } else if (opt == "--fs-silent-after") {
            o.boot.fileFaults.silentAfterPacket = Number(value());
        } else if (opt == "--fs-busy") {
            o.boot.fileFaults.busyHandshakes = static_cast<int>(Number(value()));
        } else if (opt == "--rd-refuse") {
            const std::string v = value();
            o.boot.fileFaults.refuseRequests = v == "all" ? -1 : static_cast<int>(Number(v));
        } else if (opt == "--rd-bad-sum") {
            o.boot.fileFaults.badSumPacket = Number(value());
        } else if (opt == "--rd-repeat") {
            o.boot.fileFaults.repeatPacket = Number(value());
        } else if (opt == "--rd-refusal-before") {
            o.boot.fileFaults.refusalBeforePacket = Number(value());
        } else if (opt == "--rd-two-byte") {
            o.boot.fileFaults.twoBytePayload = true;
        } else if (opt == "--rd-silent") {
            o.boot.fileFaults.silentRead = true;
        } else if (opt == "--rd-silent-after-write") {
            o.boot.fileFaults.silentAfterWrite = true;
        } else if (opt == "--rd-corrupt") {
            ParseCorrupt(value(), &o.boot.fileFaults.corruptReads);
        } else if (opt == "--receive") {
            o.mode = Mode::Receive;
        } else if (opt == "--echo") {
            o.mode = Mode::Echo;
        } else if (opt == "--help" || opt == "-h") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else {
            Usage("unknown option " + opt);
        }
    }
    if (g_link.empty()) Usage("--link is required");
    return o;
}

class Recorder {
  public:
    Recorder(const SimOptions& o, const PacedLine& line)
        : m_imageDir(o.imageDir), m_line(line), m_vanishOn(o.vanishOn), m_vanishMs(o.vanishMs) {
        if (!o.logPath.empty()) m_log.open(o.logPath, std::ios::app);
    }

    void operator()(const BootEvent& e) {
        if (!m_vanishOn.empty() && !m_vanishing &&
            (e.what + " " + e.detail).compare(0, m_vanishOn.size(), m_vanishOn) == 0) {
            m_vanishing = true;
            // The process ends with the line's master end open: the device end hangs up, as
            // a USB adapter pulled out does to the program's port.
            std::thread([this] {
                std::this_thread::sleep_for(std::chrono::milliseconds(m_vanishMs));
                std::fprintf(stderr, "plcsim: the line went away (--vanish-on)\n");
                std::_Exit(0);
            }).detach();
        }
        std::string what = e.what;
        HoldUp excuse{};
        if (what == "error" && m_watch.Excuses(e.fault, &excuse)) {
            what = "excused";
            std::fprintf(stderr,
                         "plcsim: not counted: %s (the host held plcsim up %lld ms in this "
                         "exchange, longer than the %u ms wait it ran out) [%s]\n",
                         e.detail.c_str(), static_cast<long long>(excuse.length.count()),
                         e.fault.waitMs, WallClock().c_str());
        } else if (what == "error") {
            ++g_protocolErrors;
            std::fprintf(stderr, "plcsim: protocol error: %s [%s]\n", e.detail.c_str(),
                         WallClock().c_str());
        }
        if (m_log.is_open()) {
            std::lock_guard<std::mutex> lock(m_logMutex);
            m_log << ElapsedMs() << ' ' << what << ' ' << e.detail;
            if (!e.data.empty()) m_log << ' ' << e.data.size();
            const PacedLine::Stats& s = m_line.GetStats();
            m_log << " [line in=" << s.bytesIn << " out=" << s.bytesOut << " replies=" << s.replies
                  << ']' << std::endl;
        }
        if (e.what == "image" && !m_imageDir.empty()) {
            char name[32];
            std::snprintf(name, sizeof(name), "/%03u-", ++m_images);
            std::ofstream out(m_imageDir + name + e.detail + ".bin", std::ios::binary);
            out.write(reinterpret_cast<const char*>(e.data.data()),
                      static_cast<std::streamsize>(e.data.size()));
        }
    }

  private:
    // To find the test that was running in a harness's output.
    static std::string WallClock() {
        char clock[16] = "";
        const std::time_t now = std::time(nullptr);
        std::strftime(clock, sizeof(clock), "%H:%M:%S", std::localtime(&now));
        return clock;
    }

    void OnStall(std::chrono::milliseconds late) {
        std::fprintf(stderr, "plcsim: held up %lld ms by the host [%s]\n",
                     static_cast<long long>(late.count()), WallClock().c_str());
        if (!m_log.is_open()) return;
        std::lock_guard<std::mutex> lock(m_logMutex);
        m_log << ElapsedMs() << " stall " << late.count() << " ms" << std::endl;
    }

    long long ElapsedMs() const {
        using namespace std::chrono;
        return duration_cast<milliseconds>(steady_clock::now() - m_start).count();
    }

    std::string m_imageDir;
    const PacedLine& m_line;
    const std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
    std::ofstream m_log;
    unsigned m_images = 0;
    std::string m_vanishOn;
    uint32_t m_vanishMs;
    bool m_vanishing = false;
    std::mutex m_logMutex;
    // Last: it calls OnStall from its thread until it is destroyed, first.
    StallWatch m_watch{[this](std::chrono::milliseconds late) { OnStall(late); }};
};

[[noreturn]] void Echo(PacedLine& line) {
    unsigned char buffer[256];
    for (;;) {
        const size_t got = line.Receive(buffer, sizeof(buffer), 60000, 2);
        if (got) line.Send(buffer, got);
    }
}

int ReceiveImages(PacedLine& line, const SimOptions& o, Recorder& record) {
    for (;;) {
        XmodemReceiver receiver(line, o.boot.receiverFaults, o.boot.requestIntervalMs,
                                o.boot.idleTimeoutMs);
        receiver.SetErrorObserver([&](const SimFault& fault) {
            record(BootEvent{"error", fault.what, {}, fault});
        });
        std::vector<uint8_t> image;
        const ReceiveStatus status = receiver.Receive(&image);
        if (status == ReceiveStatus::Complete) {
            record(BootEvent{"image", "image", std::move(image), {}});
        } else {
            record(
                BootEvent{status == ReceiveStatus::Cancelled ? "image-cancelled" : "image-failed",
                          "image",
                          {},
                          {}});
        }
        if (o.once) return ExitStatus(status == ReceiveStatus::Complete ? 0 : 1);
        line.Discard();
    }
}

}  // namespace

int main(int argc, char** argv) {
    SimOptions options = Parse(argc, argv);
    // The pacing sleeps are a byte time (87 us) to a turnaround long: the default 50 us of
    // timer slack would add most of a byte time to each.
    prctl(PR_SET_TIMERSLACK, 1UL);
    PtyPair pty;
    if (!pty.Create(g_link)) {
        std::fprintf(stderr, "plcsim: cannot create the line at %s\n", g_link.c_str());
        return 1;
    }
    signal(SIGTERM, OnSignal);
    signal(SIGINT, OnSignal);
    signal(SIGHUP, OnSignal);
    std::printf("plcsim: ready on %s (%s)\n", g_link.c_str(), pty.DevicePath().c_str());
    std::fflush(stdout);

    PacedLine line(pty.MasterFd(), options.timing);
    Recorder record(options, line);
    if (options.mode == Mode::Echo) Echo(line);
    if (options.mode == Mode::Receive) return ReceiveImages(line, options, record);
    const BootStage first = options.boot.start;
    for (;;) {
        BootOptions run = options.boot;
        if (options.then && run.start == BootStage::Kernel) {
            run.idleTimeoutMs = options.thenMs;
            run.idleOnceServed = true;
        }
        BootLoader loader(line, run);
        loader.SetObserver([&](const BootEvent& e) { record(e); });
        const bool completed = loader.Run();
        if (options.once) return ExitStatus(completed ? 0 : 1);
        line.Discard();
        // A controller read in its running kernel is reflashed next, and the reflashed one is
        // read again by the next run of the program; a run given up half-way starts over where
        // it started.
        if (options.then && completed) {
            options.boot.start =
                options.boot.start == BootStage::Kernel ? options.thenStage : first;
        }
    }
}
