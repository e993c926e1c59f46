#include "assistant_fixture.h"

#include <algorithm>
#include <thread>

#include "framework/long_path.h"
#include "framework/text.h"

bool PumpUntil(const std::function<bool()>& done, DWORD ms) {
    const DWORD start = GetTickCount();
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (done()) return true;
        if (GetTickCount() - start >= ms) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
}

SeenHelp PressHelp(HWND assistant, const std::string& shotName) {
    SeenHelp seen{"", nullptr};
    const std::string folder = EnvText("PLCFLASH_SCREENSHOTS");
    // The help window is modal: it is read and closed from another thread while this one is
    // inside its loop.
    std::thread closer([&] {
        for (int i = 0; i < 1000; ++i) {
            HWND help = FindTopWindow(GetCurrentProcessId(), [](HWND h) {
                return GetDlgItem(h, IDC_HELP_TEXT) != nullptr;
            });
            if (help) {
                if (!folder.empty() && !shotName.empty()) {
                    Sleep(300);  // drawn
                    SaveWindowPicture(help, folder + "\\" + shotName + ".bmp");
                }
                seen = {WindowText(GetDlgItem(help, IDC_HELP_TEXT)), GetWindow(help, GW_OWNER)};
                PostMessageW(help, WM_COMMAND, IDOK, 0);
                return;
            }
            Sleep(10);
        }
    });
    SendMessageW(assistant, WM_COMMAND, ID_HELP, 0);
    closer.join();
    return seen;
}

void Assistant::SetUp() {
    theApp.m_strDevice = "ПЛК-317";
    theApp.m_strVersion = "3.2.1";
    theApp.m_strAppDir.clear();  // no dlgs14.bmp where the test runs
    theApp.m_pMasterDlg = &m_dlg;
    char previous[MAX_PATH] = {};
    GetCurrentDirectoryA(MAX_PATH, previous);
    m_previous = previous;
    ASSERT_TRUE(m_dlg.Create(nullptr));
    ShowWindow(m_dlg.GetSafeHwnd(), SW_SHOW);
    SetForegroundWindow(m_dlg.GetSafeHwnd());
}

void Assistant::TearDown() {
    // A reader or engine still running ends before the windows go.
    PumpUntil([this] { return !m_dlg.m_ThirdPage.m_pReader && !g_pMathThread; }, 120000);
    if (m_dlg.GetSafeHwnd()) DestroyWindow(m_dlg.GetSafeHwnd());
    theApp.m_pMasterDlg = nullptr;
    SetRelativeBase(L"");
    SetCurrentDirectoryA(m_previous.c_str());
}

void Assistant::UseWorkFolder(bool withSystem, bool deep) {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    // A parameterised case is named "Case/Param": a folder of its own all the same.
    std::string name = info->name();
    std::replace(name.begin(), name.end(), '/', '_');
    m_work = std::string(temp) + "plcflash_" + name;
    RemoveFolder(m_work);
    while (deep && m_work.size() <= 300) m_work += "\\a folder deep in a user profile";
    MakeFolders(m_work + "\\data");
    if (withSystem) {
        const std::string sample = EnvText("PLCFLASH_SAMPLE");
        CopyFolder(sample + "\\system", m_work + "\\system");
        CopyFolder(sample + "\\data", m_work + "\\data");
    }
    // As the program starts: its relative paths from its folder. A folder past MAX_PATH cannot
    // be the current one on Windows; the current one is then left elsewhere, so that nothing
    // can lean on it.
    SetRelativeBase(Widen1251(m_work));
    if (!deep) {
        ASSERT_TRUE(SetCurrentDirectoryA(m_work.c_str()));
    }
}

bool Assistant::SelectPort(const std::string& port) {
    return SendMessageW(m_dlg.m_Second.m_PortList, CB_SELECTSTRING, static_cast<WPARAM>(-1),
                        reinterpret_cast<LPARAM>(Widen1251(port).c_str())) != CB_ERR;
}

void Assistant::ReadIdentityThrough(const std::string& port, DWORD ms) {
    ASSERT_EQ(Position(), 1);
    ASSERT_TRUE(SelectPort(port)) << port << " is not in the port list";
    Next();
    ASSERT_EQ(Position(), 2);
    ASSERT_TRUE(PumpUntil([this] { return !m_dlg.m_ThirdPage.m_pReader; }, ms));
}

void Assistant::Shot(const std::string& name) {
    const std::string folder = EnvText("PLCFLASH_SCREENSHOTS");
    if (folder.empty()) return;
    Pump();
    SaveWindowPicture(m_dlg.GetSafeHwnd(), folder + "\\" + name + ".bmp");
}
