// The main frame: placement, the client window, pane layout, and the messages that tie the
// frame to the application core (second-instance hand-over, pane handshake, shutdown).
#include "frame/main_window.h"

#include "app/app_win.h"
#include "app/messages.h"
#include "app/thread_messages.h"
#include "thumbs/pane.h"

HWND g_clientWindow = nullptr;

namespace {

constexpr int kClientId = 310;

const bool g_procsSet = [] {
    g_windowClassProcs[ClassMain] = mainWindowProc;
    g_windowClassProcs[ClassClient] = clientWindowProc;
    return true;
}();

void placeClientWindow(HWND frame) {
    if (!g_clientWindow) return;
    RECT r;
    GetClientRect(frame, &r);
    MoveWindow(g_clientWindow, 0, 0, r.right, r.bottom, TRUE);
}

}  // namespace

HWND createMainWindow(int showCommand) {
    RECT work = {0, 0, 800, 600};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    MainPlacement p = readMainPlacement(work.right - work.left, work.bottom - work.top);
    int x = p.x + work.left;
    int y = p.y + work.top;
    int w = p.w;
    int h = p.h;

    // Keep the frame inside the work area of the monitor nearest to it.
    RECT wanted = {x, y, x + w, y + h};
    HMONITOR monitor = MonitorFromRect(&wanted, MONITOR_DEFAULTTONEAREST);
    MONITORINFO info;
    info.cbSize = sizeof(info);
    if (monitor && GetMonitorInfoW(monitor, &info)) {
        const RECT& a = info.rcWork;
        if (x < a.left || y < a.top || x > a.right - w || y > a.bottom - h) {
            if (w > a.right - a.left) w = a.right - a.left;
            if (h > a.bottom - a.top) h = a.bottom - a.top;
            x = x < a.left ? a.left : (x > a.right - w ? a.right - w : x);
            y = y < a.top ? a.top : (y > a.bottom - h ? a.bottom - h : y);
        }
    }

    HWND frame = CreateWindowExW(WS_EX_APPWINDOW, windowClassName(ClassMain), L"Pravel",
                                 WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, x, y, w, h, nullptr, nullptr, g_instance, nullptr);
    if (!frame) return nullptr;
    if (showCommand == SW_SHOWNORMAL || showCommand == SW_SHOW) {
        showCommand = g_settings.maximized ? SW_SHOWMAXIMIZED : SW_SHOWNORMAL;
    }
    ShowWindow(frame, showCommand);
    UpdateWindow(frame);
    return frame;
}

void layoutPanes(int clientWidth, int clientHeight) {
    HWND pane1 = g_paneWindows[0];
    HWND pane2 = g_paneWindows[1];
    int left = g_settings.autoTree ? 0 : g_settings.treeWidth + g_sizeFrameX;
    int available = clientWidth - left;
    switch (g_settings.thumbSplit) {
        case 0:
            if (pane1) SetWindowPos(pane1, nullptr, left, 0, available / 2 - 1, clientHeight, SWP_NOZORDER | SWP_SHOWWINDOW);
            if (pane2) {
                SetWindowPos(pane2, nullptr, clientWidth - available / 2, 0, available / 2 - 1, clientHeight,
                             SWP_NOZORDER | SWP_SHOWWINDOW);
            }
            break;
        case 1:
            if (pane1) SetWindowPos(pane1, nullptr, left, 0, available, clientHeight, SWP_NOZORDER | SWP_SHOWWINDOW);
            if (pane2) SetWindowPos(pane2, nullptr, left, 0, available, clientHeight, SWP_NOZORDER | SWP_HIDEWINDOW);
            break;
        case 2:
            if (pane2) SetWindowPos(pane2, nullptr, left, 0, available, clientHeight, SWP_NOZORDER | SWP_SHOWWINDOW);
            if (pane1) SetWindowPos(pane1, nullptr, left, 0, available, clientHeight, SWP_NOZORDER | SWP_HIDEWINDOW);
            break;
        default:
            break;
    }
}

void layoutClientArea() {
    if (!g_clientWindow) return;
    RECT r;
    GetClientRect(g_clientWindow, &r);
    layoutPanes(r.right, r.bottom);
}

void freeFrameResources() {}

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            g_mainWindow = window;
            g_clientWindow = CreateWindowExW(0, windowClassName(ClassClient), L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN,
                                             0, 0, 0, 0, window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kClientId)),
                                             g_instance, nullptr);
            refreshWindowTitle();
            return 0;
        case WM_SIZE:
            if (wParam != SIZE_MINIMIZED) {
                placeClientWindow(window);
                if (wParam == SIZE_MAXIMIZED) g_settings.maximized = 1;
                if (wParam == SIZE_RESTORED) g_settings.maximized = 0;
            }
            return 0;
        case WM_COPYDATA:
            return onCopyData(window, reinterpret_cast<const COPYDATASTRUCT*>(lParam));
        case WM_APP:
            switch (wParam) {
                case CodePane1Ready:
                case CodePane2Ready:
                    if (onPaneReady(wParam == CodePane1Ready ? 0 : 1, reinterpret_cast<HWND>(lParam))) {
                        layoutClientArea();
                        openCommandLinePath();
                    }
                    return 0;
                case CodeRefreshTitle:
                case CodeActivePaneChanged:
                    refreshWindowTitle();
                    return 0;
                case CodeShowMessage:
                    onShowMessage(lParam);
                    return 0;
            }
            return 0;
        case WM_SETTINGCHANGE:
            readSystemMetrics();
            break;
        case WM_CLOSE:
            if (!shutdownApplication(window)) return 0;
            break;  // the default handling destroys the window
        case WM_DESTROY:
            g_clientWindow = nullptr;
            PostQuitMessage(0);
            return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

LRESULT CALLBACK clientWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_ERASEBKGND: {
            RECT r;
            GetClientRect(window, &r);
            FillRect(reinterpret_cast<HDC>(wParam), &r, GetSysColorBrush(COLOR_BTNFACE));
            return 1;
        }
        case WM_SIZE:
            layoutPanes(LOWORD(lParam), HIWORD(lParam));
            return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}
