#include "test_files.h"

#include <windows.h>

#include <cstdlib>

#include "framework/file.h"
#include "framework/find.h"

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
    CreateDirectoryA(to.c_str(), nullptr);
    for (const std::string& name : FileNames(from)) {
        CopyFileA((from + "\\" + name).c_str(), (to + "\\" + name).c_str(), FALSE);
    }
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
                SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(path.c_str());
            }
        }
    }
    RemoveDirectoryA(folder.c_str());
}
