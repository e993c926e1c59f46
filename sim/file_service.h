// The running kernel's file service: files written through the packet protocol land in a folder
// that stands for the controller's flash file system, and are read back out of it. Every field
// the program sends is checked as the controller checks it: a packet that breaks the protocol
// is refused (status 0x0014), a control message that does is left unanswered, and each is
// reported as an "error" event, so a test can fail on it. Faults by option.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "sim/paced_line.h"
#include "sim/sim_fault.h"

struct FileServiceFaults {
    uint32_t badStatusPacket = 0;    // answer packet k (1-based, in arrival order) with 0x0014
    uint32_t wrongSeqPacket = 0;     // answer packet k with another sequence number
    uint32_t shortReplyPacket = 0;   // answer packet k with four bytes only
    uint32_t silentAfterPacket = 0;  // take packet k, then answer nothing more
    int busyHandshakes = 0;          // answer the first N control messages "1" of each
                                     // handshake with status 0x0014
    // Reading files out of the controller (packets counted from 1 in sending order):
    int refuseRequests = 0;            // refuse this many read requests (-1: every one)
    uint32_t badSumPacket = 0;         // send packet K once with a wrong sum
    uint32_t repeatPacket = 0;         // send packet K again once it was acknowledged, as a
                                       // controller that lost the acknowledgement does
    uint32_t refusalBeforePacket = 0;  // a six-byte status-20 message where K's header is due
    bool twoBytePayload = false;       // answer the first packet of a read with two bytes
    bool silentRead = false;           // accept the request, then send nothing; only until
                                       // a file has been written
    bool silentAfterWrite = false;     // once a file has been written, answer no read request
    // Reads of NAME once NAME has been written: this many (-1: every one) are served with one
    // byte changed, or one byte more when the file is empty.
    std::map<std::string, int> corruptReads;
};

struct FileServiceEvent {
    std::string what;    // "file" (a file stored), "read" (a read request taken), "sent" (a
                         // file read out), "corrupt" (a
                         // read served with a byte changed), "refused" (a read request
                         // refused), "unanswered" (a read request taken and left without
                         // its file), "error" (the program broke the protocol)
    std::string detail;  // the file name, or what was wrong
    size_t size = 0;
    SimFault fault;  // with "error": of content or of timing
};

class FileService {
  public:
    FileService(PacedLine& line, std::string folder, FileServiceFaults faults,
                uint32_t idleTimeoutMs);

    // Serves until the program has said nothing for the idle time-out (0: for ever).
    void Serve();
    // The idle time counts only after the first frame: a controller waiting to be read.
    void IdleOnceServed() { m_idleOnceServed = true; }

    void SetObserver(std::function<void(const FileServiceEvent&)> observer) {
        m_observer = std::move(observer);
    }

  private:
    struct Incoming;

    bool Answer(uint16_t status, uint16_t seq);
    // False when the packet is refused.
    bool OnPacket(const std::vector<uint8_t>& packet);
    bool OnReadRequest(const std::vector<uint8_t>& packet);
    bool OnCommand(bool last, const std::vector<uint8_t>& payload);
    bool OnData(uint16_t seq, bool last, const std::vector<uint8_t>& packet);
    void OnControl(uint16_t status, uint16_t seq);
    // Checks of a file once it is known to be whole.
    void CheckWholeFile();
    // Sends a file to the program: status-10 reply, then segments of packets, each waiting for
    // its acknowledgement.
    void SendFile(const std::string& name, const std::vector<uint8_t>& request);
    // The file as the controller holds it: what this kernel was sent, else the folder's.
    bool Lookup(const std::string& name, std::vector<uint8_t>* content) const;
    void CorruptIfAsked(const std::string& name, std::vector<uint8_t>* content);
    bool SendPacketAcknowledged(uint16_t seq, bool last, const std::vector<uint8_t>& payload);
    // The fault of a lost acknowledgement: `packet` once more, and `ack` expected again.
    bool SendAgainAfterLostAcknowledgement(const std::vector<uint8_t>& packet,
                                           const std::vector<uint8_t>& ack);
    // `since`: when the exchange these bytes end began.
    bool AwaitBytes(const std::vector<uint8_t>& expected,
                    std::chrono::steady_clock::time_point since);
    void StoreFile();
    // Reports a protocol error of content; false, for `return Error(...)` in a check.
    bool Error(const std::string& what);
    // One of timing: a hold-up of ours at least `waitMs` long since `since` may explain it.
    bool TimingError(const std::string& what, uint32_t waitMs,
                     std::chrono::steady_clock::time_point since);
    std::string SinceRequest(std::chrono::steady_clock::time_point sentAt) const;

    PacedLine& m_line;
    std::string m_folder;
    FileServiceFaults m_faults;
    uint32_t m_idleTimeoutMs;
    bool m_idleOnceServed = false;
    bool m_served = false;
    std::function<void(const FileServiceEvent&)> m_observer;

    uint32_t m_packets = 0;  // packets taken, for the faults
    uint32_t m_sent = 0;     // packets sent by the read service, for its faults
    int m_refusals = 0;
    bool m_silent = false;
    bool m_inNoise = false;
    int m_busyLeft = 0;
    // The file being written.
    bool m_active = false;
    std::string m_name;
    uint16_t m_command = 0;
    uint32_t m_segmentLength = 0;
    size_t m_nameField = 0;
    uint16_t m_expectedSeq = 0;
    size_t m_segmentBytes = 0;           // file bytes of the segment under way
    size_t m_segmentAnnounced = 0;       // what its header announced (0: the first segment)
    bool m_complete = false;             // the file is known to be whole
    bool m_segmentStart = false;         // the next data packet opens a new segment
    bool m_inSegment = false;            // packets of a segment are due
    bool m_control1Due = false;          // a handshake's first message came; its second is due
    bool m_lastSegmentShort = false;     // the segment before the handshake was the file's last
    std::vector<uint8_t> m_lastPacket;   // the last packet taken, to compare a repeat with
    std::vector<uint8_t> m_refusedRead;  // a refused read request, to compare its repeat with
    std::vector<uint8_t> m_lastAck;      // the program's last acknowledgement of a read
    // When the read being served was asked for: a complaint about it says how long it took.
    std::chrono::steady_clock::time_point m_requestAt{};
    std::vector<uint8_t> m_data;
    // Every file stored since this kernel started, so that it can be read back without a
    // folder; and the corrupted reads still due for each name.
    std::map<std::string, std::vector<uint8_t>> m_stored;
    std::map<std::string, int> m_corruptLeft;
};
