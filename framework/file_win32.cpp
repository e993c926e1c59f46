#include <windows.h>

#include "framework/file.h"
#include "framework/long_path.h"

std::string NativePath(std::string path) {
    return path;
}

std::string ThisCopyTag() {
    return std::to_string(GetCurrentProcessId());
}

bool CopyStillRuns(const std::string& tag) {
    if (tag.empty() || tag.size() > 9 || tag.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const DWORD pid = static_cast<DWORD>(std::stoul(tag));
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    // Refused rather than unknown: a process of another user, which runs.
    if (!process) return GetLastError() == ERROR_ACCESS_DENIED;
    DWORD code = 0;
    const bool runs = GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
    CloseHandle(process);
    return runs;
}

CFile::~CFile() {
    Close();
}

bool CFile::Open(const std::string& path, unsigned flags) {
    Close();
    const bool write = (flags & modeWrite) != 0;
    const bool append = write && (flags & modeAppend) != 0;
    DWORD disposition = OPEN_EXISTING;
    if (flags & modeCreate)
        disposition = CREATE_ALWAYS;
    else if (append)
        disposition = OPEN_ALWAYS;
    // A writer shares nothing, except an appending one: a user may open the log in Notepad
    // while the program still writes to it, and another copy of the program may append its
    // own run. With FILE_APPEND_DATA alone (no FILE_WRITE_DATA) Windows puts every write at
    // the file's end as it is then, so one WriteFile is one block, never interleaved with or
    // written over another copy's.
    const DWORD share = !write ? FILE_SHARE_READ : append ? FILE_SHARE_READ | FILE_SHARE_WRITE : 0;
    // FILE_READ_DATA moves no write, but LockFileEx wants read or write data access.
    const DWORD access =
        append  ? FILE_APPEND_DATA | FILE_READ_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE
        : write ? GENERIC_WRITE
                : GENERIC_READ;
    HANDLE h = CreateFileW(Win32Path(path).c_str(), access, share, nullptr, disposition,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    m_hFile = h;
    m_strPath = path;
    m_bFailed = false;
    return true;
}

bool CFile::IsOpen() const {
    return m_hFile != nullptr;
}

uint32_t CFile::Read(void* buffer, uint32_t count) {
    DWORD got = 0;
    if (!m_hFile || !ReadFile(m_hFile, buffer, count, &got, nullptr)) {
        m_bFailed = true;
        return 0;
    }
    return got;
}

bool CFile::Flush() {
    return m_hFile && FlushFileBuffers(m_hFile) != FALSE;
}

std::string EnvironmentFolder(const char* name) {
    wchar_t wideName[64] = {};
    MultiByteToWideChar(CP_ACP, 0, name, -1, wideName, 64);
    std::wstring value(32768, L'\0');
    DWORD n = GetEnvironmentVariableW(wideName, &value[0], static_cast<DWORD>(value.size()));
    if (n == 0 || n >= value.size()) return std::string();
    value.resize(n);
    // The ANSI form, when every character has one; else the short name, all ASCII.
    BOOL lossy = FALSE;
    auto ansi = [&lossy](const std::wstring& wide) {
        lossy = FALSE;
        const int size = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.c_str(), -1,
                                             nullptr, 0, nullptr, &lossy);
        std::string out(size > 0 ? static_cast<size_t>(size) : 0, '\0');
        if (size > 0) {
            WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.c_str(), -1, &out[0], size,
                                nullptr, &lossy);
            out.resize(static_cast<size_t>(size - 1));
        }
        return out;
    };
    std::string text = ansi(value);
    if (!lossy) return text;
    std::wstring shortName(32768, L'\0');
    n = GetShortPathNameW(value.c_str(), &shortName[0], static_cast<DWORD>(shortName.size()));
    if (n == 0 || n >= shortName.size()) return std::string();
    shortName.resize(n);
    text = ansi(shortName);
    return lossy ? std::string() : text;
}

std::string ComputerName() {
    char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof name;
    return GetComputerNameA(name, &size) ? std::string(name, size) : std::string();
}

bool CFile::Write(const void* buffer, uint32_t count) {
    DWORD put = 0;
    return m_hFile && WriteFile(m_hFile, buffer, count, &put, nullptr) && put == count;
}

uint64_t CFile::GetLength() const {
    LARGE_INTEGER size{};
    if (!m_hFile || !GetFileSizeEx(m_hFile, &size)) return 0;
    return static_cast<uint64_t>(size.QuadPart);
}

bool CFile::LockWhole(uint32_t ms) {
    if (!m_hFile) return false;
    // A blocking LockFileEx on a handle not opened for overlapped I/O cannot be bounded.
    constexpr DWORD kStepMs = 10;
    for (uint32_t waited = 0;; waited += kStepMs) {
        OVERLAPPED whole{};
        if (LockFileEx(m_hFile, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD,
                       MAXDWORD, &whole)) {
            m_bLocked = true;
            return true;
        }
        if (GetLastError() != ERROR_LOCK_VIOLATION || waited >= ms) return false;
        Sleep(kStepMs);
    }
}

void CFile::Close() {
    // Windows frees the locks of a closed handle only "in time": the next copy waits less.
    OVERLAPPED whole{};
    if (m_hFile && m_bLocked) UnlockFileEx(m_hFile, 0, MAXDWORD, MAXDWORD, &whole);
    m_bLocked = false;
    if (m_hFile) CloseHandle(m_hFile);
    m_hFile = nullptr;
}

bool CFile::Exists(const std::string& path) {
    return GetFileAttributesW(Win32Path(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool CFile::Remove(const std::string& path) {
    return DeleteFileW(Win32Path(path).c_str()) != FALSE;
}

bool CFile::MakeFolder(const std::string& path) {
    return CreateDirectoryW(Win32Path(path).c_str(), nullptr) ||
           GetLastError() == ERROR_ALREADY_EXISTS;
}

bool CFile::Replace(const std::string& from, const std::string& to) {
    return MoveFileExW(Win32Path(from).c_str(), Win32Path(to).c_str(), MOVEFILE_REPLACE_EXISTING) !=
           FALSE;
}

bool CFile::Rename(const std::string& from, const std::string& to) {
    // Without MOVEFILE_REPLACE_EXISTING MoveFileEx refuses a taken name; it moves folders too,
    // but only within one volume (no MOVEFILE_COPY_ALLOWED for folders).
    return MoveFileExW(Win32Path(from).c_str(), Win32Path(to).c_str(), 0) != FALSE;
}

bool CFile::RemoveFolder(const std::string& path) {
    return RemoveDirectoryW(Win32Path(path).c_str()) != FALSE;
}
