// The assistant dialog with its real templates: the pages in their order, the title, the side
// picture falling back to the built-in bitmap, help contexts, the pages without workers. The
// MAC/IP and progress pages have tests of their own, against simulated controllers.
#include <string>
#include <vector>

#include <windows.h>
// After windows.h, which it needs.
#include <dbt.h>

#include "assistant_fixture.h"
#include "flash/run_log.h"
#include "framework/text.h"
#include "pages/page_picture.h"
#include "serial/worker.h"

namespace {

TEST_F(Assistant, ShowsTheSixPagesInOrderWithTheBuiltInPicture) {
    EXPECT_EQ(GetWindowText1251(m_dlg.GetSafeHwnd()),
              "Программа смены прошивки ПЛК-317 на версию 3.2.1");
    EXPECT_EQ(m_dlg.m_hSideBitmap, nullptr);
    const UINT order[] = {IDD_WELCOME, IDD_PORT, IDD_MACIP, IDD_JUMPER, IDD_PROGRESS, IDD_RESULT};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(m_dlg.GetPageIndex(m_dlg.GetPageByDialogID(order[i])), i);
    }
    // The pages that start no worker when shown.
    for (int i : {0, 1, 3, 5}) {
        CNewTulmPage* page = m_dlg.GetPageByDialogID(order[i]);
        m_dlg.SetActivePage(page);
        ASSERT_EQ(Position(), i);
        EXPECT_TRUE(IsWindowVisible(page->GetSafeHwnd()));
        Shot("page-" + std::to_string(order[i]));
    }
    // Without dlgs14.bmp the pages keep the template's bitmap.
    HWND picture = m_dlg.m_FirstPage.GetDlgItem(IDC_PICTURE);
    EXPECT_NE(SendMessageW(picture, STM_GETIMAGE, IMAGE_BITMAP, 0), 0);
}

TEST_F(Assistant, HelpTopicsByPositionAndNoneOnTheResultPage) {
    const UINT contexts[] = {2002, 2003, 2000, 2000, 2001, 0};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(CMasterDlg::HelpContext(i), contexts[i]) << i;
    m_dlg.SetActivePage(&m_dlg.m_FifthPage);
    SendMessageW(m_dlg.GetSafeHwnd(), WM_COMMAND, ID_HELP, 0);  // nothing opens
    EXPECT_TRUE(IsWindowEnabled(m_dlg.GetSafeHwnd()));
}

// Without a .HLP file beside the program (none beside the tests), Help opens the program's own
// help: each page's text, owned by the assistant, with the version.
TEST_F(Assistant, HelpWithoutAHelpFileOpensThePagesOwnText) {
    const struct {
        int position;
        UINT dialog;
        const char* title;
    } pages[] = {{0, IDD_WELCOME, "Программа обновления прошивки контроллера"},
                 {1, IDD_PORT, "Выбор COM-порта"},
                 {3, IDD_JUMPER, "Джампер и кнопка Reset"},
                 {2, IDD_MACIP, "MAC-адрес и IP"}};
    UseWorkFolder(false);
    for (const auto& page : pages) {
        if (page.position == 2) {
            m_dlg.SetActivePage(&m_dlg.m_Second);
            ASSERT_NO_FATAL_FAILURE(ReadIdentityThrough(EnvText("PLCSIM_IDENTITY_PORT")));
        } else {
            m_dlg.SetActivePage(m_dlg.GetPageByDialogID(page.dialog));
        }
        ASSERT_EQ(Position(), page.position);
        ASSERT_TRUE(Enabled(ID_HELP));
        const SeenHelp help =
            PressHelp(m_dlg.GetSafeHwnd(), "help-" + std::to_string(page.position));
        EXPECT_EQ(help.text.rfind(std::string(page.title) + "\r\n", 0), 0u)
            << page.position << ": " << help.text.substr(0, 80);
        EXPECT_NE(help.text.find(std::string("Версия программы: ") + ProgramVersion()),
                  std::string::npos);
        EXPECT_EQ(help.owner, m_dlg.GetSafeHwnd());
    }
    EXPECT_EQ(CMasterDlg::HelpTextId(4), static_cast<UINT>(IDR_HELP_PROGRESS));
    EXPECT_EQ(CMasterDlg::HelpTextId(5), 0u);
}

// Installed in a folder whose path runs past MAX_PATH (deep in a user profile): what the
// program reads at its start, plc.ini and its side picture, is found there. (Wine cannot start
// a program from such a folder at all: CreateProcessW fails with ERROR_FILE_NOT_FOUND.)
TEST_F(Assistant, StartsFromAFolderPastMaxPath) {
    UseWorkFolder(false, true);
    ASSERT_GT(m_work.size(), 300u);
    ASSERT_TRUE(WriteAll(m_work + "\\plc.ini", "Device = ПЛК-318\r\nVersion = 4.0\r\n"));
    const std::string picture = ReadAll(EnvText("PLCFLASH_SAMPLE") + "\\..\\..\\res\\side179.bmp");
    ASSERT_TRUE(WriteAll(m_work + "\\dlgs14.bmp", picture));
    const std::wstring saved = theApp.m_strAppDir;
    theApp.m_strAppDir = Widen1251(m_work + "\\");
    EXPECT_TRUE(theApp.ReadConfig());
    EXPECT_EQ(theApp.m_strDevice, "ПЛК-318");
    EXPECT_EQ(theApp.m_strVersion, "4.0");
    const HBITMAP loaded = LoadProgramPicture("dlgs14.bmp");
    EXPECT_NE(loaded, nullptr);
    if (loaded) DeleteObject(loaded);
    theApp.m_strAppDir = saved;
}

