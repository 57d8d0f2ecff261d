// Runs a real thumbnail pane thread inside a test process: window classes, a recording stand-in
// for the main window, a client window, a private settings file and cache folder, generated
// image folders, and helpers that drive the pane the way the main thread and the user do.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/app_win.h"
#include "base/image_lock.h"
#include "base/settings.h"
#include "base/thread_messages.h"
#include "frame/frame_state.h"
#include "frame/main_window.h"
#include "thumbs/pane.h"
#include "test_wine_support.h"

namespace panetest {

struct Posted {
    unsigned code;
    LPARAM arg;
};
inline std::vector<Posted>& posted() {
    static std::vector<Posted> list;
    return list;
}
inline std::vector<int>& commands() {
    static std::vector<int> list;
    return list;
}

inline LRESULT CALLBACK recorderProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    if (m == kCrossThreadMessage) {
        posted().push_back({unsigned(wp), lp});
        if (wp == CodePane1Ready || wp == CodePane2Ready) g_paneWindows[wp == CodePane2Ready] = HWND(lp);
        return 0;
    }
    if (m == WM_COMMAND) {
        commands().push_back(LOWORD(wp));
        return 0;
    }
    return DefWindowProcW(w, m, wp, lp);
}

inline int count(unsigned code) {
    int n = 0;
    for (const Posted& p : posted()) n += p.code == code;
    return n;
}

inline void pump() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

// Pumps this thread until pred holds (or a generous bound passes); returns pred().
inline bool waitFor(const std::function<bool()>& pred, DWORD boundMs = 120000) {
    const DWORD start = GetTickCount();
    while (!pred()) {
        pump();
        if (GetTickCount() - start > boundMs) return pred();
        Sleep(2);
    }
    pump();
    return true;
}

inline std::wstring tempFolder(const std::wstring& name) {
    wchar_t dir[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    std::wstring path = std::wstring(dir) + L"pravel_pane_" + name;
    CreateDirectoryW(path.c_str(), nullptr);
    return path;
}

inline void removeFolder(const std::wstring& folder) {
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((folder + L"\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = fd.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring path = folder + L"\\" + name;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                removeFolder(path);
            else
                DeleteFileW(path.c_str());
        } while (FindNextFileW(h, &fd));
        FindClose(h);
    }
    RemoveDirectoryW(folder.c_str());
}

using winetest::readBytes;
using winetest::writeBytes;

// A w x h 24-bit bottom-up BMP of one colour (a seed varies it).
inline std::string bmpBytes(int w, int h, unsigned seed) {
    const int stride = (w * 3 + 3) & ~3;
    const uint32_t size = 54 + uint32_t(stride) * h;
    std::string b(size, '\0');
    auto le32 = [&](size_t at, uint32_t v) {
        for (int k = 0; k < 4; ++k) b[at + k] = char((v >> (8 * k)) & 0xFF);
    };
    b[0] = 'B';
    b[1] = 'M';
    le32(2, size);
    le32(10, 54);
    le32(14, 40);
    le32(18, uint32_t(w));
    le32(22, uint32_t(h));
    b[26] = 1;
    b[28] = 24;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            char* p = &b[54 + size_t(y) * stride + size_t(x) * 3];
            p[0] = char(seed * 37 + x);
            p[1] = char(seed * 11 + y);
            p[2] = char(seed * 5);
        }
    return b;
}

// n images named img00000.bmp ... in folder.
inline void makeImages(const std::wstring& folder, int n, int w = 4, int h = 3) {
    for (int i = 0; i < n; ++i) {
        wchar_t name[32];
        wsprintfW(name, L"\\img%05d.bmp", i);
        writeBytes(folder + name, bmpBytes(w, h, unsigned(i)));
    }
}

inline void setUpProcessOnce() {
    static bool done = false;
    if (done) return;
    done = true;
    g_instance = GetModuleHandleW(nullptr);
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_BAR_CLASSES | ICC_WIN95_CLASSES};
    InitCommonControlsEx(&icc);
    readSystemMetrics();
    registerProgramWindowClasses(g_instance);
    initImageLock();
    WNDCLASSW wc{};
    wc.lpfnWndProc = recorderProc;
    wc.hInstance = g_instance;
    wc.lpszClassName = L"PaneTestMain";
    RegisterClassW(&wc);
    g_mainWindow = CreateWindowExW(0, L"PaneTestMain", L"pane test", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN | WS_VISIBLE,
                                   0, 0, 1100, 800, nullptr, nullptr, g_instance, nullptr);
    g_clientWindow = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, 1080, 760,
                                     g_mainWindow, nullptr, g_instance, nullptr);
}

