// plcflash.exe started as a user starts it: from a folder of its own, with or without
// plc.ini, and a calibration file left over from an earlier run.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <string>

#include "framework/text.h"

namespace {

std::string ModuleDir() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string s = path;
    return s.substr(0, s.find_last_of('\\') + 1);
}

std::string PlcflashExe() {
    const char* fromEnv = std::getenv("PLCFLASH_EXE");
    return fromEnv ? fromEnv : ModuleDir() + "..\\..\\" PLCFLASH_EXE_NAME;
}

void WriteBytesTo(const std::string& path, const std::string& bytes) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << path;
    DWORD put = 0;
    WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr);
    CloseHandle(h);
}

bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

struct Search {
    DWORD pid;
    HWND found;
};

// The process's top-level dialog (the assistant or a message box), waited for at most 30 s.
HWND FindDialogOf(DWORD pid) {
    for (int attempt = 0; attempt < 300; ++attempt) {
        Search search{pid, nullptr};
        EnumWindows(
            [](HWND hwnd, LPARAM lParam) -> BOOL {
                auto* s = reinterpret_cast<Search*>(lParam);
                DWORD owner = 0;
                GetWindowThreadProcessId(hwnd, &owner);
                char cls[32] = {};
                GetClassNameA(hwnd, cls, sizeof(cls));
                if (owner == s->pid && IsWindowVisible(hwnd) && std::string(cls) == "#32770") {
                    s->found = hwnd;
                    return FALSE;
                }
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&search));
        if (search.found) return search.found;
        Sleep(100);
    }
    return nullptr;
}

// Read through the Unicode functions: the test also runs on a Windows whose ANSI code page is
// not 1251, where the "A" functions would turn the Russian texts into "?".
std::string WindowText(HWND hwnd) {
    return GetWindowText1251(hwnd);
}

// A message box's text: its static control that is not the icon.
std::string MessageBoxText(HWND box) {
    std::string text;
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        char cls[32] = {};
        GetClassNameA(child, cls, sizeof(cls));
        const std::string t = WindowText(child);
        if (std::string(cls) == "Static" && !t.empty()) text = t;
    }
    return text;
}

struct StartupCase {
    const char* name;
    bool withIni;
    std::string ini;
    std::string caption;
    std::string text;  // a message box's text; empty for the assistant
    WPARAM closeWith;
};

class Startup : public ::testing::TestWithParam<StartupCase> {};

TEST_P(Startup, ShowsItsWindowAndRemovesTheCalibrationFileOnExit) {
    const StartupCase& c = GetParam();
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    const std::string folder = std::string(temp) + "plcflash_startup_" +
                               std::to_string(GetCurrentProcessId()) + "_" + c.name;
    CreateDirectoryA(folder.c_str(), nullptr);
    CreateDirectoryA((folder + "\\data").c_str(), nullptr);
    const std::string exe = folder + "\\plcflash.exe";
    ASSERT_TRUE(CopyFileA(PlcflashExe().c_str(), exe.c_str(), FALSE)) << PlcflashExe();
    const std::string calib = folder + "\\data\\calib.inc";
    WriteBytesTo(calib, "calibration");
    if (c.withIni) WriteBytesTo(folder + "\\plc.ini", c.ini);

    // Started from elsewhere: the program must find plc.ini in its own folder.
    STARTUPINFOA si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    std::string cmd = "\"" + exe + "\"";
    ASSERT_TRUE(
        CreateProcessA(exe.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, temp, &si, &pi));
    HWND dialog = FindDialogOf(pi.dwProcessId);
    ASSERT_NE(dialog, nullptr) << c.name;
    EXPECT_EQ(WindowText(dialog), c.caption) << c.name;
    if (!c.text.empty()) {
        EXPECT_EQ(MessageBoxText(dialog), c.text) << c.name;
    }
    PostMessageA(dialog, WM_COMMAND, c.closeWith, 0);
    ASSERT_EQ(WaitForSingleObject(pi.hProcess, 30000), WAIT_OBJECT_0) << c.name;
    DWORD code = 1;
    GetExitCodeProcess(pi.hProcess, &code);
    EXPECT_EQ(code, 0u);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    EXPECT_FALSE(Exists(calib)) << c.name;

    DeleteFileA((folder + "\\plc.ini").c_str());
    DeleteFileA(exe.c_str());
    RemoveDirectoryA((folder + "\\data").c_str());
    RemoveDirectoryA(folder.c_str());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Startup,
    ::testing::Values(
        StartupCase{"missing_ini", false, "", "plcflash", "Невозможно открыть файл plc.ini", IDOK},
        StartupCase{"ini", true, "Device = PLC-317 \r\nVersion= 2.5\r\nextra=1\r\n",
                    "Программа смены прошивки PLC-317 на версию 2.5", "", IDCANCEL},
        StartupCase{"empty_ini", true, "", "Программа смены прошивки  на версию ", "", IDCANCEL}),
    [](const ::testing::TestParamInfo<StartupCase>& param) { return param.param.name; });

}  // namespace
