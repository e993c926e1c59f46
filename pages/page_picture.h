// Pictures on the pages: the assistant's shared side picture, or a page's own file beside the
// program; the template's built-in bitmap stays when neither is there.
#pragma once

#include <windows.h>

// Loads the bitmap file `name` from the program's folder; null when it is missing or not a
// bitmap. The caller owns it.
HBITMAP LoadProgramPicture(const char* name);

// Shows the assistant's side picture (dlgs14.bmp) in `control` when it was loaded.
void ShowSidePicture(HWND control);

// Loads `name` from the program's folder and shows it in `control`; the caller owns the bitmap
// returned (null when the file is missing or not a bitmap).
HBITMAP ShowOwnPicture(HWND control, const char* name);

// WM_SETFONT with redraw.
void SetControlFont(HWND control, HFONT font);
