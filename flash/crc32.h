// CRC-32 as zip and Ethernet compute it (reflected polynomial 0xEDB88320, initial value and
// final XOR 0xFFFFFFFF): the check value an engineer can compare with the one published for an
// image. "123456789" gives CBF43926.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class CCrc32 {
  public:
    void Update(const void* data, size_t size);
    uint32_t Value() const { return ~m_nState; }

  private:
    uint32_t m_nState = 0xFFFFFFFFu;
};

uint32_t Crc32(const void* data, size_t size);

// Eight upper-case hexadecimal digits: "CBF43926".
std::string Crc32Text(uint32_t crc);
