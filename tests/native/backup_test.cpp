// The controller files kept beside the program, the image check value and the run log's file.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "flash/crc32.h"
#include "flash/log_file.h"
#include "framework/file.h"
#include "framework/find.h"
#include "identity/backup.h"
#include "temp_path.h"

namespace {

const char kMissing[] = "<missing>";

void WriteFile(const std::string& path, const std::string& content) {
    CFile file;
    ASSERT_TRUE(file.Open(path, CFile::modeWrite | CFile::modeCreate)) << path;
    if (!content.empty()) file.Write(content.data(), static_cast<uint32_t>(content.size()));
}

std::string ReadFile(const std::string& path) {
    CFile file;
    if (!file.Open(path, CFile::modeRead)) return kMissing;
    std::string content(static_cast<size_t>(file.GetLength()), '\0');
    content.resize(file.Read(&content[0], static_cast<uint32_t>(content.size())));
    return content;
}

std::vector<std::string> Entries(const std::string& folder) {
    std::vector<std::string> names;
    CFileFind find;
    if (find.FindFile(folder + "\\*.*"))
        while (find.FindNextFile())
            if (!find.IsDots()) names.push_back(find.GetFileName());
    std::sort(names.begin(), names.end());
    return names;
}

// A fresh folder for each test, left behind for a look after a failure.
class TempFolder : public ::testing::Test {
  protected:
    void SetUp() override {
        m_base = UniqueTempPath(::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(m_base);
        ASSERT_TRUE(std::filesystem::create_directories(m_base));
        m_base += "\\";
    }
    std::string m_base;
};

const std::vector<BackupFile> kReading = {{"local_addres.dat", "EMAC=00:1A:2B:3C:4D:5E\r\n"},
                                          {"calib.inc", "K1 1.0025\r\nK2 0.9987\r\n"}};
const char kStamp[] = "20261208-130501";

}  // namespace

TEST(Backup, MacKey) {
    const std::pair<MacFields, const char*> cases[] = {
        {{"00", "1a", "2B", "3C", "4D", "5e"}, "001A2B3C4D5E"},
        {{"0", "a", "2B", "3C", "4D", "F"}, "000A2B3C4D0F"},
        {{"00", "", "2B", "3C", "4D", "5E"}, ""},
        {{"00", "123", "2B", "3C", "4D", "5E"}, ""},
        {{"00", "g1", "2B", "3C", "4D", "5E"}, ""},
    };
    for (const auto& [mac, key] : cases) EXPECT_EQ(MacKey(mac), key) << key;
}

TEST(Backup, StampsForFoldersAndForTheUser) {
    std::tm local{};
    local.tm_year = 2026 - 1900, local.tm_mon = 11, local.tm_mday = 8;
    local.tm_hour = 13, local.tm_min = 5, local.tm_sec = 1, local.tm_isdst = -1;
    EXPECT_EQ(BackupStamp(std::mktime(&local)), "20261208-130501");

    const std::pair<const char*, const char*> cases[] = {
        {"20261208-130501", "08.12.2026 13:05:01"},
        {"20261208-130501-2", "08.12.2026 13:05:01"},
        {"20261208-130501-10", "08.12.2026 13:05:01"},
        {"~20261208-130501.tmp", "~20261208-130501.tmp"},
        {"2026128-130501", "2026128-130501"},
    };
    for (const auto& [stamp, shown] : cases) EXPECT_EQ(StampForUser(stamp), shown) << stamp;
}

using BackupStore = TempFolder;

TEST_F(BackupStore, ANewFolderOnlyForADifferentReading) {
    struct Case {
        const char* name;
        std::vector<BackupFile> files;
        bool kept;  // the first folder answers
    };
    const Case cases[] = {
        {"the same files", kReading, true},
        {"the same files listed the other way round", {kReading[1], kReading[0]}, true},
        {"one byte differs", {kReading[0], {"calib.inc", "K1 1.0025\r\nK2 0.9988\r\n"}}, false},
        {"one file more", {kReading[0], kReading[1], {"extra.inc", "x"}}, false},
        {"one file fewer", {kReading[0]}, false},
        {"a file under another name", {kReading[0], {"calib.bak", kReading[1].content}}, false},
    };
    CBackupStore store(m_base);
    int row = 0;
    for (const auto& c : cases) {
        const std::string mac = "0000000000" + std::to_string(10 + row++);
        const std::string first = store.Save(mac, kReading, kStamp);
        EXPECT_EQ(first, m_base + "backup\\" + mac + "\\" + kStamp + "\\") << c.name;
        const std::string second = store.Save(mac, c.files, "20261208-140000");
        EXPECT_EQ(second, c.kept ? first : m_base + "backup\\" + mac + "\\20261208-140000\\")
            << c.name;
        EXPECT_EQ(store.Latest(mac), second) << c.name;
    }
}

TEST_F(BackupStore, ATakenStampGetsASuffixAndNothingIsOverwritten) {
    CBackupStore store(m_base);
    const std::vector<BackupFile> other = {{"calib.inc", "other"}};
    EXPECT_EQ(CBackupStore::StampOf(store.Save("001A2B3C4D5E", kReading, kStamp)), kStamp);
    EXPECT_EQ(CBackupStore::StampOf(store.Save("001A2B3C4D5E", other, kStamp)),
              "20261208-130501-2");
    EXPECT_EQ(CBackupStore::StampOf(store.Save("001A2B3C4D5E", kReading, kStamp)),
              "20261208-130501-3");
    const std::string folder = m_base + "backup\\001A2B3C4D5E";
    EXPECT_EQ(Entries(folder),
              (std::vector<std::string>{kStamp, "20261208-130501-2", "20261208-130501-3"}));
    EXPECT_EQ(ReadFile(folder + "\\" + kStamp + "\\calib.inc"), kReading[1].content);
    EXPECT_EQ(ReadFile(folder + "\\20261208-130501-2\\calib.inc"), "other");
}

TEST_F(BackupStore, AFailedSaveLeavesNothingBehind) {
    CBackupStore store(m_base);
    const std::string kept = store.Save("001A2B3C4D5E", kReading, "20261207-000000");
    const std::vector<BackupFile> unwritable = {{"calib.inc", "new"}, {"no\\such.inc", "x"}};
    EXPECT_EQ(store.Save("001A2B3C4D5E", unwritable, kStamp), "");
    EXPECT_EQ(Entries(m_base + "backup\\001A2B3C4D5E"),
              std::vector<std::string>{"20261207-000000"});
    EXPECT_EQ(store.Latest("001A2B3C4D5E"), kept);
}

TEST_F(BackupStore, LatestIsTheGreatestStamp) {
    struct Case {
        const char* name;
        std::vector<std::string> folders;
        const char* latest;
    };
    const Case cases[] = {
        {"a later second beats any suffix",
         {"20261208-130501-10", "20261208-130502"},
         "20261208-130502"},
        {"-2 after the stamp itself", {"20261208-130501-2", kStamp}, "20261208-130501-2"},
        {"-10 after -9", {"20261208-130501-9", "20261208-130501-10"}, "20261208-130501-10"},
        {"names that are no stamps",
         {kStamp, "~20261209-000000.tmp", "20261209-00000", "20261209-000000-",
          "20261209-000000-01", "20261209-000000-x", "20261209-000000x", "old"},
         kStamp},
        {"nothing kept", {}, ""},
    };
    CBackupStore store(m_base);
    CFile::MakeFolder(m_base + "backup");
    int row = 0;
    for (const auto& c : cases) {
        const std::string mac = "0000000000" + std::to_string(10 + row++);
        const std::string folder = m_base + "backup\\" + mac + "\\";
        CFile::MakeFolder(folder);
        for (const auto& name : c.folders) CFile::MakeFolder(folder + name);
        WriteFile(folder + "20991231-235959", "a file, not a backup");
        EXPECT_EQ(CBackupStore::StampOf(store.Latest(mac)), c.latest) << c.name;
    }
}

// A calibration copy left empty (a power cut before copies were flushed) is never restored:
// the latest copy holding the file whole is.
TEST_F(BackupStore, AnEmptyCopyIsNoCopy) {
    CBackupStore store(m_base);
    const std::string mac = "001A2B3C4D5E";
    ASSERT_FALSE(store.Save(mac, {{"calib.inc", "whole"}}, "20261208-130501").empty());
    ASSERT_FALSE(store.Save(mac, {{"calib.inc", ""}}, "20261208-130502").empty());
    EXPECT_EQ(CBackupStore::StampOf(store.Latest(mac)), "20261208-130502");
    EXPECT_EQ(CBackupStore::StampOf(store.Latest(mac, "calib.inc")), "20261208-130501");
}

TEST_F(BackupStore, FindOwnerLooksAtEachMacsLatestFolder) {
    CBackupStore store(m_base);
    store.Save("001A2B3C4D5E", {{"calib.inc", "older"}}, "20261207-000000");
    store.Save("001A2B3C4D5E", {{"calib.inc", "latest"}}, kStamp);
    store.Save("00AA00BB00CC", {{"calib.inc", "another"}}, kStamp);
    const std::pair<const char*, const char*> cases[] = {
        {"latest", "001A2B3C4D5E"},
        {"another", "00AA00BB00CC"},
        {"older", ""},
        {"the user's own", ""},
    };
    for (const auto& [content, owner] : cases)
        EXPECT_EQ(store.FindOwner("calib.inc", content), owner) << content;
    EXPECT_EQ(store.FindOwner("local_addres.dat", "latest"), "");
}

using StorageRoot = TempFolder;

TEST_F(StorageRoot, TheFirstWritableRootIsChosen) {
    WriteFile(m_base + "file", "");
    CFile::MakeFolder(m_base + "blocked");
    WriteFile(m_base + "blocked\\backup", "");
    const std::string good = m_base + "good\\";
    const std::string fresh = m_base + "new\\deeper\\";
    struct Case {
        const char* name;
        std::vector<std::string> roots;
        std::string chosen;
    };
    const Case cases[] = {
        {"\"backup\" is a file", {m_base + "blocked\\", good}, good},
        {"a root under a file", {m_base + "file\\sub\\", good}, good},
        {"a missing root with its parents", {fresh, good}, fresh},
        {"none writable", {m_base + "blocked\\", m_base + "file\\"}, "untouched"},
    };
    for (const auto& c : cases) {
        std::string chosen = "untouched";
        EXPECT_EQ(ChooseStorageRoot(c.roots, &chosen), c.chosen != "untouched") << c.name;
        EXPECT_EQ(chosen, c.chosen) << c.name;
        if (chosen != "untouched") {
            EXPECT_TRUE(Entries(chosen + "backup").empty()) << c.name << ": the probe is left";
        }
    }
}

TEST(Crc32, Vectors) {
    const std::pair<std::string, const char*> cases[] = {
        {"", "00000000"},
        {"123456789", "CBF43926"},
        {"a", "E8B7BE43"},
        {std::string("\0\0\0\0", 4), "2144DF1C"},
    };
    for (const auto& [data, crc] : cases)
        EXPECT_EQ(Crc32Text(Crc32(data.data(), data.size())), crc) << crc;
    for (size_t split = 0; split <= 9; ++split) {
        CCrc32 crc;
        crc.Update("123456789", split);
        crc.Update("123456789" + split, 9 - split);
        EXPECT_EQ(crc.Value(), 0xCBF43926u) << split;
    }
}

TEST(LogFile, Cp1251ToUtf8) {
    const std::pair<std::string, std::string> cases[] = {
        {"ПЛК-317", "\xD0\x9F\xD0\x9B\xD0\x9A-317"},
        {"COM3 115200\r\n", "COM3 115200\r\n"},
        {"ё", "\xD1\x91"},
        {"Ё", "\xD0\x81"},
        {"я", "\xD1\x8F"},
        {"№", "\xE2\x84\x96"},
        {"\x98", "\xEF\xBF\xBD"},
    };
    for (const auto& [text, utf8] : cases) EXPECT_EQ(Cp1251ToUtf8(text), utf8) << utf8;
}

using LogRollOver = TempFolder;

TEST_F(LogRollOver, AppendBounded) {
    struct Case {
        const char* name;
        const char* before;  // kMissing: no file
        const char* olderBefore;
        const char* text;
        uint64_t max;
        const char* after;
        const char* olderAfter;
    };
    const Case cases[] = {
        {"created", kMissing, kMissing, "abc", 8, "abc", kMissing},
        {"appended", "abc", kMissing, "def", 8, "abcdef", kMissing},
        {"exactly the bound", "abcd", kMissing, "efgh", 8, "abcdefgh", kMissing},
        {"one byte over rolls over", "abcd", kMissing, "efghi", 8, "efghi", "abcd"},
        {"the older file is replaced", "abcd", "old", "efghi", 8, "efghi", "abcd"},
        {"a first block over the bound", "", kMissing, "0123456789", 4, "0123456789", kMissing},
    };
    int row = 0;
    for (const auto& c : cases) {
        const std::string path = m_base + std::to_string(row++) + ".log";
        const std::string older = path + ".old";
        if (c.before != std::string(kMissing)) WriteFile(path, c.before);
        if (c.olderBefore != std::string(kMissing)) WriteFile(older, c.olderBefore);
        EXPECT_TRUE(AppendBounded(path, older, c.text, c.max)) << c.name;
        EXPECT_EQ(ReadFile(path), c.after) << c.name;
        EXPECT_EQ(ReadFile(older), c.olderAfter) << c.name;
    }
    WriteFile(m_base + "file", "");
    EXPECT_FALSE(AppendBounded(m_base + "file\\run.log", m_base + "run.old", "text", 8));
}
