// XMODEM with a 16-bit CRC (133-byte blocks): the constants and the CRC, shared by the
// engine's sender and the simulated boot loader's receiver.
#pragma once

#include <cstddef>
#include <cstdint>

namespace xmodem {

constexpr uint8_t kSoh = 0x01;
constexpr uint8_t kEot = 0x04;
constexpr uint8_t kAck = 0x06;
constexpr uint8_t kNak = 0x15;
constexpr uint8_t kCan = 0x18;
constexpr uint8_t kRequest = 0x43;  // 'C': the receiver asks for a CRC transfer
constexpr uint8_t kFill = 0x1A;     // pads the last block

constexpr size_t kDataSize = 128;
constexpr size_t kBlockSize = 133;        // SOH, number, 255 - number, data, CRC high, CRC low
constexpr size_t kCrcAt = 3 + kDataSize;  // the CRC's high byte; its low byte follows

// CRC-16 of the XMODEM variant: polynomial 0x1021, initial 0, not reflected, no final xor.
uint16_t Crc16(const uint8_t* data, size_t count);

}  // namespace xmodem
