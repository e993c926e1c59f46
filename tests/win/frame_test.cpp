// The assistant frame with real windows under Wine: page order, the button rules, the keys and
// where the focus goes.
#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <vector>

#include "app/tulm_frame.h"
#include "assistant_fixture.h"
#include "framework/text.h"

namespace {

constexpr UINT kFrameTemplate = 901;
constexpr int kEdit = 1100;

class TestPage final : public CNewTulmPage {
  public:
    explicit TestPage(UINT id) : CNewTulmPage(id) {}
    BOOL OnInitDialog() override {
        ++inits;
        return CNewTulmPage::OnInitDialog();
    }
    // As the jumper and progress pages do: they offer Back themselves.
    void OnPageShown() override {
        ++shows;
        m_pFrame->EnableBack(TRUE);
    }
    int inits = 0;
    int shows = 0;
};

class TestFrame final : public CNewTulmDialog {
  public:
    explicit TestFrame(size_t pages) : CNewTulmDialog(kFrameTemplate) {
        for (size_t i = 0; i < pages; ++i) {
            m_Pages.push_back(std::make_unique<TestPage>(911 + static_cast<UINT>(i)));
            AddPage(m_Pages.back().get(), 911 + static_cast<UINT>(i));
        }
    }
    BOOL OnInitDialog() override {
        SetPlaceholderID(1010);
        return CNewTulmDialog::OnInitDialog();
    }
    void OnCancel() override {
        ++cancels;
        CNewTulmDialog::OnCancel();
    }
    int cancels = 0;
    TestPage& Page(size_t i) { return *m_Pages[i]; }
    HWND Button(int id) const { return GetDlgItem(id); }
    bool Enabled(int id) const { return IsWindowEnabled(GetDlgItem(id)) != FALSE; }
    void Click(int id) { SendMessageW(m_hWnd, WM_COMMAND, static_cast<WPARAM>(id), 0); }
    int Position() const { return GetPageIndex(GetActivePage()); }
    // A key pressed in the shown page's edit field, through the loop's pre-translation.
    BOOL Key(WPARAM key) {
        MSG msg{GetActivePage()->GetDlgItem(kEdit), WM_KEYDOWN, key, 0, 0, {0, 0}};
        return PreTranslateMessage(&msg);
    }

