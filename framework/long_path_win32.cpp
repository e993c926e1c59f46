#include "framework/long_path.h"

#include <vector>

namespace {

std::wstring g_base;

// CreateDirectory's limit is the lowest: MAX_PATH less room for an 8.3 file name.
constexpr size_t kPlainLimit = MAX_PATH - 12;

bool IsAbsolute(const std::wstring& path) {
    return (path.size() >= 3 && path[1] == L':' && (path[2] == L'\\' || path[2] == L'/')) ||
           (path.size() >= 2 && (path[0] == L'\\' || path[0] == L'/') &&
            (path[1] == L'\\' || path[1] == L'/'));
}

std::wstring FullPathOf(const std::wstring& path) {
    std::vector<wchar_t> full(MAX_PATH);
    for (;;) {
        const DWORD n =
            GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (n == 0) return path;
        if (n < full.size()) return std::wstring(full.data(), n);
        full.resize(n);
    }
}

}  // namespace

void SetRelativeBase(const std::wstring& folder) {
    g_base = DisplayPath(folder);
    if (!g_base.empty() && g_base.back() != L'\\' && g_base.back() != L'/') g_base += L'\\';
}

const std::wstring& RelativeBase() {
    return g_base;
}

std::wstring Win32Path(const std::string& path) {
    std::wstring wide;
    const int size =
        MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()), nullptr, 0);
    if (size > 0) {
        wide.resize(static_cast<size_t>(size));
        MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()), &wide[0], size);
    }
    return Win32Path(wide);
}

std::wstring Win32Path(const std::wstring& path) {
    // Already whole ("\\?\C:\...", "\\.\COM3"): as it is.
    if (path.rfind(L"\\\\?\\", 0) == 0 || path.rfind(L"\\\\.\\", 0) == 0) return path;
    // GetFullPathNameW takes a relative path from the current directory when no base is set.
    const std::wstring full = FullPathOf(IsAbsolute(path) ? path : g_base + path);
    if (full.size() < kPlainLimit) return full;
    // "\\?\" takes the path as it is: no "..", no "/", which GetFullPathNameW has removed.
    if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

std::wstring DisplayPath(const std::wstring& path) {
    if (path.rfind(L"\\\\?\\UNC\\", 0) == 0) return L"\\\\" + path.substr(8);
    if (path.rfind(L"\\\\?\\", 0) == 0) return path.substr(4);
    return path;
}

std::wstring ModulePath() {
    std::vector<wchar_t> path(MAX_PATH);
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return std::wstring();
        // A cut path fills the buffer exactly (and XP left it unterminated).
        if (n < path.size() - 1) return std::wstring(path.data(), n);
        if (path.size() >= 32768) return std::wstring();
        path.resize(path.size() * 2);
    }
}
