#include "sim/file_service.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "flash/file_fetch.h"
#include "flash/packet.h"

using namespace packet;

namespace {
// How long the rest of a frame may take once its first byte is in.
constexpr uint32_t kFrameRestMs = 500;
}  // namespace

FileService::FileService(PacedLine& line, std::string folder, FileServiceFaults faults,
                         uint32_t idleTimeoutMs)
    : m_line(line),
      m_folder(std::move(folder)),
      m_faults(std::move(faults)),
      m_idleTimeoutMs(idleTimeoutMs),
      m_corruptLeft(m_faults.corruptReads) {}

bool FileService::Error(const std::string& what) {
    if (m_observer) m_observer({"error", what, 0, SimFault::Content(what)});
    return false;
}

bool FileService::TimingError(const std::string& what, uint32_t waitMs,
                              std::chrono::steady_clock::time_point since) {
    if (m_observer) m_observer({"error", what, 0, SimFault::Timing(what, waitMs, since)});
    return false;
}

std::string FileService::SinceRequest(std::chrono::steady_clock::time_point sentAt) const {
    // How long the exchange took on this side tells a late controller from a hasty program.
    using namespace std::chrono;
    const auto now = steady_clock::now();
    return " (" + std::to_string(duration_cast<milliseconds>(now - m_requestAt).count()) +
           " ms after the request, " +
           std::to_string(duration_cast<milliseconds>(now - sentAt).count()) +
           " ms after the packet)";
}

bool FileService::Answer(uint16_t status, uint16_t seq) {
    const std::vector<uint8_t> reply = MakeReply(status, seq);
    return m_line.Reply(reply.data(), reply.size());
}

void FileService::StoreFile() {
    // The name comes off the line: keep it inside the folder.
    std::string safe = m_name;
    for (char& c : safe) {
        if (c == '/' || c == '\\') c = '_';
    }
    if (safe.empty() || safe == "." || safe == "..") safe = "_";
    if (!m_folder.empty()) {
        std::ofstream out(m_folder + "/" + safe, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(m_data.data()),
                  static_cast<std::streamsize>(m_data.size()));
    }
    m_stored[m_name] = m_data;
    if (m_observer) m_observer({"file", m_name, m_data.size(), {}});
}

