// ImageLock. A critical section on Windows, a mutex in the native build of the core.
#include "base/image_lock.h"

#ifdef _WIN32
#include <windows.h>

namespace {
CRITICAL_SECTION g_section;
bool g_ready = false;
}  // namespace

void initImageLock() {
    if (g_ready) return;
    InitializeCriticalSection(&g_section);
    g_ready = true;
}

void deleteImageLock() {
    if (!g_ready) return;
    g_ready = false;
    DeleteCriticalSection(&g_section);
}

// Taking the lock before start-up initialised it (tools, tests) initialises it first; all
// threads that share it are started after initImageLock, so this cannot race.
void lockImages() {
    if (!g_ready) initImageLock();
    EnterCriticalSection(&g_section);
}

void unlockImages() {
    if (g_ready) LeaveCriticalSection(&g_section);
}

bool tryLockImages() {
    if (!g_ready) initImageLock();
    return TryEnterCriticalSection(&g_section) != FALSE;
}

#else
#include <mutex>

namespace {
std::recursive_mutex g_mutex;  // a critical section may be re-entered by its owner thread
}  // namespace

void initImageLock() {}
void deleteImageLock() {}
void lockImages() { g_mutex.lock(); }
void unlockImages() { g_mutex.unlock(); }
bool tryLockImages() { return g_mutex.try_lock(); }
#endif
