#include "pages/progress_page.h"

#include <commctrl.h>

#include <ctime>

#include "app/master_dlg.h"
#include "app/tulm_app.h"
#include "flash/controller_files.h"
#include "flash/trace_files.h"
#include "framework/file.h"
#include "framework/long_path.h"
#include "framework/text.h"
#include "identity/identity_file.h"
#include "pages/page_picture.h"
#include "res/resource.h"

namespace {

// The box names the whole path: the user has to find the file to send it.
std::string FullPath1251(const std::string& path) {
    return Narrow1251(DisplayPath(Win32Path(path)));
}

}  // namespace

CFourthPage::CFourthPage() : CWorkerPage(IDD_PROGRESS) {}

CFourthPage::~CFourthPage() {
    EndWorkers();
}

void CFourthPage::EndWorkers() {
    CloseWindowBeforeWorker();
    CMathThread* engine = g_pMathThread;
    g_pMathThread = nullptr;
    StopAndDisposeWorker(engine);
}

BOOL CFourthPage::OnInitDialog() {
    CWorkerPage::OnInitDialog();
    m_Progress = GetDlgItem(IDC_PROGRESS);
    m_StatusText = GetDlgItem(IDC_TEXT);
    m_SidePicture = GetDlgItem(IDC_PICTURE);
    SendMessageW(m_Progress, PBM_SETPOS, 0, 0);
    SendMessageW(m_Progress, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    ShowSidePicture(m_Picture, m_SidePicture);
    UseTextFont(m_StatusText);
    return TRUE;
}

void CFourthPage::OnPageShown() {
    CMasterDlg* master = theApp.m_pMasterDlg;
    m_pRunLog = std::make_shared<CRunLog>();
    m_pRunLog->Note("Контроллер", theApp.m_strDevice + ", версия " + theApp.m_strVersion);
    m_pRunLog->Note("Порт", ChosenPort());
    g_pMathThread = new CMathThread(*this);
    m_RunStart = std::chrono::steady_clock::now();
    m_Attempt = AttemptRecord();
    m_Outcome = RunOutcome();
    m_Attempt.started = std::time(nullptr);
    m_Attempt.program = "plcflash.exe";
    m_Attempt.computer = ComputerName();
    m_Attempt.port = ChosenPort();
    m_Attempt.model = theApp.m_strDevice;
    bool dataUpdated = true;
    if (master) {
        CThirdPage& page = master->m_ThirdPage;
        m_pRunLog->Note("MAC и IP", page.DescribeReading());
        m_pRunLog->Note("Форматирование", page.IsFormatChecked() ? "запрошено" : "не запрошено");
        // The run writes this controller's identity and calibration from memory: data\ gets
        // them too, for whoever looks, but another copy of the program may write its own
        // controller's files there at any moment, and a user may be unable to write there.
        const std::string identity = page.ComposeRunIdentity();
        g_pMathThread->SetOwnFile(kIdentityName, &identity);
        g_pMathThread->SetOwnFile(kCalibrationName, page.ChosenCalibration());
        dataUpdated = page.SaveIdentityFile() && page.PrepareCalibrationFile();
        m_pRunLog->Note("Калибровка", page.DescribeCalibration());
        IdentityReading reading;
        if (ParseIdentity(identity, true, &reading)) {
            m_Attempt.mac = MacText(reading.mac);
            m_Attempt.ip = DottedIp(reading.ip);
        }
        m_Attempt.calibration = page.DescribeCalibration();
        m_Attempt.formatAsked = page.IsFormatChecked();
        m_Outcome.backupFolder = page.BackupFolder();
    }
    if (!dataUpdated) {
        m_pRunLog->Note("Папка data",
                        "не обновлена (нет доступа на запись); в контроллер записываются файлы из "
                        "памяти программы");
    }
    SetWindowText1251(m_StatusText,
                      dataUpdated ? "Идет прошивка прибора!" : kFlashingFromMemoryText);
    m_pFrame->SetPageButtons(FALSE, true, FALSE, FALSE);
    AcceptReports();
    g_pMathThread->SetDevice(theApp.m_strDevice);
    g_pMathThread->SetRunLog(m_pRunLog);
    m_pTrace = std::make_shared<CLineTrace>(ChosenPort());
    g_pMathThread->SetTrace(m_pTrace);
    SendMessageW(m_Progress, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    SendMessageW(m_Progress, PBM_SETPOS, 0, 0);
    m_nShownPosition = 0;
    if (!g_pMathThread->StartThread()) EndRun(ResultIoError);
}

LRESULT CFourthPage::OnWorkerResult(WPARAM, LPARAM code) {
    if (g_pMathThread) m_Attempt.images = g_pMathThread->ImageSums();
    if (g_pMathThread && (code == ResultBadFile || code == ResultCheckFailed)) {
        m_Outcome.file = g_pMathThread->GetFaultyFile();
        m_Outcome.fault = g_pMathThread->GetFault();
        m_Outcome.expectedSum = g_pMathThread->GetExpectedSum();
        m_Outcome.actualSum = g_pMathThread->GetActualSum();
    }
    if (g_pMathThread && code == ResultPortLost) {
        m_Outcome.port = "COM" + std::to_string(g_pMathThread->GetPortNumberValue());
        m_Outcome.kernelErased = g_pMathThread->KernelErased();
    }
    // The engine's thread waits inside this report; the rest happens once it has ended.
    EndRun(static_cast<int>(code));
    return 0;
}

void CFourthPage::EndRun(int code) {
    m_nResult = code;
    PostWorkerEnded();
}

void CFourthPage::OnWorkerEnded() {
    CMathThread* engine = g_pMathThread;
    g_pMathThread = nullptr;
    DisposeEndedWorker(engine);
    m_Outcome.code = m_nResult;
    const std::string message = ResultMessage(m_Outcome);
    const std::string trace = KeepRunTrace(message);
    WriteRunLog(message);
    const std::string box = trace.empty() ? message : message + kTraceNamedText + trace;
    if (!message.empty()) MessageBox1251(m_hWnd, box, "Ошибка", MB_OK | MB_ICONEXCLAMATION);
    if (m_nResult == ResultDone) {
        m_pFrame->ActivateNextPage();
    } else {
        m_pFrame->SetActivePage(m_pFrame->GetFirstPage());
    }
}

void CFourthPage::WriteRunLog(const std::string& message) {
    if (!m_pRunLog) return;
    m_pRunLog->Note("Результат",
                    std::to_string(m_nResult) + (m_nResult == ResultDone      ? " (успех)"
                                                 : m_nResult == ResultStopped ? " (отмена)"
                                                                              : ""));
    if (!message.empty()) m_pRunLog->Note("Сообщение", message);
    m_Attempt.phase = m_pRunLog->LastPhase();
    m_Attempt.result = m_nResult;
    m_Attempt.message = m_nResult == ResultDone      ? "успех"
                        : m_nResult == ResultStopped ? "отмена"
                                                     : message;
    m_Attempt.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - m_RunStart).count();
    // A log or record that cannot be written never stops a run, nor keeps the user waiting.
    std::string root;
    if (AppStorageRoot(&root)) {
        AppendRunLog(root, *m_pRunLog);
        AppendAttempt(root + kHistoryName, m_Attempt);
    }
    m_pRunLog.reset();
}

std::string CFourthPage::KeepRunTrace(const std::string& message) {
    const std::shared_ptr<CLineTrace> trace = std::move(m_pTrace);
    if (!trace || m_nResult == ResultDone) return std::string();
    trace->Note("итог: код " + std::to_string(m_nResult) + (message.empty() ? "" : ", " + message));
    // A trace that cannot be written costs the run nothing: the box just does not name one.
    std::string root;
    if (!AppStorageRoot(&root)) return std::string();
    const std::string written =
        KeepTrace(root, *trace, ParsePortNumber(ChosenPort()), std::time(nullptr));
    if (written.empty()) return std::string();
    const std::string full = FullPath1251(written);
    if (m_pRunLog) m_pRunLog->Note("Запись обмена", full);
    return full;
}

std::string CFourthPage::GetSelectedPortText() {
    return ChosenPort();
}

void CFourthPage::SetStatusText(const std::string& text) {
    SetWindowText1251(m_StatusText, text);
}

void CFourthPage::SetProgressPos(uint32_t position) {
    if (m_nShownPosition.exchange(position) == position) return;
    SendMessageW(m_Progress, PBM_SETPOS, position, 0);
}

void CFourthPage::SetProgressSteps(uint32_t upper) {
    SendMessageW(m_Progress, PBM_SETRANGE32, 0, static_cast<LPARAM>(upper));
    SendMessageW(m_Progress, PBM_SETPOS, 0, 0);
    m_nShownPosition = 0;
    SendMessageW(m_Progress, PBM_SETSTEP, 1, 0);
}

void CFourthPage::StepProgress() {
    SendMessageW(m_Progress, PBM_STEPIT, 0, 0);
}

bool CFourthPage::IsFormatChecked() {
    return theApp.m_pMasterDlg && theApp.m_pMasterDlg->m_ThirdPage.IsFormatChecked();
}

void CFourthPage::ShowMessage(const std::string& text, const std::string& caption) {
    MessageBox1251(m_hWnd, text, caption, MB_OK | MB_ICONEXCLAMATION);
}

void CFourthPage::ShowAppMessage(const std::string& text) {
    AppMessageBox(m_hWnd, text.c_str());
}

void CFourthPage::ReportResult(int code) {
    SendReport(0, code);
}