// The device information, faked: the adapters' names.
std::vector<PortDevice> g_fakeDevices;
std::vector<PortDevice> FakeDevices() {
    return g_fakeDevices;
}

// A port plugged in or pulled out while the port page is shown, as Windows announces it to
// the assistant's window, with the port in the real SERIALCOMM key.
TEST_F(Assistant, PortsThatComeAndGoWhileThePortPageIsShown) {
    Next();
    CSecond& page = m_dlg.m_Second;
    page.m_DeviceSource = &FakeDevices;
    const std::string first = page.GetSelectedPort();
    ASSERT_FALSE(first.empty()) << "the test's COM ports are mapped";
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, nullptr, 0,
                              KEY_SET_VALUE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const char kValue[] = "\\Device\\plcflashTestAdapter";
    auto plug = [&](bool in) {
        if (in) {
            RegSetValueExA(key, kValue, 0, REG_SZ, reinterpret_cast<const BYTE*>("COM44"), 6);
            g_fakeDevices = {{"COM44", "USB-SERIAL CH340 (COM44)"}};
        } else {
            RegDeleteValueA(key, kValue);
            g_fakeDevices.clear();
        }
    };
    auto announce = [&](WPARAM event, DWORD type) {
        DEV_BROADCAST_PORT_W port{};
        port.dbcp_size = sizeof(port);
        port.dbcp_devicetype = type;
        SendMessageW(m_dlg.GetSafeHwnd(), WM_DEVICECHANGE, event,
                     event == DBT_DEVNODES_CHANGED ? 0 : reinterpret_cast<LPARAM>(&port));
    };
    auto listed = [&] {
        return SendMessageW(page.m_PortList, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                            reinterpret_cast<LPARAM>(L"COM44 (USB-SERIAL CH340)")) != CB_ERR;
    };
    const char kAdapter[] = "COM44 (USB-SERIAL CH340)";
    const struct {
        const char* what;
        bool pluggedIn;
        WPARAM event;
        DWORD type;
        bool onPortPage;
        bool listed;
        const char* selected;  // null: the first port
    } steps[] = {
        {"a volume's arrival leaves the list alone", true, DBT_DEVICEARRIVAL, DBT_DEVTYP_VOLUME,
         true, false, nullptr},
        {"a port's arrival: listed with its name and selected", true, DBT_DEVICEARRIVAL,
         DBT_DEVTYP_PORT, true, true, kAdapter},
        {"its removal: gone, the selection on the first port", false, DBT_DEVICEREMOVECOMPLETE,
         DBT_DEVTYP_PORT, true, false, nullptr},
        {"devices changed: the list is read again", true, DBT_DEVNODES_CHANGED, 0, true, true,
         kAdapter},
        {"another port chosen stays chosen when devices change", true, DBT_DEVNODES_CHANGED, 0,
         true, true, nullptr},
        {"not on the port page: the list stays as the engineer left it", false,
         DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_PORT, false, true, nullptr},
    };
    for (const auto& step : steps) {
        if (step.selected == nullptr && step.listed && step.onPortPage) SelectPort(first);
        m_dlg.SetActivePage(step.onPortPage ? static_cast<CNewTulmPage*>(&m_dlg.m_Second)
                                            : &m_dlg.m_FirstPage);
        plug(step.pluggedIn);
        announce(step.event, step.type);
        EXPECT_EQ(listed(), step.listed) << step.what;
        EXPECT_EQ(page.GetSelectedPort(), step.selected ? step.selected : first) << step.what;
        if (step.selected) {
            EXPECT_EQ(ParsePortNumber(page.GetSelectedPort()), 44) << step.what;
        }
    }
    plug(false);
    RegCloseKey(key);
}

TEST_F(Assistant, TabFromBackOnTheMacIpPageGoesToTheFirstMacField) {
    UseWorkFolder(false);
    Next();
    ASSERT_NO_FATAL_FAILURE(ReadIdentityThrough(EnvText("PLCSIM_IDENTITY_PORT")));
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
    m_dlg.SetActivePage(&m_dlg.m_MyWindow);
    // Jumper: Next at once.
    ASSERT_EQ(Position(), 3);
    EXPECT_TRUE(enabled(ID_WIZNEXT) && enabled(ID_WIZBACK) && enabled(ID_HELP));
    m_dlg.SetActivePage(&m_dlg.m_FifthPage);
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

    // No key at all (a PC without serial ports): an empty list, and the user can still go on.
    SendMessageW(page.m_PortList, CB_RESETCONTENT, 0, 0);
    page.FillPortList(HKEY_CURRENT_USER, "Software\\plcflash-tests\\no such key");
    EXPECT_EQ(SendMessageW(page.m_PortList, CB_GETCOUNT, 0, 0), 0);
    EXPECT_TRUE(Enabled(ID_WIZBACK) && Enabled(ID_WIZNEXT) && Enabled(IDCANCEL));
}

}  // namespace
