#include "flash/trace_files.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include "flash/file_fetch.h"
#include "flash/log_file.h"
#include "framework/file.h"
#include "framework/find.h"

namespace {

constexpr size_t kStampLength = 15;  // YYYYMMDD-HHMMSS
constexpr int kTwins = 9;

bool Digits(const std::string& text, size_t from, size_t count) {
    if (count == 0 || from + count > text.size()) return false;
    for (size_t i = from; i < from + count; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
    }
    return true;
}

// The oldest of ours beyond the bound go; `kept` (just written) stays whatever its name says.
void RemoveOldTraces(const std::string& folder, const std::string& kept) {
    std::vector<std::string> traces;
    CFileFind finder;
    if (finder.FindFile(folder + "*.*")) {
        while (finder.FindNextFile()) {
            const std::string& name = finder.GetFileName();
            if (!finder.IsDirectory() && IsTraceFileName(name) && name != kept) {
                traces.push_back(name);
            }
        }
    }
    finder.Close();
    if (traces.size() < kTracesKept) return;
    // The names begin with the time they were written.
    std::stable_sort(traces.begin(), traces.end(), [](const std::string& a, const std::string& b) {
        return a.compare(0, kStampLength, b, 0, kStampLength) < 0;
    });
    const size_t excess = traces.size() - (kTracesKept - 1);
    for (size_t i = 0; i < excess; ++i) CFile::Remove(folder + traces[i]);
}

}  // namespace

bool WriteTraceFile(const CLineTrace& trace, const std::string& path) {
    return CFile::WriteAll(path, Cp1251ToUtf8(trace.Text()));
}

std::string TraceFileName(std::time_t when, int port) {
    char stamp[32] = "00000000-000000";
    if (const std::tm* t = std::localtime(&when)) {
        std::strftime(stamp, sizeof(stamp), "%Y%m%d-%H%M%S", t);
    }
    return std::string(stamp) + "-COM" + std::to_string(port) + ".txt";
}

bool IsTraceFileName(const std::string& name) {
    const std::string end = ".txt";
    if (name.size() < kStampLength + 4 + 1 + end.size() || !Digits(name, 0, 8) || name[8] != '-' ||
        !Digits(name, 9, 6) || name.compare(kStampLength, 4, "-COM") != 0 ||
        name.compare(name.size() - end.size(), end.size(), end) != 0) {
        return false;
    }
    const std::string rest = name.substr(kStampLength + 4, name.size() - kStampLength - 4 - 4);
    const size_t dash = rest.find('-');
    if (dash == std::string::npos) return Digits(rest, 0, rest.size());
    return Digits(rest, 0, dash) && rest.size() == dash + 2 && rest[dash + 1] >= '2' &&
           rest[dash + 1] <= '0' + kTwins;
}

std::string KeepTrace(const std::string& root, const CLineTrace& trace, int port,
                      std::time_t when) {
    const std::string folder = root + kTraceFolder;
    CFile::MakeFolder(root + "trace");
    RemovePartialCopies(folder);
    // Written whole under a name no trace has, then renamed: a trace cut short by a full disk
    // is never kept, and never replaces another.
    const std::string partial = folder + PartialCopyName("trace");
    if (!WriteTraceFile(trace, partial)) {
        CFile::Remove(partial);
        return std::string();
    }
    const std::string name = TraceFileName(when, port);
    for (int twin = 1; twin <= kTwins; ++twin) {
        const std::string named =
            twin == 1 ? name
                      : name.substr(0, name.size() - 4) + "-" + std::to_string(twin) + ".txt";
        if (CFile::Rename(partial, folder + named)) {
            RemoveOldTraces(folder, named);
            return folder + named;
        }
    }
    CFile::Remove(partial);
    return std::string();
}
