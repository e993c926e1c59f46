// The program's texts are 8-bit Windows-1251 strings; windows show them through the Unicode
// functions, converted here, so they read correctly whatever the system's ANSI code page is
// (with SetWindowTextA an English or German Windows would show "?" or mojibake).
#pragma once

#include <windows.h>

#include <string>

std::wstring Widen1251(const std::string& text);
std::string Narrow1251(const std::wstring& text);

void SetWindowText1251(HWND hwnd, const std::string& text);
std::string GetWindowText1251(HWND hwnd);
int MessageBox1251(HWND owner, const std::string& text, const std::string& caption, UINT type);