  private:
    std::vector<std::unique_ptr<TestPage>> m_Pages;
};

struct Shown {
    explicit Shown(size_t pages) : frame(pages) {
        EXPECT_TRUE(frame.Create(nullptr));
        SetForegroundWindow(frame.GetSafeHwnd());
    }
    ~Shown() {
        if (frame.GetSafeHwnd()) DestroyWindow(frame.GetSafeHwnd());
    }
    TestFrame frame;
};

TEST(Frame, OnePageStartsWithFinishOnly) {
    Shown s(1);
    EXPECT_TRUE(s.frame.Enabled(CNewTulmDialog::kFinishId));
    EXPECT_FALSE(s.frame.Enabled(CNewTulmDialog::kNextId));
}

TEST(Frame, NextAndBackKeepTheButtonRules) {
    Shown s(6);
    TestFrame& f = s.frame;
    EXPECT_EQ(f.Position(), 0);
    EXPECT_TRUE(f.Enabled(CNewTulmDialog::kNextId));
    EXPECT_FALSE(f.Enabled(CNewTulmDialog::kFinishId));
    for (int i = 1; i <= 5; ++i) f.Click(CNewTulmDialog::kNextId);
    ASSERT_EQ(f.Position(), 5);
    EXPECT_FALSE(f.Enabled(CNewTulmDialog::kNextId));
    EXPECT_TRUE(f.Enabled(CNewTulmDialog::kFinishId));
    EXPECT_TRUE(GetWindowLongPtrW(f.Button(CNewTulmDialog::kFinishId), GWL_STYLE) &
                BS_DEFPUSHBUTTON);
    EXPECT_EQ(GetFocus(), f.Button(CNewTulmDialog::kFinishId));

    // Back onto positions 4 and 3 leaves Back disabled, whatever the page set.
    f.Click(CNewTulmDialog::kBackId);
    EXPECT_EQ(f.Position(), 4);
    EXPECT_FALSE(f.Enabled(CNewTulmDialog::kBackId));
    EXPECT_TRUE(f.Enabled(CNewTulmDialog::kNextId));
    f.Click(
        CNewTulmDialog::kBackId);  // (the command itself, as no click can reach a disabled button)
    EXPECT_EQ(f.Position(), 3);
    EXPECT_FALSE(f.Enabled(CNewTulmDialog::kBackId));
    f.Click(CNewTulmDialog::kBackId);
    EXPECT_EQ(f.Position(), 2);
    EXPECT_TRUE(f.Enabled(CNewTulmDialog::kBackId));
    f.Click(CNewTulmDialog::kBackId);
    f.Click(CNewTulmDialog::kBackId);
    EXPECT_EQ(f.Position(), 0);
    EXPECT_FALSE(f.Enabled(CNewTulmDialog::kBackId));
    EXPECT_FALSE(f.Enabled(CNewTulmDialog::kFinishId));
}

TEST(Frame, ARevisitedPageKeepsItsContents) {
    Shown s(3);
    TestFrame& f = s.frame;
    SetWindowText1251(f.Page(0).GetDlgItem(kEdit), "typed");
    f.Click(CNewTulmDialog::kNextId);
    f.Click(CNewTulmDialog::kBackId);
    EXPECT_EQ(GetWindowText1251(f.Page(0).GetDlgItem(kEdit)), "typed");
    EXPECT_EQ(f.Page(0).inits, 1);
    EXPECT_EQ(f.Page(0).shows, 2);
    EXPECT_EQ(f.Page(2).inits, 0);  // created on first use only
}

TEST(Frame, CancelOnTheProgressPageDoesNotClose) {
    Shown s(6);
    TestFrame& f = s.frame;
    for (int i = 1; i <= 4; ++i) f.Click(CNewTulmDialog::kNextId);
    ASSERT_EQ(f.Position(), CNewTulmDialog::kProgressPosition);
    f.Click(IDCANCEL);
    // The dialog manager posts the close box on as Cancel: it has been handled only once the
    // messages have been dispatched.
    SendMessageW(f.GetSafeHwnd(), WM_CLOSE, 0, 0);
    ASSERT_TRUE(PumpUntil([&f] { return f.cancels == 2; }, 5000))
        << "the close box never arrived as Cancel";
    EXPECT_TRUE(IsWindow(f.GetSafeHwnd()));
    EXPECT_EQ(f.Position(), CNewTulmDialog::kProgressPosition);
    f.Click(CNewTulmDialog::kBackId);
    f.Click(IDCANCEL);
    EXPECT_FALSE(IsWindow(f.GetSafeHwnd()));
}

TEST(Frame, EnterActsOnTheDefaultButtonAndTabJumpsToIt) {
    Shown s(3);
    TestFrame& f = s.frame;
    // Next carries the default look from the template.
    EXPECT_TRUE(f.Key(VK_RETURN));
    EXPECT_EQ(f.Position(), 1);
    EXPECT_TRUE(f.Key(VK_TAB));
    EXPECT_EQ(GetFocus(), f.Button(CNewTulmDialog::kNextId));
    // Without a default-looking enabled button Enter does nothing, Tab goes to the last enabled.
    f.EnableNext(FALSE);
    EXPECT_TRUE(f.Key(VK_RETURN));
    EXPECT_EQ(f.Position(), 1);
    EXPECT_TRUE(f.Key(VK_TAB));
    EXPECT_EQ(GetFocus(), f.Button(IDCANCEL));
}

TEST(Frame, DisablingTheFocusedButtonMovesTheFocusOn) {
    Shown s(3);
    TestFrame& f = s.frame;
    f.Click(CNewTulmDialog::kNextId);  // Back, Next, Cancel, Help enabled; Finish not
    SetFocus(f.Button(CNewTulmDialog::kNextId));
    f.EnableNext(FALSE);
    EXPECT_EQ(GetFocus(), f.Button(IDCANCEL));
    f.EnableNext(TRUE);
    f.EnableCancel(false);  // Cancel has the focus: the last enabled before it, Next
    EXPECT_EQ(GetFocus(), f.Button(CNewTulmDialog::kNextId));
}

}  // namespace
