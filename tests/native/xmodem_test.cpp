// The image sender against a scripted receiver: block layout, replies, refusals, the end.
#include <gtest/gtest.h>

#include <fstream>

#include "fakes.h"
#include "flash/xmodem.h"
#include "temp_path.h"

namespace {

using namespace xmodem;

TEST(Crc16, KnownVectors) {
    struct Case {
        std::string data;
        uint16_t crc;
    };
    const Case cases[] = {
        {"123456789", 0x31C3},
        {"", 0x0000},
        {"A", 0x58E5},
        {std::string(128, '\x1a'), 0xF8B0},  // a block of fill alone
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Crc16(reinterpret_cast<const uint8_t*>(c.data.data()), c.data.size()), c.crc)
            << c.data;
    }
}

std::string PatternFile(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i & 0xFF);
    return bytes;
}

// The sender and its line, with the image written to a temporary file.
struct Upload {
    PortScript script;
    ScriptedDriver driver{script};
    RecordingUi ui;
    FakeClock clock;
    TestEngine engine{ui, driver, clock};
    std::string path;

    explicit Upload(const std::string& image) {
        path = UniqueTempPath("xmodem_image.bin");
        std::ofstream(path, std::ios::binary) << image;
        engine.OpenEnginePort();
        auto file = std::make_unique<CFile>();
        EXPECT_TRUE(file->Open(path, CFile::modeRead));
        engine.SetCurrentFile(std::move(file));
        script.purges = 0;
    }
    ~Upload() { std::remove(path.c_str()); }

    void Replies(const std::string& bytes) {
        for (char c : bytes) script.reads.push_back({std::string(1, c), false});
    }
    int Send() {
        return RaisedBy([&] { engine.SendImage(); });
    }
};

struct Block {
    uint8_t number, complement;
    std::string data;
    uint16_t crc;
};

// Splits what the sender wrote into blocks and the EOTs that follow them.
std::vector<Block> Blocks(const std::string& written, int* eots) {
    std::vector<Block> blocks;
    size_t i = 0;
    while (i + kBlockSize <= written.size() && written[i] == kSoh) {
        const auto* b = reinterpret_cast<const uint8_t*>(written.data() + i);
        blocks.push_back({b[1], b[2], written.substr(i + 3, kDataSize),
                          static_cast<uint16_t>(b[131] << 8 | b[132])});
        i += kBlockSize;
    }
    *eots = 0;
    while (i < written.size() && written[i] == kEot) ++*eots, ++i;
    EXPECT_EQ(i, written.size()) << "stray bytes after the blocks";
    return blocks;
}

TEST(SendImage, BlocksCarryTheFilePaddedNumberedAndChecked) {
    struct Case {
        size_t size;
        size_t blocks;
    };
    const Case cases[] = {{0, 1}, {1, 1}, {127, 1}, {128, 2}, {129, 2}, {300, 3}, {32769, 257}};
    for (const auto& c : cases) {
        const std::string file = PatternFile(c.size);
        Upload up(file);
        up.Replies(std::string(c.blocks + 1, static_cast<char>(kAck)));
        ASSERT_EQ(up.Send(), -1) << c.size;
        int eots = 0;
        const std::vector<Block> blocks = Blocks(up.script.written, &eots);
        ASSERT_EQ(blocks.size(), c.blocks) << c.size;
        EXPECT_EQ(eots, 1);
        std::string data;
        for (size_t n = 0; n < blocks.size(); ++n) {
            const Block& b = blocks[n];
            EXPECT_EQ(b.number, static_cast<uint8_t>(n + 1)) << c.size << " block " << n;
            EXPECT_EQ(static_cast<uint8_t>(b.number + b.complement), 0xFF);
            EXPECT_EQ(b.crc, Crc16(reinterpret_cast<const uint8_t*>(b.data.data()), kDataSize));
            data += b.data;
        }
        std::string expected = file;
        expected.resize(c.blocks * kDataSize, '\x1a');  // the receivers strip this byte
        EXPECT_EQ(data, expected) << c.size;
        EXPECT_EQ(up.engine.GetProgressDone(), c.blocks * kDataSize);
        EXPECT_EQ(up.script.purges, 1);  // the queued request letters go before block 1
        EXPECT_FALSE(up.engine.HasCurrentFile());
    }
}

TEST(SendImage, BlockTwoHundredFiftySixIsNumberedZero) {
    Upload up(PatternFile(32769));
    up.Replies(std::string(258, static_cast<char>(kAck)));
    ASSERT_EQ(up.Send(), -1);
    int eots = 0;
    const auto blocks = Blocks(up.script.written, &eots);
    EXPECT_EQ(blocks[255].number, 0);
    EXPECT_EQ(blocks[255].complement, 255);
    EXPECT_EQ(blocks[256].number, 1);
}

struct ReplyCase {
    const char* name;
    size_t fileSize;
    std::string replies;
    int raised;
    std::vector<int> blocksSent;  // block numbers in the order they were written
    int eots;
};

