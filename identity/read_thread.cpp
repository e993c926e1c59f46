#include "identity/read_thread.h"

#include "flash/controller_files.h"
#include "framework/file.h"

CReadThread::CReadThread(IReaderUi& ui, CommDriver& driver, IClock& clock)
    : CMyThread(ui, driver, clock), m_Ui(ui) {}

uint32_t CReadThread::Run() {
    bool identity = false;
    bool calibration = false;
    try {
        RemovePartialCopies(m_strFolder);
        identity = FetchWithRetry(kIdentityName, &m_strIdentity);
        // A port that cannot be opened for the identity, or is gone, cannot serve the
        // calibration either.
        if (DeviceHasCalibration(m_strDevice) && !m_bPortNotOpened && !m_bPortLost) {
            calibration = FetchWithRetry(kCalibrationName, &m_strCalibration);
        }
    } catch (int) {
        // Stopped (the assistant is closing): nothing more is fetched.
    }
    m_Ui.ReportIdentity(identity, calibration);
    return 0;
}

bool CReadThread::FetchWithRetry(const std::string& name, std::string* content) {
    const int result =
        Keep(name, CFileFetch(*this).FetchWithRetry(m_nPortNumber, name, content), *content);
    if (result == ResultStopped) RaiseResult(ResultStopped);
    if (result == ResultOpenFailed) m_bPortNotOpened = true;
    if (result == ResultPortLost) m_bPortLost = true;
    if (result != ResultDone) content->clear();
    return result == ResultDone;
}

int CReadThread::FetchFile(const std::string& name) {
    std::string content;
    CFileFetch fetch(*this);
    const int result = Keep(name, fetch.Fetch(m_nPortNumber, name, &content), content);
    m_bTwoBytePayload = fetch.EndedOnTwoBytePayload();
    return result;
}

int CReadThread::Keep(const std::string& name, int result, const std::string& content) {
    if (result != ResultDone) return result;
    // A copy that arrives after the stop is not wanted any more: the program may be past its
    // clean-up.
    if (StopRequested()) return ResultStopped;
    // The copy is written beside the real file and replaces it only when whole: a failed
    // fetch must not destroy an identity file that is there already, nor leave a partial
    // calibration file behind. A folder that cannot be written loses only this copy on disk:
    // the reading itself is in memory and good.
    const std::string partial = m_strFolder + PartialCopyName(name);
    const bool written =
        CFile::WriteAll(partial, content) && CFile::Replace(partial, m_strFolder + name);
    if (!written) {
        CFile::Remove(partial);
        m_bFolderNotUpdated = true;
    }
    return ResultDone;
}
