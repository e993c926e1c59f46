#include <windows.h>

#include "framework/find.h"
#include "framework/long_path.h"

namespace {
struct Search {
    HANDLE h;
    WIN32_FIND_DATAW data;
};
}  // namespace

CFileFind::~CFileFind() {
    Close();
}

bool CFileFind::FindFile(const std::string& pattern) {
    Close();
    auto* s = new Search{};
    s->h = FindFirstFileW(Win32Path(pattern).c_str(), &s->data);
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
    if (!m_bPending && !::FindNextFileW(s->h, &s->data)) return false;
    m_bPending = false;
    // The ANSI name, as the "A" functions gave it: the program's paths are ANSI.
    char name[MAX_PATH * 2] = {};
    WideCharToMultiByte(CP_ACP, 0, s->data.cFileName, -1, name, sizeof(name), nullptr, nullptr);
    m_strName = name;
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
