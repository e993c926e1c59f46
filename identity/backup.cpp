#include "identity/backup.h"

#include <cstdlib>

#include "framework/file.h"
#include "framework/find.h"

namespace {

const char kBackupFolder[] = "backup";

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

int HexValue(char c) {
    if (IsDigit(c)) return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool AllDigits(const std::string& s, size_t from, size_t count) {
    for (size_t i = from; i < from + count; ++i)
        if (i >= s.size() || !IsDigit(s[i])) return false;
    return true;
}

// "YYYYMMDD-HHMMSS" as BackupStamp makes it.
bool IsPlainStamp(const std::string& s) {
    return s.size() == 15 && AllDigits(s, 0, 8) && s[8] == '-' && AllDigits(s, 9, 6);
}

// A stamp with its optional "-N" (N from 2 on, as Save counts): the plain stamp and N, 1 for
// none. Anything else in a MAC's folder (a temporary "~...tmp" folder of an interrupted save, a
// folder the user made) is no backup.
bool ParseStamp(const std::string& s, std::string* plain, unsigned* n) {
    if (s.size() < 15 || !IsPlainStamp(s.substr(0, 15))) return false;
    unsigned value = 1;
    if (s.size() > 15) {
        const size_t digits = s.size() - 16;
        if (s[15] != '-' || digits == 0 || digits > 9 || s[16] == '0' || !AllDigits(s, 16, digits))
            return false;
        value = static_cast<unsigned>(std::strtoul(s.c_str() + 16, nullptr, 10));
        if (value < 2) return false;
    }
    *plain = s.substr(0, 15);
    *n = value;
    return true;
}

std::string StampName(const std::string& plain, unsigned n) {
    return n == 1 ? plain : plain + "-" + std::to_string(n);
}

bool IsMacKey(const std::string& s) {
    if (s.size() != 12) return false;
    for (char c : s)
        if (!IsDigit(c) && !(c >= 'A' && c <= 'F')) return false;
    return true;
}

// A folder with only files in it (as Save writes them) and the folder itself.
bool RemoveFolderWithFiles(const std::string& folder) {
    {
        CFileFind find;
        if (find.FindFile(folder + "\\*.*")) {
            while (find.FindNextFile())
                if (!find.IsDirectory()) CFile::Remove(folder + "\\" + find.GetFileName());
        }
    }  // Windows will not remove a folder while a search holds it open
    return CFile::RemoveFolder(folder);
}

// True when `folder` holds exactly `files`: no other entry, and each with the same bytes.
bool HoldsExactly(const std::string& folder, const std::vector<BackupFile>& files) {
    CFileFind find;
    if (!find.FindFile(folder + "*.*")) return false;
    size_t count = 0;
    while (find.FindNextFile()) {
        if (find.IsDots()) continue;
        if (find.IsDirectory()) return false;
        bool listed = false;
        for (const auto& f : files) listed = listed || f.name == find.GetFileName();
        if (!listed) return false;
        ++count;
    }
    find.Close();
    if (count != files.size()) return false;
    for (const auto& f : files) {
        std::string content;
        if (!CBackupStore::Load(folder, f.name, &content) || content != f.content) return false;
    }
    return true;
}

// Each folder on the way to `path` in turn. A drive ("C:") and the empty pieces before a root
// "/" or a "\\server" name are not folders to make; a server or share name fails harmlessly,
// and whether the end can be written is for the caller to find out.
void MakeFolders(const std::string& path) {
    size_t start = 0;
    for (size_t i = 0; i <= path.size(); ++i) {
        if (i < path.size() && path[i] != '\\' && path[i] != '/') continue;
        const std::string piece = path.substr(start, i - start);
        const bool drive = piece.size() == 2 && piece[1] == ':';
        if (!piece.empty() && !drive) CFile::MakeFolder(path.substr(0, i));
        start = i + 1;
    }
}

}  // namespace

std::string MacKey(const MacFields& mac) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string key;
    for (const auto& field : mac) {
        if (field.empty() || field.size() > 2) return "";
        int value = 0;
        for (char c : field) {
            const int digit = HexValue(c);
            if (digit < 0) return "";
            value = value * 16 + digit;
        }
        key += kDigits[value >> 4];
        key += kDigits[value & 0xF];
    }
    return key;
}

std::string BackupStamp(std::time_t t) {
    std::tm local{};
#ifdef _WIN32
    if (localtime_s(&local, &t) != 0) return "";
#else
    if (!localtime_r(&t, &local)) return "";
#endif
    char text[32];
    if (std::strftime(text, sizeof(text), "%Y%m%d-%H%M%S", &local) == 0) return "";
    return text;
}

std::string StampForUser(const std::string& stamp) {
    std::string s;
    unsigned n = 0;
    if (!ParseStamp(stamp, &s, &n)) return stamp;
    return s.substr(6, 2) + "." + s.substr(4, 2) + "." + s.substr(0, 4) + " " + s.substr(9, 2) +
           ":" + s.substr(11, 2) + ":" + s.substr(13, 2);
}

