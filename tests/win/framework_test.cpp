// The Win32 side of the framework layer: what the workers and the start-up rely on.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <vector>

#include "framework/file.h"
#include "framework/find.h"
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

TEST(Win32FileFind, ListsFilesHiddenOnesTooAndMarksFoldersAndDots) {
    char dir[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    const std::string folder = std::string(dir) + "plcflash_find_test";
    CreateDirectoryA(folder.c_str(), nullptr);
    CreateDirectoryA((folder + "\\sub").c_str(), nullptr);
    for (const char* name : {"a.bin", "no_dot", "local_addres.dat", "hidden.txt"}) {
        CFile f;
        ASSERT_TRUE(f.Open(folder + "\\" + name, CFile::modeWrite | CFile::modeCreate));
    }
    SetFileAttributesA((folder + "\\hidden.txt").c_str(), FILE_ATTRIBUTE_HIDDEN);
    CFileFind finder;
    ASSERT_TRUE(finder.FindFile(folder + "\\*.*"));
    std::vector<std::string> files, folders;
    while (finder.FindNextFile()) {
        if (finder.IsDots()) continue;
        (finder.IsDirectory() ? folders : files).push_back(finder.GetFileName());
    }
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files,
              (std::vector<std::string>{"a.bin", "hidden.txt", "local_addres.dat", "no_dot"}));
    EXPECT_EQ(folders, std::vector<std::string>{"sub"});
    finder.Close();
    for (const char* name : {"a.bin", "no_dot", "local_addres.dat", "hidden.txt"}) {
        SetFileAttributesA((folder + "\\" + name).c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA((folder + "\\" + name).c_str());
    }
    RemoveDirectoryA((folder + "\\sub").c_str());
    RemoveDirectoryA(folder.c_str());
    EXPECT_FALSE(finder.FindFile(folder + "\\*.*"));
}

}  // namespace
