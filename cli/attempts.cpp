#include "cli/attempts.h"

#include <cstdio>

#include "identity/backup.h"
#include "serial/port_list.h"

std::string PortWithAdapter(const std::string& port) {
    for (const std::string& entry : ListSystemPorts()) {
        if (entry == port || entry.rfind(port + " (", 0) == 0) return entry;
    }
    return port;
}

std::string AttemptsPath(const std::string& given) {
    if (!given.empty()) return given;
    std::string root;
    if (!ChooseStorageRoot(DefaultStorageRoots(), &root)) return std::string();
    return root + kHistoryName;
}

void RecordAttempt(const std::string& path, const AttemptRecord& record) {
    if (path.empty() || !AppendAttempt(path, record)) {
        std::fprintf(stderr, "plcflash-cli: cannot add the attempt to %s\n",
                     path.empty() ? kHistoryName : path.c_str());
    }
}
