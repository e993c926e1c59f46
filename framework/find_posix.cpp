#include <dirent.h>
#include <sys/stat.h>

#include "framework/file.h"
#include "framework/find.h"

CFileFind::~CFileFind() {
    Close();
}

// Only the folder part of the pattern counts here: the program always asks for "*.*", which
// on Windows matches every entry, dotted or not.
bool CFileFind::FindFile(const std::string& pattern) {
    Close();
    const std::string path = NativePath(pattern);
    const size_t slash = path.find_last_of('/');
    m_strFolder = slash == std::string::npos ? "." : path.substr(0, slash);
    DIR* dir = opendir(m_strFolder.c_str());
    if (!dir) return false;
    m_hFind = dir;
    m_bPending = false;  // readdir gives the first entry on the first FindNextFile
    return true;
}

bool CFileFind::FindNextFile() {
    DIR* dir = static_cast<DIR*>(m_hFind);
    if (!dir) return false;
    dirent* e = readdir(dir);
    if (!e) return false;
    m_strName = e->d_name;
    struct stat st {};
    m_bDirectory = stat((m_strFolder + "/" + m_strName).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    return true;
}

void CFileFind::Close() {
    if (m_hFind) closedir(static_cast<DIR*>(m_hFind));
    m_hFind = nullptr;
}
