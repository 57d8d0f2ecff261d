// A small thread layer for background work inside one operation: a lock, a counting
// semaphore with a timed wait, and threads that are started and joined by their owner.
// Windows: critical sections, semaphores and _beginthreadex (present since the first
// Win32 versions, so no condition variables); native builds: pthreads.
#pragma once

#include <cstdint>

// The number of processors the process may use (at least 1).
int processorCount();

// Processor time the calling thread has used so far, milliseconds (measurements only).
double threadCpuMilliseconds();

class WorkerLock {
public:
    WorkerLock();
    ~WorkerLock();
    WorkerLock(const WorkerLock&) = delete;
    WorkerLock& operator=(const WorkerLock&) = delete;
    void lock();
    void unlock();

private:
    alignas(8) unsigned char storage_[64];
};

class WorkerLockScope {
public:
    explicit WorkerLockScope(WorkerLock& lock) : lock_(lock) { lock_.lock(); }
    ~WorkerLockScope() { lock_.unlock(); }
    WorkerLockScope(const WorkerLockScope&) = delete;
    WorkerLockScope& operator=(const WorkerLockScope&) = delete;

private:
    WorkerLock& lock_;
};

// A counting semaphore: release adds, wait takes one (or times out).
class WorkerSemaphore {
public:
    WorkerSemaphore();
    ~WorkerSemaphore();
    WorkerSemaphore(const WorkerSemaphore&) = delete;
    WorkerSemaphore& operator=(const WorkerSemaphore&) = delete;
    bool valid() const { return handle_ != nullptr; }
    // Windows: the semaphore's HANDLE, for waits that watch other things too.
    void* nativeHandle() const { return handle_; }
    void release(int count = 1);
    // Waits at most milliseconds (negative: without limit); true when one was taken.
    bool wait(int milliseconds);

private:
    void* handle_ = nullptr;
};

// A thread running entry(argument). join waits for its end; the destructor joins. detach
// lets it run on without an owner: it must then keep alive by itself whatever it uses, and
// the record may go before the thread ends (the start reads nothing of it after entry).
class WorkerThread {
public:
    WorkerThread() = default;
    ~WorkerThread() { join(); }
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;
    bool start(void (*entry)(void*), void* argument);
    bool running() const { return handle_ != nullptr; }
    void join();
    void detach();

private:
    void* handle_ = nullptr;
    void (*entry_)(void*) = nullptr;
    void* argument_ = nullptr;
#ifndef _WIN32
    unsigned char thread_[16] = {};
#endif
    friend struct WorkerThreadStart;
};
