// The assistant dialog with its real templates: the pages in their order, the title, the side
// picture falling back to the built-in bitmap, help contexts, the Tab rule. Saves a picture of
// every page in PLCFLASH_SCREENSHOTS for people to look at.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <string>

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

}  // namespace
