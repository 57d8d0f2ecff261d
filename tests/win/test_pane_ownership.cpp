// A pane's state belongs to its thread: the main thread's snapshot and selection queries
// while the pane reloads, the load's rules on every path its codes can take (a nested modal
// loop, dropped files), pane 2's creation, and a long run of folder switches in both panes
// with the program's live objects and memory counted.
#include "test_pane_support.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <shellapi.h>
#include <shlobj.h>

#include "thumbs/pane_access.h"
#include "thumbs/thumbnail_cache.h"

using namespace panetest;

namespace {

// Counts code 204 on pane 1's outer window that reached the procedure while the pane was
// loading: the load's own pump never hands it on, so these came through a nested loop.
struct NestedSpy {
    static inline WNDPROC original = nullptr;
    static inline std::atomic<int> duringLoad{0};
    static LRESULT CALLBACK proc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
        if (m == kCrossThreadMessage && wp != CodeTakeFolder && g_panes[0].loading) ++duringLoad;
        return CallWindowProcW(original, w, m, wp, lp);
    }
    static void attach(HWND outer) {
        duringLoad = 0;
        original = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrW(outer, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&NestedSpy::proc)));
    }
};

// A marker for pane 2's loop, as OuterMarker is for pane 1's.
using OuterMarker2 = PaneLoopMarker<1>;

class PaneOwnership : public PaneFixture {
protected:
    std::wstring folder;
    HANDLE thread2 = nullptr;

    void SetUp() override {
        PaneFixture::SetUp();
        folder = tempFolder(L"own");
        removeFolder(folder);
        folder = tempFolder(L"own");
    }
    void TearDown() override {
        stopPane2();
        PaneFixture::TearDown();
        removeFolder(folder);
    }

    std::wstring cacheDataFile(const std::wstring& of) {
        FolderDataLookup lookup;
        CacheLocation location{cacheFolder, g_settings.thumbWidth, g_settings.thumbHeight};
        return findFolderData(location, of, lookup) ? lookup.dataPath : std::wstring();
    }
    uint32_t cachedRecords(const std::wstring& of) {
        CacheLocation location{cacheFolder, g_settings.thumbWidth, g_settings.thumbHeight};
        FolderCache table;
        bool larger = false, smaller = false;
        return openFolderCache(location, of, table, larger, smaller) ? table.count() : 0;
    }

    void startPane2() {
        g_panes[1] = ThumbnailPane{};
        thread2 = CreateThread(nullptr, 0, paneThread2, nullptr, 0, nullptr);
        ASSERT_TRUE(waitFor([] { return count(CodePane2Ready) == 1; }));
        ShowWindow(g_panes[1].outerWindow, SW_SHOWNA);
        OuterMarker2::attach(g_panes[1].outerWindow);
    }
    void stopPane2() {
        if (!thread2) return;
        if (g_panes[1].outerWindow) PostMessageW(g_panes[1].outerWindow, kCrossThreadMessage, CodeEndThread, 0);
        waitFor([&] { return WaitForSingleObject(thread2, 0) == WAIT_OBJECT_0; }, 30000);
        CloseHandle(thread2);
        thread2 = nullptr;
        freePaneItems(g_panes[1]);
        g_panes[1] = ThumbnailPane{};
        g_panes[1].index = 1;
        g_paneWindows[1] = nullptr;
    }
    void flush2() { OuterMarker2::flush(g_panes[1].outerWindow); }

    // Starts a load of folder and returns once the pane is loading it.
    void startLoad(const std::wstring& of) {
        postPaneFolder(pane.outerWindow, of.c_str());
        PostMessageW(pane.outerWindow, kCrossThreadMessage, CodeLoadFolder, 1);
        ASSERT_TRUE(waitFor([] { return g_paneBusy[0].load() == PaneLoading; }));
    }

    // Presses the scroll bar of the base window (a posted press, as the pump delivers one):
    // the bar runs its own tracking loop until the release posted after `inside`.
    void pressScrollBarAround(const std::function<void()>& inside) {
        RECT r;
        GetWindowRect(pane.baseWindow, &r);
        const POINT onBar{r.right - GetSystemMetrics(SM_CXVSCROLL) / 2 - 2, (r.top + r.bottom) / 2};
        PostMessageW(pane.baseWindow, WM_NCLBUTTONDOWN, HTVSCROLL, MAKELPARAM(onBar.x, onBar.y));
        inside();
        POINT client = onBar;
        ScreenToClient(pane.baseWindow, &client);
        PostMessageW(pane.baseWindow, WM_LBUTTONUP, 0, MAKELPARAM(client.x, client.y));
    }
};

