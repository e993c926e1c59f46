// The simulated controller is the oracle of the protocol tests: it must refuse what the
// controller refuses and report it, or a slip in the program's framing passes as long as the
// stored bytes come out right. Each case plays a program that breaks one rule, byte by byte.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"
#include "flash/packet.h"
#include "flash/xmodem.h"
#include "sim/file_service.h"
#include "sim/paced_line.h"
#include "sim/pty_pair.h"
#include "sim/xmodem_receiver.h"

namespace {

using Bytes = std::vector<uint8_t>;

// The program's end of the line, raw.
class Peer {
  public:
    explicit Peer(const std::string& device) : m_fd(open(device.c_str(), O_RDWR | O_NOCTTY)) {
        termios t{};
        tcgetattr(m_fd, &t);
        cfmakeraw(&t);
        tcsetattr(m_fd, TCSANOW, &t);
    }
    ~Peer() { close(m_fd); }
    void Write(const Bytes& bytes) {
        EXPECT_EQ(write(m_fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // Everything that comes until `quietMs` pass without a byte (after the first byte, when
    // `firstMs` is given: it waits that long for one).
    Bytes ReadUntilQuiet(int quietMs, int firstMs = -1) {
        Bytes got;
        pollfd p{m_fd, POLLIN, 0};
        uint8_t buffer[256];
        while (poll(&p, 1, got.empty() && firstMs >= 0 ? firstMs : quietMs) > 0) {
            const ssize_t n = read(m_fd, buffer, sizeof(buffer));
            if (n <= 0) break;
            got.insert(got.end(), buffer, buffer + n);
        }
        return got;
    }

  private:
    int m_fd;
};

// A controller of one kind on a pseudo-terminal, the errors it reported, and its program.
template <typename Controller>
struct Rig {
    PtyPair pty;
    std::unique_ptr<PacedLine> line;
    std::unique_ptr<Controller> controller;
    std::unique_ptr<Peer> peer;
    std::mutex lock;
    std::vector<std::string> errors;
    std::thread thread;

    std::string Errors() {
        std::lock_guard<std::mutex> guard(lock);
        std::string all;
        for (const std::string& e : errors) all += e + "; ";
        return all;
    }
    void Report(const std::string& what) {
        std::lock_guard<std::mutex> guard(lock);
        errors.push_back(what);
    }
    void Start(std::function<void()> body) {
        thread = std::thread(std::move(body));
        peer = std::make_unique<Peer>(pty.DevicePath());
    }
    ~Rig() {
        if (thread.joinable()) thread.join();
    }
};

Bytes Packet(uint16_t seq, bool last, const Bytes& payload) {
    return packet::Build(seq, last, payload.data(), payload.size());
}

Bytes Filler(size_t size, uint8_t salt) {
    Bytes b(size);
    for (size_t i = 0; i < size; ++i) b[i] = static_cast<uint8_t>(i * 7 + salt);
    return b;
}

// A command packet; `field` and `fill` other than -1 break the name field on purpose.
Bytes Command(uint16_t command, uint16_t length, const std::string& name, size_t dataBytes,
              bool last, int field = -1, int fill = -1) {
    const size_t f = packet::NameFieldLength(name.size());
    Bytes payload(packet::kCommandFields + f, 0);
    packet::PutWord(&payload[0], command);
    packet::PutWord(&payload[2], length);
    packet::PutWord(&payload[4], static_cast<uint16_t>(field < 0 ? f : field));
    std::copy(name.begin(), name.end(), payload.begin() + packet::kCommandFields);
    if (name.size() % 2 == 0) {
        payload[packet::kCommandFields + name.size() + 1] =
            static_cast<uint8_t>(fill < 0 ? packet::kNameFill : fill);
    }
    const Bytes data = Filler(dataBytes, 1);
    payload.insert(payload.end(), data.begin(), data.end());
    return Packet(1, last, payload);
}

Bytes Data(uint16_t seq, bool last, size_t bytes, uint8_t salt = 2, int segmentHeader = -1) {
    Bytes payload;
    if (segmentHeader >= 0) {
        payload = {0x30, 0x01, static_cast<uint8_t>(segmentHeader & 0xFF),
                   static_cast<uint8_t>(segmentHeader >> 8)};
    }
    const Bytes data = Filler(bytes, salt);
    payload.insert(payload.end(), data.begin(), data.end());
    return Packet(seq, last, payload);
}

Bytes Control(uint16_t status, uint16_t seq) {
    return packet::MakeReply(status, seq);
}

Bytes ReadRequest(const std::string& name, uint8_t fill) {
    Bytes payload{0x31, 0x00, 0, 0};
    packet::PutWord(&payload[2], static_cast<uint16_t>(packet::NameFieldLength(name.size())));
    payload.insert(payload.end(), name.begin(), name.end());
    payload.push_back(0);
    if (name.size() % 2 == 0) payload.push_back(fill);
    return Packet(1, true, payload);
}

// "big.bin" (F = 8) in segments: the command packet and the rest of a first segment of
// `firstBytes` file bytes, then the segment handshake.
std::vector<Bytes> FirstSegmentThenHandshake(size_t firstBytes) {
    std::vector<Bytes> frames{Command(packet::kCommandSegments, 4500, "big.bin", 114, false)};
    size_t left = firstBytes - 114;
    for (uint16_t seq = 2; left > 0; ++seq) {
        const size_t n = std::min<size_t>(left, 128);
        left -= n;
        frames.push_back(Data(seq, left == 0, n));
    }
    frames.push_back(Control(packet::kStatusOk, 0));
    frames.push_back(Control(packet::kStatusOk, 1));
    return frames;
}

enum class Answer { Refused, Silent, Any };

struct FileCase {
    const char* what;
    std::vector<Bytes> frames;  // the last breaks the rule
    Answer answer;
    const char* error;  // part of what the controller reports
    FileServiceFaults faults;
};

TEST(StrictController, RefusesWhatBreaksTheFileProtocol) {
    const Bytes oneSegmentStart = Command(packet::kCommandWhole, 1000, "cfg.txt", 114, false);
    const Bytes onePacket = Command(packet::kCommandWhole, 20, "cfg.txt", 20, true);
    std::vector<Bytes> noHeader = FirstSegmentThenHandshake(4500);
    noHeader.push_back(Data(1, false, 128));
    std::vector<Bytes> tooLong = FirstSegmentThenHandshake(4500);
    tooLong.push_back(Data(1, false, 124, 3, 4501));
    std::vector<Bytes> afterShort = FirstSegmentThenHandshake(1000);
    afterShort.push_back(Data(1, false, 124, 3, 4500));
    Bytes badSum = Data(2, false, 128);
    badSum[6] ^= 1;
    FileServiceFaults refuseOnce, repeatFirst;
    refuseOnce.refuseRequests = 1;
    repeatFirst.repeatPacket = 1;
    const FileCase cases[] = {
        {"a command word it does not know",
         {Command(0x0030, 50, "cfg.txt", 50, true)},
         Answer::Refused,
         "without a command packet",
         {}},
        {"0x012F with a segment length other than 4500",
         {Command(packet::kCommandSegments, 4000, "big.bin", 114, false)},
         Answer::Refused,
         "segment length",
         {}},
        {"an even name without its 0xCD",
         {Command(packet::kCommandWhole, 10, "ab.txt", 10, true, -1, 0)},
         Answer::Refused,
         "name field",
         {}},
        {"a name field length that is not the name's",
         {Command(packet::kCommandWhole, 10, "cfg.txt", 10, true, 10)},
         Answer::Refused,
         "name field",
         {}},
        {"a one-packet file announced with another length",
         {Command(packet::kCommandWhole, 21, "cfg.txt", 20, true)},
         Answer::Refused,
         "one-packet",
         {}},
        {"0x002F split although one packet carries it",
         {Command(packet::kCommandWhole, 50, "cfg.txt", 50, false)},
         Answer::Refused,
         "command 0x002F",
         {}},
        {"0x012F for a file one segment carries",
         {Command(packet::kCommandSegments, 4500, "big.bin", 114, false), Data(2, true, 100)},
         Answer::Any,
         "command 0x012F",
         {}},
        {"a data packet out of sequence",
         {oneSegmentStart, Data(3, false, 128)},
         Answer::Refused,
         "sequence 3",
         {}},
        {"a packet repeated with other bytes",
         {oneSegmentStart, Data(2, false, 128, 5), Data(2, false, 128, 6)},
         Answer::Refused,
         "repeated with other bytes",
         {}},
        {"a short packet that is not the last",
         {oneSegmentStart, Data(2, false, 100)},
         Answer::Refused,
         "short packet",
         {}},
        {"more bytes than the file announced",
         {Command(packet::kCommandWhole, 200, "cfg.txt", 114, false), Data(2, true, 100)},
         Answer::Refused,
         "segment of",
         {}},
        {"a later segment without its header", noHeader, Answer::Refused, "without its header", {}},
        {"a segment header announcing more than 4500 bytes",
         tooLong,
         Answer::Refused,
         "announcing 4501",
         {}},
        {"a segment after the file's short last one",
         afterShort,
         Answer::Refused,
         "after a short one",
         {}},
        {"a packet with a wrong sum", {oneSegmentStart, badSum}, Answer::Refused, "wrong sum", {}},
        {"a handshake in the middle of a segment",
         {oneSegmentStart, Control(packet::kStatusOk, 0)},
         Answer::Silent,
         "middle of a segment",
         {}},
        {"a control message with status 0x0014",
         {onePacket, Control(packet::kStatusBad, 0)},
         Answer::Silent,
         "status 20",
         {}},
        {"the handshake's second message without its first",
         {onePacket, Control(packet::kStatusOk, 1)},
         Answer::Silent,
         "without its first",
         {}},
        {"bytes outside any frame",
         {Bytes{'h', 'e', 'l', 'l', 'o'}},
         Answer::Silent,
         "outside any frame",
         {}},
        {"a read request without its 0xCD",
         {ReadRequest("local_addres.dat", 0x00)},
         Answer::Refused,
         "read request",
         {}},
        {"a refused read request repeated with other bytes",
         {ReadRequest("local_addres.dat", packet::kNameFill),
          ReadRequest("local_addres.dat", 0x00)},
         Answer::Any,
         "read request repeated",
         refuseOnce},
        {"a packet sent again acknowledged under another number",
         {ReadRequest("held.txt", packet::kNameFill), Control(packet::kStatusOk, 0),
          Control(packet::kStatusOk, 1), Control(packet::kStatusOk, 2)},
         Answer::Any,
         "sent again acknowledged with other bytes",
         repeatFirst},
        {"a packet sent again refused",
         {ReadRequest("held.txt", packet::kNameFill), Control(packet::kStatusOk, 0),
          Control(packet::kStatusOk, 1), Control(packet::kStatusBad, 1)},
         Answer::Any,
         "sent again acknowledged with other bytes",
         repeatFirst},
    };
    for (const FileCase& c : cases) {
        const std::string folder = MakeTempFolder("strict_fs");
        std::ofstream(folder + "/held.txt", std::ios::binary) << "a file the controller holds";
        Rig<FileService> rig;
        ASSERT_TRUE(rig.pty.Create(""));
        rig.line = std::make_unique<PacedLine>(rig.pty.MasterFd(), LineTiming{});
        rig.controller = std::make_unique<FileService>(*rig.line, folder, c.faults, 1000);
        rig.controller->SetObserver([&rig](const FileServiceEvent& e) {
            if (e.what == "error") rig.Report(e.detail);
        });
        rig.Start([&rig] { rig.controller->Serve(); });
        Bytes answer;
        for (const Bytes& frame : c.frames) {
            rig.peer->Write(frame);
            // Every frame before the last is answered; only the last one's silence counts.
            answer = &frame == &c.frames.back() ? rig.peer->ReadUntilQuiet(200)
                                                : rig.peer->ReadUntilQuiet(40, 1000);
        }
        const uint16_t seq = c.frames.back().size() >= 6 ? packet::Word(&c.frames.back()[4]) : 0;
        if (c.answer == Answer::Refused) {
            EXPECT_EQ(answer, packet::MakeReply(packet::kStatusBad, seq)) << c.what;
        } else if (c.answer == Answer::Silent) {
            EXPECT_TRUE(answer.empty()) << c.what;
        }
        EXPECT_NE(rig.Errors().find(c.error), std::string::npos) << c.what << ": " << rig.Errors();
    }
}

Bytes Block(uint8_t number, uint8_t salt) {
    Bytes b{xmodem::kSoh, number, static_cast<uint8_t>(255 - number)};
    const Bytes data = Filler(xmodem::kDataSize, salt);
    b.insert(b.end(), data.begin(), data.end());
    const uint16_t crc = xmodem::Crc16(data.data(), data.size());
    b.push_back(static_cast<uint8_t>(crc >> 8));
    b.push_back(static_cast<uint8_t>(crc & 0xFF));
    return b;
}

struct ImageCase {
    const char* what;
    std::vector<Bytes> sends;  // the last breaks the rule
    Bytes answer;              // to the last, the receiver's "C" letters left out
    const char* error;
    ReceiverFaults faults;
};

TEST(StrictController, RefusesWhatBreaksTheImageUpload) {
    Bytes damaged = Block(1, 1);
    damaged[40] ^= 0x10;
    ReceiverFaults nakFirst;
    nakFirst.nakBlock[1] = 1;
    const ImageCase cases[] = {
        {"an end of transfer before block 1",
         {{xmodem::kEot}},
         {xmodem::kNak},
         "before block 1",
         {}},
        {"a damaged block", {damaged}, {xmodem::kNak}, "damaged", {}},
        {"block 2 first", {Block(2, 1)}, {xmodem::kCan, xmodem::kCan}, "where 1 is due", {}},
        {"block 1 repeated with other bytes",
         {Block(1, 1), Block(1, 2)},
         {xmodem::kAck},
         "repeated with other bytes",
         {}},
        {"a refused block sent again with other bytes",
         {Block(1, 1), Block(1, 2)},
         {xmodem::kNak},
         "sent again with other bytes",
         nakFirst},
        {"bytes between blocks", {Block(1, 1), {'x'}}, {}, "between blocks", {}},
    };
    for (const ImageCase& c : cases) {
        Rig<XmodemReceiver> rig;
        ASSERT_TRUE(rig.pty.Create(""));
        rig.line = std::make_unique<PacedLine>(rig.pty.MasterFd(), LineTiming{});
        rig.controller = std::make_unique<XmodemReceiver>(*rig.line, c.faults, 50, 800);
        rig.controller->SetErrorObserver([&rig](const SimFault& fault) { rig.Report(fault.what); });
        rig.Start([&rig] {
            std::vector<uint8_t> image;
            rig.controller->Receive(&image);
        });
        // The receiver asks with "C" every 50 ms: the first request starts the upload.
        ASSERT_FALSE(rig.peer->ReadUntilQuiet(0, 1000).empty()) << c.what;
        Bytes answer;
        for (const Bytes& send : c.sends) {
            rig.peer->Write(send);
            answer = rig.peer->ReadUntilQuiet(150);
        }
        answer.erase(std::remove(answer.begin(), answer.end(), xmodem::kRequest), answer.end());
        EXPECT_EQ(answer, c.answer) << c.what;
        EXPECT_NE(rig.Errors().find(c.error), std::string::npos) << c.what << ": " << rig.Errors();
    }
}

}  // namespace
