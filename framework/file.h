// Binary files by relative or absolute path. Paths use the program's backslash form
// ("data\calib.inc"); the POSIX implementation turns backslashes into slashes.
#pragma once

#include <cstdint>
#include <string>

class CFile {
  public:
    enum OpenFlags : unsigned {
        modeRead = 0x0000,
        modeWrite = 0x0001,
        modeCreate = 0x1000,  // create or truncate
        // With modeWrite: open or create, every write at the end, even with other copies of
        // the program appending to the same file meanwhile; others may read it too (a user
        // watching a log).
        modeAppend = 0x2000,
    };

    CFile() = default;
    ~CFile();
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;

    bool Open(const std::string& path, unsigned flags);
    bool IsOpen() const;
    // Bytes read, 0 at the end of the file or on failure; Failed() tells the two apart.
    uint32_t Read(void* buffer, uint32_t count);
    bool Failed() const { return m_bFailed; }
    bool Write(const void* buffer, uint32_t count);
    // What was written is on the disk, not only in the system's cache: a power cut after this
    // cannot leave the file empty.
    bool Flush();
    uint64_t GetLength() const;
    // Takes the whole file for this handle alone against other handles that ask the same
    // (another copy of the program appending a row), waiting at most `ms`; Close releases it.
    bool LockWhole(uint32_t ms);
    void Close();
    const std::string& GetFilePath() const { return m_strPath; }

    static bool Exists(const std::string& path);
    static bool Remove(const std::string& path);
    // Creates one folder; true when it is there afterwards.
    static bool MakeFolder(const std::string& path);
    // Moves `from` over `to`, replacing it.
    static bool Replace(const std::string& from, const std::string& to);
    // The whole file into `content`; false when it cannot be opened or read.
    static bool ReadAll(const std::string& path, std::string* content);
    // Creates (or truncates) the file with `content`; false when it cannot be written whole.
    // `durable`: flushed to the disk before it returns.
    static bool WriteAll(const std::string& path, const std::string& content, bool durable = false);
    // Moves a file or folder (within one volume) to a name not taken; false when `to` exists.
    static bool Rename(const std::string& from, const std::string& to);
    // Removes an empty folder.
    static bool RemoveFolder(const std::string& path);

  private:
    void* m_hFile = nullptr;
    std::string m_strPath;
    bool m_bFailed = false;
    bool m_bLocked = false;
};

// The program's backslash path as this system writes paths: with slashes on POSIX.
std::string NativePath(std::string path);

// `path` against the current folder, so that a later change of folder keeps it (a console
// tool's output file given before `flash` enters its installation); as given when that fails.
std::string AbsolutePath(const std::string& path);

// Several copies of the program may work in one folder at once (one per cable). Each names its
// temporary files with its own tag, so that none takes or removes another's: this copy's tag,
// and whether the copy that made a tag still runs (its leftovers may then go).
std::string ThisCopyTag();

// A folder named by an environment variable (LOCALAPPDATA), in the program's 8-bit form; empty
// when unset. On Windows it is read through the Unicode API: a profile named outside the ANSI
// code page is given by its short name, which the "A" file functions can open.
std::string EnvironmentFolder(const char* name);
bool CopyStillRuns(const std::string& tag);

// This computer's name, for the record of attempts; empty when the system will not say.
std::string ComputerName();
