// The MAC/IP page against simulated controllers (scripts/wine-tests.sh maps them): a good
// reading, a silent controller, a controller whose identity file is damaged; then what the
// user types.
#include <string>

#include "assistant_fixture.h"
#include "framework/text.h"
#include "identity/macip_page.h"

namespace {

class MacIpPage : public Assistant {
  protected:
    CThirdPage& Page() { return m_dlg.m_ThirdPage; }
    HWND Mac(int i) { return Page().m_MacByte[i].GetSafeHwnd(); }
    std::string MacText(int i) { return GetWindowText1251(Mac(i)); }
    std::string Status() { return GetWindowText1251(Page().m_StatusText); }
    bool Checked() { return Page().IsFormatChecked(); }
    int IpFields(DWORD* address) {
        return static_cast<int>(
            SendMessageW(Page().m_IpAddress, IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(address)));
    }
    void Type(const std::string& keys) {
        for (char c : keys) SendMessageW(GetFocus(), WM_CHAR, static_cast<WPARAM>(c), 0);
    }
    // A key as TranslateMessage delivers it: WM_KEYDOWN, then WM_CHAR with the same lParam.
    // `vk` 0: the character alone, as another program may send it.
    void Press(UINT vk, wchar_t c) {
        const LPARAM lParam = 1 | static_cast<LPARAM>(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC)) << 16;
        if (vk) SendMessageW(GetFocus(), WM_KEYDOWN, vk, lParam);
        SendMessageW(GetFocus(), WM_CHAR, c, vk ? lParam : 0);
    }
    // Ctrl+`letter`: GetKeyState cannot be made to tell Ctrl down, so the control character
    // must do it alone.
    void PressCtrl(char letter) {
        SendMessageW(GetFocus(), WM_KEYDOWN, VK_CONTROL, 0);
        Press(static_cast<UINT>(letter), static_cast<wchar_t>(letter - 'A' + 1));
    }
    void SetClipboardText(const std::wstring& text) {
        ASSERT_TRUE(OpenClipboard(Mac(0)));
        EmptyClipboard();
        HGLOBAL data = GlobalAlloc(GMEM_MOVEABLE, (text.size() + 1) * sizeof(wchar_t));
        memcpy(GlobalLock(data), text.c_str(), (text.size() + 1) * sizeof(wchar_t));
        GlobalUnlock(data);
        SetClipboardData(CF_UNICODETEXT, data);
        CloseClipboard();
    }
    // Every field empty, the first focused.
    void ClearMac() {
        for (int i = 0; i < 6; ++i) SetWindowText1251(Mac(i), "");
        SetFocus(Mac(0));
    }
    bool FocusInIpControl() {
        HWND focus = GetFocus();
        return focus == Page().m_IpAddress || GetParent(focus) == Page().m_IpAddress;
    }
    void WriteLocalIdentity(const std::string& text) {
        ASSERT_TRUE(WriteAll("data\\local_addres.dat", text));
    }
};

TEST_F(MacIpPage, GoodReadingShowsTheControllersIdentityAndOffersFormatting) {
    UseWorkFolder(false);
    Next();
    ASSERT_TRUE(SelectPort(EnvText("PLCSIM_IDENTITY_PORT")));
    Next();
    // Reading: every button off, formatting forced.
    ASSERT_EQ(Position(), 2);
    EXPECT_EQ(Status(), "Подождите...");
    EXPECT_FALSE(Enabled(ID_WIZBACK) || Enabled(ID_WIZNEXT) || Enabled(IDCANCEL) ||
                 Enabled(ID_WIZFINISH));
    EXPECT_TRUE(Checked());
    EXPECT_FALSE(IsWindowEnabled(Page().m_FormatCheck));
    Shot("macip-reading");
    ASSERT_TRUE(PumpUntil([this] { return !Page().m_pReader; }, 60000));

    // Read: the controller's MAC and IP, formatting offered and off.
    const char* bytes[] = {"00", "1A", "2B", "3C", "4D", "5E"};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(MacText(i), bytes[i]) << i;
    DWORD address = 0;
    EXPECT_EQ(IpFields(&address), 4);
    EXPECT_EQ(address, 0xC0A8010Au);
    EXPECT_EQ(Status(), "\n\nMAC-адрес и IP, считанные из прибора:");
    EXPECT_FALSE(Checked());
    EXPECT_TRUE(IsWindowEnabled(Page().m_FormatCheck) && IsWindowEnabled(Page().m_FormatWarning));
    EXPECT_EQ(GetFocus(), Mac(0));
    EXPECT_TRUE(Enabled(ID_WIZBACK) && Enabled(ID_WIZNEXT) && Enabled(IDCANCEL));
    EXPECT_FALSE(Enabled(ID_WIZFINISH));
    EXPECT_EQ(ReadAll("data\\calib.inc").rfind("<missing", 0), std::string::npos)
        << "the 317's calibration is kept";
    Shot("macip-read");

    // Twelve digits typed straight away replace all six bytes: each field is entered selected.
    Type("a1B2c3D4e5F6");
    const char* typed[] = {"a1", "B2", "c3", "D4", "e5", "F6"};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(MacText(i), typed[i]) << i;
    EXPECT_TRUE(FocusInIpControl());
    ASSERT_TRUE(Page().SaveIdentityFile());
    EXPECT_EQ(ReadAll("data\\local_addres.dat"), "EMAC=a1:B2:c3:D4:e5:F6\r\nIP=C0:A8:01:0A\r\n");
    Next();
    EXPECT_EQ(Position(), 3);
}

