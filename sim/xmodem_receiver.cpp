#include "sim/xmodem_receiver.h"

#include <algorithm>

#include "flash/xmodem.h"

using namespace xmodem;

namespace {
// How long the receiver waits for the next block before it gives the transfer up.
constexpr uint32_t kBlockTimeoutMs = 10000;
// The rest of a block once its SOH has come: at the line rate it is well under 20 ms.
constexpr uint32_t kBlockRestMs = 1000;
}  // namespace

XmodemReceiver::XmodemReceiver(PacedLine& line, ReceiverFaults faults, uint32_t requestIntervalMs,
                               uint32_t idleTimeoutMs)
    : m_line(line),
      m_faults(std::move(faults)),
      m_requestIntervalMs(requestIntervalMs),
      m_idleTimeoutMs(idleTimeoutMs) {}

void XmodemReceiver::Error(const std::string& what) {
    Error(SimFault::Content(what));
}

void XmodemReceiver::Error(const SimFault& fault) {
    if (m_onError) m_onError(fault);
}

bool XmodemReceiver::SendByte(uint8_t byte) {
    return m_line.Reply(&byte, 1);
}

bool XmodemReceiver::Acknowledge() {
    for (uint32_t i = 0; i < m_faults.requestsBeforeAck; ++i) {
        if (!SendByte(kRequest)) return false;
    }
    return SendByte(kAck);
}

ReceiveStatus XmodemReceiver::FallSilent() {
    uint8_t scratch[256];
    uint64_t quietMs = 0;
    while (m_idleTimeoutMs == 0 || quietMs < m_idleTimeoutMs) {
        quietMs = m_line.Receive(scratch, sizeof(scratch), 1000) ? 0 : quietMs + 1000;
    }
    return ReceiveStatus::Silent;
}

ReceiveStatus XmodemReceiver::Receive(std::vector<uint8_t>* image) {
    image->clear();
    uint8_t c = 0;
    uint64_t waitedMs = 0;
    while (m_line.Receive(&c, 1, m_requestIntervalMs, 0) == 0) {
        waitedMs += m_requestIntervalMs;
        if (m_idleTimeoutMs && waitedMs >= m_idleTimeoutMs) return ReceiveStatus::LineLost;
        if (!SendByte(kRequest)) return ReceiveStatus::LineLost;
    }
    uint8_t expected = 1;
    uint32_t blocksTaken = 0;  // distinct blocks, in transfer order
    std::map<uint32_t, int> naksLeft = m_faults.nakBlock;
    int eotNaksLeft = m_faults.eotNaks;
    uint8_t block[kBlockSize];
    // The last block taken and a sound block refused: a sender repeats either unchanged.
    std::vector<uint8_t> taken, refused;
    bool noise = false;
    for (;;) {
        if (c == kSoh) {
            noise = false;
            block[0] = c;
            const auto blockAt = std::chrono::steady_clock::now();
            const size_t got = m_line.ReceiveAll(block + 1, kBlockSize - 1, kBlockRestMs);
            const bool whole = got == kBlockSize - 1;
            const uint16_t crc = static_cast<uint16_t>(block[kCrcAt] << 8 | block[kCrcAt + 1]);
            const bool sound = whole && static_cast<uint8_t>(block[1] + block[2]) == 0xFF &&
                               Crc16(block + 3, kDataSize) == crc;
            const std::vector<uint8_t> bytes(block, block + kBlockSize);
            if (!sound) {
                // A pseudo-terminal damages nothing: the sender built it so. Before the first
                // block, though, a program that does not know the controller sits in its boot
                // loader may be talking to its kernel: short bursts are noise then.
                // A block cut short is a pause in the middle of it, the sender's or ours.
                const std::string what =
                    "block " + std::to_string(block[1]) + (whole ? " damaged" : " cut short");
                if (whole) {
                    Error(what);
                } else if (blocksTaken > 0) {
                    Error(SimFault::Timing(what, kBlockRestMs, blockAt));
                }
                m_line.Discard();
                if (!SendByte(kNak)) return ReceiveStatus::LineLost;
            } else if (block[1] == static_cast<uint8_t>(expected - 1) && blocksTaken > 0) {
                // Our ACK was lost and the sender repeats the block: take it once only.
                if (bytes != taken)
                    Error("block " + std::to_string(block[1]) + " repeated with other bytes");
                if (!Acknowledge()) return ReceiveStatus::LineLost;
            } else if (block[1] != expected) {
                Error("block " + std::to_string(block[1]) + " where " + std::to_string(expected) +
                      " is due");
                const uint8_t cancel[] = {kCan, kCan};
                m_line.Reply(cancel, sizeof(cancel));
                return ReceiveStatus::Cancelled;
            } else if (!refused.empty() && bytes != refused) {
                Error("block " + std::to_string(block[1]) + " sent again with other bytes");
                refused.clear();
                if (!SendByte(kNak)) return ReceiveStatus::LineLost;
            } else {
                refused.clear();
                const uint32_t index = blocksTaken + 1;
                auto nak = naksLeft.find(index);
                if (nak != naksLeft.end() && nak->second > 0) {
                    --nak->second;
                    refused = bytes;
                    if (!SendByte(kNak)) return ReceiveStatus::LineLost;
                } else if (index == m_faults.canAfterBlock) {
                    SendByte(kCan);
                    return ReceiveStatus::Cancelled;
                } else {
                    image->insert(image->end(), block + 3, block + 3 + kDataSize);
                    taken = bytes;
                    ++blocksTaken;
                    ++expected;
                    if (blocksTaken == m_faults.silentAfterBlock) return FallSilent();
                    if (!Acknowledge()) return ReceiveStatus::LineLost;
                }
            }
        } else if (c == kEot) {
            noise = false;
            if (blocksTaken == 0) {
                // Even an empty image is one block of fill: an EOT first ends nothing.
                Error("end of transfer before block 1");
                if (!SendByte(kNak)) return ReceiveStatus::LineLost;
            } else if (m_faults.eotUnanswered) {
                return FallSilent();
            } else if (eotNaksLeft > 0) {
                --eotNaksLeft;
                if (!SendByte(kNak)) return ReceiveStatus::LineLost;
            } else {
                return SendByte(kAck) ? ReceiveStatus::Complete : ReceiveStatus::LineLost;
            }
        } else if (c == kCan) {
            return ReceiveStatus::Cancelled;
        } else if (!noise && blocksTaken > 0) {
            Error("bytes between blocks");
            noise = true;
        }
        // Anything else is line noise between blocks: wait for the next start of a block.
        const uint32_t wait =
            m_idleTimeoutMs ? std::min(m_idleTimeoutMs, kBlockTimeoutMs) : kBlockTimeoutMs;
        if (m_line.Receive(&c, 1, wait, 0) == 0) return ReceiveStatus::LineLost;
    }
}
