// Ctrl-C (and its kin) for the console tool: the handler only sets stop signals, which a signal
// handler may do. Every worker a command runs is registered while it runs; a multi-port command
// registers all of its ports' workers, so one Ctrl-C stops every port as Cancel does.
#pragma once

#include "serial/worker.h"

// The handler InstallStopRequestHandler gets.
void StopEveryWorker();

// Set by Ctrl-C too: the main thread of a multi-port command waits on it between redraws.
const CStopSignal& StopAllSignal();

// Registers `worker` for Ctrl-C while in scope. At most kMaxStoppable at once; one past that is
// not registered (the caller limits its ports so that never happens).
class StopOnSignal {
  public:
    static constexpr int kMaxStoppable = 130;

    explicit StopOnSignal(CMyThread& worker);
    ~StopOnSignal();
    StopOnSignal(const StopOnSignal&) = delete;
    StopOnSignal& operator=(const StopOnSignal&) = delete;

  private:
    int m_nSlot = -1;
};
