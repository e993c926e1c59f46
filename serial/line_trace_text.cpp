// The line trace as text: made only when a report asks for it, never while the line runs.
#include <cstdio>

#include "flash/run_log.h"
#include "serial/line_trace.h"

namespace {

constexpr size_t kBytesPerRow = 16;
// The time column and the direction: "    12.345  ->  ".
constexpr int kLeadWidth = 16;

std::string Lead(double seconds, const char* direction) {
    char lead[48];
    std::snprintf(lead, sizeof(lead), "%10.3f  %-2s  ", seconds, direction);
    return lead;
}

// The names of the XMODEM letters that travel alone, and of the sender's cancel.
const char* Meaning(const std::string& bytes) {
    if (bytes == "\x18\x18") return "CAN CAN";
    if (bytes.size() != 1) return nullptr;
    switch (static_cast<unsigned char>(bytes[0])) {
        case 0x04:
            return "EOT";
        case 0x06:
            return "ACK";
        case 0x15:
            return "NAK";
        case 0x18:
            return "CAN";
        default:
            return nullptr;
    }
}

// Rows of 16: the bytes in hex, then as text.
void AppendBytes(const std::string& lead, const std::string& bytes, std::string* text) {
    static const char kDigits[] = "0123456789ABCDEF";
    const char* meaning = Meaning(bytes);
    for (size_t row = 0; row < bytes.size() || row == 0; row += kBytesPerRow) {
        std::string hex, shown;
        for (size_t i = row; i < row + kBytesPerRow; ++i) {
            if (i >= bytes.size()) {
                hex += "   ";
                continue;
            }
            const auto b = static_cast<unsigned char>(bytes[i]);
            hex += kDigits[b >> 4];
            hex += kDigits[b & 0xF];
            hex += ' ';
            shown += b >= 0x20 && b <= 0x7E ? static_cast<char>(b) : '.';
        }
        *text += (row == 0 ? lead : std::string(kLeadWidth, ' ')) + hex + ' ' + shown;
        if (meaning) *text += std::string(kBytesPerRow + 2 - shown.size(), ' ') + meaning;
        *text += '\n';
    }
}

std::string Hex4(unsigned value) {
    char hex[8];
    std::snprintf(hex, sizeof(hex), "%04X", value & 0xFFFFu);
    return hex;
}

}  // namespace

std::string CLineTrace::Text() const {
    std::deque<Event> events;
    size_t dropped = 0;
    int lastPort = 0;
    {
        CSingleLock lock(m_Lock);
        events = m_Events;
        dropped = m_nDropped;
        lastPort = m_nLastPort;
    }
    char stamp[32] = "?";
    if (const std::tm* t = std::localtime(&m_tStart)) {
        std::strftime(stamp, sizeof(stamp), "%Y-%m-%d %H:%M:%S", t);
    }
    std::string text =
        std::string("plcflash ") + ProgramVersion() + ": запись обмена с контроллером\n" +
        "Порт: " + (m_strPort.empty() ? "COM" + std::to_string(lastPort) : m_strPort) + "\n" +
        "Начало записи: " + stamp + "\n" +
        "Время в секундах от начала записи; -> программа контроллеру, <- "
        "контроллер программе;\nбайты в шестнадцатеричном виде и как текст (вне "
        "0x20..0x7E точка); блоки XMODEM: номер и CRC.\n\n";
    if (dropped) {
        text += std::string(kLeadWidth, ' ') + "... более ранние события отброшены (" +
                std::to_string(dropped) + "): хранятся только последние\n";
    }
    Format(events, m_Start, &text);
    return text;
}

const char* CLineTrace::Direction(Kind kind) {
    switch (kind) {
        case Kind::Received:
        case Kind::Silence:
            return "<-";
        case Kind::Sent:
        case Kind::Block:
            return "->";
        default:
            return "";
    }
}

std::string CLineTrace::Label(const Event& e) {
    switch (e.kind) {
        case Kind::Block:
            return "блок XMODEM " + std::to_string(static_cast<unsigned char>(e.bytes[0])) +
                   ", CRC " +
                   Hex4((static_cast<unsigned char>(e.bytes[1]) << 8) |
                        static_cast<unsigned char>(e.bytes[2]));
        case Kind::Opened:
            return "открыт COM" + std::to_string(e.number);
        case Kind::OpenFailed:
            return "COM" + std::to_string(e.number) + " не открывается";
        case Kind::Silence:
            return "(ничего не пришло за время ожидания)";
        case Kind::Purged:
            return "очистка буферов порта";
        case Kind::Closed:
            return "порт закрыт";
        case Kind::Stopped:
            return "остановка по запросу пользователя";
        case Kind::Note:
            return e.bytes;
        case Kind::Received:
        case Kind::Sent:
            break;
    }
    return std::string();
}

void CLineTrace::Format(const std::deque<Event>& events,
                        std::chrono::steady_clock::time_point start, std::string* text) {
    using Ms = std::chrono::milliseconds;
    for (size_t i = 0; i < events.size(); ++i) {
        const Event& e = events[i];
        const std::string lead =
            Lead(std::chrono::duration<double>(e.at - start).count(), Direction(e.kind));
        if (e.kind != Kind::Received && e.kind != Kind::Sent) {
            *text += lead + Label(e) + "\n";
            continue;
        }
        std::string bytes = e.bytes;
        // A prompt arrives in several reads; whole it reads better.
        while (e.kind == Kind::Received && e.number == 0 && i + 1 < events.size() &&
               events[i + 1].kind == Kind::Received && events[i + 1].number == 0 &&
               events[i + 1].at - events[i].at <= Ms(kMergeMs) &&
               bytes.size() + events[i + 1].bytes.size() <= kMergedBytes) {
            bytes += events[++i].bytes;
        }
        AppendBytes(lead, bytes, text);
        if (e.number) {
            *text += std::string(kLeadWidth, ' ') + "(всего " + std::to_string(e.number) +
                     " байт, показаны первые " + std::to_string(e.bytes.size()) + ")\n";
        }
    }
}
