#include "test_files.h"

#include <windows.h>

#include <cstdlib>

#include "framework/file.h"
#include "framework/find.h"
#include "framework/long_path.h"

std::string EnvText(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

std::string ReadAll(const std::string& path) {
    CFile f;
    if (!f.Open(path, CFile::modeRead)) return "<missing " + path + ">";
    std::string bytes(static_cast<size_t>(f.GetLength()), '\0');
    if (!bytes.empty()) f.Read(&bytes[0], static_cast<uint32_t>(bytes.size()));
    return bytes;
}

bool WriteAll(const std::string& path, const std::string& bytes) {
    CFile f;
    if (!f.Open(path, CFile::modeCreate | CFile::modeWrite)) return false;
    f.Write(bytes.data(), static_cast<uint32_t>(bytes.size()));
    return !f.Failed();
}

std::vector<std::string> FileNames(const std::string& folder) {
    std::vector<std::string> names;
    CFileFind finder;
    if (!finder.FindFile(folder + "\\*.*")) return names;
    while (finder.FindNextFile()) {
        if (!finder.IsDots() && !finder.IsDirectory()) names.push_back(finder.GetFileName());
    }
    return names;
}

std::vector<std::string> FolderNames(const std::string& folder) {
    std::vector<std::string> names;
    CFileFind finder;
    if (!finder.FindFile(folder + "\\*.*")) return names;
    while (finder.FindNextFile()) {
        if (!finder.IsDots() && finder.IsDirectory()) names.push_back(finder.GetFileName());
    }
    return names;
}

void CopyFolder(const std::string& from, const std::string& to) {
    CFile::MakeFolder(to);
    for (const std::string& name : FileNames(from)) CopyWhole(from + "\\" + name, to + "\\" + name);
}

bool CopyWhole(const std::string& from, const std::string& to) {
    return CopyFileW(Win32Path(from).c_str(), Win32Path(to).c_str(), FALSE) != FALSE;
}

void MakeFolders(const std::string& path) {
    for (size_t at = path.find('\\', 3); at != std::string::npos; at = path.find('\\', at + 1)) {
        CFile::MakeFolder(path.substr(0, at));
    }
    CFile::MakeFolder(path);
}

void RemoveFolder(const std::string& folder) {
    CFileFind finder;
    if (finder.FindFile(folder + "\\*.*")) {
        while (finder.FindNextFile()) {
            if (finder.IsDots()) continue;
            const std::string path = folder + "\\" + finder.GetFileName();
            if (finder.IsDirectory()) {
                RemoveFolder(path);
            } else {
                SetFileAttributesW(Win32Path(path).c_str(), FILE_ATTRIBUTE_NORMAL);
                CFile::Remove(path);
            }
        }
    }
    CFile::RemoveFolder(folder);
}
