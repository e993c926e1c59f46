// A worker on a scripted line, and the identity reader's side of the MAC/IP page.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "fakes.h"
#include "identity/read_thread.h"

// The line, the user interface and a clock that only records, for a worker of type Worker.
template <class Ui, class Worker>
struct ScriptedRig {
    PortScript script;
    ScriptedDriver driver{script};
    Ui ui;
    FakeClock clock;
    Worker worker{ui, driver, clock};
};

struct ReaderUi final : IReaderUi {
    std::string GetSelectedPortText() override { return "COM81"; }
    void ReportIdentity(bool identity, bool calibration) override {
        reports.emplace_back(identity, calibration);
    }
    std::vector<std::pair<bool, bool>> reports;
};
