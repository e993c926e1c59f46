#include <windows.h>

#include "framework/thread.h"

namespace {

struct StartBlock {
    ThreadProc proc;
    void* arg;
};

DWORD WINAPI Trampoline(LPVOID p) {
    StartBlock block = *static_cast<StartBlock*>(p);
    delete static_cast<StartBlock*>(p);
    return block.proc(block.arg);
}

HANDLE AsHandle(NativeThread* t) {
    return reinterpret_cast<HANDLE>(t);
}

}  // namespace

NativeThread* StartNativeThread(ThreadProc proc, void* arg, uint32_t* id) {
    auto* block = new StartBlock{proc, arg};
    DWORD tid = 0;
    HANDLE h = CreateThread(nullptr, 0, Trampoline, block, 0, &tid);
    if (!h) {
        delete block;
        return nullptr;
    }
    if (id) *id = tid;
    return reinterpret_cast<NativeThread*>(h);
}

uint32_t NativeThreadExitCode(NativeThread* t) {
    DWORD code = kThreadStillActive;
    if (!GetExitCodeThread(AsHandle(t), &code)) return kThreadStillActive;
    return code;
}

bool WaitNativeThread(NativeThread* t, uint32_t ms) {
    return WaitForSingleObject(AsHandle(t), ms) == WAIT_OBJECT_0;
}

// Closing the handle of a running thread leaves it running; the kernel frees the thread
// object when it ends.
void ReleaseNativeThread(NativeThread* t) {
    CloseHandle(AsHandle(t));
}

void SleepMs(uint32_t ms) {
    Sleep(ms);
}
uint64_t MonotonicMs() {
    return GetTickCount64();
}
