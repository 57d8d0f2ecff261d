// The worker thread layer on Win32 (see platform_threads.h).
#include "base/platform_threads.h"

#include <windows.h>
#include <process.h>

static_assert(sizeof(CRITICAL_SECTION) <= 64, "the lock's storage holds a critical section");

int processorCount() {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwNumberOfProcessors > 0 ? int(info.dwNumberOfProcessors) : 1;
}

double threadCpuMilliseconds() {
    FILETIME created, exited, kernel, user;
    if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user)) return 0;
    const auto value = [](const FILETIME& t) { return (uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    return double(value(kernel) + value(user)) / 10000.0;  // 100 ns units
}

WorkerLock::WorkerLock() { InitializeCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_)); }
WorkerLock::~WorkerLock() { DeleteCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_)); }
void WorkerLock::lock() { EnterCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_)); }
void WorkerLock::unlock() { LeaveCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_)); }

WorkerSemaphore::WorkerSemaphore() { handle_ = CreateSemaphoreW(nullptr, 0, 0x7FFFFFFF, nullptr); }
WorkerSemaphore::~WorkerSemaphore() {
    if (handle_) CloseHandle(handle_);
}
void WorkerSemaphore::release(int count) {
    if (handle_ && count > 0) ReleaseSemaphore(handle_, count, nullptr);
}
bool WorkerSemaphore::wait(int milliseconds) {
    if (!handle_) return false;
    return WaitForSingleObject(handle_, milliseconds < 0 ? INFINITE : DWORD(milliseconds)) == WAIT_OBJECT_0;
}

struct WorkerThreadStart {
    static unsigned __stdcall run(void* self) {
        // The record is read before the entry runs: a detached thread's may be gone after it.
        auto* thread = static_cast<WorkerThread*>(self);
        void (*entry)(void*) = thread->entry_;
        void* argument = thread->argument_;
        entry(argument);
        return 0;
    }
};

bool WorkerThread::start(void (*entry)(void*), void* argument) {
    if (handle_) return false;
    entry_ = entry;
    argument_ = argument;
    // _beginthreadex rather than CreateThread so that the C runtime sets up its per-thread data.
    const uintptr_t h = _beginthreadex(nullptr, 0, WorkerThreadStart::run, this, 0, nullptr);
    handle_ = reinterpret_cast<void*>(h);
    return handle_ != nullptr;
}

void WorkerThread::detach() {
    if (!handle_) return;
    CloseHandle(handle_);
    handle_ = nullptr;
}

void WorkerThread::join() {
    if (!handle_) return;
    WaitForSingleObject(handle_, INFINITE);
    CloseHandle(handle_);
    handle_ = nullptr;
}
