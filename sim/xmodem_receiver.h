// The boot loader's image receiver: XMODEM-CRC as a receiver should do it (CRC, block numbers
// and complements checked, duplicates acknowledged and dropped, the padded image kept whole),
// with the faults a test may ask for. What the sender breaks (a damaged block on a line that
// damages nothing, a block repeated with other bytes, one out of order, an EOT before any
// block, bytes between blocks) is refused as a receiver refuses it and reported.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "sim/paced_line.h"
#include "sim/sim_fault.h"

struct ReceiverFaults {
    std::map<uint32_t, int> nakBlock;  // block index (1-based, in transfer order) -> NAKs
    uint32_t canAfterBlock = 0;        // answer this block with CAN
    uint32_t silentAfterBlock = 0;     // stop answering after this block
    uint32_t requestsBeforeAck = 0;    // "C" letters sent before every ACK
    bool eotUnanswered = false;
    int eotNaks = 0;  // NAKs before the ACK of EOT
};

enum class ReceiveStatus { Complete, Cancelled, Silent, LineLost };

class XmodemReceiver {
  public:
    XmodemReceiver(PacedLine& line, ReceiverFaults faults, uint32_t requestIntervalMs,
                   uint32_t idleTimeoutMs);

    // Asks with "C" until the sender starts, then takes one image.
    ReceiveStatus Receive(std::vector<uint8_t>* image);
    // Told of every protocol error of the sender's.
    void SetErrorObserver(std::function<void(const SimFault&)> observer) {
        m_onError = std::move(observer);
    }

  private:
    bool SendByte(uint8_t byte);
    bool Acknowledge();
    ReceiveStatus FallSilent();
    void Error(const std::string& what);
    void Error(const SimFault& fault);

    PacedLine& m_line;
    ReceiverFaults m_faults;
    uint32_t m_requestIntervalMs;
    uint32_t m_idleTimeoutMs;
    std::function<void(const SimFault&)> m_onError;
};
