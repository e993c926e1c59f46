#include "identity/read_thread.h"

#include "flash/controller_files.h"
#include "framework/file.h"

CReadThread::CReadThread(IReaderUi& ui, CommDriver& driver, IClock& clock)
    : CMyThread(ui, driver, clock), m_Ui(ui) {}

uint32_t CReadThread::Run() {
    bool identity = FetchFile(kIdentityName) == ResultDone;
    if (!identity) {
        Pause(kRetryPauseMs);
        identity = FetchFile(kIdentityName) == ResultDone;
    }
    bool calibration = false;
    if (DeviceHasCalibration(m_strDevice)) {
        calibration = FetchFile(kCalibrationName) == ResultDone;
        if (!calibration) {
            Pause(kRetryPauseMs);
            calibration = FetchFile(kCalibrationName) == ResultDone;
        }
    }
    m_Ui.ReportIdentity(identity, calibration);
    return 0;
}

int CReadThread::FetchFile(const std::string& name) {
    std::string content;
    int result = CFileFetch(*this).Fetch(m_nPortNumber, name, &content);
    if (result != ResultDone) return result;
    // The copy is written beside the real file and replaces it only when whole: a failed
    // fetch must not destroy an identity file that is there already, nor leave a partial
    // calibration file to be written back to the controller.
    const std::string partial = m_strFolder + "~" + name + ".part";
    CFile local;
    bool written = local.Open(partial, CFile::modeWrite | CFile::modeCreate) &&
                   local.Write(content.data(), static_cast<uint32_t>(content.size()));
    local.Close();
    written = written && CFile::Replace(partial, m_strFolder + name);
    if (!written) CFile::Remove(partial);
    return written ? ResultDone : ResultIoError;
}
