// A port that records what passes through it into a line trace, around the driver's port: the
// worker hands it out in place of the port it opened, so every read, write, purge and close
// made through it (the static primitives' too) is recorded without their callers knowing.
#pragma once

#include <memory>

#include "serial/comm.h"
#include "serial/line_trace.h"

class TracedPort final : public CommPort {
  public:
    TracedPort(std::unique_ptr<CommPort> port, std::shared_ptr<CLineTrace> trace);
    // Closes the port, then notes it.
    ~TracedPort() override;

    bool GetState(LineSettings* settings) override;
    bool SetState(const LineSettings& settings) override;
    bool SetTimeouts(const CommTimeouts& timeouts) override;
    bool Purge(unsigned queues) override;
    bool Read(void* buffer, uint32_t count, uint32_t* got, const CStopSignal* stop) override;
    bool Write(const void* buffer, uint32_t count, uint32_t* put, const CStopSignal* stop) override;
    bool Lost() const override { return m_pPort->Lost(); }

  private:
    // A transfer the driver failed; one a stop ended is the worker's to note.
    void NoteFailure(const char* transfer, const CStopSignal* stop);

    std::unique_ptr<CommPort> m_pPort;
    std::shared_ptr<CLineTrace> m_pTrace;
};
