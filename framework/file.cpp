// The whole-file helpers, the same on every platform: built on Open, Read and Write.
#include <filesystem>
#include <limits>

#include "framework/file.h"

std::string AbsolutePath(const std::string& path) {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    return error ? path : absolute.string();
}

bool CFile::ReadAll(const std::string& path, std::string* content) {
    CFile file;
    if (!file.Open(path, modeRead)) return false;
    std::string bytes;
    char buffer[4096];
    for (uint32_t got; (got = file.Read(buffer, sizeof(buffer))) > 0;) bytes.append(buffer, got);
    if (file.Failed()) return false;
    *content = std::move(bytes);
    return true;
}

bool CFile::WriteAll(const std::string& path, const std::string& content, bool durable) {
    if (content.size() > std::numeric_limits<uint32_t>::max()) return false;
    CFile file;
    if (!file.Open(path, modeWrite | modeCreate)) return false;
    if (!content.empty() && !file.Write(content.data(), static_cast<uint32_t>(content.size()))) {
        return false;
    }
    return !durable || file.Flush();
}
