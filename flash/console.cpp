// The boot loader console dialogue: collect what the controller prints, wait for a prompt,
// answer with one letter.
#include <cstring>

#include "flash/math_thread.h"

CMathThread* g_pMathThread = nullptr;

CMathThread::CMathThread(IEngineUi& ui, CommDriver& driver, IClock& clock)
    : CMyThread(ui, driver, clock), m_Ui(ui) {}

// Run closes the port on every way out; this only catches an engine that never ran.
CMathThread::~CMathThread() {
    if (m_hPort) ClosePort(m_hPort);
}

bool CMathThread::OpenEnginePort() {
    // A port still held would keep COMn busy (no sharing) and the new open would fail.
    if (m_hPort) ClosePort(m_hPort);
    GetPortNumber();
    m_hPort = OpenPort(m_nPortNumber);
    SetupPort(m_hPort, 5000, 1, 20, 200, 7000);
    return true;
}

void CMathThread::WaitForTextImpl(const std::string& text, bool counting) {
    char chunk[kReadChunk + 1];
    // Only what came since the last look, with the text's length less one before it, can hold
    // a match not seen yet: a controller that talks for hours costs the same per byte.
    size_t from = 0;
    while (m_strReceived.find(text, from) == std::string::npos) {
        from = m_strReceived.size() >= text.size() ? m_strReceived.size() - text.size() + 1 : 0;
        uint32_t got = ReadBytes(m_hPort, chunk, kReadChunk);
        chunk[got] = '\0';
        // The console is text: a NUL ends what the chunk contributes.
        m_strReceived.append(chunk, std::strlen(chunk));
        if (counting) ReportProgress(got);
        // Only a tail is kept (the format report is read out of it), dropped in halves so that
        // the copying stays a constant cost per byte.
        if (m_strReceived.size() > 2 * kReceivedKept) {
            const size_t drop = m_strReceived.size() - kReceivedKept;
            m_strReceived.erase(0, drop);
            from = from > drop ? from - drop : 0;
        }
    }
}

void CMathThread::WaitForText(const std::string& text) {
    WaitForTextImpl(text, false);
}

void CMathThread::WaitForTextCounting(const std::string& text) {
    WaitForTextImpl(text, true);
}

void CMathThread::WaitForTextLenient(const std::string& text) {
    try {
        WaitForTextImpl(text, false);
    } catch (int code) {
        if (code != ResultNoAnswer) throw;
        Pause(kLenientPauseMs);
    }
}

void CMathThread::SendAnswer(char letter) {
    WriteBytes(m_hPort, &letter, 1);
}

void CMathThread::ClearReceived() {
    m_strReceived.clear();
}

void CMathThread::ReportProgress(uint64_t count) {
    m_nProgressDone += count;
    ShowProgressPosition();
}

void CMathThread::ShowProgressPosition() {
    // Two empty images would make the total 0: show a full bar rather than divide by it.
    const uint64_t position = m_nProgressTotal ? m_nProgressDone * 100 / m_nProgressTotal : 100;
    CSingleLock lock(m_EngineLock);
    m_Ui.SetProgressPos(static_cast<uint32_t>(position > 0xFFFFFFFFu ? 0xFFFFFFFFu : position));
}
