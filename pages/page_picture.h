// Pictures on the pages: the assistant's shared side picture, or a page's own file beside the
// program; the template's built-in bitmap when neither is there. Each is drawn anew at the size
// of the frame its template gives it (107 × 193 dialog units), so it fills that frame at any
// display scaling instead of staying at its own pixel size.
#pragma once

#include <windows.h>

// Loads the bitmap file `name` from the program's folder; null when it is missing or not a
// bitmap. The caller owns it.
HBITMAP LoadProgramPicture(const char* name);

class CPagePicture {
  public:
    CPagePicture() = default;
    CPagePicture(const CPagePicture&) = delete;
    CPagePicture& operator=(const CPagePicture&) = delete;
    ~CPagePicture();

    // Shows `source` in `control` (owned from now on when `owned`), or when it is null the
    // bitmap resource `resourceId`; the frame is the control's template size.
    void Show(HWND control, HBITMAP source, bool owned, UINT resourceId);
    // The page's controls went from `from` to `to` DPI: the frame follows, the picture is drawn
    // again at its new size.
    void Rescale(UINT from, UINT to);

    HWND Control() const { return m_hControl; }
    // The frame in the page's client coordinates.
    const RECT& Frame() const { return m_Frame; }

  private:
    void Draw();
    void Release();

    HWND m_hControl = nullptr;
    HBITMAP m_hSource = nullptr;
    bool m_bOwnsSource = false;
    HBITMAP m_hShown = nullptr;  // owned: the source at the frame's size
    RECT m_Frame{};
};

// The assistant's side picture (dlgs14.bmp when it was loaded, else the built-in one).
void ShowSidePicture(CPagePicture& picture, HWND control);

// The side picture's template size, in dialog units.
constexpr int kPictureWidthDlu = 107;
constexpr int kPictureHeightDlu = 193;
