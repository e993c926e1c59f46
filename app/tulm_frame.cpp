#include "app/tulm_frame.h"

#include <algorithm>

#include "flash/math_thread.h"

namespace {

// The order in which the focus leaves a button that is being disabled.
constexpr int kFocusOrder[] = {CNewTulmDialog::kHelpId, CNewTulmDialog::kFinishId,
                               CNewTulmDialog::kBackId, CNewTulmDialog::kNextId, IDCANCEL};
// The order in which Enter and Tab look for the default button.
constexpr int kDefaultOrder[] = {CNewTulmDialog::kFinishId, CNewTulmDialog::kBackId,
                                 CNewTulmDialog::kNextId, IDCANCEL};

}  // namespace

CNewTulmDialog::CNewTulmDialog(UINT templateId) : CDialog(templateId) {}

CNewTulmDialog::~CNewTulmDialog() = default;

void CNewTulmDialog::AddPage(CNewTulmPage* page, UINT dialogId) {
    page->m_nDialogID = dialogId;
    m_PageList.push_back(page);
}

CNewTulmPage* CNewTulmDialog::GetActivePage() const {
    for (CNewTulmPage* page : m_PageList) {
        if (page->m_bActive) return page;
    }
    return nullptr;
}

CNewTulmPage* CNewTulmDialog::GetNextPage() const {
    const int at = GetPageIndex(GetActivePage());
    if (at < 0 || at + 1 >= static_cast<int>(m_PageList.size())) return nullptr;
    return m_PageList[static_cast<size_t>(at) + 1];
}

int CNewTulmDialog::GetPageIndex(const CNewTulmPage* page) const {
    const auto it = std::find(m_PageList.begin(), m_PageList.end(), page);
    return it == m_PageList.end() ? -1 : static_cast<int>(it - m_PageList.begin());
}

CNewTulmPage* CNewTulmDialog::GetPageByDialogID(UINT dialogId) const {
    for (CNewTulmPage* page : m_PageList) {
        if (page->m_nDialogID == dialogId) return page;
    }
    return nullptr;
}

BOOL CNewTulmDialog::OnInitDialog() {
    m_nDpi = WindowDpi(m_hWnd);
    KeepOwnDialogLayout(m_hWnd);
    // The dialog manager's keyboard navigation then enters the page dialogs too.
    SetWindowLongPtrW(m_hWnd, GWL_EXSTYLE,
                      GetWindowLongPtrW(m_hWnd, GWL_EXSTYLE) | WS_EX_CONTROLPARENT);
    ActivateFirstPage();
    return TRUE;
}

BOOL CNewTulmDialog::ActivateFirstPage() {
    CNewTulmPage* first = GetFirstPage();
    if (!DeactivatePage()) return FALSE;
    EnableBack(FALSE);
    const bool several = m_PageList.size() > 1;
    EnableFinish(!several);
    EnableNext(several);
    return ActivatePage(first);
}

BOOL CNewTulmDialog::CreatePage(CNewTulmPage* page) {
    if (page->m_bCreated) return TRUE;
    // The page's OnInitDialog runs inside Create, while m_pFrame is still null.
    if (!page->Create(m_hWnd)) return FALSE;
    page->m_bCreated = TRUE;
    page->m_pFrame = this;
    // Made at the DPI Windows gave it; the assistant may have moved to another since.
    const UINT made = WindowDpi(page->GetSafeHwnd());
    if (made != m_nDpi) ScalePage(page, made);
    FitStaticTexts(page->GetSafeHwnd());
    return page->OnPageCreated();
}

