// The controller's boot loader console as the flashing program meets it: image requests
// ("CCC..."), questions answered by one letter, the two manual steps, the format report and
// the start of the kernel. A state machine over the paced line; fault injection by options.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sim/file_service.h"
#include "sim/paced_line.h"
#include "sim/xmodem_receiver.h"

// Where the boot loader's dialogue stands; the names are the ones plcsim's --start and
// --silent-after take.
enum class BootStage {
    LoaderImage,       // first loader upload (programming jumper set)
    LoaderMenu,        // "Do you want to upload kernel ( K ) or bootloader ( B ) ..."
    LoaderImageAgain,  // loader upload after the jumper came off
    EraseKernel,       // "Do you want to erase kernel area?"
    KernelMenu,        // "Do you want to upload kernel in Flash( K ) or in SDRAM ( S )?"
    KernelImage,       // kernel upload
    EraseFfs,          // "Do you want to erase FFS?"
    StartCore,         // second power cycle, then "Loading PLC core completed!"
    Kernel,            // the running kernel
};

const char* BootStageName(BootStage stage);
bool ParseBootStage(const std::string& name, BootStage* stage);

struct BootFaults {
    bool silentAfter = false;  // stop talking once this stage's prompt is out
    BootStage silentStage = BootStage::LoaderImage;
    size_t garbageBytes = 0;  // junk (a NUL among it) before every prompt
    uint32_t splitGapMs = 0;  // non-zero: every prompt goes out in two writes this far apart
};

struct BootOptions {
    BootStage start = BootStage::LoaderImage;
    BootFaults faults;
    uint32_t requestIntervalMs = 1000;  // between two "C" requests
    uint32_t manualStepMs = 1500;       // the user pulling the jumper or pressing Reset
    uint32_t badPages = 2;
    uint32_t formatOutputBytes = 6144;  // printed while formatting
    uint32_t idleTimeoutMs = 0;         // 0: wait for the program forever
    bool idleOnceServed = false;        // the kernel's idle time counts only once it was asked
    ReceiverFaults receiverFaults;      // for the image uploads
    uint32_t faultImage = 0;            // which upload of a run (1..3) has them; 0: every one
    bool omitCoreMessage = false;       // the kernel starts without "Loading PLC core completed!"
    std::string filesFolder;            // the flash file system (a format empties it); empty:
                                        // files are kept only while the kernel runs
    FileServiceFaults fileFaults;
};

// What the simulator saw, for tests and the log.
struct BootEvent {
    std::string what;    // "answer", "image", "prompt", "silent", "file", "error", "done"
    std::string detail;  // the letter, the image name, the prompt's stage
    std::vector<uint8_t> data;
    SimFault fault;  // with "error": of content or of timing
};

class BootLoader {
  public:
    BootLoader(PacedLine& line, BootOptions options);

    // Runs from the start stage until the kernel has started (or the line fails, or it has
    // been told to fall silent); false when it stopped early.
    bool Run();

    void SetObserver(std::function<void(const BootEvent&)> observer) {
        m_observer = std::move(observer);
    }

    static const char* const kLoaderMenuPrompt;
    static const char* const kJumperNotice;
    static const char* const kEraseKernelPrompt;
    static const char* const kPowerCyclePrompt;
    static const char* const kKernelMenuPrompt;
    static const char* const kEraseFfsPrompt;
    static const char* const kCoreStarted;

  private:
    bool Prompt(BootStage stage, const std::string& text);
    bool Say(const std::string& text);
    // Waits for one of `accepted`; anything else gets the question again.
    bool Ask(BootStage stage, const std::string& question, const std::string& accepted,
             char* answer);
    bool ReceiveImage(BootStage stage, const char* name);
    uint32_t m_imagesTaken = 0;
    bool Format();
    bool FallSilentIfAsked(BootStage stage);
    void Pause(uint32_t ms);
    void Notify(const std::string& what, const std::string& detail, std::vector<uint8_t> data = {});
    void NotifyError(const SimFault& fault);

    PacedLine& m_line;
    BootOptions m_options;
    std::function<void(const BootEvent&)> m_observer;
    uint32_t m_garbageSeed = 12345;
};
