// Folder loads with decoding threads against the one-thread load: the same items (pixels,
// facts, sizes, order) and the same cache files byte for byte, whatever names are in view;
// and a load stopped midway leaves no thread behind and no cache.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#include <tlhelp32.h>
#else
#include <dirent.h>
#include <pthread.h>
#include <unistd.h>
#endif

#include "thumb_test_support.h"
#include "base/platform_threads.h"
#include "thumbs/folder_loader.h"

namespace {

using thumbtest::scratchFolder;

size_t pixelBytes(const BitmapInfoHeader& h) {
    const int64_t height = h.biHeight < 0 ? -int64_t(h.biHeight) : h.biHeight;
    return size_t((int64_t(h.biWidth) * h.biBitCount + 31) / 32 * 4 * height);
}

void sleepMs(unsigned ms) {
#ifdef _WIN32
    Sleep(ms);
#else
    usleep(ms * 1000);
#endif
}

struct Pane : thumbtest::PaneStandIn {
    size_t filled = 0;
    // Copies shown ahead of their turn that the load then filled with another name or other
    // pixels, or that were put where an item was already filled.
    size_t misplacedPreviews = 0;
    size_t drops = 0;
    Pane() {
        hooks.itemReady = [this](size_t slot, const std::wstring& name, ThumbnailData& data, bool replaced) {
            ThumbnailItem& item = items[slot];
            if (!replaced && item.pixels &&
                (name != item.name || pixelBytes(item.bitmapInfo) != pixelBytes(data.header) ||
                 std::memcmp(item.pixels, data.pixels, pixelBytes(data.header)) != 0))
                ++misplacedPreviews;
            releaseItemThumbnail(item);
            fillThumbnailItem(item, data, name.c_str());
            if (!replaced) filled = slot + 1;
        };
        hooks.itemPreview = [this](size_t slot, const std::wstring& name, ThumbnailData& data) {
            if (slot < filled || slot >= items.size()) {
                ++misplacedPreviews;
                return;
            }
            releaseItemThumbnail(items[slot]);
            fillThumbnailItem(items[slot], data, name.c_str());
        };
        hooks.previewsDropped = [this] {
            ++drops;
            for (size_t i = filled; i < items.size(); ++i) {
                releaseItemThumbnail(items[i]);
                items[i] = ThumbnailItem{};
            }
        };
    }
};

std::string fileBytes(const std::wstring& path) {
    std::string bytes;
    if (!readWholeFile(path.c_str(), bytes)) return "<missing>";
    return bytes;
}

std::wstring sampleFolder() { return utf8ToWide(std::string(PRAVEL_TESTDATA) + "/../sample"); }

// Loads folder with one thread and with `workers` threads (the second time with the last
// few cells said to be in view, and a pause after the first file that lets the threads
// finish those first) into fresh caches and compares everything. *previews receives the
// count of copies shown ahead of their turn, each of which must have been the thumbnail its
// slot then received, and *drops how often they were dropped.
// Both loads start from a copy of the files in seedCache when one is given (a cache made
// before), and load with `settings` (its workers and cacheFolder are set here).
void copyFolderFiles(const std::wstring& from, const std::wstring& to) {
    std::vector<DirectoryEntry> entries;
    listDirectory(from.c_str(), L"*", entries);
    for (const DirectoryEntry& e : entries) {
        if (e.attributes & kAttributeDirectory) continue;
        std::string bytes;
        ASSERT_TRUE(readWholeFile(joinPath(from, e.name).c_str(), bytes));
        ASSERT_TRUE(writeWholeFile(joinPath(to, e.name).c_str(), bytes.data(), bytes.size()));
    }
}

void expectSameAsSerial(const std::wstring& folder, const wchar_t* tag, int32_t filter, int workers,
                        size_t* previews = nullptr, size_t* drops = nullptr, FolderLoadSettings settings = {},
                        const std::wstring& seedCache = {}) {
    settings.filter = filter;
    settings.workers = 1;
    const std::wstring serialFolder = scratchFolder(std::wstring(L"par_serial_") + tag);
    if (!seedCache.empty()) copyFolderFiles(seedCache, serialFolder);
    settings.cacheFolder = serialFolder;
    Pane serial;
    FolderLoadStats s;
    ASSERT_EQ(loadFolderThumbnails(folder, settings, serial.hooks, s), LoadStop::None);
    ASSERT_GT(s.shown, 1u);
    EXPECT_EQ(s.workers, 1);  // the one-thread load is one decoding thread

    settings.workers = workers;
    const std::wstring parallelFolder = scratchFolder(std::wstring(L"par_parallel_") + tag);
    if (!seedCache.empty()) copyFolderFiles(seedCache, parallelFolder);
    settings.cacheFolder = parallelFolder;
    Pane parallel;
    parallel.hooks.visibleSlots = [&s](size_t& first, size_t& end) {
        end = s.shown;
        first = end > 3 ? end - 3 : 0;
    };
    parallel.hooks.afterFile = [](size_t done, bool second) {
        if (!second && done == 1) sleepMs(1500);
        return LoadStop::None;
    };
    FolderLoadStats p;
    EXPECT_EQ(loadFolderThumbnails(folder, settings, parallel.hooks, p), LoadStop::None);
    EXPECT_EQ(parallel.misplacedPreviews, 0u);
    if (previews) *previews = p.previews;
    if (drops) *drops = parallel.drops;
    std::printf("[ PREVIEWS ] %s: %zu shown ahead, dropped %zu times\n", wideToUtf8(tag).c_str(), p.previews,
                parallel.drops);
    EXPECT_GT(p.workers, 0);
    EXPECT_EQ(p.decodedByWorkers, p.decoded);  // every decode on the threads
    EXPECT_EQ(p.shown, s.shown);
    EXPECT_EQ(p.failed, s.failed);
    EXPECT_EQ(p.decoded, s.decoded);
    EXPECT_EQ(p.fromCache, s.fromCache);
    EXPECT_EQ(p.refreshed, s.refreshed);
    EXPECT_EQ(p.secondPass, s.secondPass);
    EXPECT_EQ(p.cacheWritten, s.cacheWritten);
    EXPECT_EQ(p.cacheRecords, s.cacheRecords);

    ASSERT_EQ(parallel.items.size(), serial.items.size());
    for (size_t i = 0; i < serial.items.size(); ++i) {
        const ThumbnailItem& a = serial.items[i];
        const ThumbnailItem& b = parallel.items[i];
        const std::string where = wideToUtf8(a.name);
        ASSERT_EQ(std::wstring(a.name), std::wstring(b.name)) << i;
        EXPECT_EQ(std::memcmp(&a.bitmapInfo, &b.bitmapInfo, sizeof a.bitmapInfo), 0) << where;
        EXPECT_EQ(std::memcmp(&a.bitmapPalette, &b.bitmapPalette, sizeof a.bitmapPalette), 0) << where;
        EXPECT_TRUE(a.facts.lastWriteTime == b.facts.lastWriteTime) << where;
        EXPECT_EQ(a.facts.fileWidth, b.facts.fileWidth) << where;
        EXPECT_EQ(a.facts.fileHeight, b.facts.fileHeight) << where;
        EXPECT_EQ(a.facts.fileSize, b.facts.fileSize) << where;
        EXPECT_EQ(a.facts.format, b.facts.format) << where;
        EXPECT_EQ(a.facts.sourceDepth, b.facts.sourceDepth) << where;
        EXPECT_EQ(a.facts.commentCount, b.facts.commentCount) << where;
        EXPECT_EQ(a.facts.metaCount, b.facts.metaCount) << where;
        EXPECT_EQ(a.facts.interlaced, b.facts.interlaced) << where;
        EXPECT_EQ(a.thumbWidth, b.thumbWidth) << where;
        EXPECT_EQ(a.thumbHeight, b.thumbHeight) << where;
        EXPECT_EQ(a.displayWidth, b.displayWidth) << where;
        EXPECT_EQ(a.displayHeight, b.displayHeight) << where;
        EXPECT_EQ(a.cacheAvailable, b.cacheAvailable) << where;
        ASSERT_EQ(a.pixels == nullptr, b.pixels == nullptr) << where;
        if (a.pixels && a.thumbWidth > 0 && a.thumbHeight > 0) {
            const size_t bytes = rowStride24(a.thumbWidth) * size_t(a.thumbHeight);
            EXPECT_EQ(std::memcmp(a.pixels, b.pixels, bytes), 0) << where;
        }
    }

    // Every file of the two cache folders (index and data files) byte for byte.
    std::vector<DirectoryEntry> serialFiles, parallelFiles;
    listDirectory(serialFolder.c_str(), L"*", serialFiles);
    listDirectory(parallelFolder.c_str(), L"*", parallelFiles);
    ASSERT_EQ(serialFiles.size(), parallelFiles.size());
    ASSERT_GE(serialFiles.size(), 2u);
    for (const DirectoryEntry& e : serialFiles) {
        const std::string bytes = fileBytes(joinPath(serialFolder, e.name));
        EXPECT_GT(bytes.size(), 8u) << wideToUtf8(e.name);
        EXPECT_TRUE(fileBytes(joinPath(parallelFolder, e.name)) == bytes) << wideToUtf8(e.name) << " differs";
    }
}


TEST(ParallelLoad, SameItemsAndCacheAsOneThreadOnSampleAndOddFiles) {
    const std::wstring sample = sampleFolder();
    if (!isDirectory(sample.c_str())) GTEST_SKIP() << "no sample folder (tools/setup.sh)";
    expectSameAsSerial(sample, L"sample", 0, 3);

    // Names that lie about their format, and JPEGs that do not decode: a thread refuses
    // them and the loading thread makes what the one-thread load makes.
    const std::wstring odd = scratchFolder(L"par_odd");
    const auto copy = [&](const wchar_t* from, const wchar_t* to) {
        std::string bytes;
        ASSERT_TRUE(readWholeFile(joinPath(sample, from).c_str(), bytes));
        ASSERT_TRUE(writeWholeFile(joinPath(odd, to).c_str(), bytes.data(), bytes.size()));
    };
    copy(L"jpeg_grey_ladybird.jpg", L"a_grey.jpg");
    copy(L"png_rgb_garden.png", L"b_png_named.jpg");
    // Fails after the cells in view were shown ahead (the pause follows the first file), so
    // those copies are dropped and shown again one cell back.
    ASSERT_TRUE(writeWholeFile(joinPath(odd, L"b_qgarbage.jpg").c_str(), "\xFF\xD8garbage", 9));
    copy(L"jpeg_baseline_garden.jpg", L"c_jpeg_named.bmp");
    copy(L"broken_truncated.jpg", L"d_truncated.JPG");
    copy(L"jpeg_progressive_mouse.jpg", L"e_progressive.jpeg");
    copy(L"jpeg_exif_ladybird.jpg", L"f_exif.jpe");
    ASSERT_TRUE(writeWholeFile(joinPath(odd, L"g_empty.jpg").c_str(), "", 0));
    ASSERT_TRUE(writeWholeFile(joinPath(odd, L"h_garbage.jpg").c_str(), "\xFF\xD8\xFF\xE0garbage", 11));
    size_t drops = 0;
    expectSameAsSerial(odd, L"odd", 0, 2, nullptr, &drops);
    EXPECT_GT(drops, 0u);
}

TEST(ParallelLoad, SameItemsAndCacheAsOneThreadOnPhotos) {
    const std::wstring photos = utf8ToWide(std::string(PRAVEL_TESTDATA) + "/photos");
    if (!isDirectory(photos.c_str())) GTEST_SKIP() << "no photo set (tools/setup.sh)";
    // The JPEG ones: the others stay on one thread. The last three, in view, are shown
    // ahead while the load waits after its first file.
    size_t previews = 0;
    expectSameAsSerial(photos, L"photos", 3, 4, &previews);
    EXPECT_GT(previews, 0u);
}

// A stand-in for the plug-in host that knows "*.xyz" files whose first two bytes are their
// width and height (anything else it refuses), and notes how its calls were made.
// Which thread runs: the Windows builds have no std::thread (win32 thread model).
uintptr_t threadMark() {
#ifdef _WIN32
    return uintptr_t(GetCurrentThreadId());
#else
    return uintptr_t(pthread_self());
#endif
}

struct FakePlugins {
    static inline WorkerLock mutex;
    static inline std::vector<uintptr_t> callers;
    static inline std::atomic<int> inside{0}, mostInside{0}, calls{0};
    static inline DecodedImage record;  // the host's static record
    static DecodedImage* load(const wchar_t* path, DecodeCounters& counters) {
        ++calls;
        const int now = ++inside;
        for (int seen = mostInside.load(); now > seen && !mostInside.compare_exchange_weak(seen, now);) {
        }
        {
            WorkerLockScope hold(mutex);
            callers.push_back(threadMark());
        }
        sleepMs(2);  // long enough for a second call to overlap if one could
        std::string bytes;
        DecodedImage* result = nullptr;
        if (readWholeFile(path, bytes) && bytes.size() >= 3 && bytes[2] == 'x') {
            const int32_t w = uint8_t(bytes[0]), h = uint8_t(bytes[1]);
            record = DecodedImage{};
            record.header.biWidth = w;
            record.header.biHeight = h;
            record.header.biBitCount = 24;
            record.sourceDepth = 24;
            record.fileSize = uint32_t(bytes.size());
            const size_t size = rowStride24(w) * size_t(h);
            record.pixels = static_cast<uint8_t*>(pageAlloc(size));
            for (size_t i = 0; i < size; ++i) record.pixels[i] = uint8_t(i * 7 + w);
            counters = DecodeCounters{};
            counters.fileWidth = w;
            counters.fileHeight = h;
            result = &record;
        }
        --inside;
        return result;
    }
    static void reset() {
        callers.clear();
        inside = mostInside = calls = 0;
    }
};

struct PluginScope {
    PluginScope() {
        FakePlugins::reset();
        g_pluginLoader = &FakePlugins::load;
    }
    ~PluginScope() { g_pluginLoader = nullptr; }
};

void writeXyz(const std::wstring& folder, const std::wstring& name, int w, int h) {
    const char bytes[4] = {char(w), char(h), 'x', 0};
    ASSERT_TRUE(writeWholeFile(joinPath(folder, name).c_str(), bytes, sizeof bytes));
}

// The sample files with plug-in files among them: some the plug-in makes, one it refuses,
// and a PNG no built-in decoder reads that it is offered too.
std::wstring makeMixedFolder() {
    const std::wstring sample = sampleFolder();
    const std::wstring mixed = scratchFolder(L"par_mixed");
    copyFolderFiles(sample, mixed);
    writeXyz(mixed, L"a_plugin.xyz", 200, 150);
    writeXyz(mixed, L"m_plugin.xyz", 31, 17);
    writeXyz(mixed, L"z_plugin.xyz", 150, 255);
    EXPECT_TRUE(writeWholeFile(joinPath(mixed, L"n_refused.xyz").c_str(), "??", 2));
    EXPECT_TRUE(writeWholeFile(joinPath(mixed, L"o_broken.png").c_str(), "\x89PNG\r\n\x1a\nbroken", 14));
    return mixed;
}

// Loads folder once into cacheFolder for a cell of the given size; true when its cache was written.
bool makeCache(const std::wstring& folder, FolderLoadSettings settings, const std::wstring& cacheFolder,
               int32_t cellWidth, int32_t cellHeight) {
    settings.cacheFolder = cacheFolder;
    settings.cellWidth = cellWidth;
    settings.cellHeight = cellHeight;
    thumbtest::PaneStandIn pane;
    pane.hooks.itemReady = [&pane](size_t slot, const std::wstring& name, ThumbnailData& data, bool) {
        releaseItemThumbnail(pane.items[slot]);
        fillThumbnailItem(pane.items[slot], data, name.c_str());
    };
    FolderLoadStats stats;
    return loadFolderThumbnails(folder, settings, pane.hooks, stats) == LoadStop::None && stats.cacheWritten;
}

TEST(ParallelLoad, MixedFolderWithPluginsColdWarmAndSecondPassAsOneThread) {
    if (!isDirectory(sampleFolder().c_str())) GTEST_SKIP() << "no sample folder (tools/setup.sh)";
    PluginScope plugins;
    const std::wstring mixed = makeMixedFolder();
    FolderLoadSettings settings;
    settings.pluginExtensions = {L".xyz"};
    expectSameAsSerial(mixed, L"mixed_cold", 0, 3, nullptr, nullptr, settings);
    EXPECT_EQ(FakePlugins::mostInside.load(), 1);

    // Partly warm: a cache of the folder, then two files changed and one added, so that
    // cache entries, stale entries and new files meet in one load.
    const std::wstring seed = scratchFolder(L"par_mixed_seed");
    ASSERT_TRUE(makeCache(mixed, settings, seed, 148, 111));
    const FileTime later = FileTime::fromValue(133000000000000000ull);
    ASSERT_TRUE(setLastWriteTime(joinPath(mixed, L"png_rgb_garden.png").c_str(), later));
    ASSERT_TRUE(setLastWriteTime(joinPath(mixed, L"m_plugin.xyz").c_str(), later));
    writeXyz(mixed, L"b_new.xyz", 90, 60);
    expectSameAsSerial(mixed, L"mixed_warm", 0, 2, nullptr, nullptr, settings, seed);

    // A cache made for a smaller cell: the second pass decodes everything again.
    const std::wstring small = scratchFolder(L"par_mixed_small");
    ASSERT_TRUE(makeCache(mixed, settings, small, 96, 72));
    expectSameAsSerial(mixed, L"mixed_second", 0, 3, nullptr, nullptr, settings, small);
    EXPECT_EQ(FakePlugins::mostInside.load(), 1);
}

TEST(ParallelLoad, PluginCallsOneAtATimeAcrossLoadsAndNeverOnTheLoadingThread) {
    if (!isDirectory(sampleFolder().c_str())) GTEST_SKIP() << "no sample folder (tools/setup.sh)";
    PluginScope plugins;
    const std::wstring mixed = makeMixedFolder();
    for (int k = 0; k < 12; ++k) writeXyz(mixed, L"p" + std::to_wstring(k) + L".xyz", 20 + k, 30);
    // Two panes load at once, each with its own decoding threads and plug-in thread.
    uintptr_t loaders[2] = {};
    size_t shown[2] = {};
    const auto run = [&](int which) {
        FolderLoadSettings settings;
        settings.pluginExtensions = {L".xyz"};
        settings.useCache = false;
        settings.workers = 2;
        thumbtest::PaneStandIn pane;
        pane.hooks.listed = [&pane, &loaders, which](size_t n) {
            loaders[which] = threadMark();
            pane.items.assign(n, ThumbnailItem{});
            return true;
        };
        pane.hooks.itemReady = [&pane](size_t slot, const std::wstring& name, ThumbnailData& data, bool) {
            fillThumbnailItem(pane.items[slot], data, name.c_str());
        };
        FolderLoadStats stats;
        loadFolderThumbnails(mixed, settings, pane.hooks, stats);
        shown[which] = stats.shown;
    };
    struct Run {
        decltype(run)* body;
        int which;
    } first{&run, 0}, second{&run, 1};
    const auto entry = [](void* p) {
        const Run& r = *static_cast<Run*>(p);
        (*r.body)(r.which);
    };
    WorkerThread a, b;
    ASSERT_TRUE(a.start(entry, &first));
    ASSERT_TRUE(b.start(entry, &second));
    a.join();
    b.join();
    EXPECT_EQ(shown[0], shown[1]);
    EXPECT_EQ(FakePlugins::mostInside.load(), 1);
    // Every .xyz (16) and the broken PNG, in each load.
    EXPECT_GE(FakePlugins::calls.load(), 2 * 17);
    for (uintptr_t caller : FakePlugins::callers) {
        EXPECT_NE(caller, loaders[0]);
        EXPECT_NE(caller, loaders[1]);
    }
}

TEST(ParallelLoad, ThreadsRunABoundedNumberOfThumbnailsAhead) {
    PluginScope plugins;
    const std::wstring folder = scratchFolder(L"par_bound");
    for (int k = 0; k < 120; ++k) writeXyz(folder, L"f" + std::to_wstring(1000 + k) + L".xyz", 8, 8);
    FolderLoadSettings settings;
    settings.pluginExtensions = {L".xyz"};
    settings.useCache = false;
    settings.workers = 2;
    thumbtest::PaneStandIn pane;
    int madeWhileStalled = -1;
    // The loading thread stalls after its first file; the threads must stop well short of
    // the whole folder and go on once it moves again.
    pane.hooks.afterFile = [&](size_t done, bool) {
        if (done == 1 && madeWhileStalled < 0) {
            sleepMs(600);
            madeWhileStalled = FakePlugins::calls.load();
        }
        return LoadStop::None;
    };
    FolderLoadStats stats;
    ASSERT_EQ(loadFolderThumbnails(folder, settings, pane.hooks, stats), LoadStop::None);
    EXPECT_EQ(stats.shown, 120u);
    EXPECT_GT(madeWhileStalled, 8);
    EXPECT_LE(madeWhileStalled, 1 + 32 + 1);
}

int threadCount() {
#ifdef _WIN32
    const DWORD self = GetCurrentProcessId();
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return -1;
    THREADENTRY32 entry;
    entry.dwSize = sizeof entry;
    int n = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        if (entry.th32OwnerProcessID == self) ++n;
    CloseHandle(snapshot);
    return n;
#else
    DIR* dir = opendir("/proc/self/task");
    if (!dir) return -1;
    int n = 0;
    while (dirent* e = readdir(dir))
        if (e->d_name[0] != '.') ++n;
    closedir(dir);
    return n;
#endif
}

// The threads a stopped load left to finish their file have all ended, and so have their
// system threads (which go a moment after the count drops); false when that takes longer
// than a bound far beyond any file here.
bool threadsEndedBackTo(int before) {
    if (!waitForDecodingThreads(30000)) return false;
    for (int i = 0; i < 3000; ++i) {
        if (threadCount() == before) return true;
        sleepMs(10);
    }
    return false;
}

TEST(ParallelLoad, StopMidwayEndsEveryThreadAndWritesNoCache) {
    const std::wstring photos = utf8ToWide(std::string(PRAVEL_TESTDATA) + "/photos");
    if (!isDirectory(photos.c_str())) GTEST_SKIP() << "no photo set (tools/setup.sh)";
    const int before = threadCount();
    FolderLoadSettings settings;
    settings.filter = 3;
    settings.workers = 4;
    settings.cacheFolder = scratchFolder(L"par_stop");
    Pane pane;
    pane.stopAfter = 3;
    FolderLoadStats stats;
    EXPECT_EQ(loadFolderThumbnails(photos, settings, pane.hooks, stats), LoadStop::Clear);
    EXPECT_EQ(stats.workers, 4);
    EXPECT_LE(stats.shown, 3u);
    EXPECT_FALSE(stats.cacheWriteAttempted);
    EXPECT_TRUE(threadsEndedBackTo(before));
    std::vector<DirectoryEntry> left;
    listDirectory(settings.cacheFolder.c_str(), L"*", left);
    EXPECT_TRUE(left.empty()) << wideToUtf8(left.empty() ? L"" : left[0].name);

    // A stop asked from another thread while the loader waits for the threads.
    std::atomic<LoadStop> stop{LoadStop::None};
    pane.stopAfter = 0;
    pane.hooks.afterFile = [&stop](size_t done, bool) {
        if (done >= 1) stop.store(LoadStop::EndThread);
        return LoadStop::None;
    };
    EXPECT_EQ(loadFolderThumbnails(photos, settings, pane.hooks, stats, &stop), LoadStop::EndThread);
    EXPECT_TRUE(threadsEndedBackTo(before));
    left.clear();
    listDirectory(settings.cacheFolder.c_str(), L"*", left);
    EXPECT_TRUE(left.empty());
}

// A plug-in call that does not return until the test lets it: the load that stops meanwhile
// must come back without it, and the call, once let go, ends its thread by itself on the
// pool's own copies (the loader's names and folder are gone by then; the sanitizers see any
// use of them).
struct BlockingPlugin {
    static inline WorkerSemaphore entered, letGo;
    static inline std::atomic<bool> letGoInTime{false};
    static DecodedImage* load(const wchar_t* path, DecodeCounters& counters) {
        entered.release();
        // Bounded only so that a loader that waits for this call fails instead of hanging.
        letGoInTime = letGo.wait(60000);
        return FakePlugins::load(path, counters);
    }
};

TEST(ParallelLoad, StopDuringAPluginCallThatDoesNotReturnComesBackWithoutIt) {
    PluginScope plugins;
    g_pluginLoader = &BlockingPlugin::load;
    const int before = threadCount();
    const std::wstring folder = scratchFolder(L"par_blocked");
    for (int k = 0; k < 4; ++k) writeXyz(folder, L"b" + std::to_wstring(k) + L".xyz", 12, 9);
    FolderLoadSettings settings;
    settings.pluginExtensions = {L".xyz"};
    settings.workers = 2;
    settings.cacheFolder = scratchFolder(L"par_blocked_cache");
    thumbtest::PaneStandIn pane;
    bool inCall = false;
    pane.hooks.afterFile = [&inCall](size_t, bool) {
        if (!inCall) inCall = BlockingPlugin::entered.wait(0);
        return inCall ? LoadStop::EndThread : LoadStop::None;
    };
    FolderLoadStats stats;
    EXPECT_EQ(loadFolderThumbnails(folder, settings, pane.hooks, stats), LoadStop::EndThread);
    EXPECT_TRUE(inCall);
    EXPECT_EQ(stats.shown, 0u);
    EXPECT_FALSE(stats.cacheWriteAttempted);
    EXPECT_GE(decodingThreadsRunning(), 1) << "the plug-in thread is still in its call";

    BlockingPlugin::letGo.release();
    EXPECT_TRUE(threadsEndedBackTo(before));
    EXPECT_TRUE(BlockingPlugin::letGoInTime.load()) << "the load waited for the plug-in call";
    EXPECT_EQ(FakePlugins::calls.load(), 1) << "no further call after the stop";
    std::vector<DirectoryEntry> left;
    listDirectory(settings.cacheFolder.c_str(), L"*", left);
    EXPECT_TRUE(left.empty());
}

}  // namespace
