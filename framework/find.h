// Directory search: the entries of one folder in the order the file system lists them.
#pragma once

#include <string>

// <windows.h> maps FindNextFile to FindNextFileA; the method keeps its own name. Files that
// include both include <windows.h> first.
#ifdef FindNextFile
#undef FindNextFile
#endif

class CFileFind {
  public:
    CFileFind() = default;
    ~CFileFind();
    CFileFind(const CFileFind&) = delete;
    CFileFind& operator=(const CFileFind&) = delete;

    // Starts a search for `pattern` ("data\*.*"); false when the folder cannot be read or
    // nothing matches.
    bool FindFile(const std::string& pattern);
    // Moves to the next entry (the first after FindFile); false when there is none.
    bool FindNextFile();
    const std::string& GetFileName() const { return m_strName; }
    bool IsDirectory() const { return m_bDirectory; }
    bool IsDots() const { return m_strName == "." || m_strName == ".."; }
    void Close();

  private:
    void* m_hFind = nullptr;
    bool m_bPending = false;  // FindFile has read the first entry already
    std::string m_strFolder;
    std::string m_strName;
    bool m_bDirectory = false;
};
