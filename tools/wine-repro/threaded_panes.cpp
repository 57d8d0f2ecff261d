// Shows, without any of Pravel's code, the black areas that Wine 8 leaves in the thumbnail
// panes: the panes' window structure and threads, nothing else.
//
// The main thread owns a top-level window and a client child. Two more threads each create an
// outer window (a hidden child of the client window), a status bar with four parts and a base
// window with an empty, disabled vertical scroll bar, then run their own message loops. The
// main thread places both outer windows side by side twice (asynchronously: it must not wait
// for the other threads) and shows them. After 1.5 s each pane redraws itself completely,
// frames included, and sets its scroll bar again with a redraw. The program ends after 8 s.
//
// Under Wine 8.0 on Xvfb (64-bit build), the right pane's arrow buttons come out as solid black
// squares in some runs (this file: 1 of 5; with variations of the placing and redrawing - one
// placing only, SWP_NOCOPYBITS, a redraw from the main thread, the pane threads started one
// after the other, no late redraw: 13 of 28) and stay black through the later full redraw and
// scroll-bar redraw; in the full program status-bar parts turn black the same way.
// The pixels are right on the Windows side: at 3.8 s the program reads the screen pixel at the
// right pane's up-arrow button (written to threaded_panes.txt); in 3 of 6 runs it was the
// button face (ffffff) while the X server's picture of that point, 0.2 s later, was black.
// So Wine drew the button but did not pass that part of the window surface on to X.
// Build and run (screenshot after 4 s):
//   x86_64-w64-mingw32-g++-win32 -municode -mwindows threaded_panes.cpp -o threaded_panes.exe -lcomctl32 -static
//   (the comctl32 version-6 manifest of res/pravel.manifest linked in as resource 1, type 24)
//   tools/wine-run.sh threaded_panes.exe & sleep 4; import -window root shot.png
#include <windows.h>
#include <commctrl.h>

