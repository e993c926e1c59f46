#include "flash/log_file.h"

#include <limits>

#include "framework/file.h"

namespace {

// Windows-1251 0x80..0xBF; 0xC0..0xFF are the 64 letters from U+0410 on, in order.
const uint16_t kUpperHalf[64] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,  //
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,  //
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  //
    0xFFFD, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,  //
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,  //
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,  //
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,  //
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,  //
};

void AppendUtf8(uint32_t c, std::string* out) {
    if (c < 0x80) {
        out->push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out->push_back(static_cast<char>(0xC0 | (c >> 6)));
        out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out->push_back(static_cast<char>(0xE0 | (c >> 12)));
        out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

bool WriteAll(CFile& file, const std::string& text) {
    if (text.size() > std::numeric_limits<uint32_t>::max()) return false;
    return text.empty() || file.Write(text.data(), static_cast<uint32_t>(text.size()));
}

}  // namespace

std::string Cp1251ToUtf8(const std::string& text) {
    std::string out;
    out.reserve(text.size() * 2);
    for (char ch : text) {
        const auto b = static_cast<unsigned char>(ch);
        if (b < 0x80)
            out.push_back(ch);
        else if (b < 0xC0)
            AppendUtf8(kUpperHalf[b - 0x80], &out);
        else
            AppendUtf8(0x0410u + (b - 0xC0u), &out);
    }
    return out;
}

bool AppendBounded(const std::string& path, const std::string& older, const std::string& text,
                   uint64_t maxBytes) {
    CFile file;
    if (!file.Open(path, CFile::modeWrite | CFile::modeAppend)) return false;
    const uint64_t size = file.GetLength();
    if (size > 0 && size + text.size() > maxBytes) {
        file.Close();
        // Windows refuses to move a file someone holds open without sharing deletion; the
        // block then still goes to the current file, over the bound, and the next one retries.
        CFile::Replace(path, older);
        if (!file.Open(path, CFile::modeWrite | CFile::modeAppend)) return false;
    }
    // Flushed: the block of a run that ended just before a power cut is kept.
    return WriteAll(file, text) && file.Flush();
}
