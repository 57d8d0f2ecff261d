// A live pane loading 400 camera photos without a cache, once with one decoding thread and
// once with one per processor: how long until the first screen is filled, how long until a
// screen scrolled to at the folder's end is filled, and how long a message posted to the
// pane waits meanwhile (printed, never asserted: measurements, run on request).
#include "test_pane_support.h"

#include <algorithm>
#include <cstdio>

#include "thumbs/folder_loader.h"

using namespace panetest;

namespace {

class PaneParallel : public PaneFixture {
protected:
    void SetUp() override {
        if (!largeRunsRequested())
            GTEST_SKIP() << "set PRAVEL_LARGE=1 to run the 400-photo measurements";
        PaneFixture::SetUp();
        running = true;
    }
    void TearDown() override {
        setAutomaticLoadWorkers(0);
        if (running) PaneFixture::TearDown();  // a skipped test started no pane thread
    }
    bool running = false;
};

// 400 names linked to the JPEG photographs of the test data, made once.
std::wstring photoFolder() {
    const std::wstring folder = tempFolder(L"photos400");
    const std::wstring done = folder + L"\\complete.txt";
    if (GetFileAttributesW(done.c_str()) != INVALID_FILE_ATTRIBUTES) return folder;
    std::vector<std::wstring> photos;
    wchar_t source[MAX_PATH];
    MultiByteToWideChar(CP_UTF8, 0, PRAVEL_TESTDATA "/photos", -1, source, MAX_PATH);
    for (wchar_t* p = source; *p; ++p)
        if (*p == L'/') *p = L'\\';
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((std::wstring(source) + L"\\*.jpg").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return L"";
    do photos.push_back(std::wstring(source) + L"\\" + fd.cFileName);
    while (FindNextFileW(h, &fd));
    FindClose(h);
    std::sort(photos.begin(), photos.end());
    for (int i = 0; i < 400; ++i) {
        wchar_t name[32];
        wsprintfW(name, L"\\photo%03d.jpg", i);
        const std::wstring& from = photos[size_t(i) % photos.size()];
        if (!CreateHardLinkW((folder + name).c_str(), from.c_str(), nullptr)) CopyFileW(from.c_str(), (folder + name).c_str(), FALSE);
    }
    writeBytes(done, "ok");
    return folder;
}

// What the user sees: a thumbnail in each cell, filled in its turn or shown ahead of it.
bool filled(const ThumbnailPane& pane, int first, int end) {
    if (pane.itemCount < end) return false;
    for (int i = first; i < end; ++i)
        if (!pane.items[i].pixels) return false;
    return true;
}

TEST_F(PaneParallel, FirstScreenAndScrolledToEndScreen) {
    const std::wstring folder = photoFolder();
    ASSERT_FALSE(folder.empty()) << "no photo set";
    sizeBase(6 * pitchW(), 4 * pitchH());
    g_settings.useCache = 0;
    publishPaneSettings(g_settings);
    constexpr int kScreen = 24, kNames = 400;
    for (int workers : {1, 0}) {
        setAutomaticLoadWorkers(workers);
        load(L"");  // an empty pane for the next load
        DelayProbes probes(pane.baseWindow, 20000);

        lstrcpynW(pane.folder, folder.c_str(), kPathCapacity);
        const double start = nowMs();
        PostMessageW(pane.outerWindow, kCrossThreadMessage, CodeLoadFolder, 1);
        const int marker = OuterMarker::seen;
        PostMessageW(pane.outerWindow, WM_APP + 1, 0, 0);
        double firstScreen = 0, endScreen = 0;
        bool scrolled = false;
        int endFirst = 0, endEnd = 0;
        while (OuterMarker::seen == marker) {
            pump();
            const bool loading = g_paneBusy[0].load() == PaneLoading;
            if (loading) probes.send();
            if (!firstScreen && pane.itemCount == kNames && filled(pane, 0, kScreen)) firstScreen = nowMs() - start;
            if (!scrolled && loading && pane.itemCount == kNames && firstScreen) {
                // The user scrolls to the end once the first screen is there.
                SendMessageW(pane.baseWindow, WM_VSCROLL, MAKEWPARAM(SB_BOTTOM, 0), 0);
                SendMessageW(pane.baseWindow, WM_VSCROLL, MAKEWPARAM(SB_ENDSCROLL, 0), 0);
                scrolled = true;
                endFirst = pane.cellFirst;  // the cells now in view (the last row is short)
                endEnd = pane.cellEnd;
            }
            if (scrolled && !endScreen && filled(pane, endFirst, endEnd)) endScreen = nowMs() - start;
            Sleep(5);
        }
        const double total = nowMs() - start;
        const std::vector<DelayProbes::Delay> handled = probes.handled();
        const double largest = DelayProbes::largest(handled);
        const size_t answered = handled.size();
        std::printf("[ MEASURED ] 400 photos, %s: first screen %.0f ms, scrolled-to end screen %.0f ms, whole load "
                    "%.0f ms; %zu of %zu probes handled, largest delay %.1f ms\n",
                    workers == 1 ? "one decoding thread" : "one per processor", firstScreen, endScreen, total, answered,
                    probes.sent(), largest);
        EXPECT_EQ(pane.itemCount, kNames);
        EXPECT_GT(firstScreen, 0);
        // With decoding threads the screen scrolled to is shown ahead of the load's turn.
        if (workers != 1) {
            EXPECT_LT(endScreen, total);
        }
    }
}

}  // namespace
