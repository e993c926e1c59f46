#include "cli/result_text.h"

#include "flash/image_check.h"

bool IsSumsFault(FileFault fault) {
    return fault == FileFault::SumMismatch || fault == FileFault::NotInSums ||
           fault == FileFault::SumsMalformed;
}

std::string SumsLines(const std::string& file, FileFault fault, const std::string& expected,
                      const std::string& actual) {
    std::string lines;
    if (!expected.empty()) {
        lines += "\n  expected SHA-256 (" + std::string(kImageSums) + "): " + expected;
    }
    if (!actual.empty()) {
        lines += "\n  actual SHA-256 of " + file + ": " + actual;
        lines += "\n  the image is damaged or not the published one";
    }
    if (IsSumsFault(fault)) lines += "\n  take the images and SHA256SUMS again from the release";
    return lines;
}

std::string EngineFailure(const CMathThread& engine, int code) {
    if (code == ResultDone) return std::string();
    std::string message = "failed with result code " + std::to_string(code);
    if (code == ResultBadFile) {
        message += ": " + engine.GetFaultyFile() + " " + engine.GetFaultReason() +
                   "; nothing was sent" +
                   SumsLines(engine.GetFaultyFile(), engine.GetFault(), engine.GetExpectedSum(),
                             engine.GetActualSum());
    } else if (code == ResultCheckFailed) {
        message += ": " + engine.GetFaultyFile() + " " + engine.GetFaultReason();
    } else if (code == ResultPortLost) {
        message += engine.KernelErased()
                       ? ": the port went away after the kernel was erased; the controller "
                         "waits in its boot loader: reconnect it and flash again"
                       : ": the port went away; the controller still has its old firmware";
    } else if (code == ResultStopped) {
        message += ": stopped";
    }
    return message;
}
