#include "serial/traced_port.h"

#include <cstdio>
#include <string>
#include <utility>

#include "framework/sync.h"

TracedPort::TracedPort(std::unique_ptr<CommPort> port, std::shared_ptr<CLineTrace> trace)
    : m_pPort(std::move(port)), m_pTrace(std::move(trace)) {}

TracedPort::~TracedPort() {
    m_pPort.reset();
    m_pTrace->Closed();
}

bool TracedPort::GetState(LineSettings* settings) {
    const bool ok = m_pPort->GetState(settings);
    if (!ok) m_pTrace->Note("настройки порта не читаются");
    return ok;
}

bool TracedPort::SetState(const LineSettings& settings) {
    const bool ok = m_pPort->SetState(settings);
    if (!ok) m_pTrace->Note("порт не принял настройки линии");
    return ok;
}

bool TracedPort::SetTimeouts(const CommTimeouts& t) {
    const bool ok = m_pPort->SetTimeouts(t);
    char text[160];
    std::snprintf(text, sizeof(text),
                  "время ожидания: чтение %u + %u/байт мс, пауза %u мс; запись %u + %u/байт мс%s",
                  t.readTotalConstant, t.readTotalMultiplier, t.readInterval, t.writeTotalConstant,
                  t.writeTotalMultiplier, ok ? "" : " (порт не принял)");
    m_pTrace->Note(text);
    return ok;
}

bool TracedPort::Purge(unsigned queues) {
    m_pTrace->Purged();
    return m_pPort->Purge(queues);
}

void TracedPort::NoteFailure(const char* transfer, const CStopSignal* stop) {
    if (stop && stop->IsSet()) return;
    m_pTrace->Note(std::string(transfer) +
                   (m_pPort->Lost() ? " не удалась: порт пропал" : " не удалась"));
}

bool TracedPort::Read(void* buffer, uint32_t count, uint32_t* got, const CStopSignal* stop) {
    *got = 0;
    const bool ok = m_pPort->Read(buffer, count, got, stop);
    if (*got) m_pTrace->Received(buffer, *got);
    if (!ok) {
        NoteFailure("операция чтения", stop);
    } else if (*got == 0) {
        m_pTrace->Silence();
    }
    return ok;
}

bool TracedPort::Write(const void* buffer, uint32_t count, uint32_t* put, const CStopSignal* stop) {
    *put = 0;
    const bool ok = m_pPort->Write(buffer, count, put, stop);
    if (*put) m_pTrace->Sent(buffer, *put);
    if (!ok) {
        NoteFailure("операция записи", stop);
    } else if (*put < count) {
        m_pTrace->Note("записано " + std::to_string(*put) + " байт из " + std::to_string(count));
    }
    return ok;
}
