#include "sim_log.h"

#include <algorithm>
#include <sstream>

#include "test_files.h"

namespace {

constexpr DWORD kLookAgainMs = 250;
constexpr size_t kTailLines = 12;

bool Is(const SimEvent& e, const char* what, const char* detail) {
    return e.what == what && e.detail == detail;
}

}  // namespace

SimLog::SimLog(const std::string& sim)
    : m_folder(EnvText("E2E_RUN_DIR")), m_path(m_folder + "\\e2e-" + sim + "-line.log") {}

SimEvents SimLog::Events() const {
    const std::string text = ReadAll(m_path);
    SimEvents events;
    if (text.rfind("<missing ", 0) == 0) return events;
    // A line still being written has no end yet: it counts once it has.
    for (size_t begin = 0, end; (end = text.find('\n', begin)) != std::string::npos;
         begin = end + 1) {
        std::string line = text.substr(begin, end - begin);
        line.erase(std::min(line.size(), line.find(" [line ")));
        std::istringstream fields(line);
        std::string ms;
        SimEvent e;
        fields >> ms >> e.what;
        std::getline(fields >> std::ws, e.detail);
        events.push_back(e);
    }
    return events;
}

int SimLog::Count(const std::string& what, const std::string& detail) const {
    const SimEvents events = Events();
    return static_cast<int>(std::count_if(events.begin(), events.end(), [&](const SimEvent& e) {
        return Is(e, what.c_str(), detail.c_str());
    }));
}

bool SimLog::WaitFor(const std::function<bool(const SimEvents&)>& holds, DWORD ms) const {
    HANDLE changed = FindFirstChangeNotificationA(
        m_folder.c_str(), FALSE, FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_LAST_WRITE);
    const DWORD start = GetTickCount();
    bool held;
    for (;;) {
        held = holds(Events());
        const DWORD waited = GetTickCount() - start;
        if (held || waited >= ms) break;
        const DWORD slice = std::min(kLookAgainMs, ms - waited);
        if (changed == INVALID_HANDLE_VALUE) {
            Sleep(slice);
        } else if (WaitForSingleObject(changed, slice) == WAIT_OBJECT_0) {
            FindNextChangeNotification(changed);
        }
    }
    if (changed != INVALID_HANDLE_VALUE) FindCloseChangeNotification(changed);
    return held;
}

std::string SimLog::Tail() const {
    std::istringstream text(ReadAll(m_path));
    std::vector<std::string> lines;
    for (std::string line; std::getline(text, line);) lines.push_back(line);
    std::string tail = m_path + ", last lines:\n";
    for (size_t i = lines.size() > kTailLines ? lines.size() - kTailLines : 0; i < lines.size();
         ++i)
        tail += lines[i] + "\n";
    return tail;
}

bool WaitsForTheFirstImage(const SimEvents& events) {
    return !events.empty() &&
           (Is(events.back(), "prompt", "loader") || Is(events.back(), "silent", "loader"));
}
