#include "framework/dpi.h"

#include <algorithm>
#include <string>

namespace {

// Looked up at run time: Windows 7 and 8 lack them, and a static import would keep the
// program from starting there.
template <typename Function>
Function User32Function(const char* name) {
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    return user32
               ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(user32, name)))
               : nullptr;
}

using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
// DIALOG_DPI_CHANGE_BEHAVIORS and its DDC_DISABLE_ALL, absent from older SDK headers.
using SetDialogDpiChangeBehaviorFn = BOOL(WINAPI*)(HWND, int, int);
constexpr int kDdcDisableAll = 0x0001;

}  // namespace

RECT ScaledRect(const RECT& r, UINT from, UINT to) {
    return RECT{MulDiv(r.left, static_cast<int>(to), static_cast<int>(from)),
                MulDiv(r.top, static_cast<int>(to), static_cast<int>(from)),
                MulDiv(r.right, static_cast<int>(to), static_cast<int>(from)),
                MulDiv(r.bottom, static_cast<int>(to), static_cast<int>(from))};
}

UINT WindowDpi(HWND hwnd) {
    static const auto forWindow = User32Function<GetDpiForWindowFn>("GetDpiForWindow");
    if (forWindow && hwnd) {
        const UINT dpi = forWindow(hwnd);
        if (dpi) return dpi;
    }
    HDC screen = GetDC(nullptr);
    const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 0;
    if (screen) ReleaseDC(nullptr, screen);
    return dpi > 0 ? static_cast<UINT>(dpi) : kBaseDpi;
}

int ScaleToDpi(int value, UINT dpi) {
    return MulDiv(value, static_cast<int>(dpi), static_cast<int>(kBaseDpi));
}

void KeepOwnDialogLayout(HWND dialog) {
    static const auto behave =
        User32Function<SetDialogDpiChangeBehaviorFn>("SetDialogDpiChangeBehavior");
    if (behave) behave(dialog, kDdcDisableAll, kDdcDisableAll);
}

CScaledFonts::~CScaledFonts() {
    for (const auto& pair : m_Fonts) DeleteObject(pair.second);
}

HFONT CScaledFonts::Scaled(HFONT font, UINT from, UINT to) {
    if (!font) return nullptr;
    const auto found = m_Fonts.find(font);
    if (found != m_Fonts.end()) return found->second;
    LOGFONTW description{};
    if (!GetObjectW(font, sizeof(description), &description)) return font;
    description.lfHeight =
        MulDiv(description.lfHeight, static_cast<int>(to), static_cast<int>(from));
    description.lfWidth = MulDiv(description.lfWidth, static_cast<int>(to), static_cast<int>(from));
    HFONT scaled = CreateFontIndirectW(&description);
    if (!scaled) return font;
    m_Fonts[font] = scaled;
    return scaled;
}

void ScaleChildWindows(HWND parent, UINT from, UINT to, CScaledFonts* fonts, const HFONT* own,
                       size_t ownCount) {
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        RECT r{};
        GetWindowRect(child, &r);
        MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
        const RECT scaled = ScaledRect(r, from, to);
        SetWindowPos(child, nullptr, scaled.left, scaled.top, scaled.right - scaled.left,
                     scaled.bottom - scaled.top, SWP_NOZORDER | SWP_NOACTIVATE);
        const HFONT font = reinterpret_cast<HFONT>(SendMessageW(child, WM_GETFONT, 0, 0));
        bool isOwn = false;
        for (size_t i = 0; i < ownCount; ++i) isOwn = isOwn || own[i] == font;
        if (font && !isOwn && fonts) {
            SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(fonts->Scaled(font, from, to)),
                         FALSE);
        }
        ScaleChildWindows(child, from, to, fonts, own, ownCount);
    }
}

bool IsWrappedText(HWND control) {
    wchar_t cls[16] = {};
    GetClassNameW(control, cls, 16);
    if (lstrcmpiW(cls, L"Static") != 0) return false;
    const LONG_PTR type = GetWindowLongPtrW(control, GWL_STYLE) & SS_TYPEMASK;
    return type == SS_LEFT || type == SS_CENTER || type == SS_RIGHT;
}

int TextHeightNeeded(HWND control) {
    const int length = GetWindowTextLengthW(control);
    if (length == 0) return 0;
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(control, &text[0], length + 1)));
    RECT r{};
    GetClientRect(control, &r);
    HDC dc = GetDC(control);
    HGDIOBJ old =
        SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)));
    UINT format = DT_CALCRECT | DT_WORDBREAK | DT_EDITCONTROL;
    if (GetWindowLongPtrW(control, GWL_STYLE) & SS_NOPREFIX) format |= DT_NOPREFIX;
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &r, format);
    SelectObject(dc, old);
    ReleaseDC(control, dc);
    return r.bottom - r.top;
}

void FitStaticTexts(HWND parent) {
    RECT client{};
    GetClientRect(parent, &client);
    for (HWND c = GetWindow(parent, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        if (!IsWrappedText(c)) continue;
        RECT r{};
        GetWindowRect(c, &r);
        MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
        const int needed = TextHeightNeeded(c);
        if (needed <= r.bottom - r.top) continue;
        // No further than the first window below that shares some of its width.
        int limit = client.bottom;
        for (HWND other = GetWindow(parent, GW_CHILD); other;
             other = GetWindow(other, GW_HWNDNEXT)) {
            if (other == c || !IsWindowVisible(other)) continue;
            RECT o{};
            GetWindowRect(other, &o);
            MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&o), 2);
            if (o.top >= r.bottom && o.left < r.right && o.right > r.left) {
                limit = std::min(limit, static_cast<int>(o.top));
            }
        }
        const int height = std::min(needed, limit - static_cast<int>(r.top));
        if (height > r.bottom - r.top) {
            SetWindowPos(c, nullptr, 0, 0, r.right - r.left, height,
                         SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        }
    }
}

HBITMAP StretchedBitmap(HBITMAP source, int width, int height) {
    BITMAP info{};
    if (!source || width <= 0 || height <= 0 || !GetObjectW(source, sizeof(info), &info)) {
        return nullptr;
    }
    HDC screen = GetDC(nullptr);
    HDC from = CreateCompatibleDC(screen);
    HDC to = CreateCompatibleDC(screen);
    BITMAPINFO header{};
    header.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP stretched = CreateDIBSection(screen, &header, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (stretched) {
        HGDIOBJ oldFrom = SelectObject(from, source);
        HGDIOBJ oldTo = SelectObject(to, stretched);
        // HALFTONE averages the pixels a shrink drops and smooths an enlargement's steps;
        // it wants the brush origin set after the mode.
        SetStretchBltMode(to, HALFTONE);
        SetBrushOrgEx(to, 0, 0, nullptr);
        StretchBlt(to, 0, 0, width, height, from, 0, 0, info.bmWidth, info.bmHeight, SRCCOPY);
        SelectObject(from, oldFrom);
        SelectObject(to, oldTo);
    }
    DeleteDC(to);
    DeleteDC(from);
    ReleaseDC(nullptr, screen);
    return stretched;
}
