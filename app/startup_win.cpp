// Start and stop of the process: entry sequence, the single-instance hand-over, the main
// loop, the pane-thread handshake and the shutdown order.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

#include <atomic>
#include <cstring>
#include <cwchar>

#include "app/app_win.h"
#include "base/html_help.h"
#include "base/image_lock.h"
#include "base/messages.h"
#include "base/private_heap.h"
#include "base/text_utils.h"
#include "base/thread_messages.h"
#include "base/win_handles.h"
#include "frame/frame_state.h"
#include "frame/handover.h"
#include "frame/key_routing.h"
#include "frame/key_table.h"
#include "frame/main_window.h"
#include "frame/toolbars.h"
#include "image/decoded_image.h"
#include "thumbs/folder_loader.h"
#include "thumbs/thumbnail_cache.h"
#include "thumbs/pane.h"
#include "thumbs/pane_access.h"
#include "thumbs/pane_settings.h"
#include "tree/tree_access.h"

namespace {

constexpr wchar_t kMainClass[] = L"Pravel_main_class";
constexpr DWORD kPaneStopWaitMs = 1000;
// A decoding thread that a stopped load left busy with its file gives up within a few rows
// of a PNG or TIFF, or ends with its file; only a plug-in call may take longer (or never
// return). The end waits this long for them before the private heap goes.
constexpr int kDecodingThreadsWaitMs = 200;

bool g_shutdownStarted = false;
std::atomic<int> g_threadsAbandoned{0};
std::atomic<DWORD> g_shutdownSequenceMs{0};

int platformLevelOfSystem() {
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (!GetVersionExW(&version)) return 0;
#pragma GCC diagnostic pop
    return platformLevelFor(version.dwMajorVersion, version.dwMinorVersion);
}

// A path as an absolute long path of at most 259 characters; false when it does not fit.
// (An argument relative to this process's working folder would mean another folder to the
// instance that receives it, so it is made absolute first.)
bool expandToLongPath(const wchar_t* argument, wchar_t* out) {
    out[0] = L'\0';
    wchar_t full[kPathCapacity];
    DWORD n = GetFullPathNameW(argument, kPathCapacity, full, nullptr);
    if (n == 0 || n >= DWORD(kPathCapacity)) return false;
    n = GetLongPathNameW(full, out, kPathCapacity);
    if (n > 0 && n < DWORD(kPathCapacity)) return true;
    std::wmemcpy(out, full, std::wcslen(full) + 1);  // not there (yet): keep the full path
    return true;
}

// The first command-line argument, expanded; false when there is none usable.
bool firstArgument(wchar_t* out) {
    out[0] = L'\0';
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv) return false;
    bool ok = argc >= 2 && argv[1][0] && expandToLongPath(argv[1], out);
    LocalFree(argv);
    return ok;
}

void handOverToFirstInstance(HWND first, const wchar_t* path) {
    if (IsIconic(first)) ShowWindow(first, SW_RESTORE);
    SetForegroundWindow(first);
    if (!path || !path[0]) return;
    COPYDATASTRUCT data;
    data.dwData = 0;
    data.cbData = DWORD((std::wcslen(path) + 1) * sizeof(wchar_t));
    data.lpData = const_cast<wchar_t*>(path);
    DWORD_PTR result = 0;
    SendMessageTimeoutW(first, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_ABORTIFHUNG, 30000, &result);
}

bool initialiseFirstInstance(int showCommand) {
    readSystemMetrics();
    loadSettings();
    publishPaneSettings(g_settings);
    loadAccelerators(settingsFilePath());
    registerProgramWindowClasses(g_instance);

    INITCOMMONCONTROLSEX controls;
    controls.dwSize = sizeof(controls);
    controls.dwICC = ICC_LISTVIEW_CLASSES | ICC_TREEVIEW_CLASSES | ICC_BAR_CLASSES | ICC_TAB_CLASSES |
                     ICC_UPDOWN_CLASS | ICC_COOL_CLASSES;
    InitCommonControlsEx(&controls);

    DWORD thread = GetCurrentThreadId();
    g_mainMouseHook = SetWindowsHookExW(WH_MOUSE, mainMouseHook, nullptr, thread);
    g_mainKeyboardHook = SetWindowsHookExW(WH_KEYBOARD, mainKeyboardHook, nullptr, thread);

    g_paneBusy[0] = PaneIdle;
    g_paneBusy[1] = PaneIdle;

    setMainWindowCloseHandler(shutdownApplication);
    setModalEndedHandler(onModalStateEnded);
    const RECT work = mainWorkArea();
    if (!createMainWindow(showCommand, readMainPlacement(work.right - work.left, work.bottom - work.top))) return false;

    // The PNG decoder takes its inflate memory from the private heap itself.
    blendTable();
    g_scalingDC = CreateCompatibleDC(WindowDC(g_mainWindow).get());
    if (!g_scalingDC) showMessage(g_mainWindow, MsgMemoryFailed);

    initImageLock();

    setPaneMenuBarCalls({mainKeyboardHook, leaveMenuBarMode});

    g_paneThreads[0] = CreateThread(nullptr, 0, paneThread1, nullptr, 0, nullptr);
    g_paneThreads[1] = CreateThread(nullptr, 0, paneThread2, nullptr, 0, nullptr);
    return true;
}

