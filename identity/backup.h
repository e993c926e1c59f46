// Copies of each controller's own files (the identity file and the calibration file), kept
// beside the program so that a controller whose kernel is gone can still get its own files
// back. One folder per reading that differs from the latest one kept; never overwritten.
//
//   <root>backup\<MAC as 12 upper-case hex digits>\<YYYYMMDD-HHMMSS>[-N]\local_addres.dat
//                                                                       \calib.inc
//
// Platform-free: files through CFile and CFileFind, paths in the program's backslash form.
#pragma once

#include <ctime>
#include <string>
#include <vector>

#include "identity/identity_file.h"

struct BackupFile {
    std::string name;     // "local_addres.dat", "calib.inc"
    std::string content;  // the bytes as read from the controller
};

// "001A2B3C4D5E" for the fields 00 1a 2B 3C 4D 5E: each field one or two hexadecimal digits,
// padded with a leading 0 and upper-cased; empty when a field is empty, longer than two or
// not hexadecimal.
std::string MacKey(const MacFields& mac);

// "20261208-130501" for the local time `t`.
std::string BackupStamp(std::time_t t);
// The stamp back as "08.12.2026 13:05:01" for the user; the text unchanged when it is not one.
std::string StampForUser(const std::string& stamp);

// The first of `roots` under which the folder "backup" exists or can be created and a file can
// be written in it (a probe file, removed again). A root is "" (the current folder, which is
// the program's) or a folder path ending in a backslash; a root that does not exist yet is
// created, parents included. False when none can be written; `chosen` is then untouched.
bool ChooseStorageRoot(const std::vector<std::string>& roots, std::string* chosen);

// The roots the program tries, in order: the program's own folder (""), then the per-user
// folder %LOCALAPPDATA%\plcflash\ (on other systems $XDG_DATA_HOME/plcflash/ or
// $HOME/.local/share/plcflash/) when the environment names one.
std::vector<std::string> DefaultStorageRoots();

class CBackupStore {
  public:
    // `root` as chosen by ChooseStorageRoot.
    explicit CBackupStore(std::string root) : m_strRoot(std::move(root)) {}

    // Keeps `files` for the MAC: when the latest folder kept for it holds exactly these files
    // (the same names, the same bytes, no others) nothing is written and that folder is
    // returned; otherwise a new folder named by `stamp` (with "-2", "-3"... when that name is
    // taken) gets them. Returns the folder's path ("<root>backup\<mac>\<stamp>\"), empty when
    // it could not be written (then nothing half-written is left behind). `mac` must be a
    // MacKey.
    std::string Save(const std::string& mac, const std::vector<BackupFile>& files,
                     const std::string& stamp);

    // The latest folder kept for the MAC (the greatest stamp), "<root>backup\<mac>\<stamp>\",
    // or empty when there is none; with `holding`, the latest of those that hold that file, and
    // not empty (a later reading may have missed the calibration file; an empty one is no
    // copy).
    std::string Latest(const std::string& mac, const std::string& holding = std::string()) const;

    // The file `name` of a backup folder returned above; false when it is not there or cannot
    // be read.
    static bool Load(const std::string& folder, const std::string& name, std::string* content);

    // The MAC whose latest backup holding `name` holds it with exactly `content`; empty when
    // none does. Tells a calibration file left in data\ by an earlier reading from one the
    // user put there.
    std::string FindOwner(const std::string& name, const std::string& content) const;

    // The stamp part of a folder returned above ("20261208-130501").
    static std::string StampOf(const std::string& folder);

    const std::string& Root() const { return m_strRoot; }

  private:
    std::string m_strRoot;
};
