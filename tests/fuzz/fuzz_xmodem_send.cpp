// A fuzzed receiver answers the image sender. The input decides the image (up to 2 KiB), the
// write after which the user cancels (if any), and every byte the receiver sends back; the
// input running out is the receiver falling silent. The sender is judged from the receiver's
// side: every block framed and its CRC right, blocks in order carrying the image, a resend only
// after a NAK and identical, EOT only after the last block, CAN CAN after a stop, and the result
// the receiver's replies call for.
#include <fuzzer/FuzzedDataProvider.h>

#include <fstream>

#include "fakes.h"
#include "flash/xmodem.h"
#include "fuzz_line.h"

namespace {

using namespace xmodem;

constexpr size_t kMaxImage = 2048;

// The CRC the slow way, bit by bit, so the sender's table is checked, not repeated. Its loop
// tells the fuzzer nothing and would take most of the time with coverage on.
__attribute__((no_sanitize("coverage"))) uint16_t BitwiseCrc(const std::string& data) {
    uint16_t crc = 0;
    for (unsigned char byte : data) {
        crc ^= static_cast<uint16_t>(byte << 8);
        for (int bit = 0; bit < 8; ++bit) {
            crc = static_cast<uint16_t>(crc & 0x8000 ? crc << 1 ^ 0x1021 : crc << 1);
        }
    }
    return crc;
}

class Judge {
  public:
    Judge(const std::vector<LineEvent>& events, size_t stopAfterWrite)
        : m_line(events), m_stopAt(stopAfterWrite) {}

    // The result the receiver's replies call for, once the sender's writes are found right.
    int Walk(const std::string& image) {
        // Every block is full: the image, then fill up to the next 128 bytes, a whole block of
        // fill when the image ends on a block's end.
        std::string padded = image;
        padded.resize((image.size() / kDataSize + 1) * kDataSize, static_cast<char>(kFill));
        try {
            m_line.Expect(LineEvent::Purge, "the queued request letters are purged first");
            for (size_t at = 0; at < padded.size(); at += kDataSize) {
                const std::string& block = Write();
                CheckBlock(block, static_cast<uint8_t>(at / kDataSize + 1),
                           padded.substr(at, kDataSize));
                uint8_t reply = Reply();
                while (reply == kRequest) reply = Reply();
                while (reply == kNak) {
                    if (++m_naks == 3) throw Ended{ResultNakLimit};
                    Require(Write() == block, "a resent block differs");
                    reply = Reply();
                }
                if (reply == kCan) {
                    m_cancelledByReceiver = true;
                    throw Ended{ResultProtocol};
                }
            }
            for (int eots = 1;; ++eots) {
                Require(Write() == std::string(1, kEot), "after the last block only EOT");
                if (Reply() == kAck) throw Ended{-1};
                if (eots == 3) throw Ended{ResultProtocol};
            }
        } catch (const Ended& end) {
            Require(m_line.AtEnd(), "the sender went on after its upload had ended");
            return end.result;
        }
    }

    bool CancelledByReceiver() const { return m_cancelledByReceiver; }

  private:
    static void CheckBlock(const std::string& block, uint8_t number, const std::string& data) {
        Require(block.size() == kBlockSize, "a block of another size than 133 bytes");
        const auto* b = reinterpret_cast<const uint8_t*>(block.data());
        Require(b[0] == kSoh, "a block without SOH");
        Require(b[1] == number && b[2] == 255 - number, "a block number out of order");
        Require(block.compare(3, kDataSize, data) == 0, "a block's data is not the image's");
        Require((b[131] << 8 | b[132]) == BitwiseCrc(data), "a block's CRC does not match");
    }

    const std::string& Write() {
        const std::string& bytes = m_line.Write();
        if (m_line.Writes() == m_stopAt) {
            // The stop ends the write under way; the receiver must hear CAN CAN next.
            Require(m_line.Write() == std::string(2, static_cast<char>(kCan)),
                    "a stopped upload not cancelled with CAN CAN");
            throw Ended{ResultStopped};
        }
        return bytes;
    }

    uint8_t Reply() { return static_cast<uint8_t>(m_line.Read(1)[0]); }

    Transcript m_line;
    size_t m_stopAt;
    int m_naks = 0;
    bool m_cancelledByReceiver = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const size_t imageSize = input.ConsumeIntegralInRange<size_t>(0, kMaxImage);
    const size_t stopAt = input.ConsumeIntegral<uint8_t>();  // 0: never
    std::string image(imageSize, '\0');
    for (size_t i = 0; i < imageSize; ++i) image[i] = static_cast<char>(data[i % size] + i / size);
    const std::string path = FuzzFolder() + "image.bin";
    std::ofstream(path, std::ios::binary | std::ios::trunc) << image;

    FuzzLine line;
    for (char reply : input.ConsumeRemainingBytesAsString()) line.Send(std::string(1, reply));
    RecordingUi ui;
    FakeClock clock;
    TestEngine engine(ui, line, clock);
    engine.OpenEnginePort();
    line.events.clear();
    size_t writes = 0;
    line.onWrite = [&] {
        if (++writes == stopAt) engine.RequestStop();
    };
    auto file = std::make_unique<CFile>();
    Require(file->Open(path, CFile::modeRead), "the image cannot be opened");
    engine.SetCurrentFile(std::move(file));

    const int result = RaisedBy([&] { engine.SendImage(); });
    Judge judge(line.events, stopAt);
    Require(result == judge.Walk(image),
            "the sender's result is not the one its receiver called for");
    Require(result != -1 || !engine.HasCurrentFile(), "a finished upload keeps its image open");
    Require(ui.appMessages.size() == (judge.CancelledByReceiver() ? 1u : 0u),
            "the user hears of the receiver's CAN, and only of that");
    engine.Close();
    return 0;
}