// The stop is posted, not sent: a pane in the middle of a file or of its cache write would
// hold a send until it next looks at its queue, and the main thread must not wait in a send
// it cannot bound. The pane sees the request itself (requestPaneStop) wherever it waits, and
// the posted 206 in its idle loop.
void postStop(HWND paneWindow) {
    if (paneWindow && IsWindow(paneWindow)) PostMessageW(paneWindow, WM_APP, CodeEndThread, 0);
}

// Waits for a thread to end, up to waitMs, while answering what other threads send to this
// one: a pane that ends may still need an answer from a window of the main thread (a focus
// change, its parent's notification), and nothing else runs here meanwhile.
bool waitAnswering(HANDLE thread, DWORD waitMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        const DWORD spent = GetTickCount() - start;
        const DWORD left = spent >= waitMs ? 0 : waitMs - spent;
        const DWORD r = MsgWaitForMultipleObjects(1, &thread, FALSE, left, QS_SENDMESSAGE);
        if (r == WAIT_OBJECT_0) return true;
        if (r != WAIT_OBJECT_0 + 1 || left == 0) return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0;
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

// A pane thread ends by itself: it looks at its stop request at least every 20 ms in every
// state. One that has not ended when the wait is over is stuck in a call that never returns
// (a plug-in's) and is left where it is, never killed: a thread killed inside a heap call or
// while holding a lock could hang the rest of the shutdown. What it may still use (its items,
// the image lock, the private heap) is then left alone, and the process ends after the
// settings are saved (leaveProcess).
bool waitForThread(HANDLE thread, DWORD waitMs) {
    if (!thread) return true;
    const bool ended = waitAnswering(thread, waitMs);
    if (!ended) ++g_threadsAbandoned;
    CloseHandle(thread);
    return ended;
}

void optimiseCacheIndexUnlessInUse(bool panesEnded) {
    if (panesEnded) {
        optimiseCacheIndex(CacheLocation{cacheFolderPath()});
    } else if (tryLockImages()) {  // a pane left behind may hold it in the middle of a load
        optimiseCacheIndex(CacheLocation{cacheFolderPath()});
        unlockImages();
    }
}

}  // namespace

bool registerProgramWindowClasses(HINSTANCE instance) {
    bool ok = registerFrameWindowClasses(instance);
    return registerPaneWindowClasses(instance) && ok;
}

