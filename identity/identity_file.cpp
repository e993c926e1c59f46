#include "identity/identity_file.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "framework/file.h"

const char kIdentityFile[] = "data\\local_addres.dat";

namespace {

// The program reads words as "%99s" into a 100-byte buffer would: white space separates them,
// and a longer word is taken 99 characters at a time.
class WordReader {
  public:
    explicit WordReader(const std::string& text) : m_text(text) {}
    // False at the end of the text, leaving `word` as it was.
    bool Next(std::string* word) {
        while (m_at < m_text.size() && std::isspace(static_cast<unsigned char>(m_text[m_at]))) {
            ++m_at;
        }
        if (m_at >= m_text.size()) return false;
        const size_t start = m_at;
        while (m_at < m_text.size() && m_at - start < 99 &&
               !std::isspace(static_cast<unsigned char>(m_text[m_at]))) {
            ++m_at;
        }
        *word = m_text.substr(start, m_at - start);
        return true;
    }

  private:
    const std::string& m_text;
    size_t m_at = 0;
};

std::string Without(std::string text, const char* drop) {
    std::string out;
    for (char c : text) {
        if (!std::strchr(drop, c)) out += c;
    }
    return out;
}

// Hexadecimal as the program has always read it: upper-cased, 32 bits (higher digits shift
// out), anything but a hex digit makes the whole value 0.
uint32_t HexValue(const std::string& digits) {
    uint32_t value = 0;
    const size_t count = std::min<size_t>(digits.size(), 256);
    for (size_t i = 0; i < count; ++i) {
        const char c = static_cast<char>(std::toupper(static_cast<unsigned char>(digits[i])));
        if (c >= '0' && c <= '9') {
            value = value * 16 + static_cast<uint32_t>(c - '0');
        } else if (c >= 'A' && c <= 'F') {
            value = value * 16 + static_cast<uint32_t>(c - 'A' + 10);
        } else {
            return 0;
        }
    }
    return value;
}

// The leading decimal digits of `text`; none gives 0.
uint32_t LeadingDecimal(const std::string& text) {
    uint32_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') break;
        value = value * 10 + static_cast<uint32_t>(c - '0');
    }
    return value;
}

std::string TwoDigitHex(uint32_t value) {
    char hex[16];
    std::snprintf(hex, sizeof(hex), "%X", value);
    return std::string(hex[1] ? "" : "0") + hex;
}

}  // namespace

bool ParseIdentity(const std::string& content, bool withMac, IdentityReading* out) {
    WordReader words(content);
    std::string word;
    words.Next(&word);
    IdentityReading reading = *out;
    if (withMac) {
        word = Without(word, " ");
        if (word.size() != 22) return false;
        for (size_t i = 0; i < 6; ++i) reading.mac[i] = word.substr(5 + 3 * i, 2);
    }
    words.Next(&word);  // a file without a second word makes the first serve again
    std::string ip = Without(word, " :");
    ip.erase(0, std::min<size_t>(3, ip.size()));
    reading.ip = HexValue(ip);
    *out = reading;
    return true;
}

bool LoadIdentityFile(const std::string& path, bool withMac, IdentityReading* out) {
    CFile file;
    if (!file.Open(path, CFile::modeRead)) return false;
    // Two words are all the reader takes; the file's first few kilobytes hold them.
    std::string content(4096, '\0');
    content.resize(file.Read(&content[0], static_cast<uint32_t>(content.size())));
    // Text mode: a CR is white space like the LF after it.
    return ParseIdentity(content, withMac, out);
}

std::string FormatIpForFile(const std::string& dottedIp) {
    std::string rest = dottedIp;
    std::string result;
    for (int i = 0; i < 3; ++i) {
        const size_t dot = rest.find('.');
        const std::string octet = rest.substr(0, dot);
        rest = dot == std::string::npos ? std::string() : rest.substr(dot + 1);
        result += TwoDigitHex(LeadingDecimal(octet)) + ":";
    }
    return result + TwoDigitHex(LeadingDecimal(rest));
}

std::string ComposeIdentity(const MacFields& mac, const std::string& dottedIp) {
    std::string text = "EMAC=";
    for (size_t i = 0; i < mac.size(); ++i) {
        if (i) text += ":";
        text += mac[i].size() == 1 ? "0" + mac[i] : mac[i];
    }
    return text + "\r\nIP=" + FormatIpForFile(dottedIp) + "\r\n";
}

std::string ComposeIdentityOver(const std::string& own, const MacFields& mac,
                                const std::string& dottedIp) {
    const std::string lines = ComposeIdentity(mac, dottedIp);
    return own.size() > lines.size() ? lines + own.substr(lines.size()) : lines;
}

bool SaveIdentityFile(const std::string& path, const std::string& content) {
    if (CFile::WriteAll(path, content)) return true;
    if (CFile::Exists(path)) return false;  // there, but read-only or locked
    const size_t slash = path.find_last_of("\\/");
    if (slash != std::string::npos) CFile::MakeFolder(path.substr(0, slash));
    return CFile::WriteAll(path, content);
}

std::string DottedIp(uint32_t ip) {
    return std::to_string(ip >> 24) + "." + std::to_string((ip >> 16) & 0xFF) + "." +
           std::to_string((ip >> 8) & 0xFF) + "." + std::to_string(ip & 0xFF);
}

std::string MacText(const MacFields& mac) {
    std::string text;
    for (const std::string& field : mac) text += (text.empty() ? "" : ":") + field;
    return text;
}
