#include "identity/read_thread.h"

#include <algorithm>
#include <cstring>

#include "flash/packet.h"

using namespace packet;

namespace {

constexpr uint16_t kStatusRefused = 20;  // the program's answer to a packet with a bad sum

void Send(CMyThread& worker, HPORT port, const std::vector<uint8_t>& bytes) {
    worker.WriteBytes(port, bytes.data(), static_cast<uint32_t>(bytes.size()));
}

std::vector<uint8_t> Acknowledgement(const uint8_t* marker, uint16_t status, uint16_t seq) {
    std::vector<uint8_t> ack = MakeReply(status, seq);
    ack[0] = marker[0];
    ack[1] = marker[1];
    return ack;
}

}  // namespace

std::vector<uint8_t> BuildReadRequest(const std::string& name) {
    std::vector<uint8_t> payload(4);
    PutWord(&payload[0], kCommandRead);
    PutWord(&payload[2], static_cast<uint16_t>(NameFieldLength(name.size())));
    payload.insert(payload.end(), name.begin(), name.end());
    payload.push_back(0);
    if (name.size() % 2 == 0) payload.push_back(0xCD);
    return Build(1, true, payload.data(), payload.size());
}

std::vector<uint8_t> BuildContinuation() {
    const uint8_t two = '2';
    return Build(1, true, &two, 1);
}

CReadThread::CReadThread(IReaderUi& ui, CommDriver& driver, IClock& clock)
    : CMyThread(ui, driver, clock), m_Ui(ui) {}

uint32_t CReadThread::Run() {
    bool identity = FetchFile("local_addres.dat") == ResultDone;
    if (!identity) {
        Pause(kRetryPauseMs);
        identity = FetchFile("local_addres.dat") == ResultDone;
    }
    bool calibration = false;
    if (m_strDevice.find("317") != std::string::npos ||
        m_strDevice.find("318") != std::string::npos) {
        calibration = FetchFile("calib.inc") == ResultDone;
        if (!calibration) {
            Pause(kRetryPauseMs);
            calibration = FetchFile("calib.inc") == ResultDone;
        }
    }
    m_Ui.ReportIdentity(identity, calibration);
    return 0;
}

int CReadThread::FetchFile(const std::string& name) {
    // The copy is received beside the real file and replaces it only when whole: a failed fetch
    // must not destroy an identity file that is there already, nor leave a partial
    // calibration file to be written back to the controller.
    const std::string target = m_strFolder + name;
    const std::string partial = m_strFolder + "~" + name + ".part";
    HPORT port = nullptr;
    CFile local;
    int result;
    try {
        result = Transfer(name, &port, &local);
    } catch (int code) {
        result = code;
    }
    if (port) ClosePort(port);
    const bool created = local.IsOpen();
    local.Close();
    if (result == ResultDone && !CFile::Replace(partial, target)) result = ResultIoError;
    if (result != ResultDone && created) CFile::Remove(partial);
    return result;
}

int CReadThread::Transfer(const std::string& name, HPORT* port, CFile* local) {
    *port = OpenPort(m_nPortNumber);
    SetupPort(*port, 5000, 1, 20, 200, 2000);
    const std::vector<uint8_t> request = BuildReadRequest(name);
    uint8_t reply[kReplySize] = {};
    for (int sends = 1;; ++sends) {
        PurgePort(*port);
        Send(*this, *port, request);
        std::memset(reply, 0, sizeof(reply));
        ReadBytes(*port, reply, kReplySize);
        if (sends == 3) return ResultIoError;
        if (Word(reply + 2) == kStatusOk) break;
    }
    if (!local->Open(m_strFolder + "~" + name + ".part", CFile::modeWrite | CFile::modeCreate)) {
        return ResultIoError;
    }
    uint8_t header[kHeaderSize];
    uint8_t payload[kMaxPayload];
    for (;;) {
        // Segment start: a fresh acknowledgement, its marker the controller's last reply's.
        std::vector<uint8_t> lastAck = Acknowledgement(reply, kStatusOk, 0);
        Send(*this, *port, lastAck);
        uint8_t more = 0;
        for (int headerReads = 0;;) {
            const uint32_t got = ReadBytes(*port, header, kHeaderSize);
            if (got == kReplySize && Word(header + 2) == kStatusRefused) {
                Send(*this, *port, lastAck);
            }
            if (++headerReads == 3) return ResultIoError;
            if (got < kHeaderSize) continue;
            headerReads = 0;
            // The payload's end is found by the read interval, not by `len`.
            const uint32_t n = ReadBytes(*port, payload, kMaxPayload);
            if (n == 2) return kTwoBytePayload;
            std::vector<uint8_t> whole(header, header + kHeaderSize);
            whole.insert(whole.end(), payload, payload + n);
            const bool sound = Checksum(whole.data(), whole.size()) == header[6];
            const uint16_t seq = Word(header + 4);
            lastAck = Acknowledgement(reply, sound ? kStatusOk : kStatusRefused, seq);
            Send(*this, *port, lastAck);
            if (!sound) continue;
            const bool last = header[7] == 1;
            // seq 1 opens with a six-byte sub-header whose third byte announces another
            // segment; a last packet ends with a byte that is not the file's. A payload too
            // short for either writes nothing rather than running off its start.
            uint32_t from = 0;
            if (seq == 1) {
                more = n > 2 ? payload[2] : 0;
                from = std::min<uint32_t>(6, n);
            }
            const uint32_t to = last ? std::max(from, n - 1) : n;
            if (to > from && !local->Write(payload + from, to - from)) return ResultIoError;
            if (last) break;
        }
        if (more != 1) return ResultDone;
        // Next segment: the controller says it is ready, the continuation command asks for it.
        for (;;) {
            std::memset(reply, 0, sizeof(reply));
            const uint32_t got = ReadBytes(*port, reply, kReplySize);
            if (got == kReplySize && Word(reply + 2) == kStatusOk) break;
            if (got == kReplySize) Send(*this, *port, lastAck);
        }
        const std::vector<uint8_t> continuation = BuildContinuation();
        do {
            Send(*this, *port, continuation);
            std::memset(reply, 0, sizeof(reply));
            ReadBytes(*port, reply, kReplySize);
        } while (Word(reply + 2) != kStatusOk);
    }
}
