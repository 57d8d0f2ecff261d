// A live pane loading folders: the message pump's rules while it loads, the cache on the way
// in and out, the enumeration's extension rule and bad files.
#include "test_pane_support.h"

#include <atomic>

#include "thumbs/thumbnail_cache.h"
#include "thumbs/thumbnail_scaling.h"

using namespace panetest;

namespace {

// What the base window saw, recorded on the pane's thread by a subclass.
struct BaseSpy {
    static inline WNDPROC original = nullptr;
    static inline std::atomic<int> keys{0};
    static inline std::atomic<int> markers{0};
    static inline std::vector<int> firstThumbWidths;  // item 0's pixel width at each erase

    static LRESULT CALLBACK proc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
        const ThumbnailPane& pane = g_panes[0];
        if (m == WM_KEYDOWN) ++keys;
        if (m == WM_APP + 5) ++markers;
        if (m == WM_ERASEBKGND && pane.items && pane.itemCount > 0 && pane.items[0].pixels)
            firstThumbWidths.push_back(pane.items[0].thumbWidth);
        return CallWindowProcW(original, w, m, wp, lp);
    }
    static void attach(HWND base) {
        keys = 0;
        markers = 0;
        firstThumbWidths.clear();
        original = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrW(base, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&BaseSpy::proc)));
    }
};

class PaneLoading : public PaneFixture {
protected:
    std::wstring folder;
    void SetUp() override {
        PaneFixture::SetUp();
        folder = tempFolder(L"load");
        removeFolder(folder);
        folder = tempFolder(L"load");
    }
    void TearDown() override {
        PaneFixture::TearDown();
        removeFolder(folder);
    }
    std::wstring cacheDataFile() {
        FolderDataLookup lookup;
        CacheLocation location{cacheFolder, g_settings.thumbWidth, g_settings.thumbHeight};
        return findFolderData(location, folder, lookup) ? lookup.dataPath : std::wstring();
    }
    // Waits until the pane's thread has handled everything posted to the base window so far.
    void flushBase() {
        const int before = BaseSpy::markers;
        PostMessageW(pane.baseWindow, WM_APP + 5, 0, 0);
        ASSERT_TRUE(waitFor([&] { return BaseSpy::markers > before; }));
    }
};

TEST_F(PaneLoading, ClearClickDuringALoadStopsAfterTheCurrentFileAndLeavesThePaneEmpty) {
    makeImages(folder, 300);
    load(folder, 1, [&] {
        // Queued behind the load: the pump delivers the click after the first file.
        PostMessageW(pane.statusBar, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(50, 5));
        PostMessageW(pane.statusBar, WM_LBUTTONUP, 0, MAKELPARAM(50, 5));
    });
    EXPECT_EQ(pane.items, nullptr);
    EXPECT_EQ(pane.itemCount, 0);
    EXPECT_EQ(g_paneBusy[0].load(), PaneIdle);
    EXPECT_EQ(cacheDataFile(), L"") << "an interrupted load writes no cache";
    EXPECT_EQ(statusText(2), L"");
    EXPECT_EQ(statusText(3), folder);
}

TEST_F(PaneLoading, StopSentInTheMiddleOfALoadEndsTheThreadAfterTheCurrentFile) {
    makeImages(folder, 300);
    postPaneFolder(pane.outerWindow, folder.c_str());
    PostMessageW(pane.outerWindow, kCrossThreadMessage, CodeLoadFolder, 1);
    ASSERT_TRUE(waitFor([] { return g_paneBusy[0].load() == PaneBusy::PaneLoading; }));
    SendMessageW(pane.outerWindow, kCrossThreadMessage, CodeEndThread, 0);
    // Pumped: the pane's windows are children of this thread's window.
    EXPECT_TRUE(waitFor([&] { return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0; }));
    EXPECT_EQ(pane.outerWindow, nullptr);
    EXPECT_EQ(pane.items, nullptr);
    EXPECT_EQ(cacheDataFile(), L"");
}

TEST_F(PaneLoading, KeysThatAreNoShortcutDuringALoadNeverArrive) {
    makeImages(folder, 20);
    BaseSpy::attach(pane.baseWindow);
    // Outside a load the key reaches the window (the spy sees it).
    PostMessageW(pane.baseWindow, WM_KEYDOWN, 'Q', 1);
    flushBase();
    ASSERT_EQ(BaseSpy::keys, 1);
    BaseSpy::keys = 0;
    load(folder, 1, [&] {
        PostMessageW(pane.baseWindow, WM_KEYDOWN, 'Q', 1);
        // Other commands are dropped too.
        PostMessageW(pane.outerWindow, kCrossThreadMessage, CodeSelectAll, 0);
    });
    flushBase();
    EXPECT_EQ(BaseSpy::keys, 0);
    EXPECT_EQ(pane.itemCount, 20);
    EXPECT_EQ(pane.selectedCount, 0);
}