TEST_F(MacIpPage, SilentControllerAsksForTheMacWithTheLocalIpAndForcesFormatting) {
    UseWorkFolder(false);
    WriteLocalIdentity("EMAC=00:00:00:00:00:01\r\nIP=0A:00:00:05\r\n");
    theApp.m_strDevice = "ПЛК-110";  // no calibration file to wait for as well
    Next();
    ASSERT_NO_FATAL_FAILURE(ReadIdentityThrough(EnvText("PLCSIM_SILENT_PORT"), 120000));
    EXPECT_EQ(Status(), kNotReadText);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(MacText(i), "") << i;
    DWORD address = 0;
    EXPECT_EQ(IpFields(&address), 4);
    EXPECT_EQ(address, 0x0A000005u);
    EXPECT_TRUE(Checked());
    EXPECT_FALSE(IsWindowEnabled(Page().m_FormatCheck) || IsWindowEnabled(Page().m_FormatWarning));
    EXPECT_EQ(GetFocus(), Mac(0));
    Shot("macip-not-read");

    // Only hexadecimal digits; two of them move on.
    Type("0g5");
    EXPECT_EQ(MacText(0), "05");
    EXPECT_EQ(GetFocus(), Mac(1));
    Type("7\b");
    EXPECT_EQ(MacText(1), "7") << "Backspace is not a hex digit";

    // Next with MAC fields missing, then with an IP of three octets: a box each, and the page
    // stays with what was typed.
    {
        BoxWatcher boxes;
        Next();
        EXPECT_EQ(Position(), 2);
        for (int i = 2; i < 6; ++i) SetWindowText1251(Mac(i), "F");
        SendMessageW(Page().m_IpAddress, IPM_CLEARADDRESS, 0, 0);
        HWND octet = GetWindow(Page().m_IpAddress, GW_CHILD);
        for (int i = 0; i < 3 && octet; ++i, octet = GetWindow(octet, GW_HWNDNEXT)) {
            SetWindowTextW(octet, L"10");
        }
        Next();
        EXPECT_EQ(Position(), 2);
        const auto seen = boxes.Boxes();
        ASSERT_EQ(seen.size(), 2u);
        EXPECT_EQ(seen[0].caption, "Ошибка");
        EXPECT_EQ(seen[0].text, "Не ввели MAC адрес!");
        EXPECT_EQ(seen[1].text, "Не ввели IP!");
    }
    EXPECT_EQ(MacText(0), "05");

    // Tab in the sixth field goes to the IP control, with Shift too.
    SetFocus(Mac(5));
    MSG tab{Mac(5), WM_KEYDOWN, VK_TAB, 0, 0, {0, 0}};
    EXPECT_TRUE(Page().PreTranslateMessage(&tab));
    EXPECT_TRUE(FocusInIpControl());

    // A complete IP and single-digit bytes pass; the file pads them.
    SendMessageW(Page().m_IpAddress, IPM_SETADDRESS, 0, 0x0A000006);
    Next();
    EXPECT_EQ(Position(), 3);
    ASSERT_TRUE(Page().SaveIdentityFile());
    EXPECT_EQ(ReadAll("data\\local_addres.dat"), "EMAC=05:07:0F:0F:0F:0F\r\nIP=0A:00:00:06\r\n");

    // A third digit typed into a full field is refused; a whole MAC pasted into the first field
    // fills all six, so no field ever holds more than a byte.
    SetWindowText1251(Mac(2), "0F");
    SetFocus(Mac(2));
    SendMessageW(Mac(2), EM_SETSEL, 2, 2);
    Type("9");
    EXPECT_EQ(MacText(2), "0F");
    ASSERT_NO_FATAL_FAILURE(SetClipboardText(L"00:1A-2B 3C:4D:5E:77"));
    SendMessageW(Mac(0), WM_PASTE, 0, 0);
    ASSERT_TRUE(Page().SaveIdentityFile());
    EXPECT_EQ(ReadAll("data\\local_addres.dat"), "EMAC=00:1A:2B:3C:4D:5E\r\nIP=0A:00:00:06\r\n");
}

