// SHA256SUMS on any bytes: every entry has a sum of 64 lower-case digits and a name, and the
// entries written back as sha256sum writes them parse to the same entries.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "flash/image_check.h"

namespace {

std::string WriteBack(const PublishedSum& entry) {
    const bool escape = entry.name.find_first_of("\\\n") != std::string::npos;
    std::string name;
    for (char c : entry.name) {
        if (c == '\\') {
            name += "\\\\";
        } else if (c == '\n') {
            name += "\\n";
        } else {
            name += c;
        }
    }
    return (escape ? "\\" : "") + entry.sha256 + "  " + name + "\n";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::vector<PublishedSum> entries = ParseSha256Sums(text);
    std::string again;
    bool roundTrip = true;
    for (const PublishedSum& e : entries) {
        if (e.sha256.size() != 64 || e.name.empty()) std::abort();
        if (e.sha256.find_first_not_of("0123456789abcdef") != std::string::npos) std::abort();
        // A name ending in CR cannot be written back: the reader takes a CR before LF as the
        // line's end, as sha256sum's lists from Windows have it.
        if (e.name.back() == '\r') roundTrip = false;
        again += WriteBack(e);
        SumsNameMatches(e.name, "system\\Floader.bin");
    }
    if (!roundTrip) return 0;
    const std::vector<PublishedSum> parsed = ParseSha256Sums(again);
    if (parsed.size() != entries.size()) std::abort();
    for (size_t i = 0; i < parsed.size(); ++i) {
        if (parsed[i].name != entries[i].name || parsed[i].sha256 != entries[i].sha256)
            std::abort();
    }
    return 0;
}
