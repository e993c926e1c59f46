#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>

#include "framework/file.h"

namespace {

int Fd(void* h) {
    return static_cast<int>(reinterpret_cast<intptr_t>(h)) - 1;
}
void* Handle(int fd) {
    return reinterpret_cast<void*>(static_cast<intptr_t>(fd) + 1);
}

}  // namespace

std::string NativePath(std::string path) {
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

std::string ThisCopyTag() {
    return std::to_string(::getpid());
}

bool CopyStillRuns(const std::string& tag) {
    if (tag.empty() || tag.size() > 9 || tag.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const pid_t pid = static_cast<pid_t>(std::stoul(tag));
    // EPERM: it runs, under another user.
    return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM);
}

std::string ComputerName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return std::string();
    return name;
}

CFile::~CFile() {
    Close();
}

bool CFile::Open(const std::string& path, unsigned flags) {
    Close();
    int oflags = (flags & modeWrite) ? O_WRONLY : O_RDONLY;
    if (flags & modeCreate) oflags |= O_CREAT | O_TRUNC;
    if ((flags & modeWrite) && (flags & modeAppend)) oflags |= O_CREAT | O_APPEND;
    int fd = ::open(NativePath(path).c_str(), oflags | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    m_hFile = Handle(fd);
    m_strPath = path;
    m_bFailed = false;
    return true;
}

bool CFile::LockWhole(uint32_t ms) {
    if (!m_hFile) return false;
    // flock belongs to the open file description, so two openings in one process exclude each
    // other as two processes do. No blocking flock: its wait could not be bounded.
    constexpr uint32_t kStepMs = 10;
    for (uint32_t waited = 0;; waited += kStepMs) {
        if (::flock(Fd(m_hFile), LOCK_EX | LOCK_NB) == 0) return m_bLocked = true;
        if (errno != EWOULDBLOCK || waited >= ms) return false;
        const timespec step{0, long{kStepMs} * 1000000L};
        nanosleep(&step, nullptr);
    }
}

bool CFile::IsOpen() const {
    return m_hFile != nullptr;
}

uint32_t CFile::Read(void* buffer, uint32_t count) {
    if (!m_hFile) {
        m_bFailed = true;
        return 0;
    }
    // A regular file gives all it has but at its end; loop anyway, as a pipe would not.
    auto* out = static_cast<char*>(buffer);
    uint32_t total = 0;
    while (total < count) {
        ssize_t got = ::read(Fd(m_hFile), out + total, count - total);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) m_bFailed = true;
        if (got <= 0) break;
        total += static_cast<uint32_t>(got);
    }
    return total;
}

bool CFile::Flush() {
    return m_hFile && ::fsync(Fd(m_hFile)) == 0;
}

std::string EnvironmentFolder(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

bool CFile::Write(const void* buffer, uint32_t count) {
    if (!m_hFile) return false;
    const char* p = static_cast<const char*>(buffer);
    while (count > 0) {
        ssize_t put = ::write(Fd(m_hFile), p, count);
        if (put <= 0) return false;
        p += put;
        count -= static_cast<uint32_t>(put);
    }
    return true;
}

uint64_t CFile::GetLength() const {
    struct stat st {};
    if (!m_hFile || fstat(Fd(m_hFile), &st) != 0) return 0;
    return static_cast<uint64_t>(st.st_size);
}

void CFile::Close() {
    if (m_hFile) ::close(Fd(m_hFile));
    m_hFile = nullptr;
}

bool CFile::Exists(const std::string& path) {
    struct stat st {};
    return ::stat(NativePath(path).c_str(), &st) == 0;
}

bool CFile::Remove(const std::string& path) {
    return ::unlink(NativePath(path).c_str()) == 0;
}

bool CFile::MakeFolder(const std::string& path) {
    return ::mkdir(NativePath(path).c_str(), 0755) == 0 || errno == EEXIST;
}

bool CFile::Replace(const std::string& from, const std::string& to) {
    return ::rename(NativePath(from).c_str(), NativePath(to).c_str()) == 0;
}

bool CFile::Rename(const std::string& from, const std::string& to) {
    // rename(2) would silently replace an empty folder or any file at `to`. The check leaves a
    // window only against another process choosing the same name at the same moment.
    if (Exists(to)) return false;
    return ::rename(NativePath(from).c_str(), NativePath(to).c_str()) == 0;
}

bool CFile::RemoveFolder(const std::string& path) {
    return ::rmdir(NativePath(path).c_str()) == 0;
}
