#include "pages/page_picture.h"

#include <cstring>
#include <string>

#include "app/master_dlg.h"
#include "app/tulm_app.h"
#include "framework/dpi.h"
#include "framework/long_path.h"
#include "framework/text.h"
#include "res/resource.h"

namespace {

// An uncompressed BMP file's bytes as a bitmap; null when they are not one. For a file LoadImage
// cannot open: it takes no path past MAX_PATH, not even in the "\\?\" form.
HBITMAP BitmapFromFileBytes(const std::string& bytes) {
    const size_t headers = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
    if (bytes.size() < headers || bytes.compare(0, 2, "BM") != 0) return nullptr;
    BITMAPFILEHEADER file{};
    std::memcpy(&file, bytes.data(), sizeof(file));
    BITMAPINFOHEADER info{};
    std::memcpy(&info, bytes.data() + sizeof(file), sizeof(info));
    const long width = info.biWidth, height = info.biHeight < 0 ? -info.biHeight : info.biHeight;
    if (info.biSize < sizeof(info) || width <= 0 || width > 16384 || height <= 0 ||
        height > 16384 || info.biPlanes != 1 || info.biCompression != BI_RGB ||
        (info.biBitCount != 24 && info.biBitCount != 32 && info.biBitCount != 8 &&
         info.biBitCount != 4 && info.biBitCount != 1)) {
        return nullptr;
    }
    const size_t stride = ((static_cast<size_t>(width) * info.biBitCount + 31) / 32) * 4;
    const size_t colours =
        info.biBitCount <= 8 ? (info.biClrUsed ? info.biClrUsed : 1u << info.biBitCount) : 0;
    if (colours > 256 || sizeof(file) + info.biSize + colours * sizeof(RGBQUAD) > file.bfOffBits ||
        file.bfOffBits > bytes.size() || bytes.size() - file.bfOffBits < stride * height) {
        return nullptr;
    }
    // The header as the file has it, colour table included, for SetDIBits.
    std::string header = bytes.substr(sizeof(file), info.biSize + colours * sizeof(RGBQUAD));
    auto* described = reinterpret_cast<BITMAPINFO*>(&header[0]);
    HDC screen = GetDC(nullptr);
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, described, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap && !SetDIBits(screen, bitmap, 0, static_cast<UINT>(height),
                             bytes.data() + file.bfOffBits, described, DIB_RGB_COLORS)) {
        DeleteObject(bitmap);
        bitmap = nullptr;
    }
    ReleaseDC(nullptr, screen);
    return bitmap;
}

}  // namespace

HBITMAP LoadProgramPicture(const char* name) {
    // The folder's wide name as it is: converted to an ANSI path, a name that the code page
    // lacks would not open.
    const std::wstring path = Win32Path(theApp.m_strAppDir + Widen1251(name));
    if (path.rfind(L"\\\\?\\", 0) != 0) {
        return static_cast<HBITMAP>(
            LoadImageW(nullptr, path.c_str(), IMAGE_BITMAP, 0, 0,
                       LR_LOADFROMFILE | LR_CREATEDIBSECTION | LR_DEFAULTSIZE | LR_VGACOLOR));
    }
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    LARGE_INTEGER size{};
    std::string bytes;
    DWORD got = 0;
    // A picture file of more than 64 MiB is no side picture.
    if (GetFileSizeEx(file, &size) && size.QuadPart > 0 && size.QuadPart < (64 << 20)) {
        bytes.resize(static_cast<size_t>(size.QuadPart));
        if (!ReadFile(file, &bytes[0], static_cast<DWORD>(bytes.size()), &got, nullptr)) got = 0;
        bytes.resize(got);
    }
    CloseHandle(file);
    return BitmapFromFileBytes(bytes);
}

CPagePicture::~CPagePicture() {
    Release();
}

void CPagePicture::Release() {
    if (m_hShown) DeleteObject(m_hShown);
    if (m_hSource && m_bOwnsSource) DeleteObject(m_hSource);
    m_hShown = nullptr;
    m_hSource = nullptr;
    m_bOwnsSource = false;
}

void CPagePicture::Show(HWND control, HBITMAP source, bool owned, UINT resourceId) {
    Release();
    m_hControl = control;
    m_hSource = source;
    m_bOwnsSource = owned;
    if (!m_hSource) {
        m_hSource =
            static_cast<HBITMAP>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(resourceId),
                                            IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
        m_bOwnsSource = true;
    }
    // The template's frame, not the control's rectangle: a bitmap static has already taken
    // the size of the template's bitmap.
    RECT frame{0, 0, kPictureWidthDlu, kPictureHeightDlu};
    MapDialogRect(GetParent(control), &frame);
    RECT at{};
    GetWindowRect(control, &at);
    MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&at), 1);
    OffsetRect(&frame, at.left, at.top);
    m_Frame = frame;
    Draw();
}

void CPagePicture::Rescale(UINT from, UINT to) {
    if (!m_hControl || from == to) return;
    m_Frame = ScaledRect(m_Frame, from, to);
    Draw();
}

void CPagePicture::Draw() {
    const int width = m_Frame.right - m_Frame.left, height = m_Frame.bottom - m_Frame.top;
    HBITMAP drawn = StretchedBitmap(m_hSource, width, height);
    if (!drawn) return;
    // STM_SETIMAGE hands back the image shown before; ours is deleted below, the template's
    // belongs to the control.
    SendMessageW(m_hControl, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(drawn));
    if (m_hShown) DeleteObject(m_hShown);
    m_hShown = drawn;
    SetWindowPos(m_hControl, nullptr, m_Frame.left, m_Frame.top, width, height,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

void ShowSidePicture(CPagePicture& picture, HWND control) {
    const CMasterDlg* master = theApp.m_pMasterDlg;
    picture.Show(control, master ? master->m_hSideBitmap : nullptr, false, IDB_SIDE);
}
