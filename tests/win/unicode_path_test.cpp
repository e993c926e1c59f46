// plcflash.exe installed in a folder whose name the ANSI code page cannot write (Cyrillic on
// an English Windows, "Ω" on any but a Greek one): it must still start there, read plc.ini,
// show its side picture from the folder and clean up on exit.
#include <gtest/gtest.h>
#include <windows.h>

#include <ostream>
#include <string>
#include <vector>

#include "framework/file.h"
#include "framework/text.h"
#include "identity/backup.h"
#include "res/resource.h"
#include "test_files.h"
#include "ui_probe.h"

namespace {

constexpr COLORREF kPictureColour = RGB(255, 0, 255);
constexpr int kPictureSide = 32;

// A BMP file of one colour, 24 bits a pixel.
std::string SolidBitmap(COLORREF colour) {
    const DWORD stride = (kPictureSide * 3 + 3) & ~3u;
    const DWORD pixels = stride * kPictureSide;
    BITMAPFILEHEADER file{0x4D42, sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER) + pixels, 0,
                          0, sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER)};
    BITMAPINFOHEADER info{
        sizeof(BITMAPINFOHEADER), kPictureSide, kPictureSide, 1, 24, BI_RGB, pixels, 0, 0, 0, 0};
    std::string bytes(reinterpret_cast<const char*>(&file), sizeof(file));
    bytes.append(reinterpret_cast<const char*>(&info), sizeof(info));
    std::string row;
    for (int x = 0; x < kPictureSide; ++x) {
        row += static_cast<char>(GetBValue(colour));
        row += static_cast<char>(GetGValue(colour));
        row += static_cast<char>(GetRValue(colour));
    }
    row.resize(stride, '\0');
    for (int y = 0; y < kPictureSide; ++y) bytes += row;
    return bytes;
}

bool WriteWide(const std::wstring& path, const std::string& bytes) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD put = 0;
    const BOOL ok = WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr);
    CloseHandle(h);
    return ok && put == bytes.size();
}

