// The controller's packet frame, shared by the data-file writer and the identity reader, and by
// the simulated controller's file service.
//
//   AA AA | len (2) | seq (2) | sum (1) | last (1) | len payload bytes
//
// 16-bit fields least significant byte first; `sum` is the 8-bit sum of every byte but itself.
// Replies and control messages are six bytes: 55 55 | status (2) | seq (2).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace packet {

constexpr size_t kHeaderSize = 8;
constexpr size_t kMaxPayload = 128;
constexpr size_t kReplySize = 6;
constexpr uint16_t kSync = 0xAAAA;
constexpr uint16_t kReplySync = 0x5555;
constexpr uint16_t kStatusOk = 0x000A;
constexpr uint16_t kStatusBad = 0x0014;

constexpr uint16_t kCommandWhole = 0x002F;     // the file as one segment
constexpr uint16_t kCommandSegments = 0x012F;  // the file in segments of kSegmentSize
constexpr uint16_t kCommandRead = 0x0031;
constexpr uint16_t kSegmentHeader = 0x0130;
constexpr size_t kSegmentSize = 4500;
// A segment the controller sends opens with a prefix of its own; its third byte is 1 when
// another segment follows.
constexpr size_t kSegmentPrefix = 6;
constexpr size_t kMoreSegmentsAt = 2;
constexpr uint8_t kNameFill = 0xCD;   // after the name's zero when the name's length is even
constexpr size_t kCommandFields = 6;  // command, segment length, name field length
// The name field's largest length: the command packet must keep room for its three fields.
constexpr size_t kMaxNameField = kMaxPayload - kCommandFields;

inline uint16_t Word(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}
inline void PutWord(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v & 0xFF);
    p[1] = static_cast<uint8_t>(v >> 8);
}

// The checksum of a whole packet (header and payload), its own byte left out.
uint8_t Checksum(const uint8_t* packet, size_t size);

// A complete packet around `payload`.
std::vector<uint8_t> Build(uint16_t seq, bool last, const uint8_t* payload, size_t size);

struct Reply {
    uint16_t sync;
    uint16_t status;
    uint16_t seq;
};

inline Reply ParseReply(const uint8_t* p) {
    return {Word(p), Word(p + 2), Word(p + 4)};
}

// 55 55 | status | seq: a reply, or a control message of the program's.
std::vector<uint8_t> MakeReply(uint16_t status, uint16_t seq);

inline bool Accepts(const Reply& r, uint16_t seq) {
    return r.sync == kReplySync && r.status == kStatusOk && r.seq == seq;
}

// The name field's length for a name of n bytes: the name, a zero, and 0xCD when n is even.
inline size_t NameFieldLength(size_t n) {
    return n % 2 ? n + 1 : n + 2;
}

}  // namespace packet
