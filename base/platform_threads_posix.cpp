// The worker thread layer on POSIX (see platform_threads.h).
#include "base/platform_threads.h"

#include <pthread.h>
#include <time.h>
#include <unistd.h>

#include <new>

static_assert(sizeof(pthread_mutex_t) <= 64, "the lock's storage holds a mutex");
static_assert(sizeof(pthread_t) <= 16, "the thread record holds a pthread_t");

int processorCount() {
    const long n = sysconf(_SC_NPROCESSORS_ONLN);
    return n > 0 ? int(n) : 1;
}

double threadCpuMilliseconds() {
    timespec t{};
    if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t) != 0) return 0;
    return double(t.tv_sec) * 1000.0 + double(t.tv_nsec) / 1e6;
}

WorkerLock::WorkerLock() { pthread_mutex_init(reinterpret_cast<pthread_mutex_t*>(storage_), nullptr); }
WorkerLock::~WorkerLock() { pthread_mutex_destroy(reinterpret_cast<pthread_mutex_t*>(storage_)); }
void WorkerLock::lock() { pthread_mutex_lock(reinterpret_cast<pthread_mutex_t*>(storage_)); }
void WorkerLock::unlock() { pthread_mutex_unlock(reinterpret_cast<pthread_mutex_t*>(storage_)); }

namespace {
struct Semaphore {
    pthread_mutex_t mutex;
    pthread_cond_t cond;
    long count = 0;
};
}  // namespace

WorkerSemaphore::WorkerSemaphore() {
    auto* s = new (std::nothrow) Semaphore;
    if (!s) return;
    pthread_mutex_init(&s->mutex, nullptr);
    pthread_condattr_t attr;
    pthread_condattr_init(&attr);
    pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
    pthread_cond_init(&s->cond, &attr);
    pthread_condattr_destroy(&attr);
    handle_ = s;
}

WorkerSemaphore::~WorkerSemaphore() {
    auto* s = static_cast<Semaphore*>(handle_);
    if (!s) return;
    pthread_cond_destroy(&s->cond);
    pthread_mutex_destroy(&s->mutex);
    delete s;
}

void WorkerSemaphore::release(int count) {
    auto* s = static_cast<Semaphore*>(handle_);
    if (!s || count <= 0) return;
    pthread_mutex_lock(&s->mutex);
    s->count += count;
    pthread_mutex_unlock(&s->mutex);
    if (count == 1)
        pthread_cond_signal(&s->cond);
    else
        pthread_cond_broadcast(&s->cond);
}

bool WorkerSemaphore::wait(int milliseconds) {
    auto* s = static_cast<Semaphore*>(handle_);
    if (!s) return false;
    timespec deadline{};
    if (milliseconds >= 0) {
        clock_gettime(CLOCK_MONOTONIC, &deadline);
        deadline.tv_sec += milliseconds / 1000;
        deadline.tv_nsec += long(milliseconds % 1000) * 1000000L;
        if (deadline.tv_nsec >= 1000000000L) {
            deadline.tv_sec += 1;
            deadline.tv_nsec -= 1000000000L;
        }
    }
    pthread_mutex_lock(&s->mutex);
    bool taken = true;
    while (s->count == 0) {
        const int r = milliseconds < 0 ? pthread_cond_wait(&s->cond, &s->mutex)
                                       : pthread_cond_timedwait(&s->cond, &s->mutex, &deadline);
        if (r != 0 && s->count == 0) {
            taken = false;
            break;
        }
    }
    if (taken) --s->count;
    pthread_mutex_unlock(&s->mutex);
    return taken;
}

struct WorkerThreadStart {
    static void* run(void* self) {
        // The record is read before the entry runs: a detached thread's may be gone after it.
        auto* thread = static_cast<WorkerThread*>(self);
        void (*entry)(void*) = thread->entry_;
        void* argument = thread->argument_;
        entry(argument);
        return nullptr;
    }
};

bool WorkerThread::start(void (*entry)(void*), void* argument) {
    if (handle_) return false;
    entry_ = entry;
    argument_ = argument;
    auto* t = reinterpret_cast<pthread_t*>(thread_);
    if (pthread_create(t, nullptr, WorkerThreadStart::run, this) != 0) return false;
    handle_ = t;
    return true;
}

void WorkerThread::detach() {
    if (!handle_) return;
    pthread_detach(*static_cast<pthread_t*>(handle_));
    handle_ = nullptr;
}

void WorkerThread::join() {
    if (!handle_) return;
    pthread_join(*static_cast<pthread_t*>(handle_), nullptr);
    handle_ = nullptr;
}
