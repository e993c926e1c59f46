// The identity reader: copies "local_addres.dat" (and, for the 317 and 318 models, "calib.inc")
// out of the running controller through its packet protocol, before it is reflashed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "framework/file.h"
#include "serial/worker.h"

// What the reader needs of the MAC/IP page.
class IReaderUi : public IPortChoice {
  public:
    // The one report; the reader touches nothing of itself after it returns.
    virtual void ReportIdentity(bool identityFetched, bool calibrationFetched) = 0;

  protected:
    ~IReaderUi() = default;
};

// The read request for a file name: AA AA, len, seq 1, sum, last 1, 31 00, the name field's
// length, the name, 00 and CD when the name's length is even.
std::vector<uint8_t> BuildReadRequest(const std::string& name);

// The continuation command between segments: AA AA 01 00 01 00 89 01 32.
std::vector<uint8_t> BuildContinuation();

class CReadThread : public CMyThread {
  public:
    explicit CReadThread(IReaderUi& ui, CommDriver& driver = SystemCommDriver(),
                         IClock& clock = SystemClock());
    ~CReadThread() override = default;

    uint32_t Run() override;
    // Copies the controller's file `name` into the target folder: ResultDone, 7 for a two-byte
    // payload, or the code that ended it. The local file is replaced only by a whole copy.
    int FetchFile(const std::string& name);

    void SetDevice(const std::string& device) { m_strDevice = device; }
    // Where copies go; "data\" unless told.
    void SetTargetFolder(const std::string& folder) { m_strFolder = folder; }

    static constexpr uint32_t kRetryPauseMs = 5000;
    static constexpr int kTwoBytePayload = 7;

  private:
    int Transfer(const std::string& name, HPORT* port, CFile* local);

    IReaderUi& m_Ui;
    std::string m_strDevice;
    std::string m_strFolder = "data\\";
};
