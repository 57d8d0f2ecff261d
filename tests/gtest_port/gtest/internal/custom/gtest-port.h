// GoogleTest's own port hooks for the Windows builds. The win32-thread-model C++ library of
// the mingw-w64 compilers (GCC 12) has no std::mutex or std::condition_variable, which
// GoogleTest's start signal for helper threads uses; this one waits on a Win32 event instead.
// (GoogleTest's mutexes and thread-local values already use Win32 calls on Windows.)
#ifndef PRAVEL_GTEST_CUSTOM_PORT_H
#define PRAVEL_GTEST_CUSTOM_PORT_H

#ifdef _WIN32
#include <windows.h>

#define GTEST_HAS_NOTIFICATION_ 1

namespace testing {
namespace internal {

class Notification {
public:
    Notification() : event_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~Notification() {
        if (event_) ::CloseHandle(event_);
    }
    Notification(const Notification&) = delete;
    Notification& operator=(const Notification&) = delete;

    void Notify() { ::SetEvent(event_); }
    void WaitForNotification() { ::WaitForSingleObject(event_, INFINITE); }

private:
    HANDLE event_;
};

}  // namespace internal
}  // namespace testing
#endif

#endif
