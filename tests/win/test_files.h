// Files and folders for the Windows tests: the sample installation copied, files read whole.
// Paths may run past MAX_PATH (the framework's file functions take them so).
#pragma once

#include <string>
#include <vector>

// An environment variable, "" when unset.
std::string EnvText(const char* name);
// The file's bytes, or "<missing PATH>".
std::string ReadAll(const std::string& path);
bool WriteAll(const std::string& path, const std::string& bytes);
// The files of `folder`, without its folders.
std::vector<std::string> FileNames(const std::string& folder);
// The folders of `folder`, "." and ".." left out.
std::vector<std::string> FolderNames(const std::string& folder);
// The files of `from` into `to`, which is made when missing.
void CopyFolder(const std::string& from, const std::string& to);
bool CopyWhole(const std::string& from, const std::string& to);
// `path` and every folder above it that is missing.
void MakeFolders(const std::string& path);
void RemoveFolder(const std::string& folder);
