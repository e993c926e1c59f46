// Display scaling. The program is per-monitor DPI aware (its manifest): Windows no longer
// stretches its window as a bitmap, so the program sizes what is not in dialog units itself.
// 96 dots per inch is 100 %.
#pragma once

#include <windows.h>

#include <map>

constexpr UINT kBaseDpi = 96;

// The DPI `hwnd` is drawn at: its monitor's where Windows tells it (10 1607 and later), the
// system's otherwise (Windows 7 and 8 are system aware).
UINT WindowDpi(HWND hwnd);

// `r` from `from` to `to` DPI, each edge rounded on its own.
RECT ScaledRect(const RECT& r, UINT from, UINT to);

// `value` pixels at 96 DPI, at `dpi`.
int ScaleToDpi(int value, UINT dpi);

// Windows 10 1703 and later rescale a per-monitor-v2 dialog by themselves when it moves to a
// monitor of another DPI; the assistant does it itself, the same on every Windows and under
// Wine, so that is switched off for `dialog`.
void KeepOwnDialogLayout(HWND dialog);

// The fonts made for a new DPI from the ones the dialog manager gave the controls; each is
// deleted with the set.
class CScaledFonts {
  public:
    CScaledFonts() = default;
    CScaledFonts(const CScaledFonts&) = delete;
    CScaledFonts& operator=(const CScaledFonts&) = delete;
    ~CScaledFonts();
    // `font` at `to` DPI, made once per font.
    HFONT Scaled(HFONT font, UINT from, UINT to);

  private:
    std::map<HFONT, HFONT> m_Fonts;
};

// Every window below `parent` moved and sized from `from` to `to` DPI, and its font (one not
// in `own`, the fonts its page made and sets itself) replaced by the scaled one.
void ScaleChildWindows(HWND parent, UINT from, UINT to, CScaledFonts* fonts,
                       const HFONT* own = nullptr, size_t ownCount = 0);

// Static texts of `parent` whose words no longer fit their box are made taller, as far as the
// next window below or the parent's bottom: a dialog's units grow with its font's rounded
// average width, its text with the font itself, and at 200 % a text can outgrow its box.
void FitStaticTexts(HWND parent);
// The height `control`'s text takes, wrapped at its width in its own font.
int TextHeightNeeded(HWND control);
// Whether `control` is a static control showing wrapped text.
bool IsWrappedText(HWND control);

// A new bitmap of `source` drawn at `width` × `height` (HALFTONE: smooth both ways); the caller
// owns it. Null when `source` is null or the size is empty.
HBITMAP StretchedBitmap(HBITMAP source, int width, int height);
