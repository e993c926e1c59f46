// One port of `plcflash-cli update`: the assistant's whole run for the controller on it, on a
// thread of its own. It reads the identity and calibration into memory, keeps the backup,
// decides the calibration and the identity file as the MAC/IP page does, asks for the manual
// steps through the prompt desk, runs the engine with those files as its own, and keeps the
// outcome for the table, the summary, the run log and the record of attempts. Nothing of one
// port passes through a place another port can change: its bytes stay in this object.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "cli/prompt_desk.h"
#include "flash/attempt_record.h"
#include "flash/math_thread.h"
#include "flash/run_log.h"
#include "identity/identity_file.h"
#include "identity/identity_keeper.h"

// What every port of one command shares, read-only once the ports start.
struct UpdateSettings {
    std::string device;  // the designation from plc.ini
    std::string version;
    std::string computer;
    bool format = false;      // --format
    std::string storageRoot;  // where backups go
    bool storageOk = false;   // a root could be written
    bool userFiles = false;   // data\'s identity and calibration may stand in (one port only)
    std::vector<ImageSum> images;
};

// What the table shows of a port.
struct PortRow {
    std::string port;
    std::string mac;
    std::string step;
    int percent = -1;  // -1: no bar in this step
    double seconds = 0;
    bool ended = false;
    bool succeeded = false;
    std::string reason;  // why it failed
};

class CPortUpdate final : public IEngineUi {
  public:
    // `port` as given on the command line; `givenMac` from --mac PORT=MAC, empty when none.
    CPortUpdate(std::string port, const UpdateSettings& settings, CPromptDesk& desk,
                MacFields givenMac);
    ~CPortUpdate();
    CPortUpdate(const CPortUpdate&) = delete;
    CPortUpdate& operator=(const CPortUpdate&) = delete;

    // The port as the port list names it, adapter included, for the record.
    void SetPortDescription(std::string text) { m_Record.port = std::move(text); }
    // The port's line trace, its reader's and its engine's; before Start.
    void SetTrace(const std::shared_ptr<CLineTrace>& trace) {
        m_Runner.SetTrace(trace);
        m_Engine.SetTrace(trace);
    }
    bool Start();
    // From any thread, a signal handler's included.
    void RequestStop();
    bool Wait(uint32_t ms);

    PortRow Row() const;
    // Once ended.
    const AttemptRecord& Record() const { return m_Record; }
    const CRunLog& RunLog() const { return *m_pLog; }
    CMyThread& Reader() { return m_Runner; }
    CMyThread& Engine() { return m_Engine; }

    // IEngineUi, on the port's thread.
    std::string GetSelectedPortText() override { return m_strPortEntry; }
    void SetStatusText(const std::string&) override {}
    void SetProgressPos(uint32_t position) override;
    void SetProgressSteps(uint32_t upper) override;
    void StepProgress() override;
    bool IsFormatChecked() override { return m_bFormat; }
    void ShowMessage(const std::string& text, const std::string& caption) override;
    void ShowAppMessage(const std::string& text) override { ShowMessage(text, "plcflash"); }
    void ReportResult(int code) override { m_nEngineResult = code; }

  private:
    // The thread and the reading's serial primitives.
    class Runner final : public CMyThread {
      public:
        Runner(CPortUpdate& owner) : CMyThread(owner), m_Owner(owner) {}
        uint32_t Run() override;

      private:
        CPortUpdate& m_Owner;
    };

    void Flow();
    // The reading: false (and the port ended) when nothing more can be done.
    bool ReadController();
    // The identity the run writes: false (and the port ended) when none is known.
    bool DecideIdentity();
    void RunEngine();
    void End(int code, const std::string& reason);
    void SetStep(const std::string& step);

    std::string m_strPort;
    std::string m_strPortEntry;
    const UpdateSettings& m_Settings;
    CPromptDesk& m_Desk;
    MacFields m_GivenMac;

    Runner m_Runner;
    CMathThread m_Engine;
    CIdentityKeeper m_Keeper;
    std::shared_ptr<CRunLog> m_pLog = std::make_shared<CRunLog>();
    std::chrono::steady_clock::time_point m_Start = std::chrono::steady_clock::now();

    // The reading, in memory only.
    bool m_bIdentityFetched = false;
    bool m_bRead = false;
    int m_nReadResult = ResultDone;
    std::string m_strIdentity;
    bool m_bCalibrationFetched = false;
    std::string m_strCalibration;
    IdentityReading m_Reading;

    std::string m_strRunIdentity;
    bool m_bFormat = false;
    int m_nEngineResult = -1;
    uint32_t m_nSteps = 0;
    uint32_t m_nUpper = 0;
    AttemptRecord m_Record;

    mutable CCriticalSection m_RowLock;
    PortRow m_Row;
};
