#include "app/worker_report.h"

#include "app/master_dlg.h"
#include "app/tulm_app.h"
#include "serial/worker.h"

void DisposeEndedWorker(CMyThread* worker, uint32_t ms) {
    if (worker && worker->WaitThread(ms)) delete worker;
}

void StopAndDisposeWorker(CMyThread* worker) {
    if (!worker) return;
    worker->RequestStop();
    // Every read and write of a worker is bounded and a stopped one raises at the next, so
    // its thread ends within its longest read time-out.
    DisposeEndedWorker(worker, 30000);
}

INT_PTR CWorkerPage::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_WORKER_RESULT:
            SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, OnWorkerReport(wParam, lParam));
            return TRUE;
        case WM_WORKER_ENDED:
            OnWorkerEnded();
            return TRUE;
        default:
            return CNewTulmPage::WindowProc(msg, wParam, lParam);
    }
}

void CWorkerPage::SendReport(WPARAM wParam, LPARAM lParam) {
    SendMessageW(m_hReportWindow, WM_WORKER_RESULT, wParam, lParam);
}

std::string CWorkerPage::ChosenPort() {
    return theApp.m_pMasterDlg ? theApp.m_pMasterDlg->m_Second.GetSelectedPort() : std::string();
}

void CWorkerPage::CloseWindowBeforeWorker() {
    m_hReportWindow = nullptr;
    if (m_hWnd) DestroyWindow(m_hWnd);
}
