#include "flash/crc32.h"

#include <array>

namespace {

// Byte-at-a-time table: images are a few hundred kilobytes, read once per run.
constexpr std::array<uint32_t, 256> MakeTable() {
    std::array<uint32_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int bit = 0; bit < 8; ++bit) c = (c & 1u) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[i] = c;
    }
    return table;
}

constexpr std::array<uint32_t, 256> kTable = MakeTable();

}  // namespace

void CCrc32::Update(const void* data, size_t size) {
    const auto* p = static_cast<const unsigned char*>(data);
    uint32_t c = m_nState;
    for (size_t i = 0; i < size; ++i) c = kTable[(c ^ p[i]) & 0xFFu] ^ (c >> 8);
    m_nState = c;
}

uint32_t Crc32(const void* data, size_t size) {
    CCrc32 crc;
    crc.Update(data, size);
    return crc.Value();
}

std::string Crc32Text(uint32_t crc) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text(8, '0');
    for (int i = 7; i >= 0; --i, crc >>= 4) text[i] = kDigits[crc & 0xFu];
    return text;
}
