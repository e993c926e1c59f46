// How a page hears from its worker. The worker's report is a synchronous WM_WORKER_RESULT: its
// thread waits inside SendMessage while the page handles it, so the page must not delete the
// worker there. The page posts WM_WORKER_ENDED to itself instead and disposes of the worker
// when that arrives, after the thread has returned from its report and ended by itself.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "app/tulm_page.h"

class CMyThread;

constexpr UINT WM_WORKER_RESULT = WM_USER + 6;
constexpr UINT WM_WORKER_ENDED = WM_USER + 7;

// A worker's thread ends moments after its report returns; this bounds the wait for it.
constexpr uint32_t kWorkerEndMs = 10000;

// Deletes `worker` once its thread has ended (within `ms`); a thread still running then keeps
// its object, leaked rather than freed or killed under it. Null is allowed.
void DisposeEndedWorker(CMyThread* worker, uint32_t ms = kWorkerEndMs);

// For a page going away while its worker may still run: asks it to stop, then as above. The
// page's window must be gone first, so that the worker's report fails instead of waiting for
// this thread.
void StopAndDisposeWorker(CMyThread* worker);

// A page that starts a worker and hears its report.
class CWorkerPage : public CNewTulmPage {
  public:
    using CNewTulmPage::CNewTulmPage;

  protected:
    // WM_WORKER_RESULT, on the page's thread while the worker waits in SendReport.
    virtual LRESULT OnWorkerReport(WPARAM wParam, LPARAM lParam) = 0;
    // WM_WORKER_ENDED, posted by the page itself.
    virtual void OnWorkerEnded() = 0;
    INT_PTR WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

    // Called on the worker's thread.
    void SendReport(WPARAM wParam, LPARAM lParam);
    // The port chosen on the port page now, as a worker asks when it opens the port.
    static std::string ChosenPort();
    void AcceptReports() { m_hReportWindow = m_hWnd; }
    void PostWorkerEnded() { PostMessageW(m_hWnd, WM_WORKER_ENDED, 0, 0); }
    // For destructors: the window goes before the worker is stopped, so a report still to
    // come fails at once instead of waiting for this thread.
    void CloseWindowBeforeWorker();

  private:
    std::atomic<HWND> m_hReportWindow{nullptr};
};
