// What a scenario's simulated controller reports: plcsim's line log (--log), which
// scripts/wine-tests.sh keeps as E2E_RUN_DIR\e2e-<name>-line.log. One line per event,
// "<ms> <what> <detail> [line in=... out=... replies=...]". The scenarios wait on these events
// rather than on the time the controller is known to take.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

struct SimEvent {
    std::string what;    // "prompt", "answer", "image", "file", "done", "error", ...
    std::string detail;  // the stage, letter, image or file name; an image's size follows it
};

using SimEvents = std::vector<SimEvent>;

class SimLog {
  public:
    explicit SimLog(const std::string& sim);

    // The events logged so far, in order.
    SimEvents Events() const;
    // How many events `what` with `detail` were logged.
    int Count(const std::string& what, const std::string& detail) const;
    // Waits until `holds` is true of the events; false after `ms`. Woken by changes in the log's
    // folder, and looks again every quarter second in case Wine misses one.
    bool WaitFor(const std::function<bool(const SimEvents&)>& holds, DWORD ms) const;
    // The last lines, for a failure message.
    std::string Tail() const;

  private:
    std::string m_folder;
    std::string m_path;
};

// The controller has left its running kernel (or a run given up) for its boot loader and asks
// for the first image, or has fallen silent there, and has heard nothing from the program since.
bool WaitsForTheFirstImage(const SimEvents& events);