// ---------------------------------------------------------------- the main thread's questions

TEST_F(PaneOwnership, SnapshotsAndSelectionCopiesWhileThePaneReloadsOverAndOver) {
    constexpr int kFiles = 1500;
    makeImages(folder, kFiles);
    load(folder);
    ASSERT_EQ(pane.itemCount, kFiles);
    const DWORD start = GetTickCount();
    long snapshots = 0, selections = 0, refreshes = 0, copiedItems = 0;
    bool selectAllPosted = false;
    long rounds = 0;
    while (GetTickCount() - start < 20000) {
        // Whenever the pane is idle: select all (so that a selection copy has every item to
        // copy), and once that is seen, reload.
        if (g_paneBusy[0].load() == PaneIdle) {
            PaneSnapshot now;
            queryPaneSnapshot(0, now);
            if (now.total > 0 && now.selected == 0 && !selectAllPosted) {
                PostMessageW(pane.outerWindow, kCrossThreadMessage, CodeSelectAll, 0);
                selectAllPosted = true;
            } else if (now.selected > 0 || GetTickCount() - start > 19000) {
                paneRefresh(0, refreshes % 2 == 0);
                selectAllPosted = false;
                ++refreshes;
            }
        }
        for (int k = 0; k < 50; ++k) {
            PaneSnapshot snap;
            ASSERT_TRUE(queryPaneSnapshot(0, snap));
            ASSERT_TRUE(snap.total == 0 || snap.total == kFiles) << snap.total;
            ASSERT_LE(snap.selected, snap.total);
            ASSERT_EQ(std::wstring(snap.folder), folder);
            ++snapshots;
        }
        // A selection copy now and then: while all is selected each one copies every item,
        // and the pane answering them all the time would hardly get to reload.
        PaneSelection selection;
        if (++rounds % 4 == 0 && queryPaneSelection(0, selection)) {
            ASSERT_TRUE(selection.total == 0 || selection.total == kFiles) << selection.total;
            ASSERT_LE(selection.selected.size(), size_t(selection.total));
            for (const PaneItemCopy& copy : selection.selected) {
                ASSERT_EQ(copy.item.pixels, nullptr);
                ASSERT_EQ(copy.item.imageWindow, nullptr);
            }
            copiedItems += long(selection.selected.size());
            ++selections;
        }
        pump();
    }
    flush();
    std::printf("[ figure ] 20 s: %ld reloads, %ld snapshots, %ld selection copies (%ld items copied)\n", refreshes,
                snapshots, selections, copiedItems);
    EXPECT_GT(refreshes, 3);
    EXPECT_GT(copiedItems, 0);
    EXPECT_GT(selections, refreshes);
    EXPECT_EQ(pane.itemCount, kFiles);
    EXPECT_EQ(g_paneBusy[0].load(), PaneIdle);
}

TEST_F(PaneOwnership, OpeningAFolderHandsItToThePaneAndResetStartsAtTheTop) {
    makeImages(folder, 60);
    load(folder);
    scroll(SB_BOTTOM);
    flush();
    ASSERT_GT(pane.firstVisible, 0);
    paneRefresh(0, false);  // the same row again
    flush();
    EXPECT_GT(pane.firstVisible, 0);
    EXPECT_GT(scrollPos(), 0);
    paneRefresh(0, true);  // from the top: the pane resets its own position
    flush();
    EXPECT_EQ(pane.firstVisible, 0);
    EXPECT_EQ(scrollPos(), 0);
    EXPECT_EQ(paneFolder(0), folder);
    paneOpenFolder(0, L"");  // no folder: the pane empties
    flush();
    EXPECT_EQ(paneFolder(0), L"");
    EXPECT_EQ(pane.items, nullptr);
}

// ---------------------------------------------------------------- the load's rules on every path

