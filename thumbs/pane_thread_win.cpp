// Pane threads: each pane's thread and message loop, the commands the main thread posts to
// it, the folder load with its message pump, selection and the pane's mouse input.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include <windowsx.h>

#include <string>
#include <type_traits>

#include "base/command_ids.h"
#include "base/image_lock.h"
#include "base/messages.h"
#include "base/platform.h"
#include "base/thread_messages.h"
#include "base/win_state.h"
#include "thumbs/folder_loader.h"
#include "thumbs/pane.h"
#include "thumbs/pane_access.h"

ThumbnailPane g_panes[2];
std::atomic<int> g_pointerButtonState{0};

namespace {

constexpr DWORD kProgressIntervalMs = 50;
// Set at shutdown before 206 is posted, and never cleared while the thread runs: the load
// checks it between files and the cache write between records, so a pane ends by itself in
// every state without waiting for the main thread.
std::atomic<LoadStop> g_stopRequested[2];

// The one place where the commands that interrupt a load become the reason it stopped.
LoadStop loadStopOf(WPARAM code) {
    return code == CodeEndThread ? LoadStop::EndThread : code == CodeClear ? LoadStop::Clear : LoadStop::None;
}

// The outer window carries its pane's number + 1 from its creation parameters on, so that
// even the messages of its own creation reach the right pane; 0 means none yet.
ThumbnailPane* paneOfWindow(HWND window) {
    const LONG_PTR tag = GetWindowLongPtrW(window, GWLP_USERDATA);
    return tag == 1 || tag == 2 ? &g_panes[tag - 1] : nullptr;
}
void askOtherPaneToRepaint(const ThumbnailPane& pane) {
    if (paneSettings().thumbSplit != SplitMode::Both) return;
    if (HWND other = paneOuterWindow(1 - pane.index)) PostMessageW(other, kCrossThreadMessage, CodeRepaint, 0);
}

void postMain(unsigned code, LPARAM arg) { PostMessageW(g_mainWindow, kCrossThreadMessage, code, arg); }

LPARAM screenPoint(HWND window, LPARAM lParam) {
    POINT pt{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    ClientToScreen(window, &pt);
    return MAKELPARAM(static_cast<WORD>(pt.x), static_cast<WORD>(pt.y));
}

void autoTreeTrigger(int x) {
    if (!paneSettings().autoTree) return;
    if (g_treePaneShown.load())
        postMain(CodeShowTree, 0);
    else if (x <= 15)
        postMain(CodeShowTree, 1);
}

void deselectAll(ThumbnailPane& pane) {
    for (int i = 0; i < pane.itemCount; ++i) pane.items[i].select(false);
    pane.selectedCount = 0;
}

void afterSelection(ThumbnailPane& pane, HWND window, LPARAM lParam) {
    updateSelectionText(pane);
    g_activePane.store(pane.index);
    repaintPane(pane);
    askOtherPaneToRepaint(pane);
    publishPane(pane);
    postMain(CodeActivePaneChanged, 0);
    POINT pt{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    ClientToScreen(window, &pt);
    pane.lastPointer = pt;
}

// A plain click or a double click selects only a filled item: a copy shown ahead of the
// load's turn may still move to another cell when a file before it fails.
bool takesPlainClick(const ThumbnailPane& pane, int i) {
    const bool filled = !pane.loading || i < pane.filledCount;
    return pane.items[i].hasThumbnail() && filled;
}

void clickSelection(ThumbnailPane& pane, HWND window, int i, WPARAM keys, WPARAM button, LPARAM lParam) {
    ThumbnailItem& item = pane.items[i];
    const WPARAM flags = keys & (MK_LBUTTON | MK_RBUTTON | MK_MBUTTON | MK_SHIFT | MK_CONTROL);
    if (flags == button) {
        if (takesPlainClick(pane, i) && !item.isSelected()) {
            deselectAll(pane);
            item.select(true);
            pane.selectedCount = 1;
            pane.anchor = i;
        }
    } else if (flags == (button | MK_SHIFT)) {
        if (!anyPaneBusy()) {
            if (pane.selectedCount == 0) pane.anchor = i;
            if (pane.anchor >= pane.itemCount) pane.anchor = i;
            const int lo = pane.anchor < i ? pane.anchor : i;
            const int hi = pane.anchor < i ? i : pane.anchor;
            for (int k = 0; k < pane.itemCount; ++k) pane.items[k].select(k >= lo && k <= hi);
            pane.selectedCount = hi - lo + 1;
        }
    } else if (flags == (button | MK_CONTROL)) {
        if (!anyPaneBusy()) {
            item.select(!item.isSelected());
            pane.selectedCount += item.isSelected() ? 1 : -1;
            pane.anchor = i;
        }
    }
    afterSelection(pane, window, lParam);
}

// Only the messages a user needs while a folder loads reach their windows; keys that are no
// shortcut, drops and other commands are thrown away so that nothing happens after the load.
bool deliveredWhileLoading(UINT message) {
    return message == WM_PAINT || message == WM_NCLBUTTONDOWN || message == WM_VSCROLL ||
           (message >= WM_MOUSEMOVE && message <= WM_RBUTTONUP) || message == WM_MOUSEWHEEL;
}

bool belongsToPane(const ThumbnailPane& pane, HWND window) {
    return window && (window == pane.outerWindow || IsChild(pane.outerWindow, window));
}

// Frees the thumbnails shown ahead of their turn in the items beyond the filled ones.
void dropUnfilled(ThumbnailPane& pane) {
    if (!pane.items) return;
    for (int i = pane.filledCount; i < pane.itemCount; ++i) {
        ThumbnailItem& item = pane.items[i];
        if (!item.hasThumbnail()) continue;
        releaseItemThumbnail(item);
        repaintItem(pane, i);
    }
}

// The items from count on lose their cell windows and the pane counts count items.
void cutItemsTo(ThumbnailPane& pane, int count) {
    for (int i = count; i < pane.itemCount; ++i)
        if (pane.items[i].imageWindow) {
            DestroyWindow(static_cast<HWND>(pane.items[i].imageWindow));
            pane.items[i].imageWindow = pane.items[i].textWindow = nullptr;
            pane.items[i].shown = 0;
        }
    if (pane.cellEnd > count) pane.cellEnd = count;
    if (pane.cellFirst > pane.cellEnd) pane.cellFirst = pane.cellEnd;
    pane.itemCount = count;
}

void shrinkToFilled(ThumbnailPane& pane) {
    if (!pane.items || pane.filledCount >= pane.itemCount) return;
    dropUnfilled(pane);
    cutItemsTo(pane, pane.filledCount);
    pane.grid.itemCount = pane.itemCount;
    setPaneScrollInfo(pane, 0);
    InvalidateRect(pane.baseWindow, nullptr, TRUE);
    UpdateWindow(pane.baseWindow);
}

// The array is left as the zero-filled pages pageAlloc hands out: an all-zero item is an
// empty slot (its bitmap header is read only once it has pixels). Writing 50,000 items up
// front touched 33 MB at once, tens of milliseconds of page faults during which the pane
// answered nothing; untouched, each page is faulted in when its items are filled.
static_assert(std::is_aggregate_v<ThumbnailItem> && std::is_trivially_destructible_v<ThumbnailItem>,
              "items live in zero-filled pages without a constructor call");
bool allocateItems(ThumbnailPane& pane, size_t count) {
    // Room for a few more: a screen shown from the cache before the listing keeps its items
    // when the folder has gained files since (untouched pages cost nothing).
    size_t capacity = count + count / 16 + 64;
    if (capacity > kMaxFolderItems) capacity = count > kMaxFolderItems ? count : kMaxFolderItems;
    void* block = pageAlloc(capacity * sizeof(ThumbnailItem));
    if (!block) return false;
    pane.items = static_cast<ThumbnailItem*>(block);
    pane.itemCapacity = static_cast<int>(capacity);
    return true;
}

void onStatusClick(ThumbnailPane& pane, const NMMOUSE* click) {
    if (!pane.folder[0]) return;
    if (click->dwItemSpec == 0) {
        PostMessageW(pane.outerWindow, kCrossThreadMessage, CodeClear, 0);
        PostMessageW(pane.outerWindow, kCrossThreadMessage, CodeLoadFolder, 0);
    } else if (click->dwItemSpec == 1) {
        PostMessageW(pane.outerWindow, kCrossThreadMessage, CodeClear, 0);
    }
}

// A command that reaches the procedure while this pane's load runs came through a nested
// modal loop (the scroll bar's tracking, a menu), not through the load's pump: it follows the
// pump's rules. Returns true when it was dealt with so.
bool commandDuringLoad(ThumbnailPane& pane, WPARAM code) {
    if (!pane.loading) return false;
    switch (code) {
    case CodeActivate: activatePane(pane); break;
    case CodeRepaint: repaintPane(pane); break;
    case CodeClear:
    case CodeEndThread:
        // The load's pump ends with it as soon as the nested loop returns.
        if (pane.pendingStop != LoadStop::EndThread) pane.pendingStop = loadStopOf(code);
        break;
    default: break;  // 201, 203, 204: discarded, as the pump does
    }
    return true;
}

LRESULT CALLBACK paneOuterProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    ThumbnailPane* found = paneOfWindow(window);
    if (!found) return DefWindowProcW(window, message, wParam, lParam);
    ThumbnailPane& pane = *found;
    switch (message) {
    case WM_APP:
        if (wParam == CodeTakeFolder) {
            takeHandedFolder(pane, lParam);
            return 0;
        }
        if (commandDuringLoad(pane, wParam)) return 0;
        switch (wParam) {
        case CodeActivate: activatePane(pane); return 0;
        case CodeSelectAll:
            if (pane.items) selectAll(pane, pane.selectedCount != pane.itemCount);
            return 0;
        case CodeRepaint: repaintPane(pane); return 0;
        case CodeRemoveSelected: removeSelected(pane); return 0;
        case CodeLoadFolder: {
            // With 1 the view starts from the top; with 0 it comes back to the row of the
            // first visible item.
            if (lParam != 0) pane.firstVisible = 0;
            if (loadFolder(pane) == LoadStop::EndThread) {
                DestroyWindow(window);
            } else if (lParam == 0) {
                RECT r;
                GetClientRect(pane.baseWindow, &r);
                if (r.right > 0) pane.grid.setClient(r.right, r.bottom);
                reflowPane(pane);
            }
            return 0;
        }
        case CodeClear: clearPane(pane); return 0;
        case CodeEndThread: DestroyWindow(window); return 0;
        default: return 0;
        }
    case kPaneQueryMessage: return answerPaneQuery(pane, wParam, lParam);
    case kPanePixelsMessage: collectPanePixels(pane); return 0;
    case WM_SIZE: {
        if (!pane.statusBar || !pane.baseWindow) return 0;
        SendMessageW(pane.statusBar, WM_SIZE, 0, 0);
        // The main thread sizes this window while the pane thread may still be painting its
        // first frame; the fixed parts ("更新", "消去") never change text, so a paint lost here
        // would leave them blank for good.
        InvalidateRect(pane.statusBar, nullptr, TRUE);
        RECT sr{};
        GetWindowRect(pane.statusBar, &sr);
        const int h = HIWORD(lParam) - (sr.bottom - sr.top);
        MoveWindow(pane.baseWindow, 0, 0, LOWORD(lParam), h > 0 ? h : 0, TRUE);
        return 0;
    }
    case WM_NOTIFY: {
        const auto* hdr = reinterpret_cast<const NMHDR*>(lParam);
        if (hdr && hdr->hwndFrom == pane.statusBar && hdr->code == NM_CLICK)
            onStatusClick(pane, reinterpret_cast<const NMMOUSE*>(lParam));
        return 0;
    }
    case WM_DESTROY:
        endPanePixels(pane);
        destroyAllCells(pane);
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

thread_local int t_paneIndex = 0;

// A shortcut pressed in the pane becomes a command of the main window. Once the pane is
// asked to stop it translates nothing more: the main window is shutting down. While a menu
// is open the keys are that menu's, whichever thread they reach.
bool translateShortcut(const ThumbnailPane& pane, MSG& msg) {
    if (g_modalFlag.load() || g_menuOpen.load() != 0 || g_stopRequested[pane.index].load() != LoadStop::None)
        return false;
    HACCEL table = g_accelerators;
    return table && TranslateAcceleratorW(g_mainWindow, table, &msg);
}

PaneMenuBarCalls g_menuBarCalls;

LRESULT CALLBACK paneMouseHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION && !g_modalFlag.load()) {
        const int self = t_paneIndex;
        switch (wParam) {
        case WM_MOUSEMOVE:
            // Not while a menu is open: its keys must stay on the main thread.
            if (g_mainWindowActive.load() && !g_menuBarMode.load() && g_menuOpen.load() == 0 &&
                g_panes[self].baseWindow && GetFocus() != g_panes[self].baseWindow)
                SetFocus(g_panes[self].baseWindow);
            break;
        case WM_LBUTTONDOWN:
        case WM_RBUTTONDOWN:
        case WM_NCLBUTTONDOWN:
        case WM_NCRBUTTONDOWN:
            if (g_menuBarMode.load() && g_menuBarCalls.leaveMode) {
                g_menuBarCalls.leaveMode();
            }
            break;
        default: break;
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// The menu-bar keyboard mode behaves the same whichever thread has the focus.
LRESULT CALLBACK paneKeyboardHook(int code, WPARAM wParam, LPARAM lParam) {
    if (g_menuBarCalls.keyboardHook) return g_menuBarCalls.keyboardHook(code, wParam, lParam);
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace

void setPaneMenuBarCalls(const PaneMenuBarCalls& calls) { g_menuBarCalls = calls; }

bool registerPaneWindowClasses(HINSTANCE instance) {
    bool ok = registerWindowClass(instance, ClassPaneOuter1, paneOuterProc);
    ok = registerWindowClass(instance, ClassPaneOuter2, paneOuterProc) && ok;
    return registerPaneInnerClasses(instance) && ok;
}

namespace {

DWORD runPane(int index) {
    ThumbnailPane& pane = g_panes[index];
    pane.index = index;
    t_paneIndex = index;
    g_stopRequested[index].store(LoadStop::None);
    DWORD thread = GetCurrentThreadId();
    pane.mouseHook = SetWindowsHookExW(WH_MOUSE, paneMouseHook, nullptr, thread);
    pane.keyboardHook = SetWindowsHookExW(WH_KEYBOARD, paneKeyboardHook, nullptr, thread);

    if (createPaneWindows(pane, g_clientWindow)) {
        publishPane(pane);
        PostMessageW(g_mainWindow, WM_APP, index == 0 ? CodePane1Ready : CodePane2Ready,
                     reinterpret_cast<LPARAM>(pane.outerWindow));
        MSG msg;
        while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
            if (translateShortcut(pane, msg)) continue;
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    } else if (pane.outerWindow) {
        DestroyWindow(pane.outerWindow);
    }
    pane.outerWindow = nullptr;
    pane.baseWindow = nullptr;
    pane.statusBar = nullptr;
    pane.fileList = nullptr;
    if (pane.keyboardHook) UnhookWindowsHookEx(pane.keyboardHook);
    pane.keyboardHook = nullptr;
    if (pane.mouseHook) UnhookWindowsHookEx(pane.mouseHook);
    pane.mouseHook = nullptr;
    publishPane(pane);
    return 0;
}

}  // namespace

DWORD WINAPI paneThread1(LPVOID) { return runPane(0); }
DWORD WINAPI paneThread2(LPVOID) { return runPane(1); }

void requestPaneStop(int index) {
    if (index == 0 || index == 1) g_stopRequested[index].store(LoadStop::EndThread);
}

void freePaneItems(ThumbnailPane& pane) {
    if (pane.items) {
        // Read-only pass: the array goes away, and writing to it would fault in pages that
        // the load never touched.
        for (int i = 0; i < pane.itemCount; ++i) {
            const ThumbnailItem& item = pane.items[i];
            pageFree(item.pixels);
            pageFree(item.stream);
        }
        pageFree(pane.items);
    }
    pane.items = nullptr;
    pane.records.reset();
    pane.itemCount = 0;
    pane.selectedCount = 0;
}

// ---------------------------------------------------------------- commands

void activatePane(ThumbnailPane& pane) {
    g_activePane.store(pane.index);
    repaintPane(pane);
    askOtherPaneToRepaint(pane);
    postMain(CodeActivePaneChanged, 0);
}

void selectAll(ThumbnailPane& pane, bool on) {
    if (!pane.items) return;
    for (int i = 0; i < pane.itemCount; ++i) pane.items[i].select(on);
    pane.selectedCount = on ? pane.itemCount : 0;
    repaintPane(pane);
    updateSelectionText(pane);
    publishPane(pane);
    postMain(CodeActivePaneChanged, 0);
}

void clearPane(ThumbnailPane& pane) {
    forgetPixelRequests(pane);
    spareAllCells(pane);
    freePaneItems(pane);
    pane.filledCount = 0;
    pane.grid.itemCount = 0;
    if (pane.baseWindow) {
        InvalidateRect(pane.baseWindow, nullptr, TRUE);
        UpdateWindow(pane.baseWindow);
    }
    setPaneScrollInfo(pane, 0);
    updateSelectionText(pane);
    publishPane(pane);
}

void removeSelected(ThumbnailPane& pane) {
    if (!pane.items) return;
    if (pane.selectedCount >= pane.itemCount) {
        clearPane(pane);
        return;
    }
    // Windows are handed out again by the layout below, so the survivors simply move up in
    // order; their control ids follow from their new index. Pixels asked for answer to the
    // old places: they are asked for again by the layout.
    forgetPixelRequests(pane);
    destroyAllCells(pane);
    int kept = 0;
    for (int i = 0; i < pane.itemCount; ++i) {
        ThumbnailItem& item = pane.items[i];
        if (item.isSelected()) {
            releaseItemThumbnail(item);
            continue;
        }
        if (kept != i) pane.items[kept] = item;
        ++kept;
    }
    for (int i = kept; i < pane.itemCount; ++i) pane.items[i] = ThumbnailItem();
    pane.itemCount = kept;
    pane.selectedCount = 0;
    if (pane.anchor >= kept) pane.anchor = 0;
    RECT r{};
    GetClientRect(pane.baseWindow, &r);
    if (r.right > 0) pane.grid.setClient(r.right, r.bottom);
    reflowPane(pane);
    updateSelectionText(pane);
    publishPane(pane);
}

LoadStop pumpWhileLoading(ThumbnailPane& pane) {
    auto stopped = [&pane] {
        if (g_stopRequested[pane.index].load() != LoadStop::None) return LoadStop::EndThread;
        const LoadStop pending = pane.pendingStop;
        pane.pendingStop = LoadStop::None;
        return pending;
    };
    MSG msg;
    for (;;) {
        if (const LoadStop stop = stopped(); stop != LoadStop::None) return stop;
        if (!PeekMessageW(&msg, nullptr, WM_PAINT, WM_APP, PM_REMOVE)) break;
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            return LoadStop::EndThread;
        }
        if (!belongsToPane(pane, msg.hwnd)) {
            // Another window of this thread (tooltips): let it run.
            if (msg.hwnd) DispatchMessageW(&msg);
            continue;
        }
        if (translateShortcut(pane, msg)) continue;
        if (deliveredWhileLoading(msg.message)) {
            DispatchMessageW(&msg);
        } else if (msg.message == WM_APP && msg.hwnd == pane.outerWindow) {
            if (msg.wParam == CodeActivate) activatePane(pane);
            else if (msg.wParam == CodeRepaint) repaintPane(pane);
            else if (msg.wParam == CodeTakeFolder) takeHandedFolder(pane, msg.lParam);
            else if (msg.wParam == CodeClear || msg.wParam == CodeEndThread) return loadStopOf(msg.wParam);
        } else if (msg.message == WM_DROPFILES) {
            // Thrown away, but the drop handle is ours to release.
            DragFinish(reinterpret_cast<HDROP>(msg.wParam));
        }
        // everything else is dropped
    }
    return stopped();
}

namespace {

constexpr DWORD kLockRetryMs = 10;

// The image lock for the load, taken without ever leaving the pane's queue unattended: while
// another thread holds it (the other pane's cache, a dialog's file), the pane tries again
// every 10 ms and pumps in between as between two files. A stop seen meanwhile waits in
// pendingStop for the load's next look; after it only questions are answered. Every holder
// lets go within a bounded time, so the loop ends also at shutdown.
void lockImagesPumping(ThumbnailPane& pane) {
    while (!tryLockImages()) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, kLockRetryMs, QS_ALLINPUT);
        if (pane.pendingStop == LoadStop::None && g_stopRequested[pane.index].load() == LoadStop::None) {
            const LoadStop stop = pumpWhileLoading(pane);
            if (stop != LoadStop::None && pane.pendingStop != LoadStop::EndThread) pane.pendingStop = stop;
        } else {
            MSG msg;
            PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        }
    }
}

// Marks the pane as inside its load for as long as the load runs, whichever way it ends.
class LoadingScope {
public:
    explicit LoadingScope(ThumbnailPane& pane) : pane_(pane) {
        pane_.loading = true;
        pane_.pendingStop = LoadStop::None;
    }
    ~LoadingScope() {
        pane_.loading = false;
        pane_.pendingStop = LoadStop::None;
    }
    LoadingScope(const LoadingScope&) = delete;
    LoadingScope& operator=(const LoadingScope&) = delete;

private:
    ThumbnailPane& pane_;
};

}  // namespace

LoadStop loadFolder(ThumbnailPane& pane) {
    postMain(CodeRefreshTitle, 0);
    setStatusText(pane, 3, pane.folder, true);
    publishPane(pane);
    if (!pane.folder[0]) return LoadStop::None;
    LoadingScope scope(pane);

    // One copy of the settings for the whole load: the main thread may publish another
    // meanwhile, and the cells, the cache and the decodes must agree on one cell size.
    const PaneSettings& published = paneSettings();
    FolderLoadSettings settings;
    settings.cellWidth = published.thumbWidth;
    settings.cellHeight = published.thumbHeight;
    settings.useCache = published.useCache != 0;
    settings.cacheFolder = cacheFolderPath() ? cacheFolderPath() : L"";
    settings.filter = g_fileFilter.load();
    settings.hiddenMask = static_cast<uint32_t>(published.hiddenMask);
    settings.pluginFolder = published.pluginFolder;
    // Only the cells in view need pixels; the rest keep their records until they are seen.
    settings.warmPixelsInViewOnly = true;
    pane.filledCount = 0;
    pane.memoryReported = false;

    bool allocationFailed = false;
    FolderLoadHooks hooks;
    hooks.lock = [&pane] { lockImagesPumping(pane); };
    hooks.unlock = unlockImages;
    hooks.listed = [&](size_t names) {
        g_paneBusy[pane.index].store(PaneLoading);
        postMain(CodeToolbarStates, 0);
        if (pane.items) clearPane(pane);
        if (!allocateItems(pane, names)) {
            allocationFailed = true;
            postMain(CodeShowMessage, MsgMemoryFailed);
            return false;
        }
        pane.itemCount = static_cast<int>(names);
        pane.selectedCount = 0;
        publishPane(pane);
        createCells(pane);
        setStatusText(pane, 2, (L"Load" + std::to_wstring(names)).c_str(), false);
        return true;
    };
    // The listing agrees with the screen shown from the cache but counts another number of
    // files: the items stay and the grid takes the new count.
    hooks.relisted = [&](size_t names) {
        if (!pane.items || names == 0 || names > static_cast<size_t>(pane.itemCapacity)) return false;
        cutItemsTo(pane, static_cast<int>(names));
        publishPane(pane);
        reflowPane(pane);
        setStatusText(pane, 2, (L"Load" + std::to_wstring(names)).c_str(), false);
        return true;
    };
    hooks.itemReady = [&](size_t slot, const std::wstring& name, ThumbnailData& data, bool replaced) {
        if (slot >= static_cast<size_t>(pane.itemCount)) {
            releaseThumbnailData(data);
            return;
        }
        ThumbnailItem& item = pane.items[slot];
        // The second pass replaces the slot's thumbnail; the first may find the copy shown
        // ahead of its turn there.
        releaseItemThumbnail(item);
        fillThumbnailItem(item, data, replaced ? nullptr : name.c_str());
        if (!replaced) pane.filledCount = static_cast<int>(slot) + 1;
        // Far from the view a thumbnail keeps only its compressed form; one taken from the
        // cache without its pixels gets them now if the user has scrolled to it meanwhile.
        if (item.pixels && item.pixelsRestorable() && !keepsPixelsNear(pane, static_cast<int>(slot))) {
            pageFree(item.pixels);
            item.pixels = nullptr;
        } else if (!item.pixels && item.pixelsRestorable() && static_cast<int>(slot) >= pane.cellFirst &&
                   static_cast<int>(slot) < pane.cellEnd) {
            planPanePixels(pane);
        }
        repaintItem(pane, static_cast<int>(slot));
    };
    // Cells in view that the decoding threads finished early show their thumbnails before
    // the load reaches them; such an item is not filled yet (no selection, commands or
    // cache record see it) until itemReady puts the same thumbnail in the same slot.
    hooks.itemPreview = [&](size_t slot, const std::wstring& name, ThumbnailData& data) {
        if (slot < static_cast<size_t>(pane.filledCount) || slot >= static_cast<size_t>(pane.itemCount)) return;
        ThumbnailItem& item = pane.items[slot];
        releaseItemThumbnail(item);
        fillThumbnailItem(item, data, name.c_str());
        repaintItem(pane, static_cast<int>(slot));
    };
    hooks.recordsIn = [&pane](const std::shared_ptr<FolderCache>& table) { pane.records = table; };
    // After the cache write the items name their records in the new file: their streams,
    // which the file now holds, are freed.
    hooks.recordMoved = [&pane](size_t slot, uint32_t record) {
        if (slot >= static_cast<size_t>(pane.itemCount)) return;
        ThumbnailItem& item = pane.items[slot];
        pageFree(item.stream);
        item.stream = nullptr;
        item.streamSize = 0;
        item.cacheRecord = record;
    };
    hooks.previewsDropped = [&] { dropUnfilled(pane); };
    // The count of files done is redrawn at most every 50 ms (and for the last file): a
    // status-bar redraw per file costs more than taking a thumbnail from the cache.
    DWORD lastProgress = GetTickCount() - kProgressIntervalMs;
    // Each look at the queue is a round trip to the window system (under Wine to its server):
    // between files taken from the cache one after another the queue is looked at once per
    // clock tick, and always after a wait that a message ended. A stop asked by another
    // thread is seen after every file.
    DWORD lastPump = GetTickCount() - 1;
    bool messageArrived = false;
    hooks.afterFile = [&](size_t done, bool secondPass) {
        const DWORD now = GetTickCount();
        const size_t total = secondPass ? static_cast<size_t>(pane.filledCount) : static_cast<size_t>(pane.itemCount);
        if (now - lastProgress >= kProgressIntervalMs || done >= total) {
            setStatusText(pane, 3, std::to_wstring(done).c_str(), false);
            lastProgress = now;
        }
        if (now == lastPump && !messageArrived && done < total) {
            if (g_stopRequested[pane.index].load() != LoadStop::None) return LoadStop::EndThread;
            const LoadStop pending = pane.pendingStop;
            pane.pendingStop = LoadStop::None;
            return pending;
        }
        lastPump = now;
        messageArrived = false;
        collectPanePixels(pane);
        return pumpWhileLoading(pane);
    };
    hooks.beforeWrite = [&] {
        shrinkToFilled(pane);
        g_paneBusy[pane.index].store(PaneWritingCache);
        setStatusText(pane, 2, L"Save", false);
    };
    hooks.itemForCache = [&](size_t slot, CacheItemView& view) {
        if (slot < static_cast<size_t>(pane.itemCount)) view = cacheViewOf(pane.items[slot]);
    };
    // While the write's thread compresses the records, the pane answers the questions other
    // threads send (snapshots, selection copies) and sees a stop. Posted messages wait for
    // the end of the write: they could change the items the write is reading.
    hooks.duringWrite = [&pane] {
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        return g_stopRequested[pane.index].load() == LoadStop::None;
    };
    // Between two files the pane sleeps on the decoding threads' semaphore and on its own
    // queue: a message that arrives meanwhile is pumped at once, not at the end of the slice.
    // Paint requests are left out (they wait one slice at most): a window that does not
    // validate would otherwise end every wait at once.
    hooks.waitForThreads = [&messageArrived](void* finished, int milliseconds) {
        HANDLE semaphore = static_cast<HANDLE>(finished);
        const DWORD woken = MsgWaitForMultipleObjects(1, &semaphore, FALSE, static_cast<DWORD>(milliseconds),
                                                      QS_ALLINPUT & ~QS_PAINT);
        if (woken != WAIT_OBJECT_0) messageArrived = true;  // a message, or the slice ran out
        return woken == WAIT_OBJECT_0;
    };
    // The cells in view are decoded first (their items are still filled in list order).
    hooks.visibleSlots = [&](size_t& first, size_t& end) {
        first = static_cast<size_t>(pane.cellFirst);
        end = static_cast<size_t>(pane.cellEnd);
    };

    FolderLoadStats stats;
    LoadStop stopped = loadFolderThumbnails(pane.folder, settings, hooks, stats, &g_stopRequested[pane.index]);
    // A stop that the pump took while the load waited for the image lock after its last look
    // (before the cache write, say) is the load's result all the same: it was taken off the queue.
    if (stopped == LoadStop::None) stopped = pane.pendingStop;
    if (stats.kept == 0) {
        // Nothing matched: the pane stays empty (the screen shown from the cache goes).
        if (stats.earlyScreen) clearPane(pane);
        return stopped;
    }
    if (stats.outOfMemory > 0) notePaneMemoryShort(pane);
    if (stopped == LoadStop::None) {
        if (!allocationFailed) shrinkToFilled(pane);
        planPanePixels(pane);
        if (stats.cacheWriteAttempted && !stats.cacheWritten && !stats.cacheWriteGivenUp)
            postMain(CodeShowMessage, MsgCacheAccessFailed);
    } else {
        clearPane(pane);
    }
    // Until the next look for pixels the data file is closed (see planPanePixels).
    if (pane.records) pane.records->letGo();
    g_paneBusy[pane.index].store(PaneIdle);
    updateSelectionText(pane);
    setStatusText(pane, 3, pane.folder, true);
    publishPane(pane);
    postMain(CodeToolbarStates, 0);
    return stopped;
}

// ---------------------------------------------------------------- input

// One file drag per button press: set when the drag was handed to the tree.
static std::atomic<bool> g_fileDragPosted{false};

// The folder tree's control (id 401 in the tree pane, a sibling of the pane's outer window).
static HWND folderTreeControl(const ThumbnailPane& pane) {
    HWND client = pane.outerWindow ? GetParent(pane.outerWindow) : nullptr;
    HWND base = client ? FindWindowExW(client, nullptr, windowClassName(ClassTreeBase), nullptr) : nullptr;
    return base ? GetDlgItem(base, 401) : nullptr;
}

bool cellInput(ThumbnailPane& pane, HWND window, bool textArea, UINT message, WPARAM wParam, LPARAM lParam) {
    const int i = itemOfWindow(pane, window);
    if (i < 0) return false;
    ThumbnailItem& item = pane.items[i];
    switch (message) {
    case WM_LBUTTONDOWN:
        g_fileDragPosted.store(false);
        g_pointerButtonState.store(1);
        clickSelection(pane, window, i, wParam, MK_LBUTTON, lParam);
        return true;
    case WM_RBUTTONDOWN:
        g_fileDragPosted.store(false);
        g_pointerButtonState.store(2);
        clickSelection(pane, window, i, wParam, MK_RBUTTON, lParam);
        return true;
    case WM_LBUTTONUP: g_pointerButtonState.store(0); return true;
    case WM_MBUTTONDOWN:
        if (!anyPaneBusy()) {
            item.select(!item.isSelected());
            pane.selectedCount += item.isSelected() ? 1 : -1;
            pane.anchor = i;
        }
        afterSelection(pane, window, lParam);
        return true;
    case WM_MOUSEMOVE: {
        const WPARAM buttons = wParam & (MK_LBUTTON | MK_RBUTTON | MK_MBUTTON | MK_XBUTTON1 | MK_XBUTTON2);
        POINT pt{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        if (buttons == MK_LBUTTON || buttons == MK_RBUTTON) {
            if (anyPaneBusy() || g_pointerButtonState.load() == 0) return true;
            ClientToScreen(window, &pt);
            const int dx = pt.x - pane.lastPointer.x, dy = pt.y - pane.lastPointer.y;
            pane.lastPointer = pt;
            if ((dx < 0 ? -dx : dx) + (dy < 0 ? -dy : dy) > 4 && !g_fileDragPosted.exchange(true)) {
                // The main thread runs the drag in its tree control: hand the pointer over
                // once per press, so that the tree sees the moves and the release.
                if (HWND tree = folderTreeControl(pane)) SetCapture(tree);
                postMain(CodeFileDragBegins, 0);
            }
        } else if (buttons == 0 && g_mainWindowActive.load()) {
            MapWindowPoints(window, paneBaseWindow(0), &pt, 1);
            autoTreeTrigger(pt.x);
        }
        return true;
    }
    case WM_LBUTTONDBLCLK:
        if ((wParam & (MK_SHIFT | MK_CONTROL)) != 0) return true;
        if (textArea) {
            // A double click on the text under a thumbnail renames its file.
            PostMessageW(g_mainWindow, WM_COMMAND, cmd::Rename, 0);
            return true;
        }
        if (!takesPlainClick(pane, i)) return true;
        if (!item.isSelected()) {
            deselectAll(pane);
            item.select(true);
            pane.selectedCount = 1;
            pane.anchor = i;
            repaintPane(pane);
            updateSelectionText(pane);
            publishPane(pane);
        }
        postMain(CodeDoubleClick, pane.index);
        return true;
    case WM_RBUTTONUP:
        if (item.isSelected()) {
            g_pointerButtonState.store(0);
            postMain(CodeContextMenu, screenPoint(window, lParam));
        }
        return true;
    default: return false;
    }
}

bool baseInput(ThumbnailPane& pane, HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    switch (message) {
    case WM_LBUTTONDOWN:
    case WM_MBUTTONDOWN:
        if (pane.selectedCount > 0 && pane.items) {
            deselectAll(pane);
            updateSelectionText(pane);
            publishPane(pane);
        }
        activatePane(pane);
        return true;
    case WM_RBUTTONDOWN: activatePane(pane); return true;
    case WM_NCLBUTTONDOWN:
    case WM_NCRBUTTONDOWN:
        activatePane(pane);
        return false;  // the scroll bar still works
    case WM_RBUTTONUP:
        if (g_activePane.load() == pane.index && pane.items) postMain(CodeContextMenu, screenPoint(window, lParam));
        return true;
    case WM_DROPFILES:
        if (!anyPaneBusy()) {
            activatePane(pane);
            postMain(CodeFilesDropped, static_cast<LPARAM>(wParam));
        } else {
            DragFinish(reinterpret_cast<HDROP>(wParam));  // ignored, but the handle is ours to free
        }
        return true;
    case WM_MOUSEMOVE:
        if ((wParam & (MK_LBUTTON | MK_RBUTTON | MK_MBUTTON)) == 0 && g_mainWindowActive.load()) {
            if (pane.index == 0 || paneSettings().thumbSplit != SplitMode::Both)
                autoTreeTrigger(GET_X_LPARAM(lParam));
            else if (paneSettings().autoTree && g_treePaneShown.load())
                postMain(CodeShowTree, 0);
        }
        return true;
    case WM_NCHITTEST: {
        *result = DefWindowProcW(window, message, wParam, lParam);
        if (*result == HTBORDER && GetKeyState(VK_CONTROL) >= 0 && GetKeyState(VK_SHIFT) >= 0 &&
            g_mainWindowActive.load())
            autoTreeTrigger(pane.index == 1 && paneSettings().thumbSplit == SplitMode::Both ? 100 : GET_X_LPARAM(lParam));
        return true;
    }
    default: return false;
    }
}
