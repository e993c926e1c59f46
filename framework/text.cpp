#include "framework/text.h"

namespace {
constexpr UINT kCodePage = 1251;
}

std::wstring Widen1251(const std::string& text) {
    if (text.empty()) return std::wstring();
    const int n =
        MultiByteToWideChar(kCodePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(kCodePage, 0, text.data(), static_cast<int>(text.size()), &wide[0], n);
    return wide;
}

std::string Narrow1251(const std::wstring& text) {
    if (text.empty()) return std::string();
    const int n = WideCharToMultiByte(kCodePage, 0, text.data(), static_cast<int>(text.size()),
                                      nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(kCodePage, 0, text.data(), static_cast<int>(text.size()), &narrow[0], n,
                        nullptr, nullptr);
    return narrow;
}

void SetWindowText1251(HWND hwnd, const std::string& text) {
    SetWindowTextW(hwnd, Widen1251(text).c_str());
}

std::string GetWindowText1251(HWND hwnd) {
    const int length = GetWindowTextLengthW(hwnd);
    std::wstring wide(static_cast<size_t>(length) + 1, L'\0');
    wide.resize(static_cast<size_t>(GetWindowTextW(hwnd, &wide[0], length + 1)));
    return Narrow1251(wide);
}

int MessageBox1251(HWND owner, const std::string& text, const std::string& caption, UINT type) {
    return MessageBoxW(owner, Widen1251(text).c_str(), Widen1251(caption).c_str(), type);
}