TEST_F(PaneOwnership, CommandsReachingThePaneThroughTheScrollBarsLoopDuringALoadAreDiscarded) {
    constexpr int kFiles = 400;
    makeImages(folder, kFiles, 40, 30);  // large enough for their thumbnails to be cached
    const long blocksBefore = platformLiveCounts().pageBlocks;
    NestedSpy::attach(pane.outerWindow);
    startLoad(folder);
    pressScrollBarAround([&] {
        PostMessageW(pane.outerWindow, kCrossThreadMessage, CodeLoadFolder, 1);
        PostMessageW(pane.outerWindow, kCrossThreadMessage, CodeSelectAll, 0);
        PostMessageW(pane.outerWindow, kCrossThreadMessage, CodeRemoveSelected, 0);
    });
    flush();
    ASSERT_GE(NestedSpy::duringLoad.load(), 3) << "the codes did not come through the bar's own loop";
    // One load, run to its end: every item, a full cache, idle only now.
    EXPECT_EQ(pane.itemCount, kFiles);
    EXPECT_EQ(pane.selectedCount, 0);
    EXPECT_EQ(g_paneBusy[0].load(), PaneIdle);
    EXPECT_EQ(cachedRecords(folder), uint32_t(kFiles));
    // Everything the load allocated is the pane's: clearing gives it all back.
    PostMessageW(pane.outerWindow, kCrossThreadMessage, CodeClear, 0);
    flush();
    EXPECT_EQ(platformLiveCounts().pageBlocks, blocksBefore);
}

TEST_F(PaneOwnership, AClearReachingThePaneThroughTheScrollBarsLoopStopsTheLoad) {
    constexpr int kFiles = 400;
    makeImages(folder, kFiles, 40, 30);  // large enough for their thumbnails to be cached
    NestedSpy::attach(pane.outerWindow);
    startLoad(folder);
    pressScrollBarAround([&] { PostMessageW(pane.outerWindow, kCrossThreadMessage, CodeClear, 0); });
    flush();
    ASSERT_GE(NestedSpy::duringLoad.load(), 1);
    EXPECT_EQ(pane.items, nullptr);
    EXPECT_EQ(g_paneBusy[0].load(), PaneIdle);
    EXPECT_EQ(cacheDataFile(folder), L"") << "a stopped load writes no cache";
    // The pane is whole: the next load shows everything.
    load(folder, 0);
    EXPECT_EQ(pane.itemCount, kFiles);
    EXPECT_EQ(cachedRecords(folder), uint32_t(kFiles));
}

HDROP makeDrop(const std::wstring& path) {
    const size_t bytes = sizeof(DROPFILES) + (path.size() + 2) * sizeof(wchar_t);
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes);
    auto* drop = static_cast<DROPFILES*>(GlobalLock(block));
    drop->pFiles = sizeof(DROPFILES);
    drop->fWide = TRUE;
    std::wmemcpy(reinterpret_cast<wchar_t*>(drop + 1), path.c_str(), path.size());
    GlobalUnlock(block);
    return static_cast<HDROP>(block);
}

TEST_F(PaneOwnership, ADropDuringALoadIsThrownAwayAndReleased) {
    makeImages(folder, 300);
    // Idle: the drop goes to the main window, which releases it.
    HDROP idle = makeDrop(folder);
    PostMessageW(pane.baseWindow, WM_DROPFILES, reinterpret_cast<WPARAM>(idle), 0);
    flush();
    ASSERT_EQ(count(CodeFilesDropped), 1);
    EXPECT_NE(GlobalSize(idle), 0u);
    DragFinish(idle);

    startLoad(folder);
    HDROP during = makeDrop(folder);
    PostMessageW(pane.baseWindow, WM_DROPFILES, reinterpret_cast<WPARAM>(during), 0);
    flush();
    EXPECT_EQ(count(CodeFilesDropped), 1) << "a drop during a load is not passed on";
    EXPECT_EQ(GlobalSize(during), 0u) << "the discarded drop's memory was not released";
}

// ---------------------------------------------------------------- pane 2

TEST_F(PaneOwnership, PaneTwosCreationTouchesOnlyItsOwnWindows) {
    const RECT before = baseClient();
    ASSERT_GT(before.right, 0);
    startPane2();
    pump();
    const RECT after = baseClient();
    EXPECT_EQ(after.right, before.right);
    EXPECT_EQ(after.bottom, before.bottom);
    ThumbnailPane& two = g_panes[1];
    EXPECT_EQ(GetParent(two.statusBar), two.outerWindow);
    EXPECT_EQ(GetParent(two.baseWindow), two.outerWindow);
    EXPECT_EQ(paneBaseWindow(1), two.baseWindow);
    EXPECT_EQ(paneBaseWindow(0), pane.baseWindow);
    // Sized, pane 2 lays out its own base window.
    SetWindowPos(two.outerWindow, nullptr, 0, 0, 300, 200, SWP_NOZORDER | SWP_NOACTIVATE);
    flush2();
    RECT r2;
    GetWindowRect(two.baseWindow, &r2);
    EXPECT_EQ(r2.right - r2.left, 300);
    EXPECT_EQ(baseClient().right, before.right);
}

