// The check after the data files: the controller's identity and calibration files exist nowhere
// else, so a copy the controller stored damaged must not pass for a good run.
#include "flash/controller_files.h"
#include "flash/file_fetch.h"
#include "flash/math_thread.h"

namespace {
const char kCheckKey[] = "Проверка записи ";
}

void CMathThread::RaiseCheckFailed(const std::string& path, FileFault fault) {
    m_strFaultyFile = path;
    m_Fault = fault;
    RaiseResult(ResultCheckFailed);
}

bool CMathThread::ReadBack(const std::string& name, std::string* content) {
    GetPortNumber();
    const int result = CFileFetch(*this).FetchWithRetry(m_nPortNumber, name, content);
    // A port that went away is said as such, not as a file the controller would not give.
    if (result == ResultStopped || result == ResultPortLost) {
        RaiseResult(static_cast<WorkerResult>(result));
    }
    return result == ResultDone;
}

void CMathThread::CheckWrittenFile(const RunFile& file) {
    const std::string& name = file.name;
    const std::string path = kDataFolder + name;
    for (int writes = 1;; ++writes) {
        ShowStatus("Идет проверка записи файла: " + name);
        std::string stored;
        if (!ReadBack(name, &stored)) {
            RunLog().Note(kCheckKey + name, "не удалось прочитать из контроллера");
            RaiseCheckFailed(path, FileFault::NotReadBack);
        }
        // Compared with the bytes the run took at its start, not with data\ as it is now: another
        // copy of the program may have written its own controller's files there meanwhile.
        if (stored == file.content) {
            RunLog().Note(kCheckKey + name,
                          writes == 1 ? "совпадает" : "совпадает после повторной записи");
            return;
        }
        if (writes == 2) {
            RunLog().Note(kCheckKey + name, "отличается и после повторной записи");
            RaiseCheckFailed(path, FileFault::DiffersOnController);
        }
        RunLog().Note(kCheckKey + name, "отличается, файл записывается повторно");
        ShowStatus("Идет запись файла: " + name);
        SendDataFile(file);
    }
}

void CMathThread::CheckWrittenFiles(const RunFiles& sent) {
    std::vector<std::string> names = {kIdentityName};
    if (DeviceHasCalibration(m_strDevice)) names.push_back(kCalibrationName);
    for (const std::string& name : names) {
        for (const RunFile& file : sent) {
            if (SameFileName(file.name, name)) CheckWrittenFile(file);
        }
    }
}