TEST(SendImage, RepliesDecideResendAcceptanceAndFailure) {
    const char A = static_cast<char>(kAck), N = static_cast<char>(kNak),
               X = static_cast<char>(kCan);
    const ReplyCase cases[] = {
        {"request letters before a reply are skipped",
         200,
         {'C', 'C', A, 'C', A, A},
         -1,
         {1, 2},
         1},
        {"a NAK resends the same block", 200, {N, A, A, A}, -1, {1, 1, 2}, 1},
        {"two NAKs anywhere are tolerated", 300, {N, A, A, N, A, A}, -1, {1, 1, 2, 3, 3}, 1},
        {"the third NAK, for another block, ends with 0",
         400,
         {N, A, N, A, N},
         ResultNakLimit,
         {1, 1, 2, 2, 3},
         0},
        {"a request letter after a resend accepts the block",
         200,
         {N, 'C', A, A},
         -1,
         {1, 1, 2},
         1},
        {"any other byte accepts the block", 200, {'?', A, A}, -1, {1, 2}, 1},
        {"the last block NAKed is resent", 200, {A, N, A, A}, -1, {1, 2, 2}, 1},
        {"CAN cancels", 300, {A, X}, ResultProtocol, {1, 2}, 0},
        {"silence after a block", 200, {A}, ResultNoAnswer, {1, 2}, 0},
        {"EOT NAKed once, then acknowledged", 100, {A, N, A}, -1, {1}, 2},
        {"EOT acknowledged on the third try", 100, {A, N, N, A}, -1, {1}, 3},
        {"EOT refused three times", 100, {A, N, N, N}, ResultProtocol, {1}, 3},
    };
    for (const auto& c : cases) {
        Upload up(PatternFile(c.fileSize));
        up.Replies(c.replies);
        EXPECT_EQ(up.Send(), c.raised) << c.name;
        int eots = 0;
        std::vector<int> sent;
        for (const Block& b : Blocks(up.script.written, &eots)) sent.push_back(b.number);
        EXPECT_EQ(sent, c.blocksSent) << c.name;
        EXPECT_EQ(eots, c.eots) << c.name;
        const bool cancelled = std::string(c.replies).find(X) != std::string::npos;
        EXPECT_EQ(up.ui.appMessages, cancelled ? std::vector<std::string>{"Неизвестная ошибку!"}
                                               : std::vector<std::string>{})
            << c.name;
    }
}

// A flashing run sends its three images through one engine: each starts again at block 1 and
// with its own allowance of two refusals.
TEST(SendImage, EachImageStartsAfreshOnTheSameEngine) {
    const char A = static_cast<char>(kAck), N = static_cast<char>(kNak);
    Upload up(PatternFile(300));
    up.Replies({N, A, A, N, A, A});
    ASSERT_EQ(up.Send(), -1);
    const std::string second = PatternFile(200);
    std::ofstream(up.path, std::ios::binary | std::ios::trunc) << second;
    auto file = std::make_unique<CFile>();
    ASSERT_TRUE(file->Open(up.path, CFile::modeRead));
    up.engine.SetCurrentFile(std::move(file));
    up.script.written.clear();
    up.Replies({N, A, N, A, A});
    ASSERT_EQ(up.Send(), -1);
    int eots = 0;
    std::vector<int> sent;
    std::string data;
    for (const Block& b : Blocks(up.script.written, &eots)) {
        sent.push_back(b.number);
        data += b.data;
    }
    EXPECT_EQ(sent, (std::vector<int>{1, 1, 2, 2}));
    EXPECT_EQ(data.substr(128, 128), data.substr(0, 128));
    EXPECT_EQ(data.substr(256, 200 - 128), second.substr(128));
    EXPECT_EQ(eots, 1);
}

// Cancel while a block is on its way: the block is finished first, so the receiver reads CAN
// where the next block would start, never as data inside one.
TEST(SendImage, AStopDuringABlockLetsItFinishBeforeCanCan) {
    Upload up(PatternFile(1000));
    up.Replies(std::string(10, static_cast<char>(kAck)));
    int blocks = 0;
    up.script.whileWriting = [&](uint32_t count) {
        if (count == kBlockSize && ++blocks == 3) up.engine.RequestStop();
    };
    EXPECT_EQ(up.Send(), ResultStopped);
    int eots = 0;
    std::vector<int> sent;
    for (const Block& b : Blocks(up.script.written.substr(0, 3 * kBlockSize), &eots)) {
        sent.push_back(b.number);
    }
    EXPECT_EQ(sent, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(up.script.written.size(), 3 * kBlockSize + 2);
    EXPECT_EQ(up.script.written.substr(3 * kBlockSize), std::string(2, static_cast<char>(kCan)));
}

TEST(SendImage, AStopCancelsTheUploadWithCanCan) {
    Upload up(PatternFile(1000));
    up.Replies(std::string(10, static_cast<char>(kAck)));
    up.engine.RequestStop();
    EXPECT_EQ(up.Send(), ResultStopped);
    EXPECT_EQ(up.script.written, std::string(2, static_cast<char>(kCan)))
        << "no block, and the receiver told";
}

}  // namespace