// ---------------------------------------------------------------- soak

// The resident size of this process. Under Wine a file opened by path is opened by the
// server, so "/proc/self" there describes the server; the memory counters of the process
// itself are read from its own /proc entry by Wine's process-information call.
struct Resident {
    struct Counters {
        DWORD cb;
        DWORD PageFaultCount;
        SIZE_T PeakWorkingSetSize, WorkingSetSize, QuotaPeakPagedPoolUsage, QuotaPagedPoolUsage,
            QuotaPeakNonPagedPoolUsage, QuotaNonPagedPoolUsage, PagefileUsage, PeakPagefileUsage;
    };
    static long kilobytes() {
        using Query = BOOL(WINAPI*)(HANDLE, Counters*, DWORD);
        static const Query query = [] {
            HMODULE psapi = LoadLibraryW(L"psapi.dll");
            return psapi ? reinterpret_cast<Query>(reinterpret_cast<void*>(GetProcAddress(psapi, "GetProcessMemoryInfo")))
                         : nullptr;
        }();
        Counters c{};
        c.cb = sizeof c;
        if (!query || !query(GetCurrentProcess(), &c, sizeof c)) return -1;
        return long(c.WorkingSetSize / 1024);
    }
};

struct WindowCount {
    static BOOL CALLBACK add(HWND, LPARAM n) {
        ++*reinterpret_cast<int*>(n);
        return TRUE;
    }
    static int under(HWND parent) {
        int n = 0;
        EnumChildWindows(parent, add, reinterpret_cast<LPARAM>(&n));
        return n;
    }
};

TEST_F(PaneOwnership, FiveHundredFolderSwitchesInBothPanesLeaveNothingBehind) {
    startPane2();
    SetWindowPos(g_panes[1].outerWindow, nullptr, 0, 0, 3 * pitchW() + 30, 2 * pitchH() + 40,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    std::wstring folders[3];
    const int sizes[3] = {30, 45, 20};
    for (int f = 0; f < 3; ++f) {
        folders[f] = tempFolder(L"soak" + std::to_wstring(f));
        removeFolder(folders[f]);
        folders[f] = tempFolder(L"soak" + std::to_wstring(f));
        makeImages(folders[f], sizes[f], 40, 30);
    }
    struct Sample {
        int windows;
        PlatformLiveCounts live;
        long rssKb;
    };
    auto sample = [&] { return Sample{WindowCount::under(g_clientWindow), platformLiveCounts(), Resident::kilobytes()}; };
    constexpr int kSwitches = 500;
    Sample at100{}, at300{}, atEnd{};
    for (int k = 0; k < kSwitches; ++k) {
        paneOpenFolder(0, folders[k % 3].c_str());
        paneOpenFolder(1, folders[(k + 1) % 3].c_str());
        flush();
        flush2();
        ASSERT_EQ(pane.itemCount, sizes[k % 3]);
        ASSERT_EQ(g_panes[1].itemCount, sizes[(k + 1) % 3]);
        // Samples after the same folders, warm (every cache written by then).
        if (k == 100 || k == 301 || k == kSwitches - 1) {
            const Sample s = sample();
            (k == 100 ? at100 : k == 301 ? at300 : atEnd) = s;
            std::printf("[ figure ] after %d switches: %d windows, %ld page blocks, %ld file handles, %ld KiB "
                        "resident\n",
                        k + 1, s.windows, s.live.pageBlocks, s.live.fileHandles, s.rssKb);
        }
    }
    EXPECT_EQ(atEnd.windows, at100.windows);
    EXPECT_EQ(atEnd.live.pageBlocks, at100.live.pageBlocks);
    EXPECT_EQ(atEnd.live.fileHandles, at100.live.fileHandles);
    EXPECT_EQ(atEnd.live.fileHandles, 0) << "a pane keeps its data file closed between two looks";
    ASSERT_GT(at300.rssKb, 0) << "no resident size";
    // The memory has stopped growing: the last 200 switches add less than the thumbnails of
    // one folder would take if they leaked on every switch.
    EXPECT_LT(atEnd.rssKb - at300.rssKb, 8 * 1024);
    for (const std::wstring& f : folders) removeFolder(f);
}

}  // namespace
