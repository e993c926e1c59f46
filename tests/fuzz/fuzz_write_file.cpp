// A fuzzed controller takes data files from the writer. The input decides one or two files
// (size up to 10000 bytes, so up to three segments; a name of 1 to 124 bytes, so some too long)
// and, for every write of the program, how the controller answers it: as a controller that
// takes everything, refusing, with another sequence number, cut in two, with bytes of the
// input's, or not at all. The input running out is the controller falling silent, which ends
// even the handshakes that repeat without limit. The writer is judged from the controller's
// side: each packet framed, numbered and filled as the protocol says, at most four sends of
// one, the handshakes in their place, and the result the controller's answers call for.
#include <fuzzer/FuzzedDataProvider.h>

#include <fstream>

#include "fakes.h"
#include "flash/packet.h"
#include "fuzz_line.h"

namespace {

using namespace std::string_literals;

constexpr size_t kMaxFile = 10000;
constexpr size_t kSegment = 4500;
constexpr size_t kMaxLen = 128;

std::string Word(uint16_t value) {
    return {static_cast<char>(value & 0xFF), static_cast<char>(value >> 8)};
}

uint16_t WordAt(const std::string& bytes, size_t at) {
    return static_cast<uint16_t>(static_cast<uint8_t>(bytes[at]) |
                                 static_cast<uint8_t>(bytes[at + 1]) << 8);
}

std::string Message(uint16_t status, uint16_t seq) {
    return "\x55\x55" + Word(status) + Word(seq);
}

// The packet as the controller expects it, summed here byte by byte. Loops like this one tell
// the fuzzer nothing and would take much of its time with coverage on.
__attribute__((no_sanitize("coverage"))) std::string Frame(uint16_t seq, bool last,
                                                           const std::string& payload) {
    Require(payload.size() <= kMaxLen, "a payload longer than 128 bytes");
    std::string frame = "\xAA\xAA" + Word(static_cast<uint16_t>(payload.size())) + Word(seq) +
                        std::string(1, '\0') + std::string(1, last ? 1 : 0) + payload;
    unsigned sum = 0;
    for (size_t i = 0; i < frame.size(); ++i) {
        if (i != 6) sum += static_cast<uint8_t>(frame[i]);
    }
    frame[6] = static_cast<char>(sum);
    return frame;
}

// The packets of one file, segment by segment: the command packet opens the first segment and
// carries what of the file fits after the name; every later segment starts with its header.
std::vector<std::vector<std::string>> Segments(const std::string& name,
                                               const std::string& content) {
    const std::string field = name + (name.size() % 2 ? std::string(1, '\0') : "\0\xCD"s);
    const bool segmented = 6 + field.size() + content.size() > kSegment;
    const std::string head = Word(segmented ? 0x012F : 0x002F) +
                             Word(static_cast<uint16_t>(segmented ? kSegment : content.size())) +
                             Word(static_cast<uint16_t>(field.size())) + field;
    std::vector<std::string> streams{head + content.substr(0, kSegment)};
    for (size_t at = kSegment; at < content.size(); at += kSegment) {
        const std::string part = content.substr(at, kSegment);
        streams.push_back(Word(0x0130) + Word(static_cast<uint16_t>(part.size())) + part);
    }
    std::vector<std::vector<std::string>> segments;
    for (const std::string& stream : streams) {
        segments.emplace_back();
        for (size_t at = 0; at < stream.size(); at += kMaxLen) {
            segments.back().push_back(Frame(static_cast<uint16_t>(at / kMaxLen + 1),
                                            at + kMaxLen >= stream.size(),
                                            stream.substr(at, kMaxLen)));
        }
    }
    return segments;
}

class Judge {
  public:
    explicit Judge(const std::vector<LineEvent>& events) : m_line(events) {}

    int Walk(const std::string& name, const std::string& content) {
        try {
            if (packet::NameFieldLength(name.size()) > packet::kMaxNameField) {
                throw Ended{ResultBadFile};  // before a byte goes out
            }
            m_line.Expect(LineEvent::Open, "each file opens the port");
            m_line.Expect(LineEvent::Purge, "a port opened is purged");
            const auto segments = Segments(name, content);
            for (size_t k = 0; k < segments.size(); ++k) {
                if (k > 0) SegmentHandshake();
                for (const std::string& frame : segments[k]) SendPacket(frame);
            }
            EndHandshake();
            m_line.Expect(LineEvent::Close, "the port is closed after the file");
            throw Ended{-1};
        } catch (const Ended& end) {
            Require(m_line.AtEnd(), "the writer went on after its file had ended");
            return end.result;
        }
    }

