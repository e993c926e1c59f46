#include <windows.h>

#include "framework/file.h"

CFile::~CFile() {
    Close();
}

bool CFile::Open(const std::string& path, unsigned flags) {
    Close();
    const bool write = (flags & modeWrite) != 0;
    HANDLE h = CreateFileA(
        path.c_str(), write ? GENERIC_WRITE : GENERIC_READ, write ? 0 : FILE_SHARE_READ, nullptr,
        (flags & modeCreate) ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
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

bool CFile::Write(const void* buffer, uint32_t count) {
    DWORD put = 0;
    return m_hFile && WriteFile(m_hFile, buffer, count, &put, nullptr) && put == count;
}

uint64_t CFile::GetLength() const {
    LARGE_INTEGER size{};
    if (!m_hFile || !GetFileSizeEx(m_hFile, &size)) return 0;
    return static_cast<uint64_t>(size.QuadPart);
}

void CFile::Close() {
    if (m_hFile) CloseHandle(m_hFile);
    m_hFile = nullptr;
}

bool CFile::Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool CFile::Remove(const std::string& path) {
    return DeleteFileA(path.c_str()) != FALSE;
}

bool CFile::MakeFolder(const std::string& path) {
    return CreateDirectoryA(path.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

bool CFile::Replace(const std::string& from, const std::string& to) {
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
}