bool ExistsWide(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::wstring PlcflashExe() {
    const std::string fromEnv = EnvText("PLCFLASH_EXE");
    if (!fromEnv.empty()) return Widen1251(fromEnv);
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    const std::wstring path = self;
    return path.substr(0, path.find_last_of(L'\\') + 1) + L"..\\..\\" PLCFLASH_EXE_NAME;
}

bool IsDialog(HWND hwnd) {
    wchar_t cls[16] = {};
    GetClassNameW(hwnd, cls, 16);
    return std::wstring(cls) == L"#32770";
}

// The shown page's side picture: the visible IDC_PICTURE anywhere below the assistant.
HWND ShownSidePicture(HWND assistant) {
    HWND found = nullptr;
    EnumChildWindows(
        assistant,
        [](HWND child, LPARAM lParam) -> BOOL {
            if (GetDlgCtrlID(child) != IDC_PICTURE || !IsWindowVisible(child)) return TRUE;
            *reinterpret_cast<HWND*>(lParam) = child;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

bool NearlyEqual(COLORREF a, COLORREF b) {
    auto within = [](int x, int y) { return x - y < 16 && y - x < 16; };
    return within(GetRValue(a), GetRValue(b)) && within(GetGValue(a), GetGValue(b)) &&
           within(GetBValue(a), GetBValue(b));
}

// The colour on the screen inside `control`, once it shows `expected` (waited for at most 5 s
// for the window to be drawn), else the last colour seen.
COLORREF ColourShownIn(HWND control, COLORREF expected) {
    COLORREF seen = CLR_INVALID;
    for (int attempt = 0; attempt < 50 && !NearlyEqual(seen, expected); ++attempt) {
        if (attempt) Sleep(100);
        RECT r{};
        GetWindowRect(control, &r);
        HDC screen = GetDC(nullptr);
        seen = GetPixel(screen, r.left + kPictureSide / 2, r.top + kPictureSide / 2);
        ReleaseDC(nullptr, screen);
    }
    return seen;
}

// A started plcflash.exe, ended by force if a failed check leaves it running.
struct Started {
    PROCESS_INFORMATION pi{};
    ~Started() {
        if (!pi.hProcess) return;
        if (WaitForSingleObject(pi.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(pi.hProcess, 1);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
};

struct FolderCase {
    const char* name;
    const wchar_t* folder;
};

void PrintTo(const FolderCase& c, std::ostream* out) {
    *out << c.name;
}

class UnicodeFolder : public ::testing::TestWithParam<FolderCase> {
  protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        m_folder = std::wstring(temp) + GetParam().folder + L" " +
                   std::to_wstring(GetCurrentProcessId()) + L"\\";
        CreateDirectoryW(m_folder.c_str(), nullptr);
        CreateDirectoryW((m_folder + L"data").c_str(), nullptr);
    }
    void TearDown() override {
        for (const wchar_t* file :
             {L"plcflash.exe", L"plc.ini", L"dlgs14.bmp", L"data\\calib.inc"}) {
            DeleteFileW((m_folder + file).c_str());
        }
        RemoveDirectoryW((m_folder + L"data").c_str());
        RemoveDirectoryW(m_folder.c_str());
    }

    std::wstring m_folder;
};

TEST_P(UnicodeFolder, TheProgramStartsInItAndShowsItsSidePicture) {
    const std::wstring exe = m_folder + L"plcflash.exe";
    ASSERT_TRUE(CopyFileW(PlcflashExe().c_str(), exe.c_str(), FALSE)) << GetLastError();
    ASSERT_TRUE(WriteWide(m_folder + L"plc.ini", "Device = ПЛК-317\r\nVersion = 3.2.1\r\n"));
    ASSERT_TRUE(WriteWide(m_folder + L"dlgs14.bmp", SolidBitmap(kPictureColour)));
    ASSERT_TRUE(WriteWide(m_folder + L"data\\calib.inc", "calibration"));

    // Started from elsewhere: plc.ini is found only if the program entered its own folder.
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    Started started;
    std::wstring cmd = L"\"" + exe + L"\"";
    ASSERT_TRUE(CreateProcessW(exe.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, temp, &si,
                               &started.pi));
    WaitForInputIdle(started.pi.hProcess, 30000);
    HWND dialog = nullptr;
    for (int attempt = 0; attempt < 100 && !dialog; ++attempt) {
        if (attempt) Sleep(100);
        dialog = FindTopWindow(started.pi.dwProcessId, &IsDialog);
    }
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(GetWindowText1251(dialog), "Программа смены прошивки ПЛК-317 на версию 3.2.1");
    const HWND side = ShownSidePicture(dialog);
    ASSERT_NE(side, nullptr);
    SetForegroundWindow(dialog);
    const COLORREF shown = ColourShownIn(side, kPictureColour);
    EXPECT_TRUE(NearlyEqual(shown, kPictureColour)) << std::hex << shown;

    PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    ASSERT_EQ(WaitForSingleObject(started.pi.hProcess, 30000), WAIT_OBJECT_0);
    DWORD code = 1;
    GetExitCodeProcess(started.pi.hProcess, &code);
    EXPECT_EQ(code, 0u);
    // Removed by a relative path: the current folder was still the program's at the end.
    EXPECT_FALSE(ExistsWide(m_folder + L"data\\calib.inc"));
}

INSTANTIATE_TEST_SUITE_P(Cases, UnicodeFolder,
                         ::testing::Values(FolderCase{"cyrillic", L"Прошивка ПЛК"},
                                           FolderCase{"outside_1251", L"Ωmega плк"}),
                         [](const ::testing::TestParamInfo<FolderCase>& param) {
                             return param.param.name;
                         });

// A user profile whose name the ANSI code page cannot write: the per-user storage of backups
// and the log still works, through the folder's short name.
TEST(UserStorage, AProfileNamedOutsideTheCodePage) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring profile =
        std::wstring(temp) + L"Ωmega " + std::to_wstring(GetCurrentProcessId());
    ASSERT_TRUE(CreateDirectoryW(profile.c_str(), nullptr));
    wchar_t saved[32768] = {};
    const DWORD had = GetEnvironmentVariableW(L"LOCALAPPDATA", saved, 32768);
    ASSERT_TRUE(SetEnvironmentVariableW(L"LOCALAPPDATA", profile.c_str()));
    const std::string folder = EnvironmentFolder("LOCALAPPDATA");
    EXPECT_FALSE(folder.empty());
    EXPECT_EQ(folder.find('?'), std::string::npos) << folder;
    std::string root;
    const std::vector<std::string> roots = {folder + "\\plcflash\\"};
    EXPECT_TRUE(ChooseStorageRoot(roots, &root));
    EXPECT_TRUE(CFile::WriteAll(root + "backup\\written.txt", "kept", true));
    WIN32_FILE_ATTRIBUTE_DATA data;
    EXPECT_TRUE(GetFileAttributesExW((profile + L"\\plcflash\\backup\\written.txt").c_str(),
                                     GetFileExInfoStandard, &data));
    SetEnvironmentVariableW(L"LOCALAPPDATA", had ? saved : nullptr);
    DeleteFileW((profile + L"\\plcflash\\backup\\written.txt").c_str());
    RemoveDirectoryW((profile + L"\\plcflash\\backup").c_str());
    RemoveDirectoryW((profile + L"\\plcflash").c_str());
    RemoveDirectoryW(profile.c_str());
}

}  // namespace