BOOL CNewTulmDialog::ActivatePage(CNewTulmPage* page) {
    if (!CreatePage(page)) return FALSE;
    if (!DeactivatePage()) return FALSE;
    RECT r{};
    GetWindowRect(GetDlgItem(static_cast<int>(m_nPlaceholderID)), &r);
    POINT topLeft{r.left, r.top};
    ScreenToClient(m_hWnd, &topLeft);
    SetWindowPos(page->GetSafeHwnd(), nullptr, topLeft.x, topLeft.y, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    EnableWindow(page->GetSafeHwnd(), TRUE);
    ShowWindow(page->GetSafeHwnd(), SW_SHOW);
    InvalidateRect(page->GetSafeHwnd(), nullptr, TRUE);
    UpdateWindow(page->GetSafeHwnd());
    page->OnPageShown();
    page->m_bActive = TRUE;
    return TRUE;
}

BOOL CNewTulmDialog::DeactivatePage() {
    CNewTulmPage* active = GetActivePage();
    if (!active) return TRUE;
    if (!active->QueryLeave()) return FALSE;
    ShowWindow(active->GetSafeHwnd(), SW_HIDE);
    active->m_bActive = FALSE;
    return TRUE;
}

BOOL CNewTulmDialog::DestroyPage(CNewTulmPage* page) {
    if (!page->m_bCreated) return TRUE;
    if (!page->QueryLeave()) return FALSE;
    page->OnPageDestroy();
    DestroyWindow(page->GetSafeHwnd());
    page->m_bCreated = FALSE;
    return TRUE;
}

BOOL CNewTulmDialog::ActivateNextPage() {
    CNewTulmPage* next = GetNextPage();
    return next ? ActivatePage(next) : FALSE;
}

BOOL CNewTulmDialog::SetActivePage(CNewTulmPage* page) {
    ActivatePage(page);
    return TRUE;
}

bool CNewTulmDialog::IsPageInputComplete(int) {
    return true;
}

void CNewTulmDialog::OnBackButton() {
    CNewTulmPage* active = GetActivePage();
    if (!active) return;
    const LRESULT choice = active->QueryBackTarget();
    if (choice == -1) return;
    CNewTulmPage* target = nullptr;
    if (choice == 0) {
        const int at = GetPageIndex(active);
        if (at > 0) target = m_PageList[static_cast<size_t>(at) - 1];
    } else {
        target = GetPageByDialogID(static_cast<UINT>(choice));
    }
    if (!target || !ActivatePage(target)) return;
    if (target == GetFirstPage()) {
        EnableBack(FALSE);
        EnableFinish(FALSE);
    }
    const int position = GetPageIndex(target);
    if (position == kJumperPosition || position == kProgressPosition) EnableBack(FALSE);
    EnableNext(TRUE);
}

void CNewTulmDialog::OnNextButton() {
    CNewTulmPage* active = GetActivePage();
    if (!active) return;
    const int position = GetPageIndex(active);
    if (position == kMacIpPosition && !IsPageInputComplete(position)) return;
    const LRESULT choice = active->QueryNextTarget();
    if (choice == -1) return;
    CNewTulmPage* target =
        choice == 0 ? GetNextPage() : GetPageByDialogID(static_cast<UINT>(choice));
    if (!target || !ActivatePage(target)) return;
    if (target == GetLastPage()) {
        EnableNext(FALSE);
        EnableFinish(TRUE);
        HWND finish = GetDlgItem(kFinishId);
        const LONG_PTR style = GetWindowLongPtrW(finish, GWL_STYLE);
        SendMessageW(finish, BM_SETSTYLE, (style & 0xFF) | BS_DEFPUSHBUTTON, TRUE);
        SetFocus(finish);
    }
}

void CNewTulmDialog::OnFinishButton() {
    CNewTulmPage* active = GetActivePage();
    if (active && !active->QueryLeave()) return;
    for (CNewTulmPage* page : m_PageList) {
        if (page->m_bCreated && !page->QueryFinish()) return;
    }
    EndDialog(kFinishId);
}

void CNewTulmDialog::OnCancel() {
    if (GetPageIndex(GetActivePage()) == kProgressPosition) {
        // Only the running engine is asked to stop; the progress page moves the assistant on
        // when the engine reports its end.
        if (g_pMathThread) g_pMathThread->RequestStop();
        return;
    }
    for (CNewTulmPage* page : m_PageList) {
        if (page->m_bCreated && !page->QueryCancel()) return;
    }
    EndDialog(IDCANCEL);
}

BOOL CNewTulmDialog::OnCommand(WPARAM wParam, LPARAM) {
    switch (LOWORD(wParam)) {
        case kBackId:
            OnBackButton();
            return TRUE;
        case kNextId:
            OnNextButton();
            return TRUE;
        case kFinishId:
            OnFinishButton();
            return TRUE;
        default:
            return FALSE;
    }
}

bool CNewTulmDialog::IsDefaultLooking(HWND button) const {
    return button && IsWindowEnabled(button) &&
           (GetWindowLongPtrW(button, GWL_STYLE) & BS_DEFPUSHBUTTON) != 0;
}

INT_PTR CNewTulmDialog::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_KEYDOWN && wParam == VK_RETURN) {
        for (int id : kDefaultOrder) {
            if (!IsDefaultLooking(GetDlgItem(id))) continue;
            if (id == kFinishId) OnFinishButton();
            if (id == kBackId) OnBackButton();
            if (id == kNextId) OnNextButton();
            if (id == IDCANCEL) OnCancel();
            break;
        }
    } else if (msg == WM_DESTROY) {
        for (CNewTulmPage* page : m_PageList) DestroyPage(page);
    } else if (msg == WM_DPICHANGED) {
        OnDpiChanged(LOWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
        SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, 0);
        return TRUE;
    }
    return CDialog::WindowProc(msg, wParam, lParam);
}

