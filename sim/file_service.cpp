#include "sim/file_service.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "flash/packet.h"

using namespace packet;

namespace {
// AA AA 01 00 01 00 89 01 32: the program asks for the next segment.
std::vector<uint8_t> BuildContinuationBytes() {
    const uint8_t two = '2';
    return Build(1, true, &two, 1);
}
}  // namespace

FileService::FileService(PacedLine& line, std::string folder, FileServiceFaults faults,
                         uint32_t idleTimeoutMs)
    : m_line(line),
      m_folder(std::move(folder)),
      m_faults(std::move(faults)),
      m_idleTimeoutMs(idleTimeoutMs),
      m_corruptLeft(m_faults.corruptReads) {}

void FileService::Error(const std::string& what) {
    if (m_observer) m_observer({"error", what, 0});
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
    if (m_observer) m_observer({"file", m_name, m_data.size()});
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
    if (m_observer) m_observer({"corrupt", name, content->size()});
}

bool FileService::AwaitBytes(const std::vector<uint8_t>& expected) {
    std::vector<uint8_t> got(expected.size());
    if (m_line.ReceiveAll(got.data(), got.size(), 3000) != got.size()) return false;
    if (got != expected) Error("unexpected message from the program");
    return got == expected;
}

bool FileService::SendPacketAcknowledged(uint16_t seq, bool last,
                                         const std::vector<uint8_t>& payload) {
    const uint32_t index = ++m_sent;
    if (index == m_faults.refusalBeforePacket) {
        // The program answers this with its last acknowledgement again.
        const std::vector<uint8_t> refusal = MakeReply(kStatusBad, 0);
        m_line.Reply(refusal.data(), refusal.size());
        uint8_t ack[kReplySize];
        if (m_line.ReceiveAll(ack, kReplySize, 3000) != kReplySize) return false;
    }
    bool corrupt = index == m_faults.badSumPacket;
    for (int attempt = 0; attempt < 5; ++attempt) {
        std::vector<uint8_t> p = Build(seq, last, payload.data(), payload.size());
        if (corrupt) p[6] ^= 0x5A;
        corrupt = false;
        m_line.Reply(p.data(), p.size());
        uint8_t ack[kReplySize];
        if (m_line.ReceiveAll(ack, kReplySize, 3000) != kReplySize) return false;
        const Reply r = ParseReply(ack);
        if (r.seq != seq) Error("acknowledgement of sequence " + std::to_string(r.seq));
        if (r.status == kStatusOk) return r.sync == kReplySync;
        if (r.status != 20) Error("acknowledgement status " + std::to_string(r.status));
    }
    return false;
}

void FileService::SendFile(const std::string& name) {
    std::vector<uint8_t> content;
    const bool refuse = m_faults.refuseRequests < 0 || m_refusals < m_faults.refuseRequests;
    if (!Lookup(name, &content) || refuse) {
        ++m_refusals;
        Answer(kStatusBad, 1);
        return;
    }
    Answer(kStatusOk, 1);
    // A controller that could not be read before its reflash answers once it has been written.
    if (m_faults.silentRead && m_stored.empty()) return;
    CorruptIfAsked(name, &content);
    const std::vector<uint8_t> ack0 = MakeReply(kStatusOk, 0);
    const size_t segments = std::max<size_t>(1, (content.size() + kSegmentSize - 1) / kSegmentSize);
    for (size_t s = 0; s < segments; ++s) {
        if (!AwaitBytes(ack0)) return;
        const size_t begin = s * kSegmentSize;
        const size_t end = std::min(content.size(), begin + kSegmentSize);
        const bool more = s + 1 < segments;
        // The segment's bytes: a six-byte sub-header (third byte: another segment follows),
        // the file's bytes, and one closing byte that is not the file's.
        std::vector<uint8_t> bytes(6 + (end - begin) + 1, 0x00);
        bytes[0] = 0x01;
        bytes[2] = static_cast<uint8_t>(more ? 1 : 0);
        std::copy(content.begin() + static_cast<long>(begin),
                  content.begin() + static_cast<long>(end), bytes.begin() + 6);
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
            m_line.Reply(ready.data(), ready.size());
            if (!AwaitBytes(BuildContinuationBytes())) return;
            Answer(kStatusOk, 1);
        }
    }
    if (m_observer) m_observer({"sent", name, content.size()});
}

