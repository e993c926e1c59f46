// Paths for the Win32 "W" file functions without the MAX_PATH cut. The program names its files
// by ANSI paths relative to its own folder; a folder deep in a user profile makes the whole path
// longer than MAX_PATH, which the file functions refuse unless the path is absolute and carries
// the "\\?\" prefix (Windows' opt-in to long paths is off by default, and SetCurrentDirectory
// refuses such a folder outright).
#pragma once

#include <windows.h>

#include <string>

// The folder relative paths start from (with or without its closing backslash); until one is
// set, the current directory.
void SetRelativeBase(const std::wstring& folder);
const std::wstring& RelativeBase();

// `path` (ANSI, relative or absolute) as a whole path for the "W" functions: made absolute
// against the base and normalised, and "\\?\"-prefixed when it is too long for the plain form.
std::wstring Win32Path(const std::string& path);
std::wstring Win32Path(const std::wstring& path);

// The same whole path as a user reads it, without the prefix.
std::wstring DisplayPath(const std::wstring& path);

// This executable's whole path (GetModuleFileNameW without a fixed buffer); empty on failure.
std::wstring ModulePath();
