// The progress page: each showing starts one flashing run; the engine drives the bar, the
// status text and its boxes from its own thread until it reports, and the report moves the
// assistant on.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <string>

#include "app/messages.h"
#include "app/worker_report.h"
#include "flash/attempt_record.h"
#include "flash/math_thread.h"
#include "serial/line_trace.h"

class CFourthPage : public CWorkerPage, public IEngineUi {
  public:
    CFourthPage();
    ~CFourthPage() override;
    void OnPageShown() override;

    LRESULT OnWorkerResult(WPARAM, LPARAM code);
    // The assistant is closing: a running engine is stopped and waited for.
    void EndWorkers();

    // IEngineUi, called on the engine's thread.
    std::string GetSelectedPortText() override;
    void SetStatusText(const std::string& text) override;
    void SetProgressPos(uint32_t position) override;
    void SetProgressSteps(uint32_t upper) override;
    void StepProgress() override;
    bool IsFormatChecked() override;
    void ShowMessage(const std::string& text, const std::string& caption) override;
    void ShowAppMessage(const std::string& text) override;
    void ReportResult(int code) override;

    HWND m_Progress = nullptr;
    HWND m_StatusText = nullptr;
    HWND m_SidePicture = nullptr;

  protected:
    BOOL OnInitDialog() override;
    LRESULT OnWorkerReport(WPARAM wParam, LPARAM lParam) override {
        return OnWorkerResult(wParam, lParam);
    }
    // After the engine's thread has ended: dispose of it, the box, then the page.
    void OnWorkerEnded() override;

  private:
    void EndRun(int code);
    // The run's block in the log, once its result and message are known.
    void WriteRunLog(const std::string& message);
    // A run that did not succeed leaves its line trace in trace\ for support: the full path
    // written, "" after a success or when it could not be written.
    std::string KeepRunTrace(const std::string& message);

    int m_nResult = 0;
    // The engine reports after every block; the bar only needs to hear of a new position.
    std::atomic<uint32_t> m_nShownPosition{0};
    // What the engine told of its end, and where the controller's files are kept: the box.
    RunOutcome m_Outcome;
    std::shared_ptr<CRunLog> m_pRunLog;
    // The run's row in plcflash-history.csv, filled as the run goes.
    AttemptRecord m_Attempt;
    std::chrono::steady_clock::time_point m_RunStart;
    std::shared_ptr<CLineTrace> m_pTrace;
};
