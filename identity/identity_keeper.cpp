#include "identity/identity_keeper.h"

#include <ctime>
#include <vector>

#include "flash/controller_files.h"
#include "framework/file.h"

namespace {

const std::string kCalibrationFile = std::string(kDataFolder) + kCalibrationName;
const std::string kIdentityPath = std::string(kDataFolder) + kIdentityName;

}  // namespace

CIdentityKeeper::CIdentityKeeper(std::string storageRoot, bool storageOk)
    : m_strRoot(std::move(storageRoot)), m_bStorage(storageOk), m_Store(m_strRoot) {}

void CIdentityKeeper::TakeUserFiles() {
    // A copy an earlier reading left behind (the program was ended before its clean-up, or
    // another copy read its controller) belongs to the controller whose backup holds it, not
    // to whichever controller comes next.
    const auto owned = [this](const char* name, const std::string& content) {
        return m_bStorage && !m_Store.FindOwner(name, content).empty();
    };
    m_bUserCalibration = CFile::ReadAll(kCalibrationFile, &m_strUserCalibration) &&
                         !owned(kCalibrationName, m_strUserCalibration);
    if (!m_bUserCalibration) m_strUserCalibration.clear();
    m_bUserIdentity = CFile::ReadAll(kIdentityPath, &m_strUserIdentity) &&
                      !owned(kIdentityName, m_strUserIdentity);
    if (!m_bUserIdentity) m_strUserIdentity.clear();
}

std::string CIdentityKeeper::OnReading(const std::string* identity, const std::string& mac,
                                       const std::string* calibration) {
    m_strReadMac = identity ? mac : std::string();
    m_bCalibrationRead = calibration != nullptr;
    m_strCalibration = calibration ? *calibration : std::string();
    if (!m_bStorage || m_strReadMac.empty()) return std::string();
    std::vector<BackupFile> files = {{kIdentityName, *identity}};
    if (m_bCalibrationRead) files.push_back({kCalibrationName, m_strCalibration});
    return m_Store.Save(m_strReadMac, files, BackupStamp(std::time(nullptr)));
}

bool CIdentityKeeper::KnowsCalibration(const std::string& mac) const {
    return m_bCalibrationRead || m_bUserCalibration ||
           (m_bStorage && !mac.empty() && !m_Store.Latest(mac, kCalibrationName).empty());
}

bool CIdentityKeeper::BackedUpIdentity(const std::string& mac, std::string* content) const {
    if (!m_bStorage || mac.empty()) return false;
    const std::string folder = m_Store.Latest(mac, kIdentityName);
    return !folder.empty() && CBackupStore::Load(folder, kIdentityName, content);
}

std::string CIdentityKeeper::LatestBackup(const std::string& mac) const {
    if (!m_bStorage || mac.empty()) return std::string();
    std::string folder = m_Store.Latest(mac, kIdentityName);
    while (!folder.empty() && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
    return folder;
}

CalibrationSource CIdentityKeeper::Confirm(const std::string& mac, bool deviceHasCalibration) {
    m_Source = CalibrationSource::None;
    m_strChosen.clear();
    m_strRestoredFrom.clear();
    if (m_bCalibrationRead) {
        if (m_bStorage && m_strReadMac.empty() && !mac.empty()) {
            m_Store.Save(mac, {{kCalibrationName, m_strCalibration}},
                         BackupStamp(std::time(nullptr)));
        }
        m_Source = CalibrationSource::Reading;
        m_strChosen = m_strCalibration;
        return m_Source;
    }
    if (deviceHasCalibration && m_bStorage && !mac.empty()) {
        const std::string folder = m_Store.Latest(mac, kCalibrationName);
        std::string content;
        if (!folder.empty() && CBackupStore::Load(folder, kCalibrationName, &content)) {
            m_Source = CalibrationSource::Backup;
            m_strChosen = std::move(content);
            m_strRestoredFrom = folder;
            return m_Source;
        }
    }
    if (m_bUserCalibration) {
        m_Source = CalibrationSource::UserFile;
        m_strChosen = m_strUserCalibration;
    }
    return m_Source;
}

bool CIdentityKeeper::PrepareCalibrationFile() const {
    if (m_Source == CalibrationSource::None) {
        return !CFile::Exists(kCalibrationFile) || CFile::Remove(kCalibrationFile);
    }
    CFile::MakeFolder(kDataFolder);
    return CFile::WriteAll(kCalibrationFile, m_strChosen);
}

std::string CIdentityKeeper::DescribeSource() const {
    switch (m_Source) {
        case CalibrationSource::Reading:
            return "считана из контроллера";
        case CalibrationSource::Backup:
            return "из резервной копии " + m_strRestoredFrom;
        case CalibrationSource::UserFile:
            return "файл data\\calib.inc пользователя";
        case CalibrationSource::None:
            break;
    }
    return "нет";
}
