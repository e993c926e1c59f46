#include "ui_probe.h"

#include <algorithm>
#include <chrono>

#include "framework/text.h"

namespace {

// A message box's text is the static control with this ID in every Windows version and Wine.
constexpr int kMessageBoxTextId = 0xFFFF;

struct TopSearch {
    DWORD pid;
    bool (*accept)(HWND);
    HWND found;
};

BOOL CALLBACK FindTopProc(HWND hwnd, LPARAM lParam) {
    auto* search = reinterpret_cast<TopSearch*>(lParam);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid == search->pid && IsWindowVisible(hwnd) && search->accept(hwnd)) {
        search->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

bool IsMessageBox(HWND hwnd) {
    wchar_t cls[16] = {};
    GetClassNameW(hwnd, cls, 16);
    return std::wstring(cls) == L"#32770" && GetDlgItem(hwnd, kMessageBoxTextId);
}

}  // namespace

std::string WindowText(HWND hwnd) {
    // Not SMTO_ABORTIFHUNG: a box's thread is the engine's, which pumps no messages before the
    // box and so looks hung to Wine for a moment after the box appears.
    DWORD_PTR length = 0;
    SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, 5000, &length);
    // A help page runs to several thousand characters.
    std::vector<wchar_t> text(std::max<size_t>(length, 4095) + 1, L'\0');
    DWORD_PTR got = 0;
    SendMessageTimeoutW(hwnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                        SMTO_NORMAL, 5000, &got);
    return Narrow1251(text.data());
}

HWND FindTopWindow(DWORD pid, bool (*accept)(HWND)) {
    TopSearch search{pid, accept, nullptr};
    EnumWindows(&FindTopProc, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND FindMessageBox(DWORD pid) {
    return FindTopWindow(pid, &IsMessageBox);
}

SeenBox AnswerMessageBox(HWND box, int answer) {
    SeenBox seen{WindowText(box), WindowText(GetDlgItem(box, kMessageBoxTextId))};
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED), 0);
    // Gone before it could be found again.
    for (int i = 0; i < 200 && IsWindow(box) && IsWindowVisible(box); ++i) Sleep(10);
    return seen;
}

bool SaveWindowPicture(HWND hwnd, const std::string& path) {
    RECT r{};
    if (!GetWindowRect(hwnd, &r)) return false;
    const int w = r.right - r.left, h = r.bottom - r.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), w, h, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP dib = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, dib);
    BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    GdiFlush();
    const DWORD stride = static_cast<DWORD>((w * 3 + 3) & ~3);
    const DWORD size = stride * static_cast<DWORD>(h);
    BITMAPFILEHEADER file{
        0x4D42, static_cast<DWORD>(sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER) + size), 0,
        0, sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER)};
    HANDLE out = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD put = 0;
    const bool ok = out != INVALID_HANDLE_VALUE &&
                    WriteFile(out, &file, sizeof(file), &put, nullptr) &&
                    WriteFile(out, &info.bmiHeader, sizeof(info.bmiHeader), &put, nullptr) &&
                    WriteFile(out, bits, size, &put, nullptr);
    if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
    SelectObject(memory, old);
    DeleteObject(dib);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return ok;
}

BoxWatcher::BoxWatcher(DWORD pid, void (*onBox)(void*), void* context)
    : m_pid(pid), m_onBox(onBox), m_context(context), m_thread([this] { Watch(); }) {}

BoxWatcher::~BoxWatcher() {
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_stop = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

void BoxWatcher::Watch() {
    std::unique_lock<std::mutex> hold(m_lock);
    while (!m_stop) {
        hold.unlock();
        HWND box = FindMessageBox(m_pid);
        if (box) {
            if (m_onBox) m_onBox(m_context);
            std::string picture;
            {
                std::lock_guard<std::mutex> again(m_lock);
                if (!m_pictures.empty()) {
                    picture = m_pictures + std::to_string(m_boxes.size() + 1) + ".bmp";
                }
            }
            if (!picture.empty()) {
                RedrawWindow(box, nullptr, nullptr,
                             RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
                Sleep(300);  // painted by the box's own thread, maybe in another process
                SaveWindowPicture(box, picture);
            }
            SeenBox seen = AnswerMessageBox(box, m_answer);
            hold.lock();
            m_boxes.push_back(seen);
            m_changed.notify_all();
            continue;
        }
        hold.lock();
        // Message boxes come and go at human speed: looking twenty times a second is plenty.
        m_changed.wait_for(hold, std::chrono::milliseconds(50), [this] { return m_stop; });
    }
}

void BoxWatcher::PictureBoxes(const std::string& folder, const std::string& prefix) {
    std::lock_guard<std::mutex> hold(m_lock);
    m_pictures = folder.empty() ? std::string() : folder + "\\" + prefix + "-box-";
}

std::vector<SeenBox> BoxWatcher::Boxes() {
    std::lock_guard<std::mutex> hold(m_lock);
    return m_boxes;
}

bool BoxWatcher::WaitForBoxes(size_t count, DWORD ms) {
    std::unique_lock<std::mutex> hold(m_lock);
    return m_changed.wait_for(hold, std::chrono::milliseconds(ms),
                              [&] { return m_boxes.size() >= count; });
}
