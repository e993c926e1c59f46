// The assistant at the display's scaling (scripts/dpi-runs.sh runs this suite at 96, 144 and
// 192 DPI, set through Wine's LogPixels): it grows in proportion, every control stays inside
// its page, the pictures fill their frames, the pages' fonts follow; and a move to a monitor of
// another scaling (WM_DPICHANGED) takes the suggested rectangle and lays everything out again.
#include <algorithm>
#include <cmath>
#include <fstream>
#include <string>
#include <vector>

#include "assistant_fixture.h"
#include "framework/dpi.h"

namespace {

struct PageCase {
    UINT dialog;
    const char* name;
};
const PageCase kPages[] = {{IDD_WELCOME, "welcome"},   {IDD_PORT, "port"},
                           {IDD_MACIP, "macip"},       {IDD_JUMPER, "jumper"},
                           {IDD_PROGRESS, "progress"}, {IDD_RESULT, "result"}};

RECT RectIn(HWND window, HWND parent) {
    RECT r{};
    GetWindowRect(window, &r);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

SIZE ClientSize(HWND window) {
    RECT r{};
    GetClientRect(window, &r);
    return SIZE{r.right, r.bottom};
}

int FontHeight(HFONT font) {
    LOGFONTW description{};
    GetObjectW(font, sizeof(description), &description);
    return description.lfHeight;
}

class Scaling : public Assistant {
  protected:
    // The page made and shown over the placeholder as the frame shows it, without its
    // OnPageShown: no reading, no run.
    CNewTulmPage* ShowForLayout(UINT dialog) {
        CNewTulmPage* page = m_dlg.GetPageByDialogID(dialog);
        for (const PageCase& other : kPages) {
            CNewTulmPage* hidden = m_dlg.GetPageByDialogID(other.dialog);
            if (hidden != page && hidden->m_bCreated) ShowWindow(hidden->GetSafeHwnd(), SW_HIDE);
        }
        EXPECT_TRUE(m_dlg.CreatePage(page));
        const RECT placeholder =
            RectIn(m_dlg.GetDlgItem(IDC_PAGE_PLACEHOLDER), m_dlg.GetSafeHwnd());
        SetWindowPos(page->GetSafeHwnd(), nullptr, placeholder.left, placeholder.top, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        ShowWindow(page->GetSafeHwnd(), SW_SHOW);
        Pump();
        return page;
    }

    // Inside the assistant, every visible control inside the page, the picture filling its
    // frame at the frame's size, the text font at the DPI. After a move to another monitor
    // the template's units are `num`/`den` of what they were made at, and the rounding of
    // each edge may leave a control `slack` pixels past its page's.
    void ExpectLaidOut(CNewTulmPage* page, UINT dpi, const char* name, int num = 1, int den = 1,
                       int slack = 0) {
        HWND window = page->GetSafeHwnd();
        RECT client{};
        GetClientRect(m_dlg.GetSafeHwnd(), &client);
        RECT inFrame = RectIn(window, m_dlg.GetSafeHwnd()), both{};
        IntersectRect(&both, &inFrame, &client);
        EXPECT_TRUE(EqualRect(&both, &inFrame)) << name << " sticks out of the assistant";
        RECT pageRect{};
        GetClientRect(window, &pageRect);
        InflateRect(&pageRect, slack, slack);
        for (HWND c = GetWindow(window, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
            if (!IsWindowVisible(c)) continue;
            RECT r = RectIn(c, window);
            // The etched line along the bottom is drawn with its edge past its width and is
            // cut by the page: only its height counts.
            if ((GetWindowLongPtrW(c, GWL_STYLE) & SS_TYPEMASK) == SS_ETCHEDHORZ) {
                r.left = std::max(r.left, pageRect.left);
                r.right = std::min(r.right, pageRect.right);
            }
            RECT inside{};
            IntersectRect(&inside, &r, &pageRect);
            // And its words inside it: none cut off at the bottom.
            if (IsWrappedText(c)) {
                EXPECT_LE(TextHeightNeeded(c), r.bottom - r.top)
                    << name << ": the text of control " << GetDlgCtrlID(c) << " is cut";
            }
            EXPECT_TRUE(EqualRect(&inside, &r))
                << name << ": control " << GetDlgCtrlID(c) << " at " << r.left << "," << r.top
                << "-" << r.right << "," << r.bottom << " outside " << pageRect.right << "x"
                << pageRect.bottom;
        }
        const CPagePicture& picture = page->m_Picture;
        ASSERT_NE(picture.Control(), nullptr) << name;
        RECT template_{0, 0, kPictureWidthDlu, kPictureHeightDlu};
        MapDialogRect(window, &template_);
        template_.right = MulDiv(template_.right, num, den);
        template_.bottom = MulDiv(template_.bottom, num, den);
        const RECT shown = RectIn(picture.Control(), window);
        const RECT& frame = picture.Frame();
        EXPECT_TRUE(EqualRect(&shown, &frame)) << name;
        // The template's frame at this DPI, give or take the rounding of two scalings.
        EXPECT_NEAR(frame.right - frame.left, template_.right, 3) << name;
        EXPECT_NEAR(frame.bottom - frame.top, template_.bottom, 3) << name;
        BITMAP bitmap{};
        const auto image = reinterpret_cast<HBITMAP>(
            SendMessageW(picture.Control(), STM_GETIMAGE, IMAGE_BITMAP, 0));
        ASSERT_TRUE(image && GetObjectW(image, sizeof(bitmap), &bitmap)) << name;
        EXPECT_EQ(bitmap.bmWidth, frame.right - frame.left) << name;
        EXPECT_EQ(bitmap.bmHeight, frame.bottom - frame.top) << name;
        EXPECT_EQ(FontHeight(page->m_TextFont), ScaleToDpi(16, dpi)) << name;
        EXPECT_EQ(FontHeight(page->m_HeadingFont), ScaleToDpi(20, dpi)) << name;
    }
};

TEST_F(Scaling, EveryPageGrowsWithTheDisplaysDpi) {
    UseWorkFolder(true);
    const UINT dpi = WindowDpi(m_dlg.GetSafeHwnd());
    const std::string expected = EnvText("PLCFLASH_EXPECT_DPI");
    if (!expected.empty()) {
        ASSERT_EQ(dpi, static_cast<UINT>(std::stoul(expected))) << "LogPixels was not taken";
    }
    EXPECT_EQ(m_dlg.Dpi(), dpi);
    const SIZE size = ClientSize(m_dlg.GetSafeHwnd());

    // Against the same assistant at 96 DPI in this run: the window grows in proportion.
    const std::string figures = EnvText("PLCFLASH_DPI_FIGURES");
    if (!figures.empty()) {
        if (dpi == kBaseDpi) {
            std::ofstream(figures) << size.cx << " " << size.cy << "\n";
        } else {
            long cx = 0, cy = 0;
            std::ifstream(figures) >> cx >> cy;
            ASSERT_GT(cx, 0) << "the 96-DPI run left no figures";
            const double ratio = dpi / 96.0;
            EXPECT_NEAR(size.cx / static_cast<double>(cx), ratio, 0.08 * ratio);
            EXPECT_NEAR(size.cy / static_cast<double>(cy), ratio, 0.08 * ratio);
        }
    }

    int position = 0;
    for (const PageCase& c : kPages) {
        CNewTulmPage* page = ShowForLayout(c.dialog);
        ExpectLaidOut(page, dpi, c.name);
        Shot("dpi" + std::to_string(dpi) + "-" + std::to_string(++position) + "-" + c.name);
    }
}

// Moved to a monitor of half as much again and back: the suggested rectangle taken, every
// control, picture and font laid out for the new DPI, and the old layout back after the return.
TEST_F(Scaling, AMoveToAnotherMonitorLaysTheAssistantOutAgain) {
    UseWorkFolder(true);
    const UINT dpi = m_dlg.Dpi();
    for (const PageCase& c : kPages) ShowForLayout(c.dialog);
    CNewTulmPage* shown = ShowForLayout(IDD_PORT);
    RECT before{};
    GetWindowRect(m_dlg.GetSafeHwnd(), &before);
    const RECT beforeNext = RectIn(m_dlg.GetDlgItem(ID_WIZNEXT), m_dlg.GetSafeHwnd());

    const struct {
        UINT to;
        int num, den;
    } moves[] = {{dpi * 3 / 2, 3, 2}, {dpi, 1, 1}};
    for (const auto& move : moves) {
        RECT suggested{before.left, before.top,
                       before.left + MulDiv(before.right - before.left, move.num, move.den),
                       before.top + MulDiv(before.bottom - before.top, move.num, move.den)};
        SendMessageW(m_dlg.GetSafeHwnd(), WM_DPICHANGED, MAKEWPARAM(move.to, move.to),
                     reinterpret_cast<LPARAM>(&suggested));
        Pump();
        RECT now{};
        GetWindowRect(m_dlg.GetSafeHwnd(), &now);
        EXPECT_TRUE(EqualRect(&now, &suggested)) << move.to;
        EXPECT_EQ(m_dlg.Dpi(), move.to);
        const RECT next = RectIn(m_dlg.GetDlgItem(ID_WIZNEXT), m_dlg.GetSafeHwnd());
        EXPECT_NEAR(next.right - next.left,
                    MulDiv(beforeNext.right - beforeNext.left, move.num, move.den), 2)
            << move.to;
        for (const PageCase& c : kPages) {
            ExpectLaidOut(m_dlg.GetPageByDialogID(c.dialog), move.to, c.name, move.num, move.den,
                          1);
        }
        Shot("dpi-changed-" + std::to_string(move.to));
    }
    EXPECT_TRUE(IsWindowVisible(shown->GetSafeHwnd()));
}

}  // namespace