TEST_F(PaneLoading, JpegExtensionsAreListedOncePerFile) {
    const std::string root = PRAVEL_TESTDATA;
    const std::string jpeg = readBytes(std::wstring(root.begin(), root.end()) + L"\\jpeg\\testorig.jpg");
    ASSERT_FALSE(jpeg.empty());
    writeBytes(folder + L"\\a.jpeg", jpeg);
    writeBytes(folder + L"\\b.jpe", jpeg);
    for (int filter : {0, 3}) {
        g_fileFilter = filter;
        load(folder);
        ASSERT_EQ(pane.itemCount, 2) << "filter " << filter;
        EXPECT_STREQ(pane.items[0].name, L"a.jpeg");
        EXPECT_STREQ(pane.items[1].name, L"b.jpe");
    }
    g_fileFilter = 2;  // PNG only: nothing, and the pane says where it looked
    load(folder);
    EXPECT_EQ(pane.itemCount, 0);
    EXPECT_EQ(statusText(3), folder);
}

TEST_F(PaneLoading, ATouchedFileIsDecodedAgainAndTheCacheRewritten) {
    makeImages(folder, 3, 40, 30);
    load(folder);
    const std::wstring data = cacheDataFile();
    ASSERT_NE(data, L"");
    const std::string before = readBytes(data);
    load(folder);
    EXPECT_EQ(readBytes(data), before) << "nothing changed, nothing rewritten";

    const std::wstring touched = folder + L"\\img00001.bmp";
    HANDLE f = CreateFileW(touched.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    FILETIME t;
    GetFileTime(f, nullptr, nullptr, &t);
    ULARGE_INTEGER v{{t.dwLowDateTime, t.dwHighDateTime}};
    v.QuadPart += 864000000000ULL;  // a day later
    t = {v.LowPart, v.HighPart};
    SetFileTime(f, nullptr, nullptr, &t);
    CloseHandle(f);

    load(folder);
    ASSERT_EQ(pane.itemCount, 3);
    EXPECT_EQ(pane.items[1].facts.lastWriteTime.low, t.dwLowDateTime);
    EXPECT_NE(readBytes(cacheDataFile()), before);
}

TEST_F(PaneLoading, ALargerCellShowsCachedThumbnailsFirstThenFreshOnes) {
    makeImages(folder, 4, 200, 150);
    g_settings.thumbWidth = 64;
    g_settings.thumbHeight = 48;
    load(folder);
    ASSERT_EQ(pane.itemCount, 4);
    const int small = fitToCell(200, 150, 64, 48).width, large = fitToCell(200, 150, 128, 96).width;
    ASSERT_EQ(pane.items[0].thumbWidth, small);

    g_settings.thumbWidth = 128;
    g_settings.thumbHeight = 96;
    BaseSpy::attach(pane.baseWindow);
    // The repaint is carried out by the pump after the first file of the load.
    load(folder, 1, [&] { PostMessageW(pane.outerWindow, kCrossThreadMessage, CodeRepaint, 0); });
    ASSERT_FALSE(BaseSpy::firstThumbWidths.empty());
    EXPECT_EQ(BaseSpy::firstThumbWidths.front(), small) << "the cached thumbnail stands in first";
    EXPECT_EQ(pane.items[0].thumbWidth, large);
    EXPECT_EQ(pane.items[0].displayWidth, large);
    EXPECT_NE(cacheDataFile(), L"") << "the cache is rewritten for the new cell";
}

TEST_F(PaneLoading, BrokenImagesAreLeftOutSilently) {
    makeImages(folder, 2, 8, 8);
    writeBytes(folder + L"\\bad1.jpg", std::string("\xFF\xD8\xFF\xE0 not really", 15));
    writeBytes(folder + L"\\bad2.png", std::string("\x89PNG\r\n\x1A\n\0\0\0\x0DIHDR", 16));
    writeBytes(folder + L"\\bad3.bmp", "");
    std::string huge = bmpBytes(2, 2, 1);
    huge[18] = huge[19] = huge[20] = '\x7F';  // width far beyond any memory
    writeBytes(folder + L"\\bad4.bmp", huge);
    writeBytes(folder + L"\\bad5.gif", "GIF89a");
    writeBytes(folder + L"\\bad6.tif", "II*\0\xFF\xFF\xFF\x7F");
    load(folder);
    ASSERT_EQ(pane.itemCount, 2);
    EXPECT_STREQ(pane.items[0].name, L"img00000.bmp");
    EXPECT_STREQ(pane.items[1].name, L"img00001.bmp");
    EXPECT_EQ(cell(2), nullptr) << "no cells for the files left out";
    EXPECT_EQ(statusText(2), L"0/2");
    EXPECT_EQ(count(CodeShowMessage), 0);
}

TEST_F(PaneLoading, ACacheThatCannotBeWrittenShowsMessageTenOnce) {
    makeImages(folder, 3);
    // A file where the cache folder belongs.
    std::wstring blocked = cacheFolder;
    if (!blocked.empty() && blocked.back() == L'\\') blocked.pop_back();
    removeFolder(blocked);
    ASSERT_TRUE(writeBytes(blocked, "x"));
    load(folder);
    EXPECT_EQ(pane.itemCount, 3) << "the thumbnails still show";
    int tens = 0;
    for (const Posted& p : posted()) tens += p.code == CodeShowMessage && p.arg == 10;
    EXPECT_EQ(tens, 1);
    EXPECT_EQ(count(CodeShowMessage), 1);
    DeleteFileW(blocked.c_str());
}

}  // namespace
