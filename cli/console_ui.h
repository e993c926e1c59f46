// The engine's user interface on a terminal: status and progress as lines, message boxes
// printed and confirmed at once (or by Enter with --ask).
#pragma once

#include <cstdio>
#include <string>

#include "flash/engine_ui.h"

class ConsoleUi final : public IEngineUi {
  public:
    ConsoleUi(std::string portText, bool ask, bool format);

    std::string GetSelectedPortText() override { return m_port; }
    void SetStatusText(const std::string& text) override;
    void SetProgressPos(uint32_t position) override;
    void SetProgressSteps(uint32_t upper) override;
    void StepProgress() override;
    bool IsFormatChecked() override { return m_format; }
    void ShowMessage(const std::string& text, const std::string& caption) override;
    void ShowAppMessage(const std::string& text) override { ShowMessage(text, "plcflash"); }
    void ReportResult(int code) override { m_result = code; }

    int Result() const { return m_result; }
    // The worker whose prompts wait for Enter: Ctrl-C ends them, and standard input at its
    // end stops it.
    void SetWorker(CMyThread* worker) { m_pWorker = worker; }

  private:
    void EndBarLine();

    std::string m_port;
    bool m_ask;
    bool m_format;
    int m_result = -1;
    uint32_t m_lastPosition = 0xFFFFFFFFu;
    uint32_t m_steps = 0;
    uint32_t m_upper = 0;
    bool m_tty;
    bool m_barShown = false;
    CMyThread* m_pWorker = nullptr;
};
