// What the flashing engine needs of the user interface. The assistant implements it with
// window messages to the progress page's controls; the console tool and the tests with
// plain code. Every call comes from the engine's own thread.
#pragma once

#include <cstdint>
#include <string>

#include "serial/worker.h"

class IEngineUi : public IPortChoice {
  public:
    virtual void SetStatusText(const std::string& text) = 0;
    virtual void SetProgressPos(uint32_t position) = 0;
    // Range 0..upper, position 0, step 1.
    virtual void SetProgressSteps(uint32_t upper) = 0;
    virtual void StepProgress() = 0;
    virtual bool IsFormatChecked() = 0;
    // Modal: returns when the user has pressed OK.
    virtual void ShowMessage(const std::string& text, const std::string& caption) = 0;
    // The program's own box: OK, exclamation icon, the program's name as caption.
    virtual void ShowAppMessage(const std::string& text) = 0;
    // The run's one result code; the worker touches nothing of itself after this returns.
    virtual void ReportResult(int code) = 0;

  protected:
    ~IEngineUi() = default;
};
