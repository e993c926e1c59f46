// The MAC/IP page: reads the controller's identity on every showing, shows its MAC and IP for
// confirmation (or asks for them when the reading failed) and offers flash formatting only
// after a good reading.
#pragma once

#include <memory>
#include <string>

#include "app/messages.h"
#include "app/worker_report.h"
#include "identity/identity_file.h"
#include "identity/identity_keeper.h"
#include "identity/mac_edit.h"
#include "identity/read_thread.h"

class CThirdPage : public CWorkerPage, public IReaderUi {
  public:
    CThirdPage();
    ~CThirdPage() override;

    BOOL PreTranslateMessage(MSG* msg) override;
    void OnPageShown() override;

    LRESULT OnIdentityRead(WPARAM identityFetched, LPARAM calibrationFetched);
    void OnMacByteChanged(int index);
    // The assistant is closing: the reader is stopped and waited for (it stops at once).
    void EndWorkers();
    // Next may leave the page; otherwise a box says what is missing.
    bool IsInputComplete();

    // Fills the fields from data\local_addres.dat; the MAC too when `withMac`.
    bool LoadIdentityFile(bool withMac);
    // The identity file of this controller's run: the fields' two lines over the file its own
    // reading gave (never over another controller's).
    std::string ComposeRunIdentity() const;
    // Writes ComposeRunIdentity() to data\local_addres.dat, for whoever looks there.
    bool SaveIdentityFile();
    // Puts the calibration file chosen at Next into data\calib.inc, or removes a stale one.
    bool PrepareCalibrationFile();
    // The calibration file chosen at Next for this controller's run; null: none.
    const std::string* ChosenCalibration() const;
    // For the run log: how the identity came about, and the calibration's source.
    std::string DescribeReading() const;
    std::string DescribeCalibration() const;
    // The latest backup of the MAC in the fields; empty when none is kept.
    std::string BackupFolder() const;
    // Any thread: asks the check box by a window message.
    bool IsFormatChecked() const;

    // IReaderUi, called on the reader's thread.
    std::string GetSelectedPortText() override;
    void ReportIdentity(bool identityFetched, bool calibrationFetched) override;

    HWND m_StatusText = nullptr;
    CReadThread* m_pReader = nullptr;
    CMyEdit m_MacByte[6];
    HWND m_IpAddress = nullptr;
    HWND m_SidePicture = nullptr;
    HWND m_FormatCheck = nullptr;
    HWND m_FormatWarning = nullptr;
    HWND m_BackupNote = nullptr;

  protected:
    BOOL OnInitDialog() override;
    BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;
    LRESULT OnWorkerReport(WPARAM wParam, LPARAM lParam) override {
        return OnIdentityRead(wParam, lParam);
    }
    void OnWorkerEnded() override;

  private:
    void MoveFocus(HWND target);
    // To the MAC field after `index`, from the sixth to the IP control.
    void MoveFocusPast(int index);
    int MacIndexOf(HWND control) const;
    MacFields GetMacFields() const;
    // The number of octets filled in.
    int GetIpAddress(DWORD* address) const;
    std::string GetDottedIp() const;

    // The backup and the calibration chosen after a good Next; false keeps the page.
    void ConfirmIdentity();
    CIdentityKeeper& Keeper();
    // The fields after a reading that gave no identity: no MAC (never the one of the
    // controller read before), the IP of the user's own identity file or none.
    void ShowNoIdentity();
    // A 317/318 whose calibration file is known nowhere but in the controller: formatting
    // would erase the only copy.
    bool CalibrationAtRisk() const;
    // The format box and its warning for the current reading and MAC: forced after a failed
    // reading unless the calibration is at risk, when it is offered unchecked with a warning.
    void UpdateFormatChoice();
    // After a failed reading, a MAC typed whole whose controller is kept in a backup brings its
    // IP into a blank IP control.
    void FillIpFromBackup();
    // The box was clicked: checking it with the calibration at risk asks once more.
    void OnFormatClicked();

    // The reader that has reported and waits to be disposed of.
    CReadThread* m_pEndedReader = nullptr;
    std::unique_ptr<CIdentityKeeper> m_pKeeper;
    bool m_bRead = false;  // the last reading gave a well-formed identity
    // This controller's identity file as its reading gave it (empty when not read).
    std::string m_strReadIdentity;
    // The last reader could not open the port (ResultOpenFailed) or lost it (ResultPortLost):
    // the port page is shown again after a box saying so; 0 when neither.
    int m_nPortProblem = 0;
    std::string m_strProblemPort;
};

extern const char kReadingText[];
extern const char kReadText[];
extern const char kFormatNoteText[];
