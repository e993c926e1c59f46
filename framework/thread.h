// Native threads for the workers: start, exit code, bounded wait, release.
// Win32 implementation in thread_win32.cpp, POSIX one in thread_posix.cpp.
#pragma once

#include <cstdint>

struct NativeThread;

using ThreadProc = uint32_t (*)(void* arg);

// The exit code a thread reports while it runs (STILL_ACTIVE on Windows).
constexpr uint32_t kThreadStillActive = 259;

// Starts `proc(arg)` at once; null when no thread could be created.
NativeThread* StartNativeThread(ThreadProc proc, void* arg, uint32_t* id);

// The thread's exit code, or kThreadStillActive while it runs.
uint32_t NativeThreadExitCode(NativeThread* thread);

// True when the thread has ended within `ms`.
bool WaitNativeThread(NativeThread* thread, uint32_t ms);

// Gives the thread up without ending it: a thread that still runs ends by itself later and
// its resources are freed then. Threads are never killed: one may hold the heap's lock.
void ReleaseNativeThread(NativeThread* thread);

void SleepMs(uint32_t ms);
uint64_t MonotonicMs();
