#include "flash/file_fetch.h"

#include <algorithm>
#include <cstring>

#include "flash/packet.h"
#include "framework/file.h"
#include "framework/find.h"

using namespace packet;

namespace {

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

namespace {

const char kPartialEnd[] = ".part";

// The tag of the copy of the program that made a partial copy: "~NAME.TAG.part"; empty for one
// without (an older program's "~NAME.part").
std::string PartialCopyTag(const std::string& file) {
    const std::string inner = file.substr(1, file.size() - 1 - (sizeof(kPartialEnd) - 1));
    const size_t dot = inner.find_last_of('.');
    if (dot == std::string::npos) return std::string();
    const std::string tag = inner.substr(dot + 1);
    const bool digits = !tag.empty() && tag.find_first_not_of("0123456789") == std::string::npos;
    return digits ? tag : std::string();
}

}  // namespace

std::string PartialCopyName(const std::string& name) {
    return "~" + name + "." + ThisCopyTag() + kPartialEnd;
}

bool IsPartialCopy(const std::string& name) {
    const std::string suffix = kPartialEnd;
    return name.size() > suffix.size() + 1 && name[0] == '~' &&
           name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
}

void RemovePartialCopies(const std::string& folder) {
    std::vector<std::string> found;
    CFileFind finder;
    if (!finder.FindFile(folder + "*.*")) return;
    while (finder.FindNextFile()) {
        if (finder.IsDirectory() || !IsPartialCopy(finder.GetFileName())) continue;
        // Another copy of the program working in this folder may be writing its copy now.
        const std::string tag = PartialCopyTag(finder.GetFileName());
        if (tag == ThisCopyTag() || !CopyStillRuns(tag)) found.push_back(finder.GetFileName());
    }
    finder.Close();
    for (const std::string& name : found) CFile::Remove(folder + name);
}

std::vector<uint8_t> BuildReadRequest(const std::string& name) {
    std::vector<uint8_t> payload(4);
    PutWord(&payload[0], kCommandRead);
    PutWord(&payload[2], static_cast<uint16_t>(NameFieldLength(name.size())));
    payload.insert(payload.end(), name.begin(), name.end());
    payload.push_back(0);
    if (name.size() % 2 == 0) payload.push_back(kNameFill);
    return Build(1, true, payload.data(), payload.size());
}

std::vector<uint8_t> BuildContinuation() {
    const uint8_t two = '2';
    return Build(1, true, &two, 1);
}

int CFileFetch::Fetch(int portNumber, const std::string& name, std::string* content) {
    HPORT port = nullptr;
    std::string received;
    int result;
    bool transferred = false;
    try {
        port = m_Worker.OpenPort(portNumber);
        m_Worker.SetupPort(port, 5000, 1, 20, 200, 2000);
        result = Transfer(name, port, &received);
        transferred = true;
    } catch (int code) {
        result = code;
    }
    m_bTwoBytePayload = transferred && result == kTwoBytePayload;
    if (port) CMyThread::ClosePort(port);
    if (result == ResultDone) *content = std::move(received);
    return result;
}

int CFileFetch::FetchWithRetry(int portNumber, const std::string& name, std::string* content) {
    const int result = Fetch(portNumber, name, content);
    // A port that cannot be opened is held by another program (or another copy of this one)
    // or gone with its adapter, as is one lost under way: five seconds do not bring it back,
    // and the user is told at once.
    if (result == ResultDone || result == ResultStopped || result == ResultOpenFailed ||
        result == ResultPortLost) {
        return result;
    }
    try {
        m_Worker.Pause(kRetryPauseMs);
    } catch (int code) {
        return code;
    }
    return Fetch(portNumber, name, content);
}

int CFileFetch::Transfer(const std::string& name, HPORT port, std::string* content) {
    const std::vector<uint8_t> request = BuildReadRequest(name);
    uint8_t reply[kReplySize] = {};
    for (int sends = 1;; ++sends) {
        CMyThread::PurgePort(port);
        Send(m_Worker, port, request);
        std::memset(reply, 0, sizeof(reply));
        m_Worker.ReadBytes(port, reply, kReplySize);
        if (sends == 3) return ResultIoError;
        if (Word(reply + 2) == kStatusOk) break;
    }
    uint8_t header[kHeaderSize];
    uint8_t payload[kMaxPayload];
    for (;;) {
        // Segment start: a fresh acknowledgement, its marker the controller's last reply's.
        std::vector<uint8_t> lastAck = Acknowledgement(reply, kStatusOk, 0);
        Send(m_Worker, port, lastAck);
        uint8_t more = 0;
        int fruitless = 0;
        // The sequence number last taken in this segment: every segment counts from 1 again.
        uint16_t taken = 0;
        for (int headerReads = 0;;) {
            if (++fruitless > kMaxFruitless) return ResultIoError;
            const uint32_t got = m_Worker.ReadBytes(port, header, kHeaderSize);
            if (got == kReplySize && Word(header + 2) == kStatusBad) Send(m_Worker, port, lastAck);
            if (++headerReads == 3) return ResultIoError;
            if (got < kHeaderSize) continue;
            headerReads = 0;
            // The payload's end is found by the read interval, not by `len`.
            const uint32_t n = m_Worker.ReadBytes(port, payload, kMaxPayload);
            if (n == 2) return kTwoBytePayload;
            std::vector<uint8_t> whole(header, header + kHeaderSize);
            whole.insert(whole.end(), payload, payload + n);
            const bool sound = Checksum(whole.data(), whole.size()) == header[6];
            const uint16_t seq = Word(header + 4);
            const bool repeat = sound && taken != 0 && seq == taken;
            // Any other number means a packet was lost in between: what came so far has a hole
            // in it, and only a fetch from the start can fill it.
            if (sound && !repeat && seq != taken + 1) return ResultIoError;
            lastAck = Acknowledgement(reply, sound ? kStatusOk : kStatusBad, seq);
            Send(m_Worker, port, lastAck);
            // A repeat is the controller that lost our acknowledgement: it gets it again, and
            // the bytes are in already. It is no progress, so endless repeats still end here.
            if (!sound || repeat) continue;
            fruitless = 0;
            taken = seq;
            const bool last = header[7] == 1;
            // seq 1 opens with a six-byte sub-header whose third byte announces another
            // segment; a last packet ends with a byte that is not the file's. A payload too
            // short for either writes nothing rather than running off its start.
            uint32_t from = 0;
            if (seq == 1) {
                more = n > kMoreSegmentsAt ? payload[kMoreSegmentsAt] : 0;
                from = std::min<uint32_t>(kSegmentPrefix, n);
            }
            const uint32_t to = last ? std::max(from, n - 1) : n;
            if (to > from) {
                if (content->size() + (to - from) > kMaxFileBytes) return ResultIoError;
                content->append(reinterpret_cast<const char*>(payload + from), to - from);
            }
            if (last) break;
        }
        if (more != 1) return ResultDone;
        // Next segment: the controller says it is ready, the continuation command asks for it.
        for (int exchanges = 1;; ++exchanges) {
            if (exchanges > kMaxFruitless) return ResultIoError;
            std::memset(reply, 0, sizeof(reply));
            const uint32_t got = m_Worker.ReadBytes(port, reply, kReplySize);
            if (got == kReplySize && Word(reply + 2) == kStatusOk) break;
            if (got == kReplySize) Send(m_Worker, port, lastAck);
        }
        const std::vector<uint8_t> continuation = BuildContinuation();
        int asked = 0;
        do {
            if (++asked > kMaxFruitless) return ResultIoError;
            Send(m_Worker, port, continuation);
            std::memset(reply, 0, sizeof(reply));
            m_Worker.ReadBytes(port, reply, kReplySize);
        } while (Word(reply + 2) != kStatusOk);
    }
}
