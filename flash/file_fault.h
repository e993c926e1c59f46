// What is wrong with a file the run could not use or could not write into the controller.
#pragma once

// What is wrong with the file named by a ResultBadFile or a ResultCheckFailed. CannotWrite is the
// assistant's own: a file it writes into data before starting a run.
enum class FileFault {
    None,
    CannotOpen,
    CannotRead,
    NameTooLong,
    CannotWrite,
    DiffersOnController,  // read back unlike what was sent, twice
    NotReadBack,          // could not be read back from the controller
    HashFailed,           // the system's SHA-256 failed: the image could not be checked
    SumMismatch,          // the image's SHA-256 is not the one system\SHA256SUMS publishes
    NotInSums,            // system\SHA256SUMS exists but does not list the image
    SumsMalformed,        // system\SHA256SUMS holds no line in sha256sum's format
};

// The fault in English words, for the console tool: "cannot be opened".
const char* FileFaultReason(FileFault fault);