int runMessageLoop() {
    MSG msg;
    for (;;) {
        BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0) return int(msg.wParam);
        if (got == -1) return 0;
        if (translateMainShortcut(msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

bool stopPaneThread(HWND paneWindow, HANDLE thread, DWORD waitMs) {
    postStop(paneWindow);
    return waitForThread(thread, waitMs);
}

int abandonedThreadCount() { return g_threadsAbandoned.load(); }

DWORD shutdownSequenceMs() { return g_shutdownSequenceMs.load(); }

int closeViewerWindows() {
    int sent = 0;
    // A viewer that keeps its window open despite the close message is given up on after
    // a bounded number of rounds.
    for (int round = 0; round < 64; ++round) {
        HWND viewer = FindWindowW(L"Dorna_vwin_class", nullptr);
        HWND viewerEx = FindWindowW(L"Dorna Ex_vwin_class", nullptr);
        if (!viewer && !viewerEx) break;
        DWORD_PTR result = 0;
        if (viewer) {
            SendMessageTimeoutW(viewer, WM_CLOSE, 0, 0, SMTO_ABORTIFHUNG, 30000, &result);
            ++sent;
        }
        if (viewerEx) {
            SendMessageTimeoutW(viewerEx, WM_CLOSE, 0, 0, SMTO_ABORTIFHUNG, 30000, &result);
            ++sent;
        }
    }
    return sent;
}

bool shutdownApplication(HWND mainWindow) {
    if (g_shutdownStarted) return false;
    g_shutdownStarted = true;
    const DWORD started = GetTickCount();

    if (g_mainKeyboardHook) UnhookWindowsHookEx(g_mainKeyboardHook);
    g_mainKeyboardHook = nullptr;
    if (g_mainMouseHook) UnhookWindowsHookEx(g_mainMouseHook);
    g_mainMouseHook = nullptr;

    for (int i = 0; i < 2; ++i) {
        requestPaneStop(i);
        postStop(g_paneWindows[i] ? g_paneWindows[i] : paneOuterWindow(i));
    }
    // Both panes stop at the same time, so one wait covers both.
    const DWORD stopSent = GetTickCount();
    bool ended[2] = {true, true};
    for (int i = 0; i < 2; ++i) {
        const DWORD spent = GetTickCount() - stopSent;
        ended[i] = waitForThread(g_paneThreads[i], spent >= kPaneStopWaitMs ? 0 : kPaneStopWaitMs - spent);
        g_paneThreads[i] = nullptr;
        g_paneWindows[i] = nullptr;
    }
    const bool panesEnded = ended[0] && ended[1];

    if (panesEnded) deleteImageLock();
    if (g_settings.subClose) closeViewerWindows();
    if (g_scalingDC) DeleteDC(g_scalingDC);
    g_scalingDC = nullptr;

    saveAccelerators(settingsFilePath());  // destroys the live table
    freeFrameResources();

    for (int i = 0; i < 2; ++i)
        if (ended[i]) freePaneItems(g_panes[i]);
    if (g_settings.cacheOptimise) optimiseCacheIndexUnlessInUse(panesEnded);

    MainPlacement placement;
    WINDOWPLACEMENT wp = {};
    wp.length = sizeof(wp);
    if (GetWindowPlacement(mainWindow, &wp)) {
        placement.x = wp.rcNormalPosition.left;
        placement.y = wp.rcNormalPosition.top;
        placement.w = wp.rcNormalPosition.right - wp.rcNormalPosition.left;
        placement.h = wp.rcNormalPosition.bottom - wp.rcNormalPosition.top;
    }
    saveSettings(placement);
    g_shutdownSequenceMs.store(GetTickCount() - started);
    if (!panesEnded) {
        // The windows of a pane left behind belong to its thread: destroying the main window
        // would wait for that thread to answer their destruction. The main loop ends here
        // instead, and the windows go with the process (leaveProcess).
        PostQuitMessage(0);
        return false;
    }
    return true;
}

int runApplication(HINSTANCE instance, int showCommand) {
    g_instance = instance;
    if (!createPrivateHeap()) return 0;
    g_platformLevel = platformLevelOfSystem();
    g_uiFont = CreateFontW(-12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, SHIFTJIS_CHARSET, OUT_DEFAULT_PRECIS,
                           CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"MS UI Gothic");
    initHtmlHelp();

    int exitCode = 0;
    if (g_platformLevel == 0 || !locateSettingsFile()) {
        showErrorBox(nullptr, messageText(MsgRunFailed));
    } else if (HWND first = FindWindowW(kMainClass, nullptr)) {
        wchar_t path[kPathCapacity];
        handOverToFirstInstance(first, firstArgument(path) ? path : nullptr);
    } else {
        wchar_t commandLinePath[kPathCapacity];
        if (firstArgument(commandLinePath)) setCommandLinePath(commandLinePath);
        // COM comes up before any window: the folder tree uses the shell's folder objects
        // while the main window is created.
        HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        if (initialiseFirstInstance(showCommand)) exitCode = runMessageLoop();
        if (SUCCEEDED(com)) CoUninitialize();
    }

    uninitHtmlHelp();
    if (g_uiFont) DeleteObject(g_uiFont);
    g_uiFont = nullptr;
    // A thread left behind may still use the private heap: a pane's, or a decoding thread
    // (in a plug-in call, say) that a stopped load did not wait for.
    const bool decodersEnded = waitForDecodingThreads(kDecodingThreadsWaitMs);
    if (abandonedThreadCount() == 0 && decodersEnded) destroyPrivateHeap();
    return exitCode;
}

void leaveProcess(int exitCode) {
    // With a thread left behind, the runtime's exit would run the static destructors under it.
    if (abandonedThreadCount() > 0 || decodingThreadsRunning() > 0) ExitProcess(UINT(exitCode));
}