// Counts a marker message on a pane's outer window. The marker lies above the range that the
// load's pump handles, so it stays queued behind a running load: seeing it means the pane's
// thread is back in its own loop with everything posted before it done. One per pane.
template <int Pane>
struct PaneLoopMarker {
    static inline WNDPROC original = nullptr;
    static inline std::atomic<int> seen{0};
    static LRESULT CALLBACK proc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
        if (m == WM_APP + 1) {
            ++seen;
            return 0;
        }
        return CallWindowProcW(original, w, m, wp, lp);
    }
    static void attach(HWND outer) {
        original = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrW(outer, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&PaneLoopMarker::proc)));
    }
    // Waits until the pane's thread has handled everything posted to outer so far.
    static void flush(HWND outer) {
        const int before = seen;
        PostMessageW(outer, WM_APP + 1, 0, 0);
        waitFor([&] { return seen > before; }, 600000);
    }
};
using OuterMarker = PaneLoopMarker<0>;

inline double nowMs() {
    LARGE_INTEGER f, c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return 1000.0 * double(c.QuadPart) / double(f.QuadPart);
}

// Records when the base window handles each numbered pointer message (a probe posted with no
// keys and its number as the position), to measure how long the pane keeps its queue waiting.
struct DelaySpy {
    static inline WNDPROC original = nullptr;
    static inline std::vector<double> handled;
    static LRESULT CALLBACK proc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
        if (m == WM_MOUSEMOVE && wp == 0) {
            const size_t n = size_t(lp);
            if (n < handled.size()) handled[n] = nowMs();
        }
        return CallWindowProcW(original, w, m, wp, lp);
    }
};

// Numbered pointer probes posted to a pane's base window while it works, and how long each
// waited: the spy is attached for the probes' lifetime.
class DelayProbes {
public:
    struct Delay {
        double sentAt;
        double waited;
    };
    DelayProbes(HWND base, size_t capacity) : base_(base), sent_(capacity, 0.0) {
        DelaySpy::handled.assign(capacity, 0.0);
        DelaySpy::original = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrW(base, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&DelaySpy::proc)));
    }
    ~DelayProbes() { detach(); }
    DelayProbes(const DelayProbes&) = delete;
    DelayProbes& operator=(const DelayProbes&) = delete;
    // Posts the next probe; false when all are out.
    bool send() {
        if (sent() >= sent_.size()) return false;
        sent_[next_] = nowMs();
        PostMessageW(base_, WM_MOUSEMOVE, 0, LPARAM(next_));
        ++next_;
        return true;
    }
    size_t sent() const { return next_; }
    // Ends the spying; the probes handled so far, in the order sent.
    std::vector<Delay> handled() {
        detach();
        std::vector<Delay> out;
        for (size_t i = 0; i < next_; ++i)
            if (DelaySpy::handled[i] > 0) out.push_back({sent_[i], DelaySpy::handled[i] - sent_[i]});
        return out;
    }
    static double largest(const std::vector<Delay>& delays) {
        double most = 0;
        for (const Delay& d : delays) most = most > d.waited ? most : d.waited;
        return most;
    }

private:
    void detach() {
        if (base_) SetWindowLongPtrW(base_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(DelaySpy::original));
        base_ = nullptr;
    }
    HWND base_;
    std::vector<double> sent_;
    size_t next_ = 0;
};

// The measurements that take minutes under Wine run only on request (PRAVEL_LARGE=1).
inline bool largeRunsRequested() {
    wchar_t flag[8] = {};
    return GetEnvironmentVariableW(L"PRAVEL_LARGE", flag, 8) != 0 && flag[0] == L'1';
}

// One live pane 1 per test.
class PaneFixture : public ::testing::Test {
protected:
    ThumbnailPane& pane = g_panes[0];
    HANDLE thread = nullptr;
    std::wstring ini;
    std::wstring cacheFolder;

