// Large folders in a live pane: the name cap, a bounded number of cell windows, and how long
// a message posted to the pane waits while it loads (printed, never asserted), and how long
// a folder of cached thumbnails takes to show (printed).
#include "test_pane_support.h"

#include <algorithm>
#include <cstdio>

using namespace panetest;

namespace {

// These loads take minutes under Wine (50,001 decodes, then 10,000 files twice), so they are
// measurements run on request (PRAVEL_LARGE=1), not part of every test run. The 50,000-name
// cap is also checked by the native folder-loader tests, and the bounded number of cell
// windows by the re-flow test of the pane window tests.
class PaneLarge : public PaneFixture {
protected:
    void SetUp() override {
        if (!largeRunsRequested())
            GTEST_SKIP() << "set PRAVEL_LARGE=1 to run the large-folder measurements";
        PaneFixture::SetUp();
    }
};

// Generated once and kept between runs (it takes a while under Wine).
std::wstring generatedFolder(const wchar_t* name, int n, int w, int h) {
    const std::wstring folder = tempFolder(name);
    const std::wstring done = folder + L"\\complete.txt";
    if (GetFileAttributesW(done.c_str()) == INVALID_FILE_ATTRIBUTES) {
        makeImages(folder, n, w, h);
        writeBytes(done, "ok");
    }
    return folder;
}

TEST_F(PaneLarge, FiftyThousandAndOneImagesStayResponsiveWithAScreenOfCells) {
    sizeBase(6 * pitchW(), 4 * pitchH());
    const std::wstring folder = generatedFolder(L"large50001", 50001, 6, 4);
    g_settings.useCache = 0;  // every file is decoded: the slowest load
    publishPaneSettings(g_settings);

    DelayProbes probes(pane.baseWindow, 4000);

    postPaneFolder(pane.outerWindow, folder.c_str());
    const double start = nowMs();
    PostMessageW(pane.outerWindow, kCrossThreadMessage, CodeLoadFolder, 1);
    const int marker = OuterMarker::seen;
    PostMessageW(pane.outerWindow, WM_APP + 1, 0, 0);
    int maxCells = 0;
    // While it loads: a pointer message every few milliseconds, and the cell windows counted.
    while (OuterMarker::seen == marker) {
        pump();
        if (g_paneBusy[0].load() == PaneLoading && probes.send() && probes.sent() % 8 == 0)
            SendMessageW(pane.baseWindow, WM_VSCROLL, MAKEWPARAM(SB_LINEDOWN, 0), 0);
        maxCells = std::max(maxCells, cellWindowCount());
        Sleep(20);
    }
    const double total = nowMs() - start;
    std::vector<double> delays;
    double worstAt = 0;
    for (const DelayProbes::Delay& d : probes.handled()) {
        if (delays.empty() || d.waited > *std::max_element(delays.begin(), delays.end())) worstAt = d.sentAt - start;
        delays.push_back(d.waited);
    }
    std::sort(delays.begin(), delays.end());
    const size_t answered = delays.size();
    auto quantile = [&](double q) { return delays.empty() ? 0.0 : delays[size_t(q * double(delays.size() - 1))]; };
    std::printf("[ MEASURED ] 50,001 files: load %.0f ms, %zu of %zu probes handled during the load, delay median "
                "%.1f ms, 99%% %.1f ms, largest %.1f ms (posted %.0f ms into the load), at most %d cell windows\n",
                total, answered, probes.sent(), quantile(0.5), quantile(0.99), quantile(1.0), worstAt, maxCells);

    ASSERT_EQ(pane.itemCount, 50000) << "the first 50,000 names";
    EXPECT_STREQ(pane.items[49999].name, L"img49999.bmp");
    EXPECT_GT(answered, 0u) << "pointer messages are handled while the folder loads";
    EXPECT_LE(maxCells, 6 * 5 + 7) << "about one screen of cells plus a row of spares";
    // The end of the folder scrolls into view with its own cells.
    SendMessageW(pane.baseWindow, WM_VSCROLL, MAKEWPARAM(SB_BOTTOM, 0), 0);
    SendMessageW(pane.baseWindow, WM_VSCROLL, MAKEWPARAM(SB_ENDSCROLL, 0), 0);
    EXPECT_NE(cell(49999), nullptr);
    EXPECT_EQ(cell(0), nullptr);
    EXPECT_LE(cellWindowCount(), 6 * 5 + 7);
}

// The newest write time among the cache's files.
uint64_t cacheWrittenAt(const std::wstring& cacheFolder) {
    uint64_t newest = 0;
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((cacheFolder + L"\\*.dat").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return 0;
    do {
        newest = std::max(newest, (uint64_t(fd.ftLastWriteTime.dwHighDateTime) << 32) | fd.ftLastWriteTime.dwLowDateTime);
    } while (FindNextFileW(h, &fd));
    FindClose(h);
    return newest;
}

TEST_F(PaneLarge, TenThousandCachedThumbnails) {
    // Large enough that every thumbnail's JPEG stream fits its record (a stream larger than
    // the raw pixels is left out of the cache, and such a file is decoded on every visit).
    const std::wstring folder = generatedFolder(L"cached10000_48x36", 10000, 48, 36);
    load(folder);
    ASSERT_EQ(pane.itemCount, 10000);
    const uint64_t written = cacheWrittenAt(cacheFolder);
    ASSERT_NE(written, 0u);
    Sleep(1100);  // a rewrite would show as a newer write time
    const double start = nowMs();
    load(folder);
    const double took = nowMs() - start;
    ASSERT_EQ(pane.itemCount, 10000);
    EXPECT_TRUE(pane.items[9999].hasThumbnail());
    EXPECT_EQ(pane.items[9999].cacheAvailable, 1);
    EXPECT_EQ(cacheWrittenAt(cacheFolder), written) << "every thumbnail came from the cache: nothing to rewrite";
    std::printf("[ MEASURED ] 10,000 cached thumbnails shown in %.0f ms\n", took);
}

}  // namespace
