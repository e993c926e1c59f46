// What a console program needs of its system: the stop request from the keyboard or the
// console window, the console's code page, whether output goes to a terminal, and the current
// folder. Win32 implementation in console_win32.cpp, POSIX one in console_posix.cpp.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

using StopRequestHandler = void (*)();

// Calls `onStop` when the user asks the program to stop: Ctrl-C, Ctrl-Break or closing the
// console window on Windows (on a thread of the console's), SIGINT or SIGTERM elsewhere (in the
// signal handler, so `onStop` may only do what a signal handler may). A wait of the program
// for input gives up too rather than being resumed.
void InstallStopRequestHandler(StopRequestHandler onStop);

// The program's texts are Windows-1251: the console shows them so where it has a code page.
void UseConsoleCodePage1251();

// True when `stream` is a terminal (a console window) rather than a file or a pipe.
bool IsTerminal(std::FILE* stream);

// Makes `folder` the current folder; false when it cannot be entered.
bool EnterFolder(const std::string& folder);

class CStopSignal;

enum class EnterWait { Pressed, Stopped, InputEnded, TimedOut };

// Waits for the user's Enter on standard input together with `stop`, so Ctrl-C ends a prompt
// at once even though the signal reaches another thread. Standard input at its end (a pipe
// closed, a file read through, none at all) is never taken for Enter: InputEnded.
// With `ms`, gives up after that long (TimedOut), keeping what was typed for the next wait.
EnterWait WaitForEnter(const CStopSignal& stop, uint32_t ms = 0xFFFFFFFFu);

// Whether standard output is a terminal that takes the cursor movements a table redrawn in
// place needs (on Windows 10 and later the console's virtual terminal mode, switched on here).
bool UseTerminalSequences();

// Whether the terminal shows what is typed: a table redrawn in place turns it off, as an Enter
// echoed would move the cursor under it. True when it could be set (or needs no setting:
// the Windows console does not echo the input WaitForEnter reads).
bool EchoInput(bool on);
