// Data files: every file of `data` is written into the controller's flash file system through
// its packet protocol, each over its own opening of the port.
#include <cstring>

#include "flash/controller_files.h"
#include "flash/crc32.h"
#include "flash/file_fetch.h"
#include "flash/math_thread.h"
#include "flash/packet.h"
#include "framework/file.h"
#include "framework/find.h"

using namespace packet;

namespace {

// The program's paths use backslashes; the console tool may be given slashes too.
std::string NameOf(const std::string& path) {
    const size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

void CMathThread::RaiseBadFile(const std::string& path, FileFault fault) {
    m_strFaultyFile = path;
    m_Fault = fault;
    RaiseResult(ResultBadFile);
}

void CMathThread::CheckNameFits(const std::string& path) {
    if (NameFieldLength(NameOf(path).size()) > kMaxNameField) {
        RaiseBadFile(path, FileFault::NameTooLong);
    }
}

void CMathThread::CheckDataFile(const std::string& path) {
    CheckNameFits(path);
    CheckFile(path);
}

ImageSum CMathThread::CheckFile(const std::string& path) {
    ImageSum sum;
    FileFault fault = FileFault::None;
    if (!SumFile(path, &sum, &fault)) RaiseBadFile(path, fault);
    return sum;
}

std::string CMathThread::ReadWholeFile(const std::string& path) {
    CFile file;
    if (!file.Open(path, CFile::modeRead)) RaiseBadFile(path, FileFault::CannotOpen);
    std::string content;
    uint8_t buffer[4096];
    for (uint32_t got; (got = file.Read(buffer, sizeof(buffer))) > 0;) {
        content.append(reinterpret_cast<const char*>(buffer), got);
    }
    if (file.Failed() || content.size() != file.GetLength()) {
        RaiseBadFile(path, FileFault::CannotRead);
    }
    return content;
}

void CMathThread::SetOwnFile(const std::string& name, const std::string* content) {
    m_OwnFiles.push_back({name, content != nullptr, content ? *content : std::string()});
}

RunFiles CMathThread::TakeDataFiles() {
    std::vector<std::string> names;
    CFileFind finder;
    if (finder.FindFile(std::string(kDataFolder) + "*.*")) {
        while (finder.FindNextFile()) {
            // A partial copy of a fetch is never the controller's file.
            if (finder.IsDirectory() || finder.IsDots() || IsPartialCopy(finder.GetFileName())) {
                continue;
            }
            names.push_back(finder.GetFileName());
        }
    }
    finder.Close();
    // Every file is taken before the first goes out: the controller must never be left with
    // half a folder because of a bad last file, and what it gets must not change under the
    // run.
    RunFiles files;
    std::vector<bool> placed(m_OwnFiles.size(), false);
    for (const std::string& name : names) {
        size_t own = 0;
        while (own < m_OwnFiles.size() && !SameFileName(m_OwnFiles[own].name, name)) ++own;
        if (own == m_OwnFiles.size()) {
            const std::string path = kDataFolder + name;
            CheckNameFits(path);
            files.push_back({name, ReadWholeFile(path)});
        } else if (!placed[own]) {
            placed[own] = true;
            if (m_OwnFiles[own].present)
                files.push_back({m_OwnFiles[own].name, m_OwnFiles[own].content});
        }
    }
    for (size_t own = 0; own < m_OwnFiles.size(); ++own) {
        if (!placed[own] && m_OwnFiles[own].present) {
            files.push_back({m_OwnFiles[own].name, m_OwnFiles[own].content});
        }
    }
    return files;
}

RunFiles CMathThread::SendDataFolder() {
    RunFiles files = TakeDataFiles();
    SendRunFiles(files);
    return files;
}

void CMathThread::SendRunFiles(const RunFiles& files) {
    for (const RunFile& file : files) {
        ShowStatus("Идет запись файла: " + file.name);
        SendDataFile(file);
    }
}

void CMathThread::StepPacketProgress() {
    CSingleLock lock(m_EngineLock);
    Ui().StepProgress();
}

void CMathThread::SendPacket(uint16_t seq, bool last, const uint8_t* payload, size_t size) {
    const std::vector<uint8_t> p = Build(seq, last, payload, size);
    for (int sends = 1;; ++sends) {
        WriteBytes(m_hPort, p.data(), static_cast<uint32_t>(p.size()));
        uint8_t reply[kReplySize];
        if (ReadBytes(m_hPort, reply, kReplySize) != kReplySize) RaiseResult(ResultProtocol);
        if (sends == 4) RaiseResult(ResultProtocol);
        if (Accepts(ParseReply(reply), seq)) return;
        RunLog().CountRefusal();
    }
}

void CMathThread::WriteControl(uint16_t seq) {
    const std::vector<uint8_t> message = MakeReply(kStatusOk, seq);
    WriteBytes(m_hPort, message.data(), static_cast<uint32_t>(message.size()));
}

void CMathThread::SegmentHandshake() {
    PurgePort(m_hPort);
    WriteControl(0);
    uint8_t answer[8];
    if (ReadBytes(m_hPort, answer, 8) != 8) RaiseResult(ResultProtocol);
    if (ReadBytes(m_hPort, answer, 2) != 2) RaiseResult(ResultProtocol);
    uint8_t reply[kReplySize];
    for (;;) {
        WriteControl(1);
        if (ReadBytes(m_hPort, reply, kReplySize) != kReplySize) RaiseResult(ResultProtocol);
        if (ParseReply(reply).status == kStatusOk) break;
        RunLog().CountRefusal();
    }
}

void CMathThread::EndHandshake() {
    WriteControl(0);
    uint8_t answer[8];
    if (ReadBytes(m_hPort, answer, 8) != 8) RaiseResult(ResultProtocol);
    // "Up to eight more" includes none: a controller that sends only the eight must not turn
    // a file it has taken whole into a failed run.
    try {
        ReadBytes(m_hPort, answer, 8);
    } catch (int code) {
        if (code != ResultNoAnswer) throw;
    }
    PurgePort(m_hPort);
    uint8_t reply[kReplySize];
    do {
        // A short reply must not be judged by what an earlier one left in the buffer.
        std::memset(reply, 0, sizeof(reply));
        WriteControl(1);
        ReadBytes(m_hPort, reply, kReplySize);
    } while (ParseReply(reply).status != kStatusOk);
}

void CMathThread::SendDataFile(const std::string& path) {
    CheckNameFits(path);
    SendDataFile(RunFile{NameOf(path), ReadWholeFile(path)});
}

void CMathThread::SendDataFile(const RunFile& file) {
    const std::string& name = file.name;
    CheckNameFits(kDataFolder + name);
    const size_t nameField = NameFieldLength(name.size());
    OpenEnginePort();

    const uint64_t size = file.content.size();
    size_t taken = 0;
    const auto take = [&](uint8_t* into, size_t count) {
        std::memcpy(into, file.content.data() + taken, count);
        taken += count;
    };
    uint64_t segments = (size + kSegmentSize - 1) / kSegmentSize;
    {
        CSingleLock lock(m_EngineLock);
        Ui().SetProgressSteps(static_cast<uint32_t>(size / kMaxPayload + 1));
    }

    // The command packet: the three fields, the name, and as much of the file as fits.
    const uint64_t whole = kCommandFields + nameField + size;
    const size_t headBytes = kMaxPayload - kCommandFields - nameField;
    uint16_t command = kCommandWhole;
    uint16_t segmentLength = static_cast<uint16_t>(size);
    size_t len = kMaxPayload;
    bool last = false;
    if (whole <= kMaxPayload) {
        len = static_cast<size_t>(whole);
        last = true;
        segments = 0;
    } else if (whole > kSegmentSize) {
        command = kCommandSegments;
        segmentLength = kSegmentSize;
    }
    uint8_t payload[kMaxPayload] = {};
    PutWord(payload, command);
    PutWord(payload + 2, segmentLength);
    PutWord(payload + 4, static_cast<uint16_t>(nameField));
    std::memcpy(payload + kCommandFields, name.data(), name.size());
    payload[kCommandFields + name.size()] = 0;
    if (name.size() % 2 == 0) payload[kCommandFields + name.size() + 1] = kNameFill;
    take(payload + kCommandFields + nameField, len - kCommandFields - nameField);
    SendPacket(1, last, payload, len);
    StepPacketProgress();

    uint16_t dataSeq = 1;
    for (uint64_t k = 0; k < segments; ++k) {
        uint64_t fileBytes = kSegmentSize;
        if (k == segments - 1) {
            fileBytes = segments == 1 ? size - headBytes : size - kSegmentSize * (segments - 1);
        } else if (k == 0) {
            fileBytes = kSegmentSize - headBytes;
        }
        const uint64_t toSend = fileBytes + (k > 0 ? 4 : 0);
        const uint64_t packets = (toSend + kMaxPayload - 1) / kMaxPayload;
        for (uint64_t i = 0; i < packets; ++i) {
            const bool final = i == packets - 1;
            const size_t plen =
                final ? static_cast<size_t>(toSend - kMaxPayload * (packets - 1)) : kMaxPayload;
            ++dataSeq;
            size_t at = 0;
            if (k > 0 && i == 0) {
                PutWord(payload, kSegmentHeader);
                PutWord(payload + 2, static_cast<uint16_t>(fileBytes));
                at = 4;
            }
            take(payload + at, plen - at);
            SendPacket(dataSeq, final, payload, plen);
            StepPacketProgress();
        }
        if (k + 1 < segments) {
            SegmentHandshake();
            dataSeq = 0;
        }
    }
    EndHandshake();
    ClosePort(m_hPort);
}