bool ChooseStorageRoot(const std::vector<std::string>& roots, std::string* chosen) {
    for (const auto& root : roots) {
        if (!root.empty()) MakeFolders(root);
        const std::string folder = root + kBackupFolder;
        CFile::MakeFolder(folder);
        // MakeFolder is content with a file of that name, and a folder may exist yet refuse
        // writing (Program Files without elevation): only a written file tells.
        // Named for this copy: another copy probing the same folder must not remove it.
        const std::string probe = folder + "\\~probe." + ThisCopyTag() + ".tmp";
        CFile file;
        if (!file.Open(probe, CFile::modeWrite | CFile::modeCreate)) continue;
        const bool written = file.Write("probe", 5);
        file.Close();
        CFile::Remove(probe);
        if (!written) continue;
        *chosen = root;
        return true;
    }
    return false;
}

std::vector<std::string> DefaultStorageRoots() {
    const auto env = EnvironmentFolder;
    std::vector<std::string> roots = {""};
    std::string base = env("LOCALAPPDATA");
    if (base.empty()) base = env("XDG_DATA_HOME");
    if (base.empty() && !env("HOME").empty()) base = env("HOME") + "\\.local\\share";
    if (!base.empty()) {
        if (base.back() != '\\' && base.back() != '/') base += '\\';
        roots.push_back(base + "plcflash\\");
    }
    return roots;
}

std::string CBackupStore::Save(const std::string& mac, const std::vector<BackupFile>& files,
                               const std::string& stamp) {
    if (!IsMacKey(mac) || !IsPlainStamp(stamp)) return "";
    const std::string latest = Latest(mac);
    if (!latest.empty() && HoldsExactly(latest, files)) return latest;

    const std::string backup = m_strRoot + kBackupFolder;
    const std::string macFolder = backup + "\\" + mac;
    CFile::MakeFolder(backup);
    CFile::MakeFolder(macFolder);

    // Written under a name that is no stamp, then renamed: an interrupted save leaves at most
    // a folder Latest does not look at, which the next save of that stamp clears away.
    const std::string temp = macFolder + "\\~" + stamp + "." + ThisCopyTag() + ".tmp";
    if (CFile::Exists(temp) && !RemoveFolderWithFiles(temp)) return "";
    if (!CFile::MakeFolder(temp)) return "";
    for (const auto& f : files) {
        // On the disk before the folder is renamed into place: after a power cut a backup is
        // whole or not there, never an empty calib.inc waiting to be restored.
        if (!CFile::WriteAll(temp + "\\" + f.name, f.content, true)) {
            RemoveFolderWithFiles(temp);
            return "";
        }
    }

    // Past the latest suffix of the same stamp, so the new folder is the latest even when the
    // user has deleted one in between.
    unsigned first = 1;
    std::string latestPlain;
    unsigned latestN = 0;
    if (ParseStamp(StampOf(latest), &latestPlain, &latestN) && latestPlain == stamp)
        first = latestN + 1;
    for (unsigned n = first; n < first + 1000; ++n) {
        const std::string folder = macFolder + "\\" + StampName(stamp, n);
        if (CFile::Exists(folder)) continue;
        if (CFile::Rename(temp, folder)) return folder + "\\";
        if (!CFile::Exists(folder)) break;  // not a name taken meanwhile: it cannot be done
    }
    RemoveFolderWithFiles(temp);
    return "";
}

std::string CBackupStore::Latest(const std::string& mac, const std::string& holding) const {
    const std::string macFolder = m_strRoot + kBackupFolder + "\\" + mac + "\\";
    CFileFind find;
    if (!find.FindFile(macFolder + "*.*")) return "";
    std::string bestName, bestPlain;
    unsigned bestN = 0;
    while (find.FindNextFile()) {
        std::string plain;
        unsigned n = 0;
        if (!find.IsDirectory() || !ParseStamp(find.GetFileName(), &plain, &n)) continue;
        // An empty copy (left by a power cut before copies were flushed) is no copy: it is
        // never restored.
        std::string held;
        if (!holding.empty() &&
            (!Load(macFolder + find.GetFileName() + "\\", holding, &held) || held.empty())) {
            continue;
        }
        // The suffix counts as a number: "-10" was saved after "-9".
        if (bestName.empty() || plain > bestPlain || (plain == bestPlain && n > bestN)) {
            bestName = find.GetFileName();
            bestPlain = plain;
            bestN = n;
        }
    }
    return bestName.empty() ? "" : macFolder + bestName + "\\";
}

bool CBackupStore::Load(const std::string& folder, const std::string& name, std::string* content) {
    return CFile::ReadAll(folder + name, content);
}

std::string CBackupStore::FindOwner(const std::string& name, const std::string& content) const {
    CFileFind find;
    if (!find.FindFile(m_strRoot + kBackupFolder + "\\*.*")) return "";
    // The smallest MAC when two controllers' latest files are the same bytes, so the answer
    // does not depend on the order the file system lists folders in.
    std::string owner;
    while (find.FindNextFile()) {
        const std::string mac = find.GetFileName();
        if (!find.IsDirectory() || !IsMacKey(mac)) continue;
        if (!owner.empty() && mac > owner) continue;
        const std::string latest = Latest(mac, name);
        std::string kept;
        if (!latest.empty() && Load(latest, name, &kept) && kept == content) owner = mac;
    }
    return owner;
}

std::string CBackupStore::StampOf(const std::string& folder) {
    size_t end = folder.size();
    while (end > 0 && (folder[end - 1] == '\\' || folder[end - 1] == '/')) --end;
    const size_t slash = folder.find_last_of("\\/", end == 0 ? 0 : end - 1);
    const size_t start = slash == std::string::npos ? 0 : slash + 1;
    return folder.substr(start, end - start);
}
