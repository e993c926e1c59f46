#include "sim/bootloader.h"

#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "flash/xmodem.h"

const char* const BootLoader::kLoaderMenuPrompt =
    "Do you want to upload kernel ( K ) or bootloader ( B ) in Flash or load kernel in SDRAM "
    "( S )?";
const char* const BootLoader::kJumperNotice = "Be sure, what the bootloader`s BINARY less 12Kb!";
const char* const BootLoader::kEraseKernelPrompt = "Do you want to erase kernel area?";
const char* const BootLoader::kPowerCyclePrompt = "Please, turn off power and up it again!";
const char* const BootLoader::kKernelMenuPrompt =
    "Do you want to upload kernel in Flash( K ) or in SDRAM ( S )?";
const char* const BootLoader::kEraseFfsPrompt = "Do you want to erase FFS?";
const char* const BootLoader::kCoreStarted = "Loading PLC core completed!";

namespace {

struct StageName {
    BootStage stage;
    const char* name;
};

constexpr StageName kStageNames[] = {
    {BootStage::LoaderImage, "loader"},
    {BootStage::LoaderMenu, "loader-menu"},
    {BootStage::LoaderImageAgain, "loader2"},
    {BootStage::EraseKernel, "erase-kernel"},
    {BootStage::KernelMenu, "kernel-menu"},
    {BootStage::KernelImage, "kernel"},
    {BootStage::EraseFfs, "erase-ffs"},
    {BootStage::StartCore, "start-core"},
    {BootStage::Kernel, "core"},
};

constexpr uint32_t kNoiseGapMs = 250;
const char kBanner[] = "\r\nPLC boot loader 2.1\r\n";

}  // namespace

const char* BootStageName(BootStage stage) {
    for (const auto& s : kStageNames) {
        if (s.stage == stage) return s.name;
    }
    return "?";
}

bool ParseBootStage(const std::string& name, BootStage* stage) {
    for (const auto& s : kStageNames) {
        if (name == s.name) {
            *stage = s.stage;
            return true;
        }
    }
    return false;
}

BootLoader::BootLoader(PacedLine& line, BootOptions options) : m_line(line), m_options(options) {}

void BootLoader::Notify(const std::string& what, const std::string& detail,
                        std::vector<uint8_t> data) {
    if (m_observer) m_observer(BootEvent{what, detail, std::move(data), {}});
}

void BootLoader::NotifyError(const SimFault& fault) {
    if (m_observer) m_observer(BootEvent{"error", fault.what, {}, fault});
}

