// The assistant dialog with its real templates, modeless on the test's thread, with what the
// page tests share: a folder to run in, choosing a port, waiting while pumping messages, and
// pictures saved in PLCFLASH_SCREENSHOTS for people to look at.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include <cstdlib>
#include <functional>
#include <string>

#include "app/master_dlg.h"
#include "app/tulm_app.h"
#include "res/resource.h"
#include "test_files.h"
#include "ui_probe.h"

// Dispatches this thread's messages until `done` or `ms` have passed; the result of `done`.
bool PumpUntil(const std::function<bool()>& done, DWORD ms);
inline void Pump() {
    PumpUntil([] { return false; }, 200);
}

// What Help opened: the help window's text and its owner; "" and null when none opened
// within 10 s. The window is closed again, after its picture when `shotName` is given.
struct SeenHelp {
    std::string text;
    HWND owner;
};
SeenHelp PressHelp(HWND assistant, const std::string& shotName = "");

class Assistant : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    void Next() { SendMessageW(m_dlg.GetSafeHwnd(), WM_COMMAND, ID_WIZNEXT, 0); }
    void Back() { SendMessageW(m_dlg.GetSafeHwnd(), WM_COMMAND, ID_WIZBACK, 0); }
    int Position() const { return m_dlg.GetPageIndex(m_dlg.GetActivePage()); }
    bool Enabled(int id) const { return IsWindowEnabled(m_dlg.GetDlgItem(id)) != FALSE; }
    // Runs the test in a fresh folder of its own with an empty data\ (and the sample's
    // system\ when asked), as the program runs in its installation folder; `deep`: one whose
    // path runs past MAX_PATH.
    void UseWorkFolder(bool withSystem, bool deep = false);
    // Selects `port` in the port page's list; false when the list does not hold it.
    bool SelectPort(const std::string& port);
    // Chooses `port` on the port page (shown now) and goes on to the MAC/IP page.
    void ReadIdentityThrough(const std::string& port, DWORD ms = 60000);
    // Saves a picture of the assistant as `name`.bmp when pictures are asked for.
    void Shot(const std::string& name);

    CMasterDlg m_dlg;
    std::string m_work;

  private:
    std::string m_previous;
};
