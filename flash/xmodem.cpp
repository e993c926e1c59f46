// Image upload: the engine sends the current file to the boot loader by XMODEM-CRC.
#include "flash/xmodem.h"

#include <array>
#include <cstring>

#include "app/messages.h"
#include "flash/math_thread.h"

namespace xmodem {

namespace {

// table[i] is the CRC of the single byte i, so the CRC advances a byte at a time.
constexpr std::array<uint16_t, 256> MakeTable() {
    std::array<uint16_t, 256> table{};
    for (int i = 0; i < 256; ++i) {
        uint16_t crc = static_cast<uint16_t>(i << 8);
        for (int bit = 0; bit < 8; ++bit) {
            crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
        }
        table[i] = crc;
    }
    return table;
}

constexpr std::array<uint16_t, 256> kTable = MakeTable();

}  // namespace

uint16_t Crc16(const uint8_t* data, size_t count) {
    uint16_t crc = 0;
    for (size_t i = 0; i < count; ++i) {
        crc = static_cast<uint16_t>((crc << 8) ^ kTable[((crc >> 8) ^ data[i]) & 0xFF]);
    }
    return crc;
}

}  // namespace xmodem

using namespace xmodem;

void CMathThread::BuildBlock() {
    ++m_nBlockNumber;
    m_Block[0] = kSoh;
    m_Block[1] = m_nBlockNumber;
    m_Block[2] = static_cast<uint8_t>(255 - m_nBlockNumber);
    std::memset(m_Block + 3, kFill, kDataSize);
    const uint32_t got = m_pCurrentFile->Read(m_Block + 3, kDataSize);
    // A read error must not pass for the end of the image.
    if (m_pCurrentFile->Failed()) RaiseResult(ResultIoError);
    const uint16_t crc = Crc16(m_Block + 3, kDataSize);
    m_Block[kCrcAt] = static_cast<uint8_t>(crc >> 8);
    m_Block[kCrcAt + 1] = static_cast<uint8_t>(crc & 0xFF);
    if (got < kDataSize) m_bMoreData = false;
}

uint8_t CMathThread::ReadReplyByte() {
    uint8_t byte = 0;
    ReadBytes(m_hPort, &byte, 1);
    return byte;
}

void CMathThread::AwaitBlockAccepted(int* refusals) {
    uint8_t reply = ReadReplyByte();
    while (reply == kRequest) reply = ReadReplyByte();
    while (reply == kNak) {
        RunLog().CountNak();
        if (++*refusals == 3) RaiseResult(ResultNakLimit);
        WriteWhole(m_hPort, m_Block, kBlockSize);
        reply = ReadReplyByte();  // a request letter here counts as acceptance
    }
    if (reply == kCan) {
        {
            CSingleLock lock(m_EngineLock);
            Ui().ShowAppMessage(kUnknownErrorText);
        }
        RaiseResult(ResultProtocol);
    }
}

bool CMathThread::SendImage() {
    try {
        return SendImageBlocks();
    } catch (int code) {
        // As XMODEM senders do: the receiver learns that the upload is abandoned.
        if (code == ResultStopped) SendCancel(m_hPort);
        throw;
    }
}

bool CMathThread::SendImageBlocks() {
    if (!m_pCurrentFile) RaiseResult(ResultIoError);
    m_nBlockNumber = 0;
    m_bMoreData = true;
    int refusals = 0;
    // The request letters still queued would otherwise be read as the first block's reply.
    PurgePort(m_hPort);
    while (m_bMoreData) {
        BuildBlock();
        // Whole even when Cancel comes meanwhile (one block is about 12 ms at 115200 baud):
        // CAN CAN inside a block would be read as its data, and the receiver never stop.
        WriteWhole(m_hPort, m_Block, kBlockSize);
        ReportProgress(kDataSize);
        // The last block's reply is read too: a NAK of it would otherwise go unnoticed and
        // a truncated image pass for a complete one.
        AwaitBlockAccepted(&refusals);
    }
    for (int tries = 1;; ++tries) {
        const uint8_t eot = kEot;
        WriteBytes(m_hPort, &eot, 1);
        if (ReadReplyByte() == kAck) break;
        RunLog().CountNak();
        if (tries == 3) RaiseResult(ResultProtocol);
    }
    m_pCurrentFile.reset();
    return true;
}
