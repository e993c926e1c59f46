// The receiving side of the controller's packet protocol: one file read out of the running
// controller. The identity reader copies the controller's identity with it before a reflash, and
// the flashing engine reads back what it wrote after one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "serial/worker.h"

// The read request for a file name: AA AA, len, seq 1, sum, last 1, 31 00, the name field's
// length, the name, 00 and CD when the name's length is even.
std::vector<uint8_t> BuildReadRequest(const std::string& name);

// The continuation command between segments: AA AA 01 00 01 00 89 01 32.
std::vector<uint8_t> BuildContinuation();

// A copy being received is written beside its file as "~NAME.TAG.part" (TAG: this copy of the
// program, ThisCopyTag) and renamed when whole. No partial copy is ever sent; RemovePartialCopies
// removes this copy's and those of copies that no longer run (killed), never one another
// running copy is writing.
std::string PartialCopyName(const std::string& name);
bool IsPartialCopy(const std::string& name);
void RemovePartialCopies(const std::string& folder);

// Runs one read through a worker's primitives, so the worker's stop request ends it.
class CFileFetch {
  public:
    explicit CFileFetch(CMyThread& worker) : m_Worker(worker) {}

    // Opens COM `portNumber` with the reader's time-outs, reads the controller's file `name`
    // into `content` and closes the port: ResultDone, kTwoBytePayload, or the code that ended
    // it. `content` holds the file only after ResultDone.
    int Fetch(int portNumber, const std::string& name, std::string* content);
    // Fetch, and when it fails, once more after kRetryPauseMs, as the program always reads the
    // controller's files; a stop ends it with ResultStopped, a port that cannot be opened or is
    // lost under way with ResultOpenFailed or ResultPortLost at once.
    int FetchWithRetry(int portNumber, const std::string& name, std::string* content);

    static constexpr int kTwoBytePayload = 7;
    // The last Fetch's 7 was the controller's two-byte payload, not a line state the port
    // refused (the same number).
    bool EndedOnTwoBytePayload() const { return m_bTwoBytePayload; }
    // A failed read is tried once more after this pause.
    static constexpr uint32_t kRetryPauseMs = 5000;
    // A controller that keeps sending bad packets or refusals is not going to send the file:
    // this many exchanges in a row without progress end the read.
    static constexpr int kMaxFruitless = 64;
    // The controller's flash file system holds a few megabytes: a controller that sends more
    // than this is not sending a file.
    static constexpr size_t kMaxFileBytes = 16u << 20;

  private:
    int Transfer(const std::string& name, HPORT port, std::string* content);

    CMyThread& m_Worker;
    bool m_bTwoBytePayload = false;
};
