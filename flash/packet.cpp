#include "flash/packet.h"

#include <cstring>

namespace packet {

uint8_t Checksum(const uint8_t* p, size_t size) {
    unsigned sum = 0;
    for (size_t i = 0; i < size; ++i) {
        if (i != 6) sum += p[i];
    }
    return static_cast<uint8_t>(sum & 0xFF);
}

std::vector<uint8_t> Build(uint16_t seq, bool last, const uint8_t* payload, size_t size) {
    std::vector<uint8_t> p(kHeaderSize + size);
    PutWord(&p[0], kSync);
    PutWord(&p[2], static_cast<uint16_t>(size));
    PutWord(&p[4], seq);
    p[7] = last ? 1 : 0;
    if (size) std::memcpy(&p[kHeaderSize], payload, size);
    p[6] = Checksum(p.data(), p.size());
    return p;
}

std::vector<uint8_t> MakeReply(uint16_t status, uint16_t seq) {
    std::vector<uint8_t> r(kReplySize);
    PutWord(&r[0], kReplySync);
    PutWord(&r[2], status);
    PutWord(&r[4], seq);
    return r;
}

}  // namespace packet
