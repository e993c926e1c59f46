#include "flash/image_check.h"

#include "flash/controller_files.h"
#include "flash/crc32.h"
#include "framework/file.h"
#include "framework/sha256.h"

namespace {

constexpr size_t kSumDigits = 64;

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// sha256sum writes a name holding a backslash or a line break with "\\" and "\n", and marks
// the line with a backslash in front; false on any other escape.
bool Unescape(const std::string& escaped, std::string* name) {
    name->clear();
    for (size_t i = 0; i < escaped.size(); ++i) {
        if (escaped[i] != '\\') {
            *name += escaped[i];
        } else if (i + 1 < escaped.size() && escaped[i + 1] == '\\') {
            *name += '\\';
            ++i;
        } else if (i + 1 < escaped.size() && escaped[i + 1] == 'n') {
            *name += '\n';
            ++i;
        } else {
            return false;
        }
    }
    return true;
}

bool ParseLine(std::string line, PublishedSum* entry) {
    const bool escaped = !line.empty() && line[0] == '\\';
    if (escaped) line.erase(0, 1);
    if (line.size() < kSumDigits + 3 || line[kSumDigits] != ' ' ||
        (line[kSumDigits + 1] != ' ' && line[kSumDigits + 1] != '*')) {
        return false;
    }
    entry->sha256.clear();
    for (size_t i = 0; i < kSumDigits; ++i) {
        if (!IsHexDigit(line[i])) return false;
        entry->sha256 += Lower(line[i]);
    }
    const std::string name = line.substr(kSumDigits + 2);
    if (!escaped) {
        entry->name = name;
        return true;
    }
    return Unescape(name, &entry->name);
}

std::string NameOf(const std::string& path) {
    const size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::vector<PublishedSum> ParseSha256Sums(const std::string& text) {
    std::vector<PublishedSum> entries;
    size_t start = 0;
    // Notepad saves UTF-8 with a byte order mark.
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) start = 3;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        PublishedSum entry;
        if (ParseLine(line, &entry)) entries.push_back(std::move(entry));
        start = end + 1;
    }
    return entries;
}

bool SumsNameMatches(const std::string& listed, const std::string& image) {
    std::string name = listed;
    if (name.size() > 7 && SameFileName(name.substr(0, 6), "system") &&
        (name[6] == '/' || name[6] == '\\')) {
        name.erase(0, 7);
    }
    return SameFileName(name, NameOf(image));
}

bool SumFile(const std::string& path, ImageSum* sum, FileFault* fault) {
    CFile file;
    if (!file.Open(path, CFile::modeRead)) {
        *fault = FileFault::CannotOpen;
        return false;
    }
    CCrc32 crc;
    CSha256 sha;
    uint64_t size = 0;
    uint8_t buffer[16384];
    for (uint32_t got; (got = file.Read(buffer, sizeof(buffer))) > 0; size += got) {
        crc.Update(buffer, got);
        sha.Update(buffer, got);
    }
    // A file that shrank or grew while it was read is not the file that will be sent.
    if (file.Failed() || size != file.GetLength()) {
        *fault = FileFault::CannotRead;
        return false;
    }
    std::string digest;
    if (!sha.Finish(&digest)) {
        *fault = FileFault::HashFailed;
        return false;
    }
    *sum = ImageSum{path, size, crc.Value(), digest};
    return true;
}

bool CheckImages(std::vector<ImageSum>* sums, ImageFault* fault, bool* listChecked) {
    sums->clear();
    *fault = ImageFault();
    if (listChecked) *listChecked = false;
    for (const char* image : {kLoaderImage, kKernelImage}) {
        ImageSum sum;
        if (!SumFile(image, &sum, &fault->fault)) {
            fault->path = image;
            return false;
        }
        sums->push_back(sum);
    }
    if (!CFile::Exists(kImageSums)) return true;
    std::string text;
    fault->path = kImageSums;
    if (!CFile::ReadAll(kImageSums, &text)) {
        fault->fault = FileFault::CannotRead;
        return false;
    }
    const std::vector<PublishedSum> published = ParseSha256Sums(text);
    if (published.empty()) {
        fault->fault = FileFault::SumsMalformed;
        return false;
    }
    for (const ImageSum& sum : *sums) {
        fault->path = sum.path;
        fault->actual = sum.sha256;
        bool listed = false;
        // Every line that names the image must agree: a list that names it twice with two
        // sums cannot vouch for it.
        for (const PublishedSum& entry : published) {
            if (!SumsNameMatches(entry.name, sum.path)) continue;
            listed = true;
            if (entry.sha256 != sum.sha256) {
                fault->fault = FileFault::SumMismatch;
                fault->expected = entry.sha256;
                return false;
            }
        }
        if (!listed) {
            fault->fault = FileFault::NotInSums;
            return false;
        }
    }
    *fault = ImageFault();
    if (listChecked) *listChecked = true;
    return true;
}

const char* FileFaultReason(FileFault fault) {
    switch (fault) {
        case FileFault::CannotOpen:
            return "cannot be opened";
        case FileFault::CannotRead:
            return "cannot be read";
        case FileFault::NameTooLong:
            return "has a name too long for the controller";
        case FileFault::CannotWrite:
            return "cannot be written";
        case FileFault::DiffersOnController:
            return "did not read back from the controller as sent, even after a second write";
        case FileFault::NotReadBack:
            return "could not be read back from the controller";
        case FileFault::HashFailed:
            return "could not be checked: the system's SHA-256 failed";
        case FileFault::SumMismatch:
            return "does not match its SHA-256 in system\\SHA256SUMS";
        case FileFault::NotInSums:
            return "is not listed in system\\SHA256SUMS";
        case FileFault::SumsMalformed:
            return "holds no line in sha256sum's format";
        case FileFault::None:
            break;
    }
    return "";
}