// Ctrl+V pastes as the context menu's Paste does, a whole MAC into the six fields; Ctrl+C
// copies.
TEST_F(MacIpPage, CtrlVPastesAWholeMacAndCtrlCCopies) {
    UseWorkFolder(false);
    theApp.m_strDevice = "ПЛК-110";
    Next();
    ASSERT_NO_FATAL_FAILURE(ReadIdentityThrough(EnvText("PLCSIM_IDENTITY_PORT")));
    const struct {
        const wchar_t* copied;
        const char* bytes[6];
    } cases[] = {
        {L"00:1A:2B:3C:4D:5E", {"00", "1A", "2B", "3C", "4D", "5E"}},
        {L"001A2B3C4D5E", {"00", "1A", "2B", "3C", "4D", "5E"}},
        {L"00-1a-2b-3c-4d-5e", {"00", "1a", "2b", "3c", "4d", "5e"}},
    };
    for (const auto& c : cases) {
        ClearMac();
        ASSERT_NO_FATAL_FAILURE(SetClipboardText(c.copied));
        PressCtrl('V');
        for (int i = 0; i < 6; ++i) EXPECT_EQ(MacText(i), c.bytes[i]) << c.copied << " " << i;
    }
    SetFocus(Mac(1));
    SendMessageW(Mac(1), EM_SETSEL, 0, -1);
    PressCtrl('C');
    ClearMac();
    PressCtrl('V');
    EXPECT_EQ(MacText(0), "1a") << "the byte copied, not the MAC pasted before";
}

// The Russian layout's letters on the keys marked A-F are those digits, in the case typed.
TEST_F(MacIpPage, TheRussianLayoutTypesTheHexLettersOnItsKeys) {
    UseWorkFolder(false);
    theApp.m_strDevice = "ПЛК-110";
    Next();
    ASSERT_NO_FATAL_FAILURE(ReadIdentityThrough(EnvText("PLCSIM_IDENTITY_PORT")));
    const struct {
        UINT vk;  // 0: a WM_CHAR with no key before it. The key decides: on a phonetic layout
                  // Cyrillic а is on the A key, not on the F key as on ЙЦУКЕН.
        wchar_t typed;
        const char* field;
    } cases[] = {
        {'A', L'ф', "a"}, {'A', L'Ф', "A"}, {'B', L'и', "b"},     {'C', L'С', "C"},
        {'D', L'в', "d"}, {'E', L'У', "E"}, {'F', L'а', "f"},     {'A', L'а', "a"},
        {0, L'ф', "a"},   {0, L'И', "B"},   {0, L'с', "c"},       {0, L'В', "D"},
        {0, L'у', "e"},   {0, L'А', "F"},   {'5', L'5', "5"},     {'G', L'g', ""},
        {'Z', L'z', ""},  {0, L'g', ""},    {'G', L'п', ""},      {'Z', L'я', ""},
        {0, L'п', ""},    {0, L'я', ""},    {VK_OEM_1, L'Ж', ""}, {0, L'Ж', ""},
    };
    for (const auto& c : cases) {
        ClearMac();
        Press(c.vk, c.typed);
        EXPECT_EQ(MacText(0), c.field) << c.vk << " " << static_cast<int>(c.typed);
    }
}

TEST_F(MacIpPage, DamagedIdentityFileIsNotTrustedAndTheIpStaysBlank) {
    UseWorkFolder(false);
    theApp.m_strDevice = "ПЛК-110";
    Next();
    ASSERT_NO_FATAL_FAILURE(ReadIdentityThrough(EnvText("PLCSIM_DAMAGED_PORT")));
    EXPECT_EQ(Status(), kNotReadText);
    DWORD address = 0;
    EXPECT_EQ(IpFields(&address), 0);
    EXPECT_TRUE(Checked());
    EXPECT_FALSE(IsWindowEnabled(Page().m_FormatCheck));
    EXPECT_TRUE(Enabled(ID_WIZBACK) && Enabled(ID_WIZNEXT) && Enabled(IDCANCEL));
}

