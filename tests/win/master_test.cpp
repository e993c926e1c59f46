// The assistant dialog with its real templates: the pages in their order, the title, the side
// picture falling back to the built-in bitmap, help contexts, the Tab rule. Saves a picture of
// every page in PLCFLASH_SCREENSHOTS for people to look at.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "app/master_dlg.h"
#include "app/tulm_app.h"
#include "framework/text.h"
#include "res/resource.h"

namespace {

// The window as it is on the screen, as a 24-bit BMP.
void SaveWindowPicture(HWND hwnd, const std::string& path) {
    RECT r{};
    GetWindowRect(hwnd, &r);
    const int w = r.right - r.left, h = r.bottom - r.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), w, h, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP dib = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, dib);
    BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    GdiFlush();
    const DWORD stride = static_cast<DWORD>((w * 3 + 3) & ~3);
    const DWORD size = stride * static_cast<DWORD>(h);
    BITMAPFILEHEADER file{
        0x4D42, static_cast<DWORD>(sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER) + size), 0,
        0, sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER)};
    HANDLE out = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD put = 0;
    WriteFile(out, &file, sizeof(file), &put, nullptr);
    WriteFile(out, &info.bmiHeader, sizeof(info.bmiHeader), &put, nullptr);
    WriteFile(out, bits, size, &put, nullptr);
    CloseHandle(out);
    SelectObject(memory, old);
    DeleteObject(dib);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
}

void Pump() {
    MSG msg;
    for (int i = 0; i < 20; ++i) {
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        Sleep(10);
    }
}

class Assistant : public ::testing::Test {
  protected:
    void SetUp() override {
        theApp.m_strDevice = "ПЛК-317";
        theApp.m_strVersion = "3.2.1";
        theApp.m_szAppDir[0] = '\0';  // no dlgs14.bmp where the test runs
        ASSERT_TRUE(m_dlg.Create(nullptr));
        ShowWindow(m_dlg.GetSafeHwnd(), SW_SHOW);
        SetForegroundWindow(m_dlg.GetSafeHwnd());
    }
    void TearDown() override {
        if (m_dlg.GetSafeHwnd()) DestroyWindow(m_dlg.GetSafeHwnd());
    }
    void Next() { SendMessageW(m_dlg.GetSafeHwnd(), WM_COMMAND, ID_WIZNEXT, 0); }
    int Position() const { return m_dlg.GetPageIndex(m_dlg.GetActivePage()); }

    CMasterDlg m_dlg;
};

TEST_F(Assistant, ShowsTheSixPagesInOrderWithTheBuiltInPicture) {
    EXPECT_EQ(GetWindowText1251(m_dlg.GetSafeHwnd()),
              "Программа смены прошивки ПЛК-317 на версию 3.2.1");
    EXPECT_EQ(m_dlg.m_hSideBitmap, nullptr);
    const UINT order[] = {IDD_WELCOME, IDD_PORT, IDD_MACIP, IDD_JUMPER, IDD_PROGRESS, IDD_RESULT};
    const char* folder = std::getenv("PLCFLASH_SCREENSHOTS");
    for (int i = 0; i < 6; ++i) {
        ASSERT_EQ(Position(), i);
        CNewTulmPage* page = m_dlg.GetActivePage();
        EXPECT_EQ(page->m_nDialogID, order[i]);
        EXPECT_TRUE(IsWindowVisible(page->GetSafeHwnd()));
        if (folder) {
            Pump();
            SaveWindowPicture(m_dlg.GetSafeHwnd(),
                              std::string(folder) + "\\page-" + std::to_string(order[i]) + ".bmp");
        }
        Next();
    }
    // Without dlgs14.bmp the pages keep the template's bitmap.
    HWND picture = m_dlg.m_FirstPage.GetDlgItem(IDC_PICTURE);
    EXPECT_NE(SendMessageW(picture, STM_GETIMAGE, IMAGE_BITMAP, 0), 0);
}

TEST_F(Assistant, HelpTopicsByPositionAndNoneOnTheResultPage) {
    const UINT contexts[] = {2002, 2003, 2000, 2000, 2001, 0};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(CMasterDlg::HelpContext(i), contexts[i]) << i;
    for (int i = 0; i < 5; ++i) Next();
    ASSERT_EQ(Position(), 5);
    SendMessageW(m_dlg.GetSafeHwnd(), WM_COMMAND, ID_HELP, 0);  // nothing opens
    EXPECT_TRUE(IsWindowEnabled(m_dlg.GetSafeHwnd()));
}

