#include "cli/prompt_desk.h"

#include <algorithm>

bool CPromptDesk::Ask(const std::string& port, const std::string& text, const CStopSignal& stop) {
    if (!m_bAsk) return !stop.IsSet();
    auto request = std::make_shared<Request>();
    request->port = port;
    request->text = text;
    {
        CSingleLock lock(m_Lock);
        m_Queue.push_back(request);
    }
    // The answer and the stop cannot be waited for together: the stop is looked at between
    // short waits for the answer.
    while (!request->answered.Wait(kStopLookMs)) {
        if (!stop.IsSet()) continue;
        CSingleLock lock(m_Lock);
        m_Queue.erase(std::remove(m_Queue.begin(), m_Queue.end(), request), m_Queue.end());
        return false;
    }
    return !stop.IsSet();
}

std::shared_ptr<CPromptDesk::Request> CPromptDesk::Front() {
    CSingleLock lock(m_Lock);
    return m_Queue.empty() ? nullptr : m_Queue.front();
}

void CPromptDesk::Answer(const std::shared_ptr<Request>& request) {
    CSingleLock lock(m_Lock);
    m_Queue.erase(std::remove(m_Queue.begin(), m_Queue.end(), request), m_Queue.end());
    request->answered.SetEvent();
}
