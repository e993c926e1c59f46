// The images' SHA-256 from the system's hash and their check against system\SHA256SUMS before a
// run sends anything. Platform-free: run natively and under Wine against CNG.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "fakes.h"
#include "flash/crc32.h"
#include "flash/image_check.h"
#include "flash/math_thread.h"
#include "framework/file.h"
#include "framework/sha256.h"
#include "temp_path.h"

namespace {

namespace fs = std::filesystem;

TEST(Sha256, KnownAnswersFedInUnevenPieces) {
    struct Case {
        std::string input;
        std::string digest;
    };
    const Case cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        // 56 bytes: the length no longer fits the first block's padding.
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    // Pieces that straddle the 64-byte blocks every way, as a file read in chunks does.
    const size_t pieces[] = {1, 63, 64, 65, 127, 4097, 3};
    for (const Case& c : cases) {
        std::string whole;
        ASSERT_TRUE(Sha256Hex(c.input.data(), c.input.size(), &whole));
        EXPECT_EQ(whole, c.digest) << c.input.size() << " bytes in one call";
        CSha256 hash;
        for (size_t at = 0, i = 0; at < c.input.size(); at += pieces[i++ % 7]) {
            hash.Update(c.input.data() + at, std::min(pieces[i % 7], c.input.size() - at));
        }
        std::string pieced;
        ASSERT_TRUE(hash.Finish(&pieced));
        EXPECT_EQ(pieced, c.digest) << c.input.size() << " bytes in pieces";
        // A finished hash has no digest left to give: never a second, made-up one.
        std::string again = "untouched";
        EXPECT_FALSE(hash.Finish(&again));
        EXPECT_EQ(again, "untouched");
    }
}

TEST(Sha256Sums, ParsesSha256sumOutput) {
    const std::string a(64, 'a'), b = std::string(32, '0') + std::string(32, 'f');
    struct Case {
        const char* name;
        std::string text;
        std::vector<std::string> entries;  // "name=sum"
    };
    const Case cases[] = {
        {"text mode, LF",
         a + "  Floader.bin\n" + b + "  system/Ethernet.bin\n",
         {"Floader.bin=" + a, "system/Ethernet.bin=" + b}},
        {"binary mode, CR LF, upper-case digits, no final line end",
         "AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA *Floader.bin\r\n" + b +
             " *system\\Ethernet.bin",
         {"Floader.bin=" + a, "system\\Ethernet.bin=" + b}},
        {"Notepad's byte order mark, a blank line and a comment",
         "\xEF\xBB\xBF" + a + "  Floader.bin\r\n\r\n# kit 1.1\r\n",
         {"Floader.bin=" + a}},
        {"sha256sum's escaped name",
         "\\" + a + "  system\\\\Floader.bin\n",
         {"system\\Floader.bin=" + a}},
        {"lines that are not sums",
         a.substr(1) + "  short.bin\n" + a + " one-space.bin\n" + a + "  \n" + "z" + a.substr(1) +
             "  not-hex.bin\n" + "\\" + a + "  bad\\escape\n",
         {}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> got;
        for (const PublishedSum& e : ParseSha256Sums(c.text))
            got.push_back(e.name + "=" + e.sha256);
        EXPECT_EQ(got, c.entries) << c.name;
    }
}

// A fresh installation folder made the current one, with the two images.
class ImageFolder : public ::testing::Test {
  protected:
    void SetUp() override {
        m_previous = fs::current_path();
        const fs::path folder =
            UniqueTempPath(::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder);
        ASSERT_TRUE(fs::create_directories(folder / "system"));
        fs::create_directories(folder / "data");
        fs::current_path(folder);
        ASSERT_TRUE(CFile::WriteAll(kLoaderImage, m_loader));
        ASSERT_TRUE(CFile::WriteAll(kKernelImage, m_kernel));
        ASSERT_TRUE(Sha256Hex(m_loader.data(), m_loader.size(), &m_loaderSum));
        ASSERT_TRUE(Sha256Hex(m_kernel.data(), m_kernel.size(), &m_kernelSum));
    }
    void TearDown() override { fs::current_path(m_previous); }

    fs::path m_previous;
    const std::string m_loader = std::string(1500, '\x55') + "loader";
    const std::string m_kernel = std::string(70000, '\x1a') + "kernel";
    std::string m_loaderSum, m_kernelSum;
};

std::string Upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

TEST_F(ImageFolder, ImagesAreCheckedAgainstSha256Sums) {
    const std::string wrong(64, '0');
    const std::string bothListed =
        m_loaderSum + "  system/Floader.bin\n" + m_kernelSum + "  Ethernet.bin\n";
    struct Case {
        const char* name;
        std::function<void()> arrange;  // on top of the two images
        bool good;
        bool listChecked;
        std::string path;
        FileFault fault;
        std::string expected, actual;  // "loader"/"kernel" for their real sums
    };
    const auto write = [](const std::string& text) {
        return [text] { ASSERT_TRUE(CFile::WriteAll(kImageSums, text)); };
    };
    const Case cases[] = {
        {"no SHA256SUMS: unchecked", [] {}, true, false, "", FileFault::None, "", ""},
        {"both match", write(bothListed), true, true, "", FileFault::None, "", ""},
        {"CR LF, \" *\", upper-case digits, names in another case, a backslash prefix",
         write(Upper(m_loaderSum) + " *SYSTEM\\floader.BIN\r\n" + Upper(m_kernelSum) +
               " *ethernet.bin\r\n"),
         true, true, "", FileFault::None, "", ""},
        {"kernel mismatches", write(m_loaderSum + "  Floader.bin\n" + wrong + "  Ethernet.bin\n"),
         false, false, kKernelImage, FileFault::SumMismatch, wrong, "kernel"},
        {"named twice, once wrongly", write(bothListed + m_loaderSum + "  Ethernet.bin\n"), false,
         false, kKernelImage, FileFault::SumMismatch, m_loaderSum, "kernel"},
        {"loader not listed", write(m_kernelSum + "  Ethernet.bin\n"), false, false, kLoaderImage,
         FileFault::NotInSums, "", "loader"},
        {"loader listed under another folder",
         write(m_loaderSum + "  old/Floader.bin\n" + m_kernelSum + "  Ethernet.bin\n"), false,
         false, kLoaderImage, FileFault::NotInSums, "", "loader"},
        {"garbage", write("Floader.bin: OK\nEthernet.bin: OK\n"), false, false, kImageSums,
         FileFault::SumsMalformed, "", ""},
        {"empty", write(""), false, false, kImageSums, FileFault::SumsMalformed, "", ""},
        {"unreadable: a folder of that name",
         [] { ASSERT_TRUE(fs::create_directory(NativePath(kImageSums))); }, false, false,
         kImageSums, FileFault::CannotRead, "", ""},
        {"image missing, whatever the list says",
         [&] {
             write(bothListed)();
             ASSERT_TRUE(CFile::Remove(kLoaderImage));
         },
         false, false, kLoaderImage, FileFault::CannotOpen, "", ""},
    };
    for (const Case& c : cases) {
        fs::remove_all(NativePath(kImageSums));
        ASSERT_TRUE(CFile::WriteAll(kLoaderImage, m_loader));
        c.arrange();
        std::vector<ImageSum> sums;
        ImageFault fault;
        bool listChecked = !c.listChecked;
        EXPECT_EQ(CheckImages(&sums, &fault, &listChecked), c.good) << c.name;
        EXPECT_EQ(listChecked, c.listChecked) << c.name;
        EXPECT_EQ(fault.path, c.path) << c.name;
        EXPECT_EQ(fault.fault, c.fault) << c.name;
        const auto sum = [&](const std::string& s) {
            return s == "loader" ? m_loaderSum : s == "kernel" ? m_kernelSum : s;
        };
        EXPECT_EQ(fault.expected, sum(c.expected)) << c.name;
        EXPECT_EQ(fault.actual, sum(c.actual)) << c.name;
        if (c.fault == FileFault::CannotOpen) continue;
        // Every sum the history record keeps, in the order the run sends the images.
        ASSERT_EQ(sums.size(), 2u) << c.name;
        EXPECT_EQ(sums[0].path, kLoaderImage);
        EXPECT_EQ(sums[0].size, m_loader.size());
        EXPECT_EQ(sums[0].crc32, Crc32(m_loader.data(), m_loader.size()));
        EXPECT_EQ(sums[0].sha256, m_loaderSum);
        EXPECT_EQ(sums[1].path, kKernelImage);
        EXPECT_EQ(sums[1].size, m_kernel.size());
        EXPECT_EQ(sums[1].sha256, m_kernelSum);
    }
}

TEST_F(ImageFolder, AMismatchEndsTheRunBeforeThePortIsOpened) {
    ASSERT_TRUE(CFile::WriteAll(kImageSums, m_loaderSum + "  Floader.bin\r\n" +
                                                std::string(64, 'f') + "  Ethernet.bin\r\n"));
    ASSERT_TRUE(CFile::WriteAll("data\\local_addres.dat", "EMAC=00:0A:3C:12:34:56\r\n"));
    PortScript script;
    ScriptedDriver driver(script);
    RecordingUi ui;
    FakeClock clock;
    CMathThread engine(ui, driver, clock);
    engine.Run();
    EXPECT_EQ(ui.results, std::vector<int>{ResultBadFile});
    EXPECT_TRUE(driver.opened.empty());
    EXPECT_TRUE(script.written.empty());
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(engine.GetFaultyFile(), kKernelImage);
    EXPECT_EQ(engine.GetFault(), FileFault::SumMismatch);
    EXPECT_EQ(engine.GetExpectedSum(), std::string(64, 'f'));
    EXPECT_EQ(engine.GetActualSum(), m_kernelSum);
    ASSERT_EQ(engine.ImageSums().size(), 2u);
    // The log keeps both sums even of a refused run: which images the engineer had.
    EXPECT_NE(engine.RunLog().Value(std::string("Образ ") + kKernelImage).find(m_kernelSum),
              std::string::npos);
}

}  // namespace
