#include "framework/dialog.h"

#include "framework/long_path.h"

#include <string>

#include "framework/text.h"

CDialog::CDialog(UINT templateId) : m_nIDTemplate(templateId) {}

CDialog::~CDialog() {
    if (m_hWnd) DestroyWindow(m_hWnd);
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    CDialog* self = nullptr;
    if (msg == WM_INITDIALOG) {
        self = reinterpret_cast<CDialog*>(lParam);
        SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
        self->m_hWnd = hwnd;
        return self->OnInitDialog();
    }
    self = reinterpret_cast<CDialog*>(GetWindowLongPtrW(hwnd, DWLP_USER));
    if (!self) return FALSE;
    if (msg == WM_COMMAND) {
        if (self->OnCommand(wParam, lParam)) return TRUE;
        switch (LOWORD(wParam)) {
            case IDOK:
                self->OnOK();
                return TRUE;
            case IDCANCEL:
                self->OnCancel();
                return TRUE;
            default:
                return FALSE;
        }
    }
    if (msg == WM_NCDESTROY) {
        SetWindowLongPtrW(hwnd, DWLP_USER, 0);
        self->m_hWnd = nullptr;
        return FALSE;
    }
    return self->WindowProc(msg, wParam, lParam);
}

BOOL CDialog::OnCommand(WPARAM, LPARAM) {
    return FALSE;
}

INT_PTR CDialog::WindowProc(UINT, WPARAM, LPARAM) {
    return FALSE;
}

BOOL CDialog::PreTranslateMessage(MSG* msg) {
    return m_hWnd && IsDialogMessageW(m_hWnd, msg);
}

bool CDialog::Create(HWND parent) {
    HWND h = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(m_nIDTemplate), parent,
                                &CDialog::DialogProc, reinterpret_cast<LPARAM>(this));
    return h != nullptr;
}

INT_PTR CDialog::DoModal(HWND parent) {
    if (!Create(parent)) return -1;
    m_bModal = true;
    m_bEndModal = false;
    if (parent) EnableWindow(parent, FALSE);
    ShowWindow(m_hWnd, SW_SHOW);
    MSG msg;
    while (!m_bEndModal) {
        BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0) {
            // WM_QUIT belongs to an outer loop; hand it back after closing.
            PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        if (got < 0) break;
        if (!PreTranslateMessage(&msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    if (parent) EnableWindow(parent, TRUE);
    if (m_hWnd) DestroyWindow(m_hWnd);
    m_bModal = false;
    return m_nModalResult;
}

void CDialog::EndDialog(int result) {
    m_nModalResult = result;
    if (m_bModal) {
        m_bEndModal = true;
        // Wakes GetMessage so the loop sees the flag.
        PostMessageW(m_hWnd, WM_NULL, 0, 0);
    } else if (m_hWnd) {
        DestroyWindow(m_hWnd);
    }
}

const char* AppName() {
    static std::string name = [] {
        std::string s = Narrow1251(ModulePath());
        size_t slash = s.find_last_of("\\/");
        if (slash != std::string::npos) s.erase(0, slash + 1);
        size_t dot = s.rfind('.');
        if (dot != std::string::npos) s.erase(dot);
        return s;
    }();
    return name.c_str();
}

void AppMessageBox(HWND owner, const char* text) {
    MessageBox1251(owner, text, AppName(), MB_OK | MB_ICONEXCLAMATION);
}