void CNewTulmDialog::ScalePage(CNewTulmPage* page, UINT from) {
    HWND window = page->GetSafeHwnd();
    RECT r{};
    GetWindowRect(window, &r);
    SetWindowPos(window, nullptr, 0, 0,
                 MulDiv(r.right - r.left, static_cast<int>(m_nDpi), static_cast<int>(from)),
                 MulDiv(r.bottom - r.top, static_cast<int>(m_nDpi), static_cast<int>(from)),
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    const HFONT own[] = {page->m_HeadingFont, page->m_TextFont};
    ScaleChildWindows(window, from, m_nDpi, &m_ScaledFonts, own, 2);
    page->OnDpiChanged(from, m_nDpi);
}

void CNewTulmDialog::OnDpiChanged(UINT dpi, const RECT& suggested) {
    if (dpi == 0) return;
    const UINT from = m_nDpi;
    if (dpi != from) {
        // Every control, the pages and theirs, grows or shrinks by the same ratio, each
        // keeping the dialog's font at the new size; the pages' own fonts and pictures follow.
        std::vector<HFONT> own;
        for (CNewTulmPage* page : m_PageList) {
            if (!page->m_bCreated) continue;
            own.push_back(page->m_HeadingFont);
            own.push_back(page->m_TextFont);
        }
        ScaleChildWindows(m_hWnd, from, dpi, &m_ScaledFonts, own.data(), own.size());
        m_nDpi = dpi;
        for (CNewTulmPage* page : m_PageList) {
            if (!page->m_bCreated) continue;
            page->OnDpiChanged(from, dpi);
            FitStaticTexts(page->GetSafeHwnd());
        }
    }
    // Windows suggests where the window keeps its place under the pointer at the new size.
    SetWindowPos(m_hWnd, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
    InvalidateRect(m_hWnd, nullptr, TRUE);
}

BOOL CNewTulmDialog::PreTranslateMessage(MSG* msg) {
    // Keys inside the shown page go to that page first, as a framework's message pump would.
    CNewTulmPage* active = GetActivePage();
    if (active && active->GetSafeHwnd() &&
        (msg->hwnd == active->GetSafeHwnd() || IsChild(active->GetSafeHwnd(), msg->hwnd)) &&
        active->PreTranslateMessage(msg)) {
        return TRUE;
    }
    return CDialog::PreTranslateMessage(msg);
}

HWND CNewTulmDialog::DefaultOrLastEnabledButton() const {
    HWND lastEnabled = nullptr;
    for (int id : kDefaultOrder) {
        HWND button = GetDlgItem(id);
        if (!button || !IsWindowEnabled(button)) continue;
        if (IsDefaultLooking(button)) return button;
        lastEnabled = button;
    }
    return lastEnabled;
}

void CNewTulmDialog::EnableButton(int id, BOOL enable) {
    HWND button = GetDlgItem(id);
    if (!button) return;
    if (!enable && SendMessageW(button, BM_GETSTATE, 0, 0) == BST_FOCUS) MoveFocusOff(id);
    EnableWindow(button, enable);
}

void CNewTulmDialog::MoveFocusOff(int id) {
    const int* begin = std::begin(kFocusOrder);
    const int* end = std::end(kFocusOrder);
    const int* at = std::find(begin, end, id);
    for (const int* next = at + 1; next < end; ++next) {
        HWND button = GetDlgItem(*next);
        if (button && IsWindowEnabled(button)) {
            SetFocus(button);
            return;
        }
    }
    for (const int* previous = at; previous-- > begin;) {
        HWND button = GetDlgItem(*previous);
        if (button && IsWindowEnabled(button)) {
            SetFocus(button);
            return;
        }
    }
}
