// Builds the real main frame inside a test process: window classes, common controls, a private
// settings file, and two stand-in pane windows that record the codes posted to them.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <string>
#include <utility>
#include <vector>

#include "app/app_win.h"
#include "base/settings.h"
#include "base/thread_messages.h"
#include "frame/frame_state.h"
#include "frame/main_window.h"
#include "thumbs/pane.h"

namespace frametest {

inline std::vector<std::pair<HWND, unsigned>>& postedCodes() {
    static std::vector<std::pair<HWND, unsigned>> codes;
    return codes;
}

inline LRESULT CALLBACK standInPaneProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    if (m == kCrossThreadMessage) {
        postedCodes().emplace_back(w, unsigned(wp));
        return 0;
    }
    return DefWindowProcW(w, m, wp, lp);
}

inline int countCodes(HWND w, unsigned code) {
    int n = 0;
    for (auto& [hwnd, c] : postedCodes())
        if (hwnd == w && c == code) ++n;
    return n;
}

inline void pump() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) continue;  // destroying a frame posts it; tests go on
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

inline std::wstring tempPath(const wchar_t* name) {
    wchar_t dir[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    return std::wstring(dir) + name;
}

inline void setUpProcessOnce() {
    static bool done = false;
    if (done) return;
    done = true;
    g_instance = GetModuleHandleW(nullptr);
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_LISTVIEW_CLASSES | ICC_TREEVIEW_CLASSES | ICC_BAR_CLASSES |
                                             ICC_TAB_CLASSES | ICC_UPDOWN_CLASS | ICC_COOL_CLASSES};
    InitCommonControlsEx(&icc);
    readSystemMetrics();
    registerProgramWindowClasses(g_instance);
    WNDCLASSW wc{};
    wc.lpfnWndProc = standInPaneProc;
    wc.hInstance = g_instance;
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = L"FrameTestStandInPane";
    RegisterClassW(&wc);
}

// One frame per test: fresh settings from `iniText` (written to a private INI first).
class FrameFixture : public ::testing::Test {
protected:
    HWND frame = nullptr;
    HWND panes[2] = {};
    HWND bases[2] = {};
    std::wstring ini = tempPath(L"pravel_frame_test.ini");

    void createFrame(const char* iniText = "", int show = SW_SHOWNORMAL) {
        setUpProcessOnce();
        DeleteFileW(ini.c_str());
        if (*iniText) {
            HANDLE f = CreateFileW(ini.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
            DWORD written = 0;
            WriteFile(f, iniText, DWORD(strlen(iniText)), &written, nullptr);
            CloseHandle(f);
        }
        setSettingsFilePath(ini.c_str());
        g_settings = AppSettings{};
        loadSettingsFrom(ini.c_str(), L"C:\\", g_settings);
        g_activePane = initialActivePane(g_settings);
        g_paneBusy[0] = g_paneBusy[1] = PaneIdle;
        postedCodes().clear();
        const RECT work = mainWorkArea();
        frame = createMainWindow(show, readMainPlacement(work.right - work.left, work.bottom - work.top));
        ASSERT_NE(frame, nullptr);
        pump();
    }

    // Stand-ins for the two pane outer windows, each with a base window filling it.
    void addStandInPanes() {
        for (int i = 0; i < 2; ++i) {
            panes[i] = CreateWindowExW(0, L"FrameTestStandInPane", L"", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0,
                                       10, 10, g_clientWindow, nullptr, g_instance, nullptr);
            bases[i] = CreateWindowExW(0, L"FrameTestStandInPane", L"", WS_CHILD | WS_VISIBLE, 0, 0, 10, 10, panes[i],
                                       nullptr, g_instance, nullptr);
            g_paneWindows[i] = panes[i];
            g_panes[i].index = i;
            g_panes[i].outerWindow = panes[i];
            g_panes[i].baseWindow = bases[i];
            publishPane(g_panes[i]);  // what the pane's thread does once its windows exist
        }
        layoutClientArea();
        pump();
    }

    void TearDown() override {
        for (int i = 0; i < 2; ++i) {
            g_paneWindows[i] = nullptr;
            g_panes[i].outerWindow = nullptr;
            g_panes[i].baseWindow = nullptr;
            g_panes[i].items = nullptr;
            g_panes[i].itemCount = g_panes[i].selectedCount = 0;
            g_panes[i].index = i;
            publishPane(g_panes[i]);
        }
        if (frame) {
            freeFrameResources();
            DestroyWindow(frame);
        }
        pump();
        DeleteFileW(ini.c_str());
    }

    static RECT rectIn(HWND w, HWND parent) {
        RECT r;
        GetWindowRect(w, &r);
        MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
        return r;
    }
};

}  // namespace frametest