void FileService::OnPacket(uint16_t seq, bool last, const std::vector<uint8_t>& payload) {
    if (seq == 1 && payload.size() >= 4 && Word(&payload[0]) == kCommandRead) {
        std::string name(payload.begin() + 4, payload.end());
        name.resize(name.find('\0') == std::string::npos ? name.size() : name.find('\0'));
        if (m_faults.silentAfterWrite && !m_stored.empty()) {
            if (m_observer) m_observer({"unanswered", name, 0});
            return;
        }
        if (name.find('/') != std::string::npos || name == "." || name == "..") {
            Error("read request for " + name);
            Answer(kStatusBad, 1);
            return;
        }
        SendFile(name);
        return;
    }
    const bool command =
        seq == 1 && payload.size() >= kCommandFields &&
        (Word(&payload[0]) == kCommandWhole || Word(&payload[0]) == kCommandSegments);
    if (command) {
        const size_t nameField = Word(&payload[4]);
        if (kCommandFields + nameField > payload.size()) return Error("name field too long");
        m_active = true;
        m_command = Word(&payload[0]);
        m_segmentLength = Word(&payload[2]);
        m_name.assign(payload.begin() + kCommandFields,
                      payload.begin() + kCommandFields + static_cast<long>(nameField));
        m_name.resize(m_name.find('\0') == std::string::npos ? m_name.size() : m_name.find('\0'));
        if (NameFieldLength(m_name.size()) != nameField) Error("name field length");
        m_data.assign(payload.begin() + kCommandFields + static_cast<long>(nameField),
                      payload.end());
        m_expectedSeq = 2;
        m_segmentStart = false;
        m_segmentBytes = m_data.size();
        m_complete = last;
        if (last) {
            if (m_command != kCommandWhole || m_data.size() != m_segmentLength) {
                Error("one-packet file of the wrong length");
            }
            StoreFile();
        } else if (payload.size() != kMaxPayload) {
            Error("short command packet without last");
        }
        return;
    }
    if (!m_active) return Error("data packet without a command packet");
    // Our reply was lost or refused and the packet comes again: it is in already.
    if (seq + 1 == m_expectedSeq && seq != 0) return;
    if (seq != m_expectedSeq) return Error("sequence " + std::to_string(seq));
    size_t at = 0;
    if (m_segmentStart) {
        if (payload.size() < 4 || Word(&payload[0]) != kSegmentHeader) {
            return Error("segment without its header");
        }
        at = 4;
        m_segmentStart = false;
    }
    if (payload.size() < kMaxPayload && !last) Error("short packet without last");
    m_data.insert(m_data.end(), payload.begin() + static_cast<long>(at), payload.end());
    m_segmentBytes += payload.size() - at;
    ++m_expectedSeq;
    if (m_command == kCommandWhole && m_data.size() > m_segmentLength) Error("file too long");
    if (last) {
        if (m_command == kCommandWhole && m_data.size() != m_segmentLength) {
            Error("file of the wrong length");
        }
        // A segment short of the segment size is the last; a whole one may or may not be.
        m_complete = m_command == kCommandWhole || m_segmentBytes < kSegmentSize;
        StoreFile();  // what has come so far; the next segment rewrites it whole
    }
}

void FileService::OnControl(uint16_t seq) {
    if (seq == 0) {
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
        m_segmentBytes = 0;
        m_busyLeft = m_faults.busyHandshakes;
        m_expectedSeq = 1;
        m_segmentStart = true;
        return;
    }
    if (m_busyLeft > 0) {
        --m_busyLeft;
        Answer(kStatusBad, seq);
        return;
    }
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
        if (m_line.ReceiveAll(sync + 1, 1, 500) != 1) continue;
        const uint16_t word = Word(sync);
        if (word == kReplySync) {
            uint8_t rest[4];
            if (m_line.ReceiveAll(rest, 4, 500) != 4) continue;
            OnControl(Word(rest + 2));
            continue;
        }
        if (word != kSync) continue;  // noise: wait for the next frame
        uint8_t header[kHeaderSize];
        header[0] = sync[0];
        header[1] = sync[1];
        if (m_line.ReceiveAll(header + 2, 6, 500) != 6) continue;
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
        if (len && m_line.ReceiveAll(&whole[kHeaderSize], len, 500) != len) {
            Answer(kStatusBad, seq);
            continue;
        }
        if (Checksum(whole.data(), whole.size()) != header[6]) {
            Answer(kStatusBad, seq);
            continue;
        }
        const uint32_t index = ++m_packets;
        if (index == m_faults.badStatusPacket) {
            Answer(kStatusBad, seq);
            continue;
        }
        const std::vector<uint8_t> payload(whole.begin() + kHeaderSize, whole.end());
        const bool readRequest = payload.size() >= 2 && Word(&payload[0]) == kCommandRead;
        OnPacket(seq, header[7] == 1, payload);
        if (readRequest) continue;  // answered by SendFile
        if (index == m_faults.silentAfterPacket) {
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