void BootLoader::Pause(uint32_t ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

bool BootLoader::Say(const std::string& text) {
    return m_line.Reply(text);
}

bool BootLoader::Prompt(BootStage stage, const std::string& text) {
    if (m_options.faults.garbageBytes) {
        // Line noise and stray output between prompts: printable junk, a NUL that cuts the
        // console chunk it arrives in, and high bytes. Never the letter of an image request.
        std::string junk;
        for (size_t i = 0; i < m_options.faults.garbageBytes; ++i) {
            m_garbageSeed = m_garbageSeed * 1103515245u + 12345u;
            char c = static_cast<char>((m_garbageSeed >> 16) & 0xFF);
            if (c == static_cast<char>(xmodem::kRequest)) c = '#';
            junk += c;
        }
        junk[junk.size() / 2] = '\0';
        if (!m_line.Send(junk)) return false;
        // A NUL drops the rest of the console chunk it arrives in, so the prompt keeps a
        // reader's interval (200 ms) away from the noise, as stray output before a real
        // prompt would.
        Pause(kNoiseGapMs);
    }
    Notify("prompt", BootStageName(stage));
    const std::string line = "\r\n" + text + " ";
    if (m_options.faults.splitGapMs) {
        const size_t half = line.size() / 2;
        if (!m_line.Reply(line.data(), half)) return false;
        Pause(m_options.faults.splitGapMs);
        return m_line.Send(line.data() + half, line.size() - half);
    }
    return m_line.Reply(line);
}

bool BootLoader::FallSilentIfAsked(BootStage stage) {
    if (!m_options.faults.silentAfter || m_options.faults.silentStage != stage) return false;
    Notify("silent", BootStageName(stage));
    uint8_t scratch[256];
    const uint32_t slice = 1000;
    uint64_t quietMs = 0;
    while (m_options.idleTimeoutMs == 0 || quietMs < m_options.idleTimeoutMs) {
        if (m_line.Receive(scratch, sizeof(scratch), slice) > 0) {
            quietMs = 0;
        } else {
            quietMs += slice;
        }
    }
    return true;
}

bool BootLoader::Ask(BootStage stage, const std::string& question, const std::string& accepted,
                     char* answer) {
    if (!Prompt(stage, question)) return false;
    if (FallSilentIfAsked(stage)) return false;
    uint64_t waitedMs = 0;
    const uint32_t slice = 1000;
    for (;;) {
        char c = 0;
        if (m_line.Receive(&c, 1, slice, 0) == 0) {
            waitedMs += slice;
            if (m_options.idleTimeoutMs && waitedMs >= m_options.idleTimeoutMs) return false;
            continue;
        }
        waitedMs = 0;
        if (accepted.find(c) != std::string::npos) {
            Notify("answer", std::string(1, c));
            *answer = c;
            return Say(std::string(1, c) + "\r\n");  // the console echoes the letter
        }
        if (c == '\r' || c == '\n') continue;
        Notify("wrong-answer", std::string(1, c));
        // A letter is an answer; other bytes may be a program talking to the kernel it
        // expects (reading the controller's files), which the console ignores.
        if (std::isalpha(static_cast<unsigned char>(c))) {
            NotifyError(SimFault::Content(std::string("answer ") + c + " to the " +
                                          BootStageName(stage) + " question"));
        }
        if (!Prompt(stage, question)) return false;
    }
}

bool BootLoader::ReceiveImage(BootStage stage, const char* name) {
    if (FallSilentIfAsked(stage)) return false;
    Notify("prompt", BootStageName(stage));
    ++m_imagesTaken;
    const bool faulty = m_options.faultImage == 0 || m_options.faultImage == m_imagesTaken;
    XmodemReceiver receiver(m_line, faulty ? m_options.receiverFaults : ReceiverFaults{},
                            m_options.requestIntervalMs, m_options.idleTimeoutMs);
    receiver.SetErrorObserver([this](const SimFault& fault) { NotifyError(fault); });
    std::vector<uint8_t> image;
    const ReceiveStatus status = receiver.Receive(&image);
    if (status != ReceiveStatus::Complete) {
        // The sender's CAN is told apart: a program that stops must say so.
        Notify(status == ReceiveStatus::Cancelled ? "image-cancelled" : "image-failed", name);
        return false;
    }
    Notify("image", name, std::move(image));
    return true;
}

bool BootLoader::Format() {
    // The flash file system is erased: nothing written before the format is there afterwards,
    // so a program that relies on the controller keeping its calibration file finds out.
    if (!m_options.filesFolder.empty()) {
        namespace fs = std::filesystem;
        std::vector<fs::path> files;
        std::error_code ec;
        for (fs::directory_iterator it(m_options.filesFolder, ec), end; !ec && it != end;
             it.increment(ec)) {
            std::error_code kind;
            if (fs::is_regular_file(it->symlink_status(kind))) files.push_back(it->path());
        }
        for (const fs::path& file : files) fs::remove(file, ec);
    }
    // What the boot loader prints while it formats, page by page, then its report.
    const std::string report =
        "\r\nHard format completed! Found " + std::to_string(m_options.badPages) + " bad pages\r\n";
    std::string progress;
    for (uint32_t page = 0; progress.size() + report.size() < m_options.formatOutputBytes; ++page) {
        char line[40];
        std::snprintf(line, sizeof(line), "Erase block %04u ... ok\r\n", page);
        progress += line;
    }
    progress.resize(m_options.formatOutputBytes > report.size()
                        ? m_options.formatOutputBytes - report.size()
                        : 0);
    return m_line.Reply(progress + report);
}

bool BootLoader::Run() {
    BootStage stage = m_options.start;
    char answer = 0;
    for (;;) {
        switch (stage) {
            case BootStage::LoaderImage:
                if (!Say(kBanner) || !ReceiveImage(stage, "loader")) return false;
                stage = BootStage::LoaderMenu;
                break;
            case BootStage::LoaderMenu:
                if (!Ask(stage, kLoaderMenuPrompt, "b", &answer)) return false;
                if (!Prompt(stage, kJumperNotice)) return false;
                Pause(m_options.manualStepMs);  // the engineer pulls the jumper
                stage = BootStage::LoaderImageAgain;
                break;
            case BootStage::LoaderImageAgain:
                if (!Say(kBanner) || !ReceiveImage(stage, "loader")) return false;
                stage = BootStage::EraseKernel;
                break;
            case BootStage::EraseKernel:
                if (!Ask(stage, kEraseKernelPrompt, "yn", &answer)) return false;
                if (answer == 'y') {
                    if (!Prompt(stage, kPowerCyclePrompt)) return false;
                    Pause(m_options.manualStepMs);  // Reset on the controller
                    if (!Say(kBanner)) return false;
                }
                stage = BootStage::KernelMenu;
                break;
            case BootStage::KernelMenu:
                if (!Ask(stage, kKernelMenuPrompt, "k", &answer)) return false;
                stage = BootStage::KernelImage;
                break;
            case BootStage::KernelImage:
                if (!ReceiveImage(stage, "kernel")) return false;
                stage = BootStage::EraseFfs;
                break;
            case BootStage::EraseFfs:
                if (!Ask(stage, kEraseFfsPrompt, "yn", &answer)) return false;
                if (answer == 'y' && !Format()) return false;
                stage = BootStage::StartCore;
                break;
            case BootStage::StartCore:
                if (!Prompt(stage, kPowerCyclePrompt)) return false;
                if (FallSilentIfAsked(stage)) return false;
                Pause(m_options.manualStepMs);  // Reset: the new kernel starts
                if (!m_options.omitCoreMessage &&
                    !Say(std::string("\r\n") + kCoreStarted + "\r\n")) {
                    return false;
                }
                stage = BootStage::Kernel;
                break;
            case BootStage::Kernel: {
                FileService files(m_line, m_options.filesFolder, m_options.fileFaults,
                                  m_options.idleTimeoutMs);
                files.SetObserver([this](const FileServiceEvent& e) {
                    if (e.what == "error") return NotifyError(e.fault);
                    Notify(e.what, e.detail);
                });
                if (m_options.idleOnceServed) files.IdleOnceServed();
                files.Serve();
                Notify("done", BootStageName(stage));
                return true;
            }
        }
    }
}
