// The whole reflashing run under Windows: the engine on its own thread, through Wine's COM
// driver, against plcsim's boot loader and file service (scripts/wine-tests.sh maps it as the
// port in PLCSIM_FLASH_PORT and names its folders).
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <string>

#include "fakes.h"
#include "flash/math_thread.h"
#include "test_files.h"

namespace {

TEST(Win32FlashingRun, GoodRunThroughAComPort) {
    const std::string port = EnvText("PLCSIM_FLASH_PORT");
    const std::string sample = EnvText("PLCFLASH_SAMPLE");
    const std::string stored = EnvText("PLCSIM_FLASH_FILES");
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
