// The Win32 side of the framework layer: what the workers and the start-up rely on.
#include <gtest/gtest.h>
#include <windows.h>

#include "framework/file.h"
#include "framework/sync.h"
#include "framework/thread.h"

namespace {

TEST(Win32Event, AutoResetEventIsConsumedByOneWait) {
    CEvent stop(false, false);
    EXPECT_FALSE(stop.Wait(0));
    stop.SetEvent();
    EXPECT_TRUE(stop.Wait(0));
    EXPECT_FALSE(stop.Wait(0));  // a stop request is seen once
    stop.SetEvent();
    stop.ResetEvent();
    EXPECT_FALSE(stop.Wait(0));
}

TEST(Win32Thread, ExitCodeIsStillActiveUntilTheThreadEnds) {
    CEvent go(true, false);
    NativeThread* t = StartNativeThread(
        [](void* arg) -> uint32_t {
            static_cast<CEvent*>(arg)->Wait(kWaitForever);
            return 42;
        },
        &go, nullptr);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(NativeThreadExitCode(t), kThreadStillActive);
    go.SetEvent();
    EXPECT_TRUE(WaitNativeThread(t, 10000));
    EXPECT_EQ(NativeThreadExitCode(t), 42u);
    ReleaseNativeThread(t);
}

TEST(Win32File, BackslashPathsRoundTripAndRemove) {
    char dir[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    std::string folder = std::string(dir) + "plcflash_file_test";
    CreateDirectoryA(folder.c_str(), nullptr);
    const std::string path = folder + "\\calib.inc";
    {
        CFile out;
        ASSERT_TRUE(out.Open(path, CFile::modeWrite | CFile::modeCreate));
        ASSERT_TRUE(out.Write("\x00\x1a\xff", 3));
    }
    CFile in;
    ASSERT_TRUE(in.Open(path, CFile::modeRead));
    EXPECT_EQ(in.GetLength(), 3u);
    char buffer[8];
    EXPECT_EQ(in.Read(buffer, sizeof(buffer)), 3u);
    EXPECT_EQ(std::string(buffer, 3), std::string("\x00\x1a\xff", 3));
    EXPECT_EQ(in.Read(buffer, sizeof(buffer)), 0u);
    in.Close();
    EXPECT_TRUE(CFile::Exists(path));
    EXPECT_TRUE(CFile::Remove(path));
    EXPECT_FALSE(CFile::Exists(path));
    EXPECT_FALSE(in.Open(path, CFile::modeRead));
    RemoveDirectoryA(folder.c_str());
}

}  // namespace
