// The stop of the pane threads, the companion viewer's windows at exit, and the main
// window's side of the second-instance hand-over.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <cstring>
#include <string>

#include "app/app_win.h"
#include "base/thread_messages.h"
#include "frame/handover.h"
#include "thumbs/pane.h"

namespace {

// ---------------------------------------------------------------- pane threads

enum class PaneBehaviour { Obeys, IgnoresStop, Blocked };

struct FakePane {
    PaneBehaviour behaviour;
    HWND window = nullptr;
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE never = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::atomic<int> stopsSeen{0};
    ~FakePane() {
        CloseHandle(ready);
        CloseHandle(never);
    }
};

LRESULT CALLBACK fakePaneProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* pane = reinterpret_cast<FakePane*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (message == WM_APP && wParam == CodeEndThread && pane) {
        ++pane->stopsSeen;
        if (pane->behaviour == PaneBehaviour::Obeys) DestroyWindow(window);
        return 0;
    }
    if (message == WM_DESTROY) PostQuitMessage(0);
    return DefWindowProcW(window, message, wParam, lParam);
}

DWORD WINAPI fakePaneThread(LPVOID argument) {
    auto* pane = static_cast<FakePane*>(argument);
    pane->window = CreateWindowExW(0, L"PravelTestPane", L"", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                                   GetModuleHandleW(nullptr), nullptr);
    SetWindowLongPtrW(pane->window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(pane));
    SetEvent(pane->ready);
    if (pane->behaviour == PaneBehaviour::Blocked) {
        WaitForSingleObject(pane->never, INFINITE);  // stuck in a long operation, pumping nothing
    }
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
    return 7;
}

void registerFakePaneClass() {
    static bool done = false;
    if (done) return;
    WNDCLASSW wc = {};
    wc.lpfnWndProc = fakePaneProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"PravelTestPane";
    RegisterClassW(&wc);
    done = true;
}

struct StopResult {
    bool ended;        // by itself, within the wait
    DWORD exitCode;    // once it did end (released after the wait when it was left behind)
    int stopsSeen;
    int abandoned;     // what the count of threads left behind grew by
};

StopResult stopFakePane(PaneBehaviour behaviour) {
    registerFakePaneClass();
    FakePane pane{behaviour};
    HANDLE thread = CreateThread(nullptr, 0, fakePaneThread, &pane, 0, nullptr);
    WaitForSingleObject(pane.ready, INFINITE);
    HANDLE watch = nullptr;
    DuplicateHandle(GetCurrentProcess(), thread, GetCurrentProcess(), &watch, 0, FALSE, DUPLICATE_SAME_ACCESS);
    StopResult r;
    const int abandonedBefore = abandonedThreadCount();
    r.ended = stopPaneThread(pane.window, thread, 300);
    r.abandoned = abandonedThreadCount() - abandonedBefore;
    // A thread left behind still runs, untouched: let it go, so that it ends with its own code.
    r.stopsSeen = pane.stopsSeen;
    SetEvent(pane.never);
    if (!r.ended) PostMessageW(pane.window, WM_CLOSE, 0, 0);
    WaitForSingleObject(watch, INFINITE);
    GetExitCodeThread(watch, &r.exitCode);
    CloseHandle(watch);
    return r;
}

TEST(PaneStop, AnObedientPaneEndsByItself) {
    StopResult r = stopFakePane(PaneBehaviour::Obeys);
    EXPECT_TRUE(r.ended);
    EXPECT_EQ(r.exitCode, 7u);
    EXPECT_EQ(r.stopsSeen, 1);
    EXPECT_EQ(r.abandoned, 0);
}

// No thread is ever killed: one that ignores the stop, or pumps nothing at all, is counted and
// left running; it ends normally (exit code 7) once let go.
TEST(PaneStop, APaneThatDoesNotEndIsLeftBehindNotKilled) {
    for (PaneBehaviour behaviour : {PaneBehaviour::IgnoresStop, PaneBehaviour::Blocked}) {
        StopResult r = stopFakePane(behaviour);
        EXPECT_FALSE(r.ended);
        EXPECT_EQ(r.abandoned, 1);
        EXPECT_EQ(r.exitCode, 7u) << "the thread was terminated";
    }
}

// ---------------------------------------------------------------- companion viewer windows

std::atomic<int> g_closesSeen{0};

