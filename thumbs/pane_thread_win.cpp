// Pane threads: each pane's thread, its outer window and the start/stop handshake with the
// main window. Listing and painting thumbnails builds on this.
#include <windows.h>

#include "app/app_win.h"
#include "app/platform.h"
#include "app/thread_messages.h"
#include "frame/main_window.h"
#include "thumbs/pane.h"

ThumbnailPane g_panes[2];

namespace {

ThumbnailPane& paneOfWindow(HWND window) {
    return g_panes[GetWindowLongPtrW(window, GWLP_USERDATA) == 1 ? 1 : 0];
}

LRESULT CALLBACK paneHookPassOn(int code, WPARAM wParam, LPARAM lParam) {
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

LRESULT CALLBACK paneOuterProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_APP:
            if (wParam == CodeEndThread) {
                DestroyWindow(window);
                return 0;
            }
            if (wParam == CodeActivate) {
                g_activePane = paneOfWindow(window).index;
                PostMessageW(g_mainWindow, WM_APP, CodeActivePaneChanged, 0);
                InvalidateRect(window, nullptr, TRUE);
                return 0;
            }
            if (wParam == CodeLoadFolder) {
                PostMessageW(g_mainWindow, WM_APP, CodeRefreshTitle, 0);
                return 0;
            }
            return 0;
        case WM_ERASEBKGND: {
            RECT r;
            GetClientRect(window, &r);
            FillRect(reinterpret_cast<HDC>(wParam), &r, GetSysColorBrush(COLOR_WINDOW));
            return 1;
        }
        case WM_LBUTTONDOWN:
        case WM_RBUTTONDOWN:
            g_activePane = paneOfWindow(window).index;
            PostMessageW(g_mainWindow, WM_APP, CodeActivePaneChanged, 0);
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// Registered at static initialisation: the application registers the classes at start-up.
const bool g_procsSet = [] {
    g_windowClassProcs[ClassPaneOuter1] = paneOuterProc;
    g_windowClassProcs[ClassPaneOuter2] = paneOuterProc;
    return true;
}();

DWORD runPane(int index) {
    ThumbnailPane& pane = g_panes[index];
    pane.index = index;
    DWORD thread = GetCurrentThreadId();
    pane.mouseHook = SetWindowsHookExW(WH_MOUSE, paneHookPassOn, nullptr, thread);
    pane.keyboardHook = SetWindowsHookExW(WH_KEYBOARD, paneHookPassOn, nullptr, thread);

    pane.outerWindow = CreateWindowExW(0, windowClassName(index == 0 ? ClassPaneOuter1 : ClassPaneOuter2), L"",
                                       WS_CHILD | WS_CLIPCHILDREN | WS_CLIPSIBLINGS, 0, 0, 0, 0, g_clientWindow,
                                       reinterpret_cast<HMENU>(static_cast<INT_PTR>(400 + index)), g_instance, nullptr);
    if (pane.outerWindow) {
        SetWindowLongPtrW(pane.outerWindow, GWLP_USERDATA, index);
        PostMessageW(g_mainWindow, WM_APP, index == 0 ? CodePane1Ready : CodePane2Ready,
                     reinterpret_cast<LPARAM>(pane.outerWindow));
        MSG msg;
        while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
            if (!g_modalFlag && g_accelerators && TranslateAcceleratorW(g_mainWindow, g_accelerators, &msg)) continue;
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    pane.outerWindow = nullptr;
    if (pane.keyboardHook) UnhookWindowsHookEx(pane.keyboardHook);
    pane.keyboardHook = nullptr;
    if (pane.mouseHook) UnhookWindowsHookEx(pane.mouseHook);
    pane.mouseHook = nullptr;
    return 0;
}

}  // namespace

DWORD WINAPI paneThread1(LPVOID) { return runPane(0); }
DWORD WINAPI paneThread2(LPVOID) { return runPane(1); }

void freePaneItems(ThumbnailPane& pane) {
    if (pane.items) {
        for (int i = 0; i < pane.itemCount; ++i) {
            pageFree(pane.items[i].pixels);
            pane.items[i].pixels = nullptr;
        }
        pageFree(pane.items);
    }
    pane.items = nullptr;
    pane.itemCount = 0;
    pane.selectedCount = 0;
}
