// What the program keeps of each controller's own files, and which calibration file a run
// writes. The identity and calibration files exist only on the controller: every reading is
// backed up, and a calibration file goes only to the controller it came from.
//
// The calibration file a run writes, first found of:
//   1. the one fetched by the current reading (it came from the controller on the line);
//   2. for the 317/318, the latest backup of the confirmed MAC that holds one;
//   3. the data\calib.inc the user put there before the program read anything (a copy left by
//      an earlier reading is recognised by its backup and is not the user's).
// None of them: the run writes no calibration file, and a stale data\calib.inc is removed.
//
// Platform-free; on the assistant's user-interface thread only.
#pragma once

#include <string>

#include "identity/backup.h"

enum class CalibrationSource { None, Reading, Backup, UserFile };

class CIdentityKeeper {
  public:
    // `storageRoot` as ChooseStorageRoot gives it; `storageOk` false when nothing could be
    // written anywhere (then nothing is backed up or restored).
    CIdentityKeeper(std::string storageRoot, bool storageOk);

    // Before the first reading: a data\calib.inc and a data\local_addres.dat found now are
    // the user's, unless a backup shows that a reading left them there. The folder is not
    // looked at again: another copy of the program may write its controller's files there.
    void TakeUserFiles();
    // The user's identity file (its IP fills the page when the controller cannot be read);
    // null when there is none.
    const std::string* UserIdentity() const {
        return m_bUserIdentity ? &m_strUserIdentity : nullptr;
    }

    // After each reading, with what it gave (null: not fetched) and the identity's MAC (a
    // MacKey; empty when the identity was not fetched or was damaged). Keeps the copies in
    // memory and backs them up when the MAC is known. Returns the backup folder, empty when
    // none was written.
    std::string OnReading(const std::string* identity, const std::string& mac,
                          const std::string* calibration);

    // Whether a calibration file is known for the controller of this MAC (a MacKey, may be
    // empty): read now, kept in a backup, or the user's. Without one, formatting would erase
    // the only copy, the one the controller holds.
    bool KnowsCalibration(const std::string& mac) const;
    // The identity file of the latest backup of this MAC; false when none is kept.
    bool BackedUpIdentity(const std::string& mac, std::string* content) const;

    // The latest backup folder of this MAC that holds its identity file, without the trailing
    // separator; empty when none is kept. Named in a box after a failed run.
    std::string LatestBackup(const std::string& mac) const;

    // At Next, with the MAC the user confirmed (a MacKey, empty when the fields are not six
    // bytes): decides the calibration file. A calibration fetched by a reading whose identity
    // failed is backed up under this MAC now.
    CalibrationSource Confirm(const std::string& mac, bool deviceHasCalibration);

    // Before the run: data\calib.inc holds the chosen calibration, or is gone when there is none,
    // for whoever looks there; the run itself takes Chosen(). False when that could not be done.
    bool PrepareCalibrationFile() const;
    // The calibration file the run writes; null when it writes none.
    const std::string* Chosen() const {
        return m_Source == CalibrationSource::None ? nullptr : &m_strChosen;
    }

    CalibrationSource Source() const { return m_Source; }
    // The source in the run log's and the record's words ("считана из контроллера", "нет", ...).
    std::string DescribeSource() const;
    // The backup the calibration comes from (CalibrationSource::Backup).
    const std::string& RestoredFrom() const { return m_strRestoredFrom; }
    const std::string& StorageRoot() const { return m_strRoot; }
    bool HasStorage() const { return m_bStorage; }

  private:
    std::string m_strRoot;
    bool m_bStorage;
    CBackupStore m_Store;

    bool m_bUserCalibration = false;
    std::string m_strUserCalibration;
    bool m_bUserIdentity = false;
    std::string m_strUserIdentity;

    // The current reading: the MAC of its identity (empty when it gave none) and its
    // calibration file.
    std::string m_strReadMac;
    bool m_bCalibrationRead = false;
    std::string m_strCalibration;

    CalibrationSource m_Source = CalibrationSource::None;
    std::string m_strChosen;
    std::string m_strRestoredFrom;
};
