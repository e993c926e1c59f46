#include "cli/stop_on_signal.h"

#include <atomic>

namespace {

std::atomic<CMyThread*> g_stoppable[StopOnSignal::kMaxStoppable];

CStopSignal& AllSignal() {
    static CStopSignal signal;
    return signal;
}

}  // namespace

void StopEveryWorker() {
    AllSignal().Set();
    for (auto& slot : g_stoppable) {
        if (CMyThread* worker = slot.load()) worker->RequestStop();
    }
}

const CStopSignal& StopAllSignal() {
    return AllSignal();
}

StopOnSignal::StopOnSignal(CMyThread& worker) {
    for (int i = 0; i < kMaxStoppable; ++i) {
        CMyThread* empty = nullptr;
        if (g_stoppable[i].compare_exchange_strong(empty, &worker)) {
            m_nSlot = i;
            break;
        }
    }
    // Ctrl-C pressed before this worker existed stops it all the same.
    if (AllSignal().IsSet()) worker.RequestStop();
}

StopOnSignal::~StopOnSignal() {
    if (m_nSlot >= 0) g_stoppable[m_nSlot] = nullptr;
}
