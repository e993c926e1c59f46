// The whole reflashing run under Windows: the engine on its own thread, through Wine's COM
// driver, against plcsim's boot loader and file service (scripts/wine-tests.sh maps it as the
// port in PLCSIM_FLASH_PORT and names its folders).
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <string>

#include "fakes.h"
#include "flash/math_thread.h"
#include "framework/find.h"

namespace {

std::string Env(const char* name) {
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

void CopyFolder(const std::string& from, const std::string& to) {
    CreateDirectoryA(to.c_str(), nullptr);
    CFileFind finder;
    ASSERT_TRUE(finder.FindFile(from + "\\*.*")) << from;
    while (finder.FindNextFile()) {
        if (finder.IsDots() || finder.IsDirectory()) continue;
        ASSERT_TRUE(CopyFileA((from + "\\" + finder.GetFileName()).c_str(),
                              (to + "\\" + finder.GetFileName()).c_str(), FALSE));
    }
}

TEST(Win32FlashingRun, GoodRunThroughAComPort) {
    const std::string port = Env("PLCSIM_FLASH_PORT");
    const std::string sample = Env("PLCFLASH_SAMPLE");
    const std::string stored = Env("PLCSIM_FLASH_FILES");
    ASSERT_FALSE(port.empty() || sample.empty() || stored.empty())
        << "run under scripts/wine-tests.sh";
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    const std::string work = std::string(temp) + "plcflash_run";
    CreateDirectoryA(work.c_str(), nullptr);
    CopyFolder(sample + "\\system", work + "\\system");
    CopyFolder(sample + "\\data", work + "\\data");
    char previous[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryA(work.c_str()));

    RecordingUi ui;
    ui.port = port;
    CMathThread engine(ui);
    engine.SetDevice("ПЛК-317");
    ASSERT_TRUE(engine.StartThread());
    ASSERT_TRUE(engine.WaitThread(180000));
    SetCurrentDirectoryA(previous);

    ASSERT_EQ(ui.results, std::vector<int>{ResultDone});
    EXPECT_EQ(ui.messages.size(), 3u);
    for (const char* name : {"local_addres.dat", "settings.ini", "program.bin"}) {
        EXPECT_EQ(ReadAll(stored + "\\" + name), ReadAll(work + "\\data\\" + name)) << name;
    }
}

}  // namespace