bool FileService::Lookup(const std::string& name, std::vector<uint8_t>* content) const {
    const auto stored = m_stored.find(name);
    if (stored != m_stored.end()) {
        *content = stored->second;
        return true;
    }
    if (m_folder.empty()) return false;
    const std::string path = m_folder + "/" + name;
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return false;
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    content->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

void FileService::CorruptIfAsked(const std::string& name, std::vector<uint8_t>* content) {
    // Only a copy this kernel was sent: the controller read before its reflash serves its
    // files as they are.
    const auto left = m_corruptLeft.find(name);
    if (left == m_corruptLeft.end() || left->second == 0 || !m_stored.count(name)) return;
    if (left->second > 0) --left->second;
    if (content->empty()) {
        content->push_back(0x2A);
    } else {
        (*content)[content->size() / 2] ^= 0xFF;
    }
    if (m_observer) m_observer({"corrupt", name, content->size(), {}});
}

bool FileService::AwaitBytes(const std::vector<uint8_t>& expected,
                             std::chrono::steady_clock::time_point since) {
    std::vector<uint8_t> got(expected.size());
    if (m_line.ReceiveAll(got.data(), got.size(), 3000) != got.size()) return false;
    // A program whose wait for our reply ran out asks again instead of going on.
    if (got != expected)
        TimingError("unexpected message from the program", kProgramByteGapMs, since);
    return got == expected;
}

bool FileService::SendPacketAcknowledged(uint16_t seq, bool last,
                                         const std::vector<uint8_t>& payload) {
    const uint32_t index = ++m_sent;
    std::vector<uint8_t> ack(kReplySize);
    if (index == m_faults.refusalBeforePacket) {
        // The program answers this with its last acknowledgement again, byte for byte.
        const std::vector<uint8_t> refusal = MakeReply(kStatusBad, 0);
        m_line.Reply(refusal.data(), refusal.size());
        if (m_line.ReceiveAll(ack.data(), kReplySize, 3000) != kReplySize) return false;
        if (ack != m_lastAck) return Error("acknowledgement repeated with other bytes");
    }
    bool corrupt = index == m_faults.badSumPacket;
    for (int attempt = 0; attempt < 5; ++attempt) {
        std::vector<uint8_t> p = Build(seq, last, payload.data(), payload.size());
        if (corrupt) p[6] ^= 0x5A;
        m_line.Reply(p.data(), p.size());
        const auto sentAt = std::chrono::steady_clock::now();
        if (m_line.ReceiveAll(ack.data(), kReplySize, 3000) != kReplySize) return false;
        m_lastAck = ack;
        const Reply r = ParseReply(ack.data());
        // A sound packet is accepted, a damaged one refused, both under the packet's number.
        const uint16_t due = corrupt ? kStatusBad : kStatusOk;
        if (r.sync == kReplySync && r.seq == seq && r.status == kStatusBad && due == kStatusOk) {
            // The program ends a payload at a gap of kProgramByteGapMs: a packet of ours
            // held up in the middle reaches it as a damaged one.
            return TimingError("packet " + std::to_string(seq) + " refused" + SinceRequest(sentAt),
                               kProgramByteGapMs, sentAt);
        }
        if (r.sync != kReplySync || r.seq != seq || r.status != due) {
            return Error("acknowledgement status " + std::to_string(r.status) + " sequence " +
                         std::to_string(r.seq) + " of packet " + std::to_string(seq) +
                         (corrupt ? " sent with a wrong sum" : "") + SinceRequest(sentAt));
        }
        if (corrupt) {
            corrupt = false;
            continue;
        }
        return index != m_faults.repeatPacket || SendAgainAfterLostAcknowledgement(p, ack);
    }
    return false;
}

bool FileService::SendAgainAfterLostAcknowledgement(const std::vector<uint8_t>& packet,
                                                    const std::vector<uint8_t>& ack) {
    // As far as this controller knows, the program never answered: it must take the packet as
    // one it has, answer it as it did, and not count it twice. Other bytes are wrong, and so
    // is silence, which leaves the controller waiting: only a program whose wait for the
    // next packet ran out while we were held up has a reason to have gone.
    const auto sentAt = std::chrono::steady_clock::now();
    m_line.Reply(packet.data(), packet.size());
    std::vector<uint8_t> again(kReplySize);
    const size_t got = m_line.ReceiveAll(again.data(), kReplySize, 3000);
    again.resize(got);
    if (got == 0) {
        // A program that already gave up on the next packet says nothing more.
        return TimingError(
            "packet " + std::to_string(Word(&packet[4])) + " sent again acknowledged not at all",
            kProgramReplyWaitMs, sentAt);
    }
    if (again != ack) {
        return Error("packet " + std::to_string(Word(&packet[4])) + " sent again acknowledged " +
                     "with other bytes");
    }
    return true;
}

void FileService::SendFile(const std::string& name, const std::vector<uint8_t>& request) {
    if (m_observer) m_observer({"read", name, 0, {}});
    std::vector<uint8_t> content;
    const bool refuse = m_faults.refuseRequests < 0 || m_refusals < m_faults.refuseRequests;
    if (!Lookup(name, &content) || refuse) {
        ++m_refusals;
        m_refusedRead = request;
        if (m_observer) m_observer({"refused", name, 0, {}});
        Answer(kStatusBad, 1);
        return;
    }
    Answer(kStatusOk, 1);
    const std::vector<uint8_t> ack0 = MakeReply(kStatusOk, 0);
    // A controller that could not be read before its reflash answers once it has been written;
    // the program's first acknowledgement is still its part of the read.
    if (m_faults.silentRead && m_stored.empty()) {
        AwaitBytes(ack0, m_requestAt);
        if (m_observer) m_observer({"unanswered", name, 0, {}});
        return;
    }
    CorruptIfAsked(name, &content);
    const size_t segments = std::max<size_t>(1, (content.size() + kSegmentSize - 1) / kSegmentSize);
    auto exchangeAt = m_requestAt;
    for (size_t s = 0; s < segments; ++s) {
        if (!AwaitBytes(ack0, exchangeAt)) return;
        m_lastAck = ack0;
        const size_t begin = s * kSegmentSize;
        const size_t end = std::min(content.size(), begin + kSegmentSize);
        const bool more = s + 1 < segments;
        // The segment's bytes: a six-byte sub-header (third byte: another segment follows),
        // the file's bytes, and one closing byte that is not the file's.
        std::vector<uint8_t> bytes(kSegmentPrefix + (end - begin) + 1, 0x00);
        bytes[0] = 0x01;
        bytes[kMoreSegmentsAt] = static_cast<uint8_t>(more ? 1 : 0);
        std::copy(content.begin() + static_cast<long>(begin),
                  content.begin() + static_cast<long>(end),
                  bytes.begin() + static_cast<long>(kSegmentPrefix));
        if (m_faults.twoBytePayload && s == 0) bytes.assign(2, 0xEE);
        std::vector<size_t> sizes;
        for (size_t left = bytes.size(); left > 0; left -= sizes.back()) {
            sizes.push_back(std::min(left, kMaxPayload));
        }
        // A payload of two bytes means an error to the program: never end on one by chance.
        if (sizes.size() > 1 && sizes.back() == 2) {
            --sizes[sizes.size() - 2];
            ++sizes.back();
        }
        size_t at = 0;
        for (size_t i = 0; i < sizes.size(); ++i) {
            const std::vector<uint8_t> payload(bytes.begin() + static_cast<long>(at),
                                               bytes.begin() + static_cast<long>(at + sizes[i]));
            at += sizes[i];
            if (!SendPacketAcknowledged(static_cast<uint16_t>(i + 1), i + 1 == sizes.size(),
                                        payload)) {
                return;
            }
        }
        if (more) {
            const std::vector<uint8_t> ready = MakeReply(kStatusOk, 0);
            exchangeAt = std::chrono::steady_clock::now();
            m_line.Reply(ready.data(), ready.size());
            if (!AwaitBytes(BuildContinuation(), exchangeAt)) return;
            exchangeAt = std::chrono::steady_clock::now();
            Answer(kStatusOk, 1);
        }
    }
    if (m_observer) m_observer({"sent", name, content.size(), {}});
}

namespace {

// The file a read request (header included) asks for.
std::string ReadRequestName(const std::vector<uint8_t>& packet) {
    if (packet.size() < kHeaderSize + 4) return std::string();
    std::string name(packet.begin() + static_cast<long>(kHeaderSize + 4), packet.end());
    name.resize(std::min(name.size(), name.find('\0')));
    return name;
}

}  // namespace

bool FileService::OnReadRequest(const std::vector<uint8_t>& packet) {
    m_requestAt = std::chrono::steady_clock::now();
    const std::vector<uint8_t> payload(packet.begin() + kHeaderSize, packet.end());
    const std::string name = ReadRequestName(packet);
    // The program sends a refused request again unchanged; a request for another file is the
    // next fetch, not a repeat.
    const bool repeatDiffers =
        !m_refusedRead.empty() && packet != m_refusedRead && ReadRequestName(m_refusedRead) == name;
    m_refusedRead.clear();
    if (repeatDiffers) Error("read request repeated with other bytes");
    if (m_faults.silentAfterWrite && !m_stored.empty()) {
        if (m_observer) m_observer({"unanswered", name, 0, {}});
        return true;
    }
    const size_t n = name.size();
    const bool framed = payload.size() >= 4 && Word(&packet[4]) == 1 && packet[7] == 1 && n > 0 &&
                        Word(&payload[2]) == NameFieldLength(n) &&
                        payload.size() == 4 + NameFieldLength(n) && payload[4 + n] == 0 &&
                        (n % 2 || payload[5 + n] == kNameFill);
    if (!framed || name.find('/') != std::string::npos || name == "." || name == "..") {
        Error("read request for " + name);
        Answer(kStatusBad, 1);
        return true;
    }
    SendFile(name, packet);
    return true;
}

bool FileService::OnCommand(bool last, const std::vector<uint8_t>& payload) {
    const uint16_t command = Word(&payload[0]);
    const uint16_t length = Word(&payload[2]);
    const size_t field = Word(&payload[4]);
    if (kCommandFields + field > payload.size()) return Error("name field longer than the packet");
    std::string name(payload.begin() + kCommandFields,
                     payload.begin() + static_cast<long>(kCommandFields + field));
    name.resize(std::min(name.size(), name.find('\0')));
    const size_t n = name.size();
    if (n == 0 || field != NameFieldLength(n) || payload[kCommandFields + n] != 0 ||
        (n % 2 == 0 && payload[kCommandFields + n + 1] != kNameFill)) {
        return Error("name field of " + name);
    }
    // What the command packet would take to carry the whole file.
    const size_t whole = kCommandFields + field + length;
    if (command == kCommandSegments) {
        if (length != kSegmentSize) return Error("segment length " + std::to_string(length));
        if (last) return Error("a file in segments announced as one packet");
    } else if (last) {
        if (payload.size() != whole) return Error("one-packet file of the wrong length");
    } else if (whole <= kMaxPayload || whole > kSegmentSize) {
        return Error("command 0x002F for a file of " + std::to_string(length) + " bytes");
    }
    if (!last && payload.size() != kMaxPayload) return Error("short command packet without last");
    m_active = true;
    m_command = command;
    m_segmentLength = length;
    m_name = name;
    m_nameField = field;
    m_data.assign(payload.begin() + static_cast<long>(kCommandFields + field), payload.end());
    m_expectedSeq = 2;
    m_segmentStart = false;
    m_segmentBytes = m_data.size();
    m_segmentAnnounced = 0;
    m_lastSegmentShort = false;
    m_complete = last;
    m_inSegment = !last;
    m_control1Due = false;
    if (last) StoreFile();
    return true;
}

bool FileService::OnData(uint16_t seq, bool last, const std::vector<uint8_t>& packet) {
    if (!m_active) return Error("data packet without a command packet");
    // Our reply was lost or refused and the packet comes again: it is in already.
    if (seq + 1 == m_expectedSeq && seq != 0) {
        return packet == m_lastPacket ||
               Error("packet " + std::to_string(seq) + " repeated with other bytes");
    }
    if (!m_inSegment && !m_segmentStart) {
        return Error("data packet " + std::to_string(seq) + " outside a segment");
    }
    if (seq != m_expectedSeq) {
        return Error("sequence " + std::to_string(seq) + " where " + std::to_string(m_expectedSeq) +
                     " is due");
    }
    const std::vector<uint8_t> payload(packet.begin() + kHeaderSize, packet.end());
    size_t at = 0;
    size_t announced = m_segmentAnnounced;
    if (m_segmentStart) {
        if (payload.size() < 4 || Word(&payload[0]) != kSegmentHeader) {
            return Error("segment without its header");
        }
        announced = Word(&payload[2]);
        if (announced == 0 || announced > kSegmentSize) {
            return Error("segment header announcing " + std::to_string(announced) + " bytes");
        }
        if (m_lastSegmentShort) return Error("a segment after a short one");
        at = 4;
    }
    if (payload.size() < kMaxPayload && !last) return Error("short packet without last");
    const size_t bytes = payload.size() - at;
    const size_t limit =
        announced ? announced : (m_command == kCommandWhole ? m_segmentLength : kSegmentSize);
    if (m_segmentBytes + bytes > limit || (last && announced && m_segmentBytes + bytes != limit) ||
        (last && m_command == kCommandWhole && m_data.size() + bytes != m_segmentLength)) {
        return Error("segment of " + std::to_string(m_segmentBytes + bytes) + " bytes where " +
                     std::to_string(limit) + " are due");
    }
    m_segmentStart = false;
    m_inSegment = true;
    m_segmentAnnounced = announced;
    m_data.insert(m_data.end(), payload.begin() + static_cast<long>(at), payload.end());
    m_segmentBytes += bytes;
    ++m_expectedSeq;
    m_lastPacket = packet;
    if (last) {
        m_inSegment = false;
        // A segment short of the segment size is the last; a whole one may or may not be.
        m_complete = m_command == kCommandWhole || m_segmentBytes < kSegmentSize;
        if (m_complete) CheckWholeFile();
        StoreFile();  // what has come so far; the next segment rewrites it whole
    }
    return true;
}

void FileService::CheckWholeFile() {
    // Segments are for files the command packet and one segment cannot carry.
    if (m_command == kCommandSegments &&
        kCommandFields + m_nameField + m_data.size() <= kSegmentSize) {
        Error("command 0x012F for a file of " + std::to_string(m_data.size()) + " bytes");
    }
}

bool FileService::OnPacket(const std::vector<uint8_t>& packet) {
    const uint16_t seq = Word(&packet[4]);
    const bool last = packet[7] == 1;
    if (packet[7] > 1) return Error("last byte " + std::to_string(packet[7]));
    const std::vector<uint8_t> payload(packet.begin() + kHeaderSize, packet.end());
    const uint16_t command = payload.size() >= 2 ? Word(&payload[0]) : 0;
    if (seq == 1 && command == kCommandRead) return OnReadRequest(packet);
    if (seq == 1 && (command == kCommandWhole || command == kCommandSegments) &&
        payload.size() >= kCommandFields) {
        if (!OnCommand(last, payload)) return false;
        m_lastPacket = packet;
        return true;
    }
    return OnData(seq, last, packet);
}

void FileService::OnControl(uint16_t status, uint16_t seq) {
    // A broken control message has no refusal: the controller does not answer it.
    if (status != kStatusOk)
        return void(Error("control message with status " + std::to_string(status)));
    if (seq == 0) {
        if (!m_active) return void(Error("handshake without a file"));
        if (m_inSegment) return void(Error("handshake in the middle of a segment"));
        // After the first control message of a handshake: status 0x000C and the free space of
        // the flash file system, ten bytes; once the file is whole, sixteen, the last six the
        // size it took. The program reads eight and then "up to eight": sixteen spare it the
        // read interval's wait. (Eighteen would leave two bytes behind its purge and shift
        // every reply it reads after.)
        std::vector<uint8_t> answer = MakeReply(0x000C, 0);
        const uint32_t free = 0x00380000;
        for (int i = 0; i < 4; ++i) answer.push_back(static_cast<uint8_t>(free >> (8 * i)));
        if (m_complete) {
            const uint64_t used = m_data.size();
            for (int i = 0; i < 6; ++i) answer.push_back(static_cast<uint8_t>(used >> (8 * i)));
        }
        m_line.Reply(answer.data(), answer.size());
        m_lastSegmentShort = m_segmentBytes < kSegmentSize;
        m_segmentBytes = 0;
        m_busyLeft = m_faults.busyHandshakes;
        m_expectedSeq = 1;
        m_segmentStart = true;
        m_control1Due = true;
        return;
    }
    if (seq != 1) return void(Error("control message with sequence " + std::to_string(seq)));
    if (!m_control1Due) return void(Error("a handshake's second message without its first"));
    if (m_busyLeft > 0) {
        --m_busyLeft;
        Answer(kStatusBad, seq);
        return;
    }
    m_control1Due = false;
    Answer(kStatusOk, seq);
}

void FileService::Serve() {
    uint64_t quietMs = 0;
    for (;;) {
        uint8_t sync[2];
        const uint32_t slice = 1000;
        if (m_line.Receive(sync, 1, slice, 0) == 0) {
            if (m_served || !m_idleOnceServed) quietMs += slice;
            if (m_idleTimeoutMs && quietMs >= m_idleTimeoutMs) return;
            continue;
        }
        quietMs = 0;
        m_served = true;
        if (m_silent) continue;
        // A frame cut short is the program's pause in the middle of it, or ours in reading
        // it: a hold-up as long as our wait for its rest explains it.
        const auto frameAt = std::chrono::steady_clock::now();
        const auto cutShort = [&](const std::string& what) {
            TimingError(what, kFrameRestMs, frameAt);
        };
        if (m_line.ReceiveAll(sync + 1, 1, kFrameRestMs) != 1) continue;
        const uint16_t word = Word(sync);
        if (word == kReplySync) {
            uint8_t rest[4];
            if (m_line.ReceiveAll(rest, 4, kFrameRestMs) != 4) {
                cutShort("control message cut short");
                continue;
            }
            m_inNoise = false;
            OnControl(Word(rest), Word(rest + 2));
            continue;
        }
        if (word != kSync) {
            // Noise: wait for the next frame. A pseudo-terminal loses and adds nothing, so it
            // is the program's; one report per stretch of it.
            if (!m_inNoise) Error("bytes outside any frame");
            m_inNoise = true;
            continue;
        }
        m_inNoise = false;
        uint8_t header[kHeaderSize];
        header[0] = sync[0];
        header[1] = sync[1];
        if (m_line.ReceiveAll(header + 2, 6, kFrameRestMs) != 6) {
            cutShort("packet header cut short");
            continue;
        }
        const uint16_t len = Word(header + 2);
        const uint16_t seq = Word(header + 4);
        if (len > kMaxPayload) {
            Error("len " + std::to_string(len));
            m_line.Discard();
            Answer(kStatusBad, seq);
            continue;
        }
        std::vector<uint8_t> whole(header, header + kHeaderSize);
        whole.resize(kHeaderSize + len);
        if (len && m_line.ReceiveAll(&whole[kHeaderSize], len, kFrameRestMs) != len) {
            cutShort("packet " + std::to_string(seq) + " shorter than its len");
            Answer(kStatusBad, seq);
            continue;
        }
        if (Checksum(whole.data(), whole.size()) != header[6]) {
            Error("packet " + std::to_string(seq) + " with a wrong sum");
            Answer(kStatusBad, seq);
            continue;
        }
        const uint32_t index = ++m_packets;
        if (index == m_faults.badStatusPacket) {
            Answer(kStatusBad, seq);
            continue;
        }
        const bool readRequest = seq == 1 && len >= 2 && Word(&whole[kHeaderSize]) == kCommandRead;
        const bool taken = OnPacket(whole);
        if (readRequest) continue;  // answered by SendFile
        if (!taken) {
            Answer(kStatusBad, seq);
        } else if (index == m_faults.silentAfterPacket) {
            m_silent = true;
        } else if (index == m_faults.wrongSeqPacket) {
            Answer(kStatusOk, static_cast<uint16_t>(seq + 1));
        } else if (index == m_faults.shortReplyPacket) {
            const std::vector<uint8_t> reply = MakeReply(kStatusOk, seq);
            m_line.Reply(reply.data(), 4);
        } else {
            Answer(kStatusOk, seq);
        }
    }
}