  private:
    void SendPacket(const std::string& frame) {
        for (int sends = 1;; ++sends) {
            Require(m_line.Write() == frame, "a packet unlike the protocol's");
            const std::string& reply = m_line.Read(6);
            if (reply.size() != 6 || sends == 4) throw Ended{ResultProtocol};
            if (reply == Message(packet::kStatusOk, WordAt(frame, 4))) return;
        }
    }

    void Control(uint16_t seq) {
        Require(m_line.Write() == Message(packet::kStatusOk, seq), "a control message expected");
    }

    void SegmentHandshake() {
        m_line.Expect(LineEvent::Purge, "the port is purged before a segment handshake");
        Control(0);
        if (m_line.Read(8).size() != 8 || m_line.Read(2).size() != 2) {
            throw Ended{ResultProtocol};
        }
        for (;;) {
            Control(1);
            const std::string& reply = m_line.Read(6);
            if (reply.size() != 6) throw Ended{ResultProtocol};
            if (WordAt(reply, 2) == packet::kStatusOk) return;
        }
    }

    void EndHandshake() {
        Control(0);
        if (m_line.Read(8).size() != 8) throw Ended{ResultProtocol};
        m_line.Read(8, false);
        m_line.Expect(LineEvent::Purge, "the port is purged before the last control messages");
        for (;;) {
            Control(1);
            std::string reply = m_line.Read(6);
            reply.resize(6, '\0');  // a short reply is judged by what came
            if (WordAt(reply, 2) == packet::kStatusOk) return;
        }
    }

    Transcript m_line;
};

// The controller's answer to what the program just wrote, as the input says.
void Answer(const std::string& written, FuzzedDataProvider& input, FuzzLine& line) {
    if (input.remaining_bytes() == 0) return;
    const uint8_t how = input.ConsumeIntegral<uint8_t>();
    const uint16_t seq = written.size() >= 6 ? WordAt(written, 4) : 0;
    // A controller that takes everything: 10 bytes or 16 (8 and 8 more) after the control
    // message 0, else the reply with status 0x000A and the sequence number.
    const bool controlZero = written == Message(packet::kStatusOk, 0);
    const std::string good =
        controlZero ? std::string(how & 8 ? 16 : 10, '\x0A') : Message(packet::kStatusOk, seq);
    switch (how % 8) {
        case 3:
            line.Send(Message(packet::kStatusBad, seq));
            break;
        case 4:
            line.Send(Message(packet::kStatusOk, static_cast<uint16_t>(seq + 1)));
            break;
        case 5:
            line.Send(input.ConsumeBytesAsString(how >> 3));
            break;
        case 6: {
            const size_t cut = 1 + (how >> 3) % (good.size() - 1);
            line.Send(good.substr(0, cut));
            line.Send(good.substr(cut));
            break;
        }
        case 7:
            break;
        default:
            line.Send(good);
    }
}

struct DataFile {
    std::string name;
    std::string content;
};

__attribute__((no_sanitize("coverage"))) std::string Pattern(size_t size, uint8_t salt) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 131 + salt);
    return bytes;
}

DataFile MakeFile(FuzzedDataProvider& input, int index) {
    DataFile file;
    const size_t size = input.ConsumeIntegralInRange<size_t>(0, kMaxFile);
    file.content = Pattern(size, input.ConsumeIntegral<uint8_t>());
    file.name = input.ConsumeBytesAsString(input.ConsumeIntegralInRange<size_t>(1, 124));
    // Any byte a file name may hold here; the path separators and NUL may not.
    for (char& c : file.name) {
        if (c == '\0' || c == '/' || c == '\\') c = '_';
    }
    file.name += std::to_string(index);  // never empty, never "." or ".."
    return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    std::vector<DataFile> files{MakeFile(input, 1)};
    if (input.ConsumeBool()) files.push_back(MakeFile(input, 2));

    FuzzLine line;
    line.onWrite = [&] { Answer(line.events.back().bytes, input, line); };
    RecordingUi ui;
    FakeClock clock;
    TestEngine engine(ui, line, clock);
    // One file after the other, each over its own opening of the port, as the folder goes.
    for (const DataFile& file : files) {
        const std::string path = FuzzFolder() + file.name;
        std::ofstream(path, std::ios::binary | std::ios::trunc) << file.content;
        line.events.clear();
        const int result = RaisedBy([&] { engine.SendDataFile(path); });
        std::remove(path.c_str());
        Require(result == Judge(line.events).Walk(file.name, file.content),
                "the writer's result is not the one its controller called for");
        if (result != -1) break;
    }
    engine.Close();
    return 0;
}
