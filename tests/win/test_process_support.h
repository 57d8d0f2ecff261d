// For tests that start the built program as a process of its own: a private desktop for it,
// and finding its windows from outside.
#pragma once

#include <windows.h>

#include <string>

namespace proctest {

// A desktop of this process's own, made the calling thread's for its lifetime, so that other
// copies of the program that happen to run on the machine are not involved.
class Desktop {
public:
    explicit Desktop(const wchar_t* prefix) {
        name_ = prefix + std::to_wstring(GetCurrentProcessId());
        desktop_ = CreateDesktopW(name_.c_str(), nullptr, nullptr, 0, GENERIC_ALL, nullptr);
        previous_ = GetThreadDesktop(GetCurrentThreadId());
        if (desktop_ && !SetThreadDesktop(desktop_)) {
            CloseDesktop(desktop_);
            desktop_ = nullptr;
        }
    }
    ~Desktop() {
        if (desktop_) {
            SetThreadDesktop(previous_);
            CloseDesktop(desktop_);
        }
    }
    Desktop(const Desktop&) = delete;
    Desktop& operator=(const Desktop&) = delete;
    // The name for STARTUPINFO, or null to share the default desktop.
    wchar_t* startupName() { return desktop_ ? name_.data() : nullptr; }

private:
    std::wstring name_;
    HDESK desktop_ = nullptr;
    HDESK previous_ = nullptr;
};

struct WindowSearch {
    DWORD processId;
    const wchar_t* className;
    const wchar_t* title;  // null: any
    HWND found;
};

inline BOOL CALLBACK matchWindow(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<WindowSearch*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid != search->processId) return TRUE;
    wchar_t text[512] = {};
    if (!GetClassNameW(window, text, 512) || lstrcmpW(text, search->className) != 0) return TRUE;
    if (search->title) {
        GetWindowTextW(window, text, 512);
        if (lstrcmpW(text, search->title) != 0) return TRUE;
    }
    search->found = window;
    return FALSE;
}

// A top-level window of the process with that class (and title, when one is given).
inline HWND findWindowOf(DWORD processId, const wchar_t* className, const wchar_t* title = nullptr) {
    WindowSearch search{processId, className, title, nullptr};
    EnumWindows(matchWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// A window of the process with that class anywhere below parent.
inline HWND childWindowOf(HWND parent, DWORD processId, const wchar_t* className) {
    WindowSearch search{processId, className, nullptr, nullptr};
    EnumChildWindows(parent, matchWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

}  // namespace proctest
