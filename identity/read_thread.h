// The identity reader: copies "local_addres.dat" (and, for the 317 and 318 models, "calib.inc")
// out of the running controller through its packet protocol, before it is reflashed.
#pragma once

#include <cstdint>
#include <string>

#include "flash/controller_files.h"
#include "flash/file_fetch.h"
#include "serial/worker.h"

// What the reader needs of the MAC/IP page.
class IReaderUi : public IPortChoice {
  public:
    // The one report; the reader touches nothing of itself after it returns.
    virtual void ReportIdentity(bool identityFetched, bool calibrationFetched) = 0;

  protected:
    ~IReaderUi() = default;
};

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

    static constexpr uint32_t kRetryPauseMs = CFileFetch::kRetryPauseMs;
    static constexpr int kTwoBytePayload = CFileFetch::kTwoBytePayload;

  private:
    // A fetch and, when it fails, one more after the pause; raises ResultStopped on a stop.
    bool FetchWithRetry(const std::string& name);
    // After a fetch ended with `result`: a whole copy replaces the local file.
    int Keep(const std::string& name, int result, const std::string& content);

    IReaderUi& m_Ui;
    std::string m_strDevice;
    std::string m_strFolder = kDataFolder;
};
