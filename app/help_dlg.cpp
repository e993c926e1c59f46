#include "app/help_dlg.h"

#include "flash/run_log.h"
#include "framework/text.h"
#include "res/resource.h"

namespace {

std::wstring FromUtf8(const char* bytes, int size) {
    const int length = MultiByteToWideChar(CP_UTF8, 0, bytes, size, nullptr, 0);
    std::wstring text(static_cast<size_t>(length), L'\0');
    if (length > 0) MultiByteToWideChar(CP_UTF8, 0, bytes, size, &text[0], length);
    return text;
}

}  // namespace

CHelpDlg::CHelpDlg(UINT textId) : CDialog(IDD_HELP), m_nTextId(textId) {}

std::wstring CHelpDlg::HelpText(UINT textId) {
    std::wstring text;
    HRSRC found =
        FindResourceW(nullptr, MAKEINTRESOURCEW(textId), MAKEINTRESOURCEW(10) /* RT_RCDATA */);
    HGLOBAL loaded = found ? LoadResource(nullptr, found) : nullptr;
    if (const void* bytes = loaded ? LockResource(loaded) : nullptr) {
        // A multi-line edit breaks lines only at CR LF.
        for (wchar_t c : FromUtf8(static_cast<const char*>(bytes),
                                  static_cast<int>(SizeofResource(nullptr, found)))) {
            if (c == L'\r') continue;
            if (c == L'\n') text += L'\r';
            text += c;
        }
    }
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r')) text.pop_back();
    return text + L"\r\n\r\n" + Widen1251(std::string("Версия программы: ") + ProgramVersion());
}

BOOL CHelpDlg::OnInitDialog() {
    SetWindowTextW(GetDlgItem(IDC_HELP_TEXT), HelpText(m_nTextId).c_str());
    // The text is read, not edited: the focus on Close, not a selected text.
    SendMessageW(m_hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(IDOK)), TRUE);
    return FALSE;
}
