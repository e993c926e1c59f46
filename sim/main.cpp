// plcsim: a simulated controller on a pseudo-terminal, for plcflash.exe under Wine, for
// plcflash-cli and for the tests.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "serial/comm_posix.h"
#include "sim/bootloader.h"
#include "sim/paced_line.h"
#include "sim/pty_pair.h"

namespace {

const char kUsage[] =
    "usage: plcsim --link PATH [options]\n"
    "  --link PATH          publish the device end of the line as PATH (a symlink)\n"
    "  --baud N             line rate the output is paced to (115200)\n"
    "  --turnaround-us N    delay before each reply (1000)\n"
    "  --request-ms N       interval of the image requests \"C\" (1000)\n"
    "  --manual-ms N        time the engineer takes for the jumper and Reset (1500)\n"
    "  --bad-pages N        bad pages the format report names (2)\n"
    "  --start STAGE        stage the boot loader starts at (loader)\n"
    "  --silent-after STAGE fall silent once that stage's prompt is out\n"
    "  --garbage N          N bytes of line noise before every prompt\n"
    "  --split-ms N         send every prompt in two writes N ms apart\n"
    "  --idle-ms N          give up a run after N ms without the program (0: never)\n"
    "  --log FILE           append what the controller sees to FILE\n"
    "  --once               end after one run instead of starting over\n"
    "  --echo               no controller: send back every byte received (line tests)\n"
    "stages: loader loader-menu loader2 erase-kernel kernel-menu kernel erase-ffs start-core\n";

std::string g_link;

void OnSignal(int) {
    if (!g_link.empty()) ::unlink(g_link.c_str());
    _exit(0);
}

[[noreturn]] void Usage(const char* problem) {
    std::fprintf(stderr, "plcsim: %s\n%s", problem, kUsage);
    std::exit(2);
}

uint32_t Number(const char* text) {
    char* end = nullptr;
    unsigned long v = std::strtoul(text, &end, 10);
    if (!*text || *end) Usage("expected a number");
    return static_cast<uint32_t>(v);
}

}  // namespace

int main(int argc, char** argv) {
    BootOptions boot;
    LineTiming timing;
    std::string logPath;
    bool once = false;
    bool echo = false;
    for (int i = 1; i < argc; ++i) {
        const std::string opt = argv[i];
        auto value = [&]() -> const char* {
            if (i + 1 >= argc) Usage(("missing value for " + opt).c_str());
            return argv[++i];
        };
        if (opt == "--link") {
            g_link = value();
        } else if (opt == "--baud") {
            timing.baud = Number(value());
            if (!timing.baud) Usage("baud rate 0");
        } else if (opt == "--turnaround-us") {
            timing.turnaroundUs = Number(value());
        } else if (opt == "--request-ms") {
            boot.requestIntervalMs = Number(value());
            if (!boot.requestIntervalMs) Usage("request interval 0");
        } else if (opt == "--manual-ms") {
            boot.manualStepMs = Number(value());
        } else if (opt == "--bad-pages") {
            boot.badPages = Number(value());
        } else if (opt == "--start") {
            if (!ParseBootStage(value(), &boot.start)) Usage("unknown stage");
        } else if (opt == "--silent-after") {
            boot.faults.silentAfter = true;
            if (!ParseBootStage(value(), &boot.faults.silentStage)) Usage("unknown stage");
        } else if (opt == "--garbage") {
            boot.faults.garbageBytes = Number(value());
        } else if (opt == "--split-ms") {
            boot.faults.splitGapMs = Number(value());
        } else if (opt == "--idle-ms") {
            boot.idleTimeoutMs = Number(value());
        } else if (opt == "--log") {
            logPath = value();
        } else if (opt == "--echo") {
            echo = true;
        } else if (opt == "--once") {
            once = true;
        } else if (opt == "--help" || opt == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else {
            Usage(("unknown option " + opt).c_str());
        }
    }
    if (g_link.empty()) Usage("--link is required");

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

    PacedLine line(WrapTtyDescriptor(pty.MasterFd(), false), timing);
    if (echo) {
        unsigned char buffer[256];
        for (;;) {
            size_t got = line.Receive(buffer, sizeof(buffer), 60000, 2);
            if (got) line.Send(buffer, got);
        }
    }
    std::ofstream log;
    if (!logPath.empty()) log.open(logPath, std::ios::app);
    for (;;) {
        BootLoader loader(line, boot);
        loader.SetObserver([&](const BootEvent& e) {
            if (!log.is_open()) return;
            log << e.what << ' ' << e.detail;
            if (!e.data.empty()) log << ' ' << e.data.size();
            log << std::endl;
        });
        const bool completed = loader.Run();
        if (once) return completed ? 0 : 1;
        line.Discard();
    }
}
