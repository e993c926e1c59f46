#include <pthread.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "framework/thread.h"

struct NativeThread {
    ThreadProc proc;
    void* arg;
    pthread_t thread{};
    std::mutex mutex;
    std::condition_variable cv;
    bool done = false;
    bool released = false;
    uint32_t code = kThreadStillActive;
};

namespace {

void* Trampoline(void* p) {
    auto* t = static_cast<NativeThread*>(p);
    uint32_t code = t->proc(t->arg);
    bool released;
    {
        std::lock_guard<std::mutex> lock(t->mutex);
        t->code = code;
        t->done = true;
        released = t->released;
    }
    t->cv.notify_all();
    if (released) {
        // Nobody will join us any more: free ourselves.
        pthread_detach(pthread_self());
        delete t;
    }
    return nullptr;
}

}  // namespace

NativeThread* StartNativeThread(ThreadProc proc, void* arg, uint32_t* id) {
    auto* t = new NativeThread{};
    t->proc = proc;
    t->arg = arg;
    static uint32_t s_nextId = 1;
    if (pthread_create(&t->thread, nullptr, Trampoline, t) != 0) {
        delete t;
        return nullptr;
    }
    if (id) *id = __atomic_fetch_add(&s_nextId, 1, __ATOMIC_RELAXED);
    return t;
}

uint32_t NativeThreadExitCode(NativeThread* t) {
    std::lock_guard<std::mutex> lock(t->mutex);
    return t->done ? t->code : kThreadStillActive;
}

bool WaitNativeThread(NativeThread* t, uint32_t ms) {
    std::unique_lock<std::mutex> lock(t->mutex);
    return t->cv.wait_for(lock, std::chrono::milliseconds(ms), [t] { return t->done; });
}

void ReleaseNativeThread(NativeThread* t) {
    {
        std::lock_guard<std::mutex> lock(t->mutex);
        if (!t->done) {
            t->released = true;
            return;
        }
    }
    pthread_join(t->thread, nullptr);
    delete t;
}

void SleepMs(uint32_t ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

uint64_t MonotonicMs() {
    using namespace std::chrono;
    return static_cast<uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}
