// The build's one version number, as Explorer's Properties shows it for both executables and
// as `plcflash-cli --version` prints it; and both executables' manifests.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "plcflash_version.h"

namespace {

std::string BuildDir() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string s = path;
    return s.substr(0, s.find_last_of('\\') + 1) + "..\\..\\";
}

struct VersionInfo {
    bool present = false;
    DWORD fileMS = 0, fileLS = 0, productMS = 0, productLS = 0;
    std::string fileVersion, productVersion, description;
};

std::string StringValue(std::vector<char>& block, const char* name) {
    void* value = nullptr;
    UINT size = 0;
    const std::string path = std::string("\\StringFileInfo\\041904B0\\") + name;
    if (!VerQueryValueA(block.data(), path.c_str(), &value, &size) || size == 0) return "";
    return static_cast<const char*>(value);
}

VersionInfo ReadVersionInfo(const std::string& exe) {
    VersionInfo info;
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(exe.c_str(), &ignored);
    if (size == 0) return info;
    std::vector<char> block(size);
    if (!GetFileVersionInfoA(exe.c_str(), 0, size, block.data())) return info;
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixedSize = 0;
    if (!VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &fixedSize))
        return info;
    info.present = true;
    info.fileMS = fixed->dwFileVersionMS;
    info.fileLS = fixed->dwFileVersionLS;
    info.productMS = fixed->dwProductVersionMS;
    info.productLS = fixed->dwProductVersionLS;
    info.fileVersion = StringValue(block, "FileVersion");
    info.productVersion = StringValue(block, "ProductVersion");
    info.description = StringValue(block, "FileDescription");
    return info;
}

// What `exe args` wrote to its standard output; "" when it could not run.
std::string OutputOf(const std::string& exe, const std::string& args) {
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return "";
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA si{};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = writeEnd;
    si.hStdError = writeEnd;
    PROCESS_INFORMATION pi{};
    std::string cmd = "\"" + exe + "\" " + args;
    const BOOL started = CreateProcessA(exe.c_str(), &cmd[0], nullptr, nullptr, TRUE,
                                        CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi);
    CloseHandle(writeEnd);
    std::string out;
    if (started) {
        char buffer[256];
        DWORD got = 0;
        while (ReadFile(readEnd, buffer, sizeof(buffer), &got, nullptr) && got)
            out.append(buffer, got);
        WaitForSingleObject(pi.hProcess, 30000);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
    CloseHandle(readEnd);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
}

TEST(Version, BothExecutablesCarryTheBuildsVersion) {
    const char* fromEnv = std::getenv("PLCFLASH_EXE");
    const std::string cli = BuildDir() + "cli\\plcflash-cli.exe";
    const std::string executables[] = {fromEnv ? fromEnv : BuildDir() + "plcflash.exe", cli};
    const DWORD ms = MAKELONG(PLCFLASH_VERSION_MINOR, PLCFLASH_VERSION_MAJOR);
    const DWORD ls = MAKELONG(0, PLCFLASH_VERSION_PATCH);
    for (const std::string& exe : executables) {
        const VersionInfo info = ReadVersionInfo(exe);
        ASSERT_TRUE(info.present) << exe;
        EXPECT_EQ(info.fileVersion, PLCFLASH_VERSION) << exe;
        EXPECT_EQ(info.productVersion, PLCFLASH_VERSION) << exe;
        EXPECT_EQ(info.fileMS, ms) << exe;
        EXPECT_EQ(info.fileLS, ls) << exe;
        EXPECT_EQ(info.productMS, ms) << exe;
        EXPECT_EQ(info.productLS, ls) << exe;
        EXPECT_FALSE(info.description.empty()) << exe;
    }
    EXPECT_EQ(OutputOf(cli, "--version"), std::string("plcflash-cli ") + PLCFLASH_VERSION);
}

// The manifest Windows reads from the executable (resource 1 of type RT_MANIFEST).
std::string ManifestOf(const std::string& exe) {
    HMODULE module = LoadLibraryExA(exe.c_str(), nullptr,
                                    LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (!module) return "";
    std::string text;
    if (HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24))) {
        if (HGLOBAL loaded = LoadResource(module, found)) {
            text.assign(static_cast<const char*>(LockResource(loaded)),
                        SizeofResource(module, found));
        }
    }
    FreeLibrary(module);
    return text;
}

// Run as invoked (no VirtualStore for a 32-bit build in Program Files), Windows 7 to 11 named,
// per-monitor DPI aware, long paths, the common controls 6.
TEST(Version, BothManifestsAskForWhatACurrentWindowsOffers) {
    const char* fromEnv = std::getenv("PLCFLASH_EXE");
    const std::string executables[] = {fromEnv ? fromEnv : BuildDir() + "plcflash.exe",
                                       BuildDir() + "cli\\plcflash-cli.exe"};
    const struct {
        const char* what;
        const char* text;
    } elements[] = {
        {"execution level", "<requestedExecutionLevel level=\"asInvoker\""},
        {"Windows 7", "<supportedOS Id=\"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}\"/>"},
        {"Windows 8", "<supportedOS Id=\"{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}\"/>"},
        {"Windows 8.1", "<supportedOS Id=\"{1f676c76-80e1-4239-95bb-83d0f6d0da78}\"/>"},
        {"Windows 10 and 11", "<supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>"},
        {"DPI awareness", "\">true/pm</dpiAware>"},
        {"per-monitor v2", "\">PerMonitorV2</dpiAwareness>"},
        {"long paths", "\">true</longPathAware>"},
        {"common controls", "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""},
    };
    for (const std::string& exe : executables) {
        const std::string manifest = ManifestOf(exe);
        ASSERT_FALSE(manifest.empty()) << exe;
        for (const auto& element : elements) {
            EXPECT_NE(manifest.find(element.text), std::string::npos)
                << exe << ": " << element.what;
        }
    }
}

}  // namespace
