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

    // What the reading gave, read by the page while the reader waits inside its report: the
    // bytes as they came off the line (the page never reads them back from data\, which
    // another copy of the program may be writing), empty when not fetched.
    const std::string& Identity() const { return m_strIdentity; }
    const std::string& Calibration() const { return m_strCalibration; }
    // A fetched copy could not be put into the target folder (a folder the user may not write):
    // the reading is good all the same.
    bool FolderNotUpdated() const { return m_bFolderNotUpdated; }
    // The port could not be opened (another program or another copy of this one holds it, or
    // the adapter is gone): nothing was asked of the controller.
    bool PortNotOpened() const { return m_bPortNotOpened; }
    // The port went away during the reading (the adapter pulled out).
    bool PortLost() const { return m_bPortLost; }
    // FetchFile's 7 was the controller's two-byte payload.
    bool EndedOnTwoBytePayload() const { return m_bTwoBytePayload; }

    static constexpr uint32_t kRetryPauseMs = CFileFetch::kRetryPauseMs;
    static constexpr int kTwoBytePayload = CFileFetch::kTwoBytePayload;

  private:
    // A fetch and, when it fails, one more after the pause, into `content`; raises
    // ResultStopped on a stop.
    bool FetchWithRetry(const std::string& name, std::string* content);
    // After a fetch ended with `result`: a whole copy replaces the local file.
    int Keep(const std::string& name, int result, const std::string& content);

    IReaderUi& m_Ui;
    std::string m_strDevice;
    std::string m_strFolder = kDataFolder;
    std::string m_strIdentity;
    std::string m_strCalibration;
    bool m_bFolderNotUpdated = false;
    bool m_bPortNotOpened = false;
    bool m_bPortLost = false;
    bool m_bTwoBytePayload = false;
};