TEST_F(Assistant, TabFromBackOnTheMacIpPageGoesToTheFirstMacField) {
    Next();
    Next();
    ASSERT_EQ(Position(), 2);
    m_dlg.EnableBack(TRUE);  // as the MAC/IP page does when it has read the identity
    SetFocus(m_dlg.GetDlgItem(ID_WIZBACK));
    MSG msg{m_dlg.GetDlgItem(ID_WIZBACK), WM_KEYDOWN, VK_TAB, 0, 0, {0, 0}};
    EXPECT_TRUE(m_dlg.PreTranslateMessage(&msg));
    EXPECT_EQ(GetFocus(), m_dlg.m_ThirdPage.GetDlgItem(IDC_MAC1))
        << "focus on control " << GetDlgCtrlID(GetFocus()) << " of " << GetParent(GetFocus());
}

TEST_F(Assistant, PagesSetTheirButtonsAndTexts) {
    // Welcome: the greeting, Back and Finish off.
    EXPECT_EQ(GetWindowText1251(m_dlg.m_FirstPage.GetDlgItem(IDC_TEXT)),
              "Вас приветствует программа обновления прошивки ПЛК-317");
    auto enabled = [this](int id) { return IsWindowEnabled(m_dlg.GetDlgItem(id)) != FALSE; };
    EXPECT_FALSE(enabled(ID_WIZBACK));
    EXPECT_FALSE(enabled(ID_WIZFINISH));
    EXPECT_TRUE(enabled(ID_WIZNEXT) && enabled(IDCANCEL) && enabled(ID_HELP));
    // Port: Back on, the focus in the port list.
    Next();
    EXPECT_TRUE(enabled(ID_WIZBACK));
    EXPECT_EQ(GetFocus(), m_dlg.m_Second.m_PortList);
    Next();
    Next();
    // Jumper: Next at once.
    ASSERT_EQ(Position(), 3);
    EXPECT_TRUE(enabled(ID_WIZNEXT) && enabled(ID_WIZBACK) && enabled(ID_HELP));
    Next();
    Next();
    // Result: only Finish; no kernel image here, so no version note.
    ASSERT_EQ(Position(), 5);
    EXPECT_TRUE(enabled(ID_WIZFINISH));
    EXPECT_FALSE(enabled(ID_WIZBACK) || enabled(ID_WIZNEXT) || enabled(IDCANCEL) ||
                 enabled(ID_HELP));
    const std::string message = GetWindowText1251(m_dlg.m_FifthPage.GetDlgItem(IDC_TEXT));
    EXPECT_EQ(message.rfind("Прошивка контроллера ПЛК-317 успешно заменена.", 0), 0u);
    EXPECT_EQ(message.back(), '.');
    EXPECT_EQ(message.find("target"), std::string::npos);
    // Back to the welcome page, as after a failed run: its buttons again.
    m_dlg.SetActivePage(&m_dlg.m_FirstPage);
    EXPECT_FALSE(enabled(ID_WIZBACK) || enabled(ID_WIZFINISH));
    EXPECT_TRUE(enabled(ID_WIZNEXT) && enabled(IDCANCEL) && enabled(ID_HELP));
}

TEST_F(Assistant, PortListFromTheRegistrySortedTextOnly) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\plcflash-tests\\SERIALCOMM", 0, nullptr,
                              0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    auto text = [&](const char* name, const std::string& value) {
        RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>(value.size() + 1));
    };
    text("\\Device\\Serial1", "COM2");
    text("\\Device\\Serial9", "COM10");
    text("\\Device\\Serial0", "COM1");
    text("empty", "");
    text("too long", std::string(300, 'C'));
    const DWORD number = 5;
    RegSetValueExA(key, "number", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                   sizeof(number));
    RegCloseKey(key);

    Next();
    CSecond& page = m_dlg.m_Second;
    SendMessageW(page.m_PortList, CB_RESETCONTENT, 0, 0);
    page.FillPortList(HKEY_CURRENT_USER, "Software\\plcflash-tests\\SERIALCOMM");
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\plcflash-tests\\SERIALCOMM");
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\plcflash-tests");
    ASSERT_EQ(SendMessageW(page.m_PortList, CB_GETCOUNT, 0, 0), 3);
    std::vector<std::string> entries;
    for (int i = 0; i < 3; ++i) {
        SendMessageW(page.m_PortList, CB_SETCURSEL, static_cast<WPARAM>(i), 0);
        entries.push_back(page.GetSelectedPort());
    }
    EXPECT_EQ(entries, (std::vector<std::string>{"COM1", "COM10", "COM2"}));
    SendMessageW(page.m_PortList, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
    EXPECT_EQ(page.GetSelectedPort(), "");
}

}  // namespace