namespace {

HWND g_client;
HWND g_outer[2];
HANDLE g_ready[2];

LRESULT CALLBACK topProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    if (m == WM_TIMER && wp == 2) {
        // What Windows drawing sees at the right pane's up-arrow button, for comparison with
        // the X server's picture of the same point.
        KillTimer(w, 2);
        HDC screen = GetDC(nullptr);
        const COLORREF c = GetPixel(screen, 615, 40);
        ReleaseDC(nullptr, screen);
        HANDLE f = CreateFileW(L"threaded_panes.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        char text[64];
        DWORD n = wsprintfA(text, "pixel (615,40) = %06x (00bbggrr)\r\n", static_cast<unsigned>(c)), written = 0;
        if (f != INVALID_HANDLE_VALUE) {
            WriteFile(f, text, n, &written, nullptr);
            CloseHandle(f);
        }
        return 0;
    }
    if (m == WM_TIMER) {
        DestroyWindow(w);
        return 0;
    }
    if (m == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(w, m, wp, lp);
}

LRESULT CALLBACK outerProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    if (m == WM_SIZE) {
        HWND status = GetDlgItem(w, 1), base = GetDlgItem(w, 2);
        if (status && base) {
            SendMessageW(status, WM_SIZE, 0, 0);
            RECT r;
            GetWindowRect(status, &r);
            MoveWindow(base, 0, 0, LOWORD(lp), HIWORD(lp) - (r.bottom - r.top), TRUE);
        }
        return 0;
    }
    if (m == WM_TIMER) {
        KillTimer(w, 1);
        RedrawWindow(w, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
        SCROLLINFO si{sizeof si, SIF_ALL | SIF_DISABLENOSCROLL, 0, 0, 0, 0, 0};
        SetScrollInfo(GetDlgItem(w, 2), SB_VERT, &si, TRUE);
        return 0;
    }
    return DefWindowProcW(w, m, wp, lp);
}

LRESULT CALLBACK baseProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    if (m == WM_ERASEBKGND) {
        RECT r;
        GetClientRect(w, &r);
        SetBkColor(reinterpret_cast<HDC>(wp), RGB(156, 156, 164));
        ExtTextOutW(reinterpret_cast<HDC>(wp), 0, 0, ETO_OPAQUE, &r, nullptr, 0, nullptr);
        return 1;
    }
    return DefWindowProcW(w, m, wp, lp);
}

DWORD WINAPI paneThread(LPVOID arg) {
    const int i = static_cast<int>(reinterpret_cast<INT_PTR>(arg));
    HINSTANCE inst = GetModuleHandleW(nullptr);
    HWND outer = CreateWindowExW(0, L"outer", L"", WS_CHILD | WS_CLIPCHILDREN | WS_CLIPSIBLINGS, 0, 0, 0, 0,
                                 g_client, reinterpret_cast<HMENU>(INT_PTR(500 + i)), inst, nullptr);
    HWND status = CreateWindowExW(0, STATUSCLASSNAMEW, L"", WS_CHILD | WS_VISIBLE | SBARS_TOOLTIPS, 0, 0, 0, 0,
                                  outer, reinterpret_cast<HMENU>(INT_PTR(1)), inst, nullptr);
    int edges[4] = {36, 70, 134, -1};
    SendMessageW(status, SB_SETPARTS, 4, reinterpret_cast<LPARAM>(edges));
    SendMessageW(status, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(L" A  "));
    SendMessageW(status, SB_SETTEXTW, 1, reinterpret_cast<LPARAM>(L"B  "));
    HWND base = CreateWindowExW(WS_EX_STATICEDGE | WS_EX_ACCEPTFILES, L"base", L"",
                                WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | WS_VSCROLL, 0, 0, 0, 0,
                                outer, reinterpret_cast<HMENU>(INT_PTR(2)), inst, nullptr);
    SCROLLINFO si{sizeof si, SIF_ALL | SIF_DISABLENOSCROLL, 0, 0, 0, 0, 0};
    SetScrollInfo(base, SB_VERT, &si, FALSE);
    g_outer[i] = outer;
    SetEvent(g_ready[i]);
    SendMessageW(status, SB_SETTEXTW, 2, reinterpret_cast<LPARAM>(L""));
    SendMessageW(status, SB_SETTEXTW, 3, reinterpret_cast<LPARAM>(L"C:\\folder"));
    SetTimer(outer, 1, 1500, nullptr);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
    return 0;
}

void pumpUntil(HANDLE* events, DWORD count) {
    // The panes' windows notify their parent's thread while they are made: keep it answering.
    while (WaitForMultipleObjects(count, events, TRUE, 0) != WAIT_OBJECT_0) {
        MSG m;
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE inst, HINSTANCE, LPWSTR, int) {
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_WIN95_CLASSES | ICC_BAR_CLASSES};
    InitCommonControlsEx(&icc);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.hInstance = inst;
    wc.style = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
    wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));
    wc.lpfnWndProc = topProc;
    wc.lpszClassName = L"top";
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    RegisterClassExW(&wc);
    wc.hbrBackground = nullptr;
    wc.lpfnWndProc = DefWindowProcW;
    wc.lpszClassName = L"client";
    RegisterClassExW(&wc);
    wc.lpfnWndProc = outerProc;
    wc.lpszClassName = L"outer";
    RegisterClassExW(&wc);
    wc.lpfnWndProc = baseProc;
    wc.lpszClassName = L"base";
    RegisterClassExW(&wc);
    HWND top = CreateWindowExW(0, L"top", L"panes", WS_POPUP | WS_CLIPCHILDREN, 0, 0, 640, 400, nullptr, nullptr,
                               inst, nullptr);
    g_client = CreateWindowExW(0, L"client", L"", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, 30, 640, 370, top,
                               nullptr, inst, nullptr);
    ShowWindow(top, SW_SHOW);
    UpdateWindow(top);
    for (int i = 0; i < 2; ++i) {
        g_ready[i] = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        CreateThread(nullptr, 0, paneThread, reinterpret_cast<LPVOID>(INT_PTR(i)), 0, nullptr);
    }
    pumpUntil(g_ready, 2);
    for (int round = 0; round < 2; ++round)
        for (int i = 0; i < 2; ++i)
            SetWindowPos(g_outer[i], nullptr, 100 + i * 270 - round * 10, 0, 260 + round * 5, 360,
                         SWP_NOZORDER | SWP_NOACTIVATE | SWP_SHOWWINDOW | SWP_ASYNCWINDOWPOS);
    SetTimer(top, 1, 8000, nullptr);
    SetTimer(top, 2, 3800, nullptr);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
    return 0;
}