LRESULT CALLBACK viewerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CLOSE) {
        ++g_closesSeen;
        if (GetWindowLongPtrW(window, GWLP_USERDATA) == 0) DestroyWindow(window);
        return 0;  // a stubborn viewer keeps its window
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

HWND makeViewerWindow(const wchar_t* className, bool stubborn) {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = viewerProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = className;
    RegisterClassW(&wc);
    HWND w = CreateWindowExW(0, className, L"viewer", WS_OVERLAPPED, 0, 0, 50, 50, nullptr, nullptr,
                             GetModuleHandleW(nullptr), nullptr);
    SetWindowLongPtrW(w, GWLP_USERDATA, stubborn ? 1 : 0);
    return w;
}

TEST(ViewerWindows, BothClassesAreClosed) {
    g_closesSeen = 0;
    HWND viewer = makeViewerWindow(L"Dorna_vwin_class", false);
    HWND viewerEx = makeViewerWindow(L"Dorna Ex_vwin_class", false);
    ASSERT_TRUE(viewer && viewerEx);
    EXPECT_EQ(closeViewerWindows(), 2);
    EXPECT_EQ(g_closesSeen, 2);
    EXPECT_FALSE(IsWindow(viewer));
    EXPECT_FALSE(IsWindow(viewerEx));
    EXPECT_EQ(closeViewerWindows(), 0);
}

TEST(ViewerWindows, AViewerThatRefusesToCloseDoesNotHangTheExit) {
    g_closesSeen = 0;
    HWND stubborn = makeViewerWindow(L"Dorna Ex_vwin_class", true);
    int sent = closeViewerWindows();
    EXPECT_GT(sent, 1);
    EXPECT_EQ(g_closesSeen, sent);
    EXPECT_TRUE(IsWindow(stubborn));
    DestroyWindow(stubborn);
}

// ---------------------------------------------------------------- hand-over from a second instance

// Stand-ins for the two panes' outer windows: they take a handed folder as a pane does.
LRESULT CALLBACK handOverPaneProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kCrossThreadMessage) {
        if (wParam == CodeTakeFolder) takeHandedFolder(g_panes[GetWindowLongPtrW(window, GWLP_USERDATA)], lParam);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

class HandOver : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        folder_ = std::wstring(temp) + L"pravel_handover_" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(folder_.c_str(), nullptr);
        static const bool registered = [] {
            WNDCLASSW wc = {};
            wc.lpfnWndProc = handOverPaneProc;
            wc.hInstance = GetModuleHandleW(nullptr);
            wc.lpszClassName = L"PravelTestHandOverPane";
            return RegisterClassW(&wc) != 0;
        }();
        ASSERT_TRUE(registered);
        for (int i = 0; i < 2; ++i) {
            g_panes[i] = ThumbnailPane{};
            g_panes[i].index = i;
            g_panes[i].outerWindow = CreateWindowExW(0, L"PravelTestHandOverPane", L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                                     nullptr, GetModuleHandleW(nullptr), nullptr);
            SetWindowLongPtrW(g_panes[i].outerWindow, GWLP_USERDATA, i);
            publishPane(g_panes[i]);
        }
        g_activePane = 0;
        g_paneBusy[0] = g_paneBusy[1] = PaneIdle;
    }
    void TearDown() override {
        g_paneBusy[0] = g_paneBusy[1] = PaneIdle;
        for (int i = 0; i < 2; ++i) {
            DestroyWindow(g_panes[i].outerWindow);
            g_panes[i] = ThumbnailPane{};
            g_panes[i].index = i;
            publishPane(g_panes[i]);
        }
        RemoveDirectoryW(folder_.c_str());
    }
    // Hands the path over and lets the stand-in panes take what was posted to them.
    LRESULT send(const void* data, DWORD bytes, ULONG_PTR id = 0) {
        COPYDATASTRUCT cds;
        cds.dwData = id;
        cds.cbData = bytes;
        cds.lpData = const_cast<void*>(data);
        const LRESULT result = onCopyData(nullptr, &cds);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        return result;
    }
    LRESULT sendPath(const std::wstring& path) { return send(path.c_str(), DWORD((path.size() + 1) * sizeof(wchar_t))); }
    std::wstring folder_;
};

TEST_F(HandOver, AFolderOpensInTheActivePane) {
    g_activePane = 1;
    EXPECT_EQ(sendPath(folder_), TRUE);
    EXPECT_EQ(std::wstring(g_panes[1].folder), folder_);
    EXPECT_STREQ(g_panes[0].folder, L"");
}

TEST_F(HandOver, AFileOpensItsFolder) {
    std::wstring file = folder_ + L"\\a.jpg";
    CloseHandle(CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    sendPath(file);
    DeleteFileW(file.c_str());
    EXPECT_EQ(std::wstring(g_panes[0].folder), folder_);
}

TEST_F(HandOver, IgnoredWhileEitherPaneIsBusy) {
    for (int busy : {int(PaneLoading), int(PaneWritingCache)}) {
        for (int pane = 0; pane < 2; ++pane) {
            g_paneBusy[pane] = busy;
            EXPECT_EQ(sendPath(folder_), TRUE);
            EXPECT_STREQ(g_panes[0].folder, L"");
            g_paneBusy[pane] = PaneIdle;
        }
    }
}

TEST_F(HandOver, MalformedBlocksAreRefusedWithoutOverflow) {
    std::wstring longPath(600, L'x');  // no terminator among the first 260 units
    EXPECT_EQ(send(longPath.c_str(), DWORD(longPath.size() * sizeof(wchar_t))), FALSE);
    std::wstring tooLong = folder_ + L"\\" + std::wstring(300, L'y');
    EXPECT_EQ(sendPath(tooLong), FALSE);
    EXPECT_EQ(send(folder_.c_str(), DWORD(folder_.size() * sizeof(wchar_t))), FALSE);  // terminator missing
    EXPECT_EQ(send(folder_.c_str(), 1), FALSE);
    EXPECT_EQ(send(nullptr, 0), FALSE);
    EXPECT_EQ(send(folder_.c_str(), DWORD((folder_.size() + 1) * sizeof(wchar_t)), 5), FALSE);  // other identifier
    EXPECT_EQ(sendPath(folder_ + L"\\missing"), TRUE);  // well-formed, but nothing there to open
    EXPECT_STREQ(g_panes[0].folder, L"");
}

TEST(PaneReady, TheSecondReportOpensTheCommandLineOnce) {
    HWND one = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x1234));
    HWND two = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x5678));
    EXPECT_FALSE(onPaneReady(1, two));
    EXPECT_TRUE(onPaneReady(0, one));
    EXPECT_EQ(g_paneWindows[0], one);
    EXPECT_EQ(g_paneWindows[1], two);
    EXPECT_FALSE(onPaneReady(0, one));
    EXPECT_FALSE(onPaneReady(2, one));
    g_paneWindows[0] = g_paneWindows[1] = nullptr;
}

}  // namespace
