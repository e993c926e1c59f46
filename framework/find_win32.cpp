#include <windows.h>

#include "framework/find.h"

namespace {
struct Search {
    HANDLE h;
    WIN32_FIND_DATAA data;
};
}  // namespace

CFileFind::~CFileFind() {
    Close();
}

bool CFileFind::FindFile(const std::string& pattern) {
    Close();
    auto* s = new Search{};
    s->h = FindFirstFileA(pattern.c_str(), &s->data);
    if (s->h == INVALID_HANDLE_VALUE) {
        delete s;
        return false;
    }
    m_hFind = s;
    m_bPending = true;
    return true;
}

bool CFileFind::FindNextFile() {
    auto* s = static_cast<Search*>(m_hFind);
    if (!s) return false;
    if (!m_bPending && !::FindNextFileA(s->h, &s->data)) return false;
    m_bPending = false;
    m_strName = s->data.cFileName;
    m_bDirectory = (s->data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return true;
}

void CFileFind::Close() {
    auto* s = static_cast<Search*>(m_hFind);
    if (s) {
        FindClose(s->h);
        delete s;
    }
    m_hFind = nullptr;
}