    void SetUp() override {
        setUpProcessOnce();
        ini = tempFolder(L"settings") + L"\\Pravel.ini";
        setSettingsFilePath(ini.c_str());
        cacheFolder = cacheFolderPath();
        removeFolder(tempFolder(L"settings"));
        tempFolder(L"settings");
        g_settings = AppSettings{};
        updateTextAreaHeight(g_settings);
        publishPaneSettings(g_settings);
        g_activePane = 0;
        g_paneBusy[0] = g_paneBusy[1] = PaneIdle;
        g_fileFilter = 0;
        g_panes[1] = ThumbnailPane{};
        posted().clear();
        commands().clear();
        thread = CreateThread(nullptr, 0, paneThread1, nullptr, 0, nullptr);
        ASSERT_TRUE(waitFor([] { return count(CodePane1Ready) == 1; }));
        ShowWindow(pane.outerWindow, SW_SHOWNA);
        OuterMarker::attach(pane.outerWindow);
        sizeBase(3 * pitchW(), 2 * pitchH());
    }

    void TearDown() override {
        if (pane.outerWindow) SendMessageW(pane.outerWindow, kCrossThreadMessage, CodeEndThread, 0);
        if (thread) {  // none when a derived SetUp skipped before starting it
            waitFor([&] { return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0; }, 30000);
            CloseHandle(thread);
        }
        freePaneItems(pane);
        pane = ThumbnailPane{};
        g_paneWindows[0] = nullptr;
        pump();
        removeFolder(tempFolder(L"settings"));
    }

    static int pitchW() { return g_settings.thumbWidth + GetSystemMetrics(SM_CXEDGE); }
    static int pitchH() {
        return g_settings.thumbHeight + g_settings.textAreaHeight + GetSystemMetrics(SM_CYEDGE);
    }

    RECT baseClient() {
        RECT r{};
        GetClientRect(pane.baseWindow, &r);
        return r;
    }

    // Sizes the outer window so that the base window's client area is exactly w x h.
    // (The pane reads the settings this test set, as the main thread's requests make it.)
    void sizeBase(int w, int h) {
        publishPaneSettings(g_settings);
        int ow = w, oh = h;
        for (int round = 0; round < 3; ++round) {
            SetWindowPos(pane.outerWindow, nullptr, 0, 0, ow, oh, SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOMOVE);
            const RECT r = baseClient();
            if (r.right == w && r.bottom == h) break;
            ow += w - r.right;
            oh += h - r.bottom;
        }
    }

    // Waits until the pane's thread has handled everything posted to it so far.
    void flush() { OuterMarker::flush(pane.outerWindow); }

    // Lists folder in the pane (code 204) and waits for the load to end.
    void load(const std::wstring& folder, LPARAM reset = 1, const std::function<void()>& rightAfterPost = {}) {
        publishPaneSettings(g_settings);
        postPaneFolder(pane.outerWindow, folder.c_str());
        // As the main window lists a folder: clear, then load.
        PostMessageW(pane.outerWindow, kCrossThreadMessage, CodeClear, reset);
        PostMessageW(pane.outerWindow, kCrossThreadMessage, CodeLoadFolder, reset);
        if (rightAfterPost) rightAfterPost();
        flush();
    }

    HWND cell(int i) { return GetDlgItem(pane.baseWindow, 10000 + i); }
    int cellWindowCount() {
        int n = 0;
        for (HWND w = GetWindow(pane.baseWindow, GW_CHILD); w; w = GetWindow(w, GW_HWNDNEXT)) ++n;
        return n;
    }
    int scrollPos() {
        SCROLLINFO si{};
        si.cbSize = sizeof si;
        si.fMask = SIF_ALL;
        GetScrollInfo(pane.baseWindow, SB_VERT, &si);
        return si.nPos;
    }
    void scroll(int request, int track = 0) {
        SendMessageW(pane.baseWindow, WM_VSCROLL, MAKEWPARAM(request, track), 0);
        if (request != SB_THUMBTRACK && request != SB_THUMBPOSITION)
            SendMessageW(pane.baseWindow, WM_VSCROLL, MAKEWPARAM(SB_ENDSCROLL, 0), 0);
    }
    void mouse(int item, UINT message, WPARAM keys, int x = 20, int y = 20) {
        SendMessageW(cell(item), message, keys, MAKELPARAM(x, y));
        pump();
    }
    std::vector<int> selectedItems() {
        std::vector<int> out;
        for (int i = 0; i < pane.itemCount; ++i)
            if (pane.items[i].isSelected()) out.push_back(i);
        return out;
    }
    std::wstring statusText(int part) {
        wchar_t text[300] = {};
        SendMessageW(pane.statusBar, SB_GETTEXTW, part, reinterpret_cast<LPARAM>(text));
        return text;
    }
};

}  // namespace panetest
