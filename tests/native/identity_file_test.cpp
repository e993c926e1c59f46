// The identity file: what the program reads from it, what it writes, and that a write never
// loses what the user typed.
#include <gtest/gtest.h>

#include <fstream>

#include "child_process.h"
#include "identity/identity_file.h"

namespace {

const MacFields kUntouched = {"u1", "u2", "u3", "u4", "u5", "u6"};
const MacFields kSample = {"00", "1A", "2B", "3C", "4D", "5E"};

struct ParseCase {
    const char* name;
    std::string content;
    bool withMac;
    bool accepted;
    MacFields mac;
    uint32_t ip;
};

TEST(IdentityFile, ReadsAsTheProgramAlwaysHas) {
    const uint32_t kUnset = 0x01020304;
    const ParseCase cases[] = {
        {"the program's own file", "EMAC=00:1A:2B:3C:4D:5E\r\nIP=C0:A8:01:0A\r\n", true, true,
         kSample, 0xC0A8010A},
        {"without the MAC only the IP changes", "EMAC=00:1A:2B:3C:4D:5E\r\nIP=C0:A8:01:0A\r\n",
         false, true, kUntouched, 0xC0A8010A},
        {"IP without separators", "EMAC=00:1A:2B:3C:4D:5E\nIP=C0A8010A\n", true, true, kSample,
         0xC0A8010A},
        {"lower-case IP", "EMAC=00:1A:2B:3C:4D:5E\nIP=c0:a8:01:0a\n", true, true, kSample,
         0xC0A8010A},
        {"17-character line 1 is refused", "EMAC=001A2B3C4D5E\nIP=C0:A8:01:0A\n", true, false,
         kUntouched, kUnset},
        {"any key and separators", "XXXXX00-1A-2B-3C-4D-5E\nIP=C0:A8:01:0A\n", true, true, kSample,
         0xC0A8010A},
        {"a non-hex IP gives 0.0.0.0", "EMAC=00:1A:2B:3C:4D:5E\nIP=C0:A8:0G:0A\n", true, true,
         kSample, 0},
        {"an empty file without the MAC is 0.0.0.0", "", false, true, kUntouched, 0},
        {"an empty file with the MAC is refused", "", true, false, kUntouched, kUnset},
        {"no second word: the first serves", "IP=0A000001", false, true, kUntouched, 0x0A000001},
        {"more than eight digits shift out", "E\nIP=12:34:56:78:9A\n", false, true, kUntouched,
         0x3456789A},
        {"a 23-character line 1 (three-digit field) is refused",
         "EMAC=00:1A:2B:3C:4D:5EF\nIP=C0:A8:01:0A\n", true, false, kUntouched, kUnset},
    };
    for (const auto& c : cases) {
        IdentityReading r;
        r.mac = kUntouched;
        r.ip = kUnset;
        EXPECT_EQ(ParseIdentity(c.content, c.withMac, &r), c.accepted) << c.name;
        EXPECT_EQ(r.mac, c.mac) << c.name;
        EXPECT_EQ(r.ip, c.ip) << c.name;
    }
}

TEST(IdentityFile, IpForTheFile) {
    const std::pair<const char*, const char*> cases[] = {
        {"192.168.1.10", "C0:A8:01:0A"},
        {"7.0.0.255", "07:00:00:FF"},
        {"10.1.2.3", "0A:01:02:03"},
        {"", "00:00:00:00"},
    };
    for (const auto& [dotted, hex] : cases) EXPECT_EQ(FormatIpForFile(dotted), hex) << dotted;
    EXPECT_EQ(DottedIp(0xC0A8010A), "192.168.1.10");
}

class IdentitySave : public ::testing::Test {
  protected:
    WorkFolder m_folder{"identity_save", "data"};
};

// The file a run writes never carries another file's tail: only the controller's own reading
// lends its bytes after the two lines.
TEST_F(IdentitySave, TheTwoLinesOverTheControllersOwnFileOnly) {
    const MacFields mac = {"a", "1A", "2B", "3C", "4D", "5E"};
    const std::string lines = "EMAC=0a:1A:2B:3C:4D:5E\r\nIP=07:A8:01:FF\r\n";
    const std::string tail(20, '#');
    struct Case {
        const char* name;
        std::string own;  // this controller's file as read; "" not read
        std::string written;
    };
    const Case cases[] = {
        {"not read", "", lines},
        {"read, with more after the lines", std::string(40, '-') + tail, lines + tail},
        {"read, shorter than the lines", "EMAC=00:00:00:00:00:00\r\n", lines},
    };
    for (const Case& c : cases) {
        // What another controller's reading left in data\ goes entirely.
        std::ofstream("data/local_addres.dat", std::ios::binary) << std::string(60, '*');
        ASSERT_TRUE(SaveIdentityFile(kIdentityFile, ComposeIdentityOver(c.own, mac, "7.168.1.255")))
            << c.name;
        EXPECT_EQ(ReadWholeFile("data/local_addres.dat"), c.written) << c.name;
    }
}

TEST_F(IdentitySave, AMissingFileAndFolderAreCreatedAndReadBack) {
    ASSERT_EQ(system("rm -rf data"), 0);
    ASSERT_TRUE(SaveIdentityFile(kIdentityFile, ComposeIdentity(kSample, "192.168.1.10")));
    IdentityReading r;
    ASSERT_TRUE(LoadIdentityFile(kIdentityFile, true, &r));
    EXPECT_EQ(r.mac, kSample);
    EXPECT_EQ(r.ip, 0xC0A8010Au);
}

TEST_F(IdentitySave, AFileThatCannotBeWrittenIsReported) {
    // A plain file where the folder should be: nothing can make data\local_addres.dat.
    ASSERT_EQ(system("rm -rf data && touch data"), 0);
    EXPECT_FALSE(SaveIdentityFile(kIdentityFile, ComposeIdentity(kSample, "192.168.1.10")));
    IdentityReading r;
    EXPECT_FALSE(LoadIdentityFile(kIdentityFile, false, &r));
}

}  // namespace