// Controller A is read; the engineer goes back and connects B, which cannot be read: nothing of
// A stays in the fields for B's run to take.
TEST_F(MacIpPage, AFailedReadingAfterAGoodOneKeepsNothingOfTheFirstController) {
    UseWorkFolder(false);
    theApp.m_strDevice = "ПЛК-110";
    Next();
    ASSERT_NO_FATAL_FAILURE(ReadIdentityThrough(EnvText("PLCSIM_IDENTITY_PORT")));
    ASSERT_EQ(MacText(0), "00");
    Back();
    ASSERT_NO_FATAL_FAILURE(ReadIdentityThrough(EnvText("PLCSIM_SILENT_PORT"), 120000));
    EXPECT_EQ(Status(), kNotReadText);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(MacText(i), "") << i;
    DWORD address = 0;
    EXPECT_EQ(IpFields(&address), 0) << "A's IP, copied into data\\ by its reading, is not B's";
    // What B's run would write: B's own fields, nothing of A's file.
    for (int i = 0; i < 6; ++i) SetWindowText1251(Mac(i), "0C");
    SendMessageW(Page().m_IpAddress, IPM_SETADDRESS, 0, 0x0A000009);
    EXPECT_EQ(Page().ComposeRunIdentity(), "EMAC=0C:0C:0C:0C:0C:0C\r\nIP=0A:00:00:09\r\n");
}

// A 317 that cannot be read and whose calibration is kept nowhere: formatting would erase the
// only copy, so it is offered, off, with a warning, and asked about once more.
TEST_F(MacIpPage, FormattingIsNotForcedWhenItWouldEraseTheOnlyCalibration) {
    UseWorkFolder(false);
    // A backup of another controller, holding its calibration and IP.
    const std::string kept = "backup\\0A0B0C0D0E0F\\20260101-000000";
    CreateDirectoryA("backup", nullptr);
    CreateDirectoryA("backup\\0A0B0C0D0E0F", nullptr);
    CreateDirectoryA(kept.c_str(), nullptr);
    ASSERT_TRUE(WriteAll(kept + "\\calib.inc", "calibration of 0A0B0C0D0E0F"));
    ASSERT_TRUE(
        WriteAll(kept + "\\local_addres.dat", "EMAC=0A:0B:0C:0D:0E:0F\r\nIP=0A:01:02:03\r\n"));
    theApp.m_strDevice = "ПЛК-317";
    Next();
    ASSERT_NO_FATAL_FAILURE(ReadIdentityThrough(EnvText("PLCSIM_SILENT_PORT"), 120000));
    EXPECT_EQ(Status(), kNotReadText);
    EXPECT_FALSE(Checked());
    EXPECT_TRUE(IsWindowEnabled(Page().m_FormatCheck) && IsWindowEnabled(Page().m_FormatWarning));
    EXPECT_EQ(GetWindowText1251(Page().m_FormatWarning), kCalibrationAtRiskText);
    Shot("macip-calibration-at-risk");
    {
        // Checking the box asks; "No" (or closing the box) leaves it off, "Yes" on.
        BoxWatcher boxes;
        SendMessageW(Page().m_FormatCheck, BM_CLICK, 0, 0);
        ASSERT_TRUE(boxes.WaitForBoxes(1, 5000));
        EXPECT_FALSE(Checked());
        boxes.SetAnswer(IDYES);
        SendMessageW(Page().m_FormatCheck, BM_CLICK, 0, 0);
        ASSERT_TRUE(boxes.WaitForBoxes(2, 5000));
        EXPECT_TRUE(Checked());
        const auto seen = boxes.Boxes();
        EXPECT_NE(seen[0].text.find("Форматировать память?"), std::string::npos) << seen[0].text;
    }
    // The MAC of a controller whose calibration is kept: formatting is safe and forced again,
    // and its IP comes from that backup into the blank control.
    for (int i = 0; i < 6; ++i)
        SetWindowText1251(Mac(i), std::string("0A0B0C0D0E0F").substr(i * 2, 2));
    EXPECT_TRUE(Checked());
    EXPECT_FALSE(IsWindowEnabled(Page().m_FormatCheck));
    EXPECT_EQ(GetWindowText1251(Page().m_FormatWarning), kFormatNoteText);
    DWORD address = 0;
    EXPECT_EQ(IpFields(&address), 4);
    EXPECT_EQ(address, 0x0A010203u);
    // One digit changed: that controller's calibration is unknown again.
    SetWindowText1251(Mac(5), "0E");
    EXPECT_FALSE(Checked());
    EXPECT_TRUE(IsWindowEnabled(Page().m_FormatCheck));
    address = 0;
    EXPECT_EQ(IpFields(&address), 4);
    EXPECT_EQ(address, 0x0A010203u) << "an IP already shown is left alone";
}

}  // namespace
