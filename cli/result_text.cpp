#include "cli/result_text.h"

std::string EngineFailure(const CMathThread& engine, int code) {
    if (code == ResultDone) return std::string();
    std::string message = "failed with result code " + std::to_string(code);
    if (code == ResultBadFile) {
        message +=
            ": " + engine.GetFaultyFile() + " " + engine.GetFaultReason() + "; nothing was sent";
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
