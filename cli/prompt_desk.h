// The manual steps of several ports at once (the jumper, Reset), asked one at a time in the
// order the ports reached them, each naming its port. The ports' threads queue their steps;
// only the main thread talks to the user, so prompts never interleave with other output.
#pragma once

#include <deque>
#include <memory>
#include <string>

#include "framework/sync.h"

class CPromptDesk {
  public:
    struct Request {
        std::string port;
        std::string text;
        CEvent answered{true, false};
    };

    // `ask` false (--yes): every step is taken as done at once, as a fixture does them.
    explicit CPromptDesk(bool ask) : m_bAsk(ask) {}

    // On a port's thread: returns once the user has confirmed the step, true; false when
    // `stop` was set first.
    bool Ask(const std::string& port, const std::string& text, const CStopSignal& stop);

    // On the main thread: the step waiting longest, null when none.
    std::shared_ptr<Request> Front();
    // The user confirmed it: the port goes on.
    void Answer(const std::shared_ptr<Request>& request);

    bool Asks() const { return m_bAsk; }

  private:
    static constexpr uint32_t kStopLookMs = 100;

    bool m_bAsk;
    CCriticalSection m_Lock;
    std::deque<std::shared_ptr<Request>> m_Queue;
};
