// The texts of the program's boxes and warning lines. Each of ours says what happened, in what
// state the controller is left and what to do next; the controller's old texts stay as users
// know them. The user guide's message table lists every one of them (a test holds it to that).
//
// Platform-free: Windows-1251 strings, shown by the assistant and checked natively.
#pragma once

#include <string>
#include <vector>

#include "flash/file_fault.h"

extern const char kPlcIniMissingText[];
extern const char kNoMacText[];
extern const char kNoIpText[];
extern const char kPortNotOpenedText[];
extern const char kNoAnswerText[];
extern const char kUnknownErrorText[];
extern const char kOtherErrorsText[];
// The MAC/IP page's status after a failed reading, and the warning under the format box when
// formatting would erase the only calibration file; the box asked when it is ticked anyway.
extern const char kNotReadText[];
extern const char kCalibrationAtRiskText[];
extern const char kFormatConfirmText[];
// The MAC/IP page's note line: data\ cannot be written; no backup could be kept.
extern const char kDataNotUpdatedText[];
extern const char kBackupFailedText[];
// The progress page's status when data\ could not be updated.
extern const char kFlashingFromMemoryText[];
// Added to a failed run's box before the trace's path.
extern const char kTraceNamedText[];

// How a run ended, as the progress page learns it from the engine.
struct RunOutcome {
    int code = 0;
    // A file the run could not use (ResultBadFile) or that did not read back (ResultCheckFailed),
    // with the published and the image's own SHA-256 for a SHA256SUMS fault.
    std::string file;
    FileFault fault = FileFault::None;
    std::string expectedSum;
    std::string actualSum;
    // A port that went away under way (ResultPortLost), and whether the kernel was gone by then.
    std::string port;
    bool kernelErased = false;
    // The backup that holds the controller's identity and calibration; empty when none.
    std::string backupFolder;
};

// The box for a run's result; empty for success and Cancel.
std::string ResultMessage(const RunOutcome& outcome);

// The port went away (ResultPortLost): while the MAC/IP page read the controller, or in a run
// before or after the controller erased its kernel. `backupFolder` as in RunOutcome.
enum class LostWhile { Reading, Flashing, FlashingAfterErase };
std::string PortLostMessage(const std::string& port, LostWhile when,
                            const std::string& backupFolder = std::string());

// At Next on the MAC/IP page of a 317/318: the calibration file comes from a backup, because
// the controller was not read at all (`identityRead` false) or only its calibration was not.
std::string CalibrationFromBackupMessage(bool identityRead, const std::string& date,
                                         const std::string& folder);

// A help file beside the program that WinHelp could not open; the built-in help opens instead.
std::string HelpFailedMessage(const std::string& helpFile);

// Every box and warning text above and the engine's boxes, placeholders in angle brackets
// ("<файл>", "<порт>", "<папка>", "<дата>", "<число>"), each variant once.
std::vector<std::string> MessageCatalogue();
