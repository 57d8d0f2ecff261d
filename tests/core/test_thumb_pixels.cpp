// A pane's pixels within a budget: which items keep them, and that a thumbnail decoded back
// from what an item keeps (its own stream, or its record in the data file) is exactly what a
// visit from the cache shows; and that the streams made with the thumbnails are the bytes
// the cache write would have compressed.
#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include "thumb_test_support.h"
#include "thumbs/pane_pixels.h"

namespace {

using thumbtest::scratchFolder;

// ---------------------------------------------------------------- the keep range

std::vector<ThumbnailItem> itemsOf(int count, int32_t w, int32_t h) {
    std::vector<ThumbnailItem> items(static_cast<size_t>(count), ThumbnailItem{});
    for (ThumbnailItem& i : items) {
        i.thumbWidth = w;
        i.thumbHeight = h;
    }
    return items;
}

TEST(PixelKeepRange, ViewAlwaysThenAMarginOnBothSidesWithinTheBudget) {
    // 100 x 100 at 24 bits: 30,000 bytes an item.
    std::vector<ThumbnailItem> items = itemsOf(200, 100, 100);
    const size_t each = 30000;
    int lo = 0, hi = 0;
    std::vector<int> order;

    // Plenty of budget: one view's worth on each side, no more.
    pixelKeepRange(items.data(), 200, 50, 60, 1000 * each, &lo, &hi, &order);
    EXPECT_EQ(lo, 40);
    EXPECT_EQ(hi, 70);
    ASSERT_EQ(order.size(), 30u);
    for (int k = 0; k < 10; ++k) EXPECT_EQ(order[size_t(k)], 50 + k) << "the view first, in its order";
    EXPECT_EQ(order[10], 60);  // then outwards, after the view first
    EXPECT_EQ(order[11], 49);

    // A budget of 13 items: the view and three more, after, before, after.
    pixelKeepRange(items.data(), 200, 50, 60, 13 * each, &lo, &hi, &order);
    EXPECT_EQ(lo, 49);
    EXPECT_EQ(hi, 62);
    EXPECT_EQ(order.size(), 13u);

    // A view larger than the budget still keeps every cell in it, and nothing else.
    pixelKeepRange(items.data(), 200, 50, 60, 3 * each, &lo, &hi, &order);
    EXPECT_EQ(lo, 50);
    EXPECT_EQ(hi, 60);

    // At the ends the margin is cut by the folder, and the other side still grows.
    pixelKeepRange(items.data(), 200, 0, 10, 1000 * each, &lo, &hi, &order);
    EXPECT_EQ(lo, 0);
    EXPECT_EQ(hi, 20);
    pixelKeepRange(items.data(), 200, 195, 230, 1000 * each, &lo, &hi, &order);
    EXPECT_EQ(lo, 190);
    EXPECT_EQ(hi, 200);
}

// ---------------------------------------------------------------- decoding back

struct Pane : thumbtest::PaneStandIn {
    std::shared_ptr<FolderCache> table;
    Pane() {
        hooks.itemReady = [this](size_t slot, const std::wstring& name, ThumbnailData& data, bool replaced) {
            if (replaced) releaseItemThumbnail(items[slot]);
            fillThumbnailItem(items[slot], data, name.c_str());
        };
    }
    void keepRecords() {
        hooks.recordsIn = [this](const std::shared_ptr<FolderCache>& t) { table = t; };
        hooks.recordMoved = [this](size_t slot, uint32_t record) {
            pageFree(items[slot].stream);
            items[slot].stream = nullptr;
            items[slot].streamSize = 0;
            items[slot].cacheRecord = record;
        };
    }
};

size_t bytesOf(const ThumbnailItem& i) { return rowStride24(i.thumbWidth) * size_t(i.thumbHeight); }

// A folder of BMPs larger and smaller than the 148 x 111 cell, in colours that JPEG cannot
// keep exactly, so that a decoded stream differs from the pixels it was made from.
std::wstring makeFolder(const wchar_t* name) {
    const std::wstring folder = scratchFolder(name);
    const int sizes[][2] = {{600, 400}, {40, 30}, {148, 111}, {30, 900}, {333, 250}, {149, 111}, {70, 50}, {800, 600}};
    int n = 0;
    for (const auto& s : sizes) {
        const std::wstring file = joinPath(folder, L"f" + std::to_wstring(n++) + L".bmp");
        EXPECT_TRUE(thumbtest::writeTestBmp(file, s[0], s[1], [n](int x, int y) {
            return uint32_t((x * 37 + y * 11 + n * 50) & 0xFF) | uint32_t(((x ^ y) * 5) & 0xFF) << 8 |
                   uint32_t((y * 3 + n) & 0xFF) << 16;
        }));
    }
    return folder;
}

// What a job for item i of pane decodes to, from its stream or its record.
PixelResult decodeBack(const Pane& pane, size_t i) {
    const ThumbnailItem& item = pane.items[i];
    PixelJob job;
    job.slot = int(i);
    job.width = item.thumbWidth;
    job.height = item.thumbHeight;
    if (item.stream)
        job.stream.assign(item.stream, item.stream + item.streamSize);
    else if (item.cacheRecord && pane.table)
        EXPECT_TRUE(pane.table->copyRecordStream(item.cacheRecord - 1, job.stream));
    ImageDecoder decoder;
    PixelResult result;
    EXPECT_TRUE(decodePixelJob(decoder, job, result)) << i;
    return result;
}

void expectSamePixels(const Pane& reference, const Pane& pane, size_t i, const PixelResult& back) {
    const ThumbnailItem& want = reference.items[i];
    ASSERT_NE(want.pixels, nullptr);
    ASSERT_NE(back.pixels, nullptr) << i;
    EXPECT_EQ(std::wstring(pane.items[i].name), std::wstring(want.name));
    EXPECT_EQ(back.header.biWidth, want.bitmapInfo.biWidth) << i;
    EXPECT_EQ(back.header.biHeight, want.bitmapInfo.biHeight) << i;
    EXPECT_EQ(std::memcmp(&back.header, &want.bitmapInfo, sizeof back.header), 0) << i;
    EXPECT_EQ(std::memcmp(back.pixels, want.pixels, bytesOf(want)), 0) << "pixels of " << wideToUtf8(want.name);
}

TEST(PixelsBack, ScrolledAwayAndBackEqualsAVisitFromTheCache) {
    const std::wstring folder = makeFolder(L"pix_back");
    FolderLoadSettings settings;
    settings.cacheFolder = scratchFolder(L"pix_back_cache");

    // Cold: every item comes with its pixels and the stream the cache stores.
    Pane cold;
    FolderLoadStats s;
    ASSERT_EQ(loadFolderThumbnails(folder, settings, cold.hooks, s), LoadStop::None);
    ASSERT_EQ(s.shown, 8u);
    ASSERT_TRUE(s.cacheWritten);
    for (const ThumbnailItem& i : cold.items) {
        EXPECT_NE(i.pixels, nullptr);
        EXPECT_NE(i.stream, nullptr) << wideToUtf8(i.name);
        EXPECT_EQ(i.cacheRecord, 0u);
    }

    // The streams are what compressing the pixels at write time makes: the same data file.
    const CacheLocation location{settings.cacheFolder, settings.cellWidth, settings.cellHeight};
    std::string written, recompressed;
    ASSERT_TRUE(readWholeFile(cacheDataPath(location, kFirstDataFileNumber).c_str(), written));
    {
        std::vector<CacheItemView> views;
        for (const ThumbnailItem& i : cold.items) {
            CacheItemView v = cacheViewOf(i);
            v.stream = nullptr;  // only the pixels: the old way
            views.push_back(v);
        }
        const CacheLocation other{scratchFolder(L"pix_back_recompressed"), settings.cellWidth, settings.cellHeight};
        ASSERT_TRUE(writeFolderCache(other, folder, views.data(), views.size()));
        ASSERT_TRUE(readWholeFile(cacheDataPath(other, kFirstDataFileNumber).c_str(), recompressed));
    }
    EXPECT_TRUE(written == recompressed) << "the data file is byte-identical to one compressed from the pixels";

    // A visit from the cache that decodes every stream: what the user is shown today.
    Pane visit;
    ASSERT_EQ(loadFolderThumbnails(folder, settings, visit.hooks, s), LoadStop::None);
    ASSERT_EQ(s.fromCache, 8u);
    // A cold item scrolled away (pixels dropped) and back shows the same.
    for (size_t i = 0; i < cold.items.size(); ++i) {
        PixelResult back = decodeBack(cold, i);
        expectSamePixels(visit, cold, i, back);
        pageFree(back.pixels);
    }

    // A warm visit that decodes only the cells in view: the others keep their records, and
    // decoding those back shows the same as well.
    Pane warm;
    warm.keepRecords();
    settings.warmPixelsInViewOnly = true;
    warm.hooks.visibleSlots = [](size_t& first, size_t& end) {
        first = 2;
        end = 4;
    };
    ASSERT_EQ(loadFolderThumbnails(folder, settings, warm.hooks, s), LoadStop::None);
    EXPECT_EQ(s.fromCache, 8u);
    EXPECT_EQ(s.withoutPixels, 6u) << "only the two names in view were decoded";
    ASSERT_NE(warm.table, nullptr);
    for (size_t i = 0; i < warm.items.size(); ++i) {
        const ThumbnailItem& item = warm.items[i];
        EXPECT_EQ(item.pixels != nullptr, i == 2 || i == 3) << i;
        EXPECT_EQ(item.stream, nullptr);
        ASSERT_NE(item.cacheRecord, 0u);
        EXPECT_EQ(item.displayWidth, visit.items[i].displayWidth);
        EXPECT_EQ(item.displayHeight, visit.items[i].displayHeight);
        EXPECT_EQ(std::memcmp(&item.bitmapInfo, &visit.items[i].bitmapInfo, sizeof item.bitmapInfo), 0) << i;
        PixelResult back = decodeBack(warm, i);
        expectSamePixels(visit, warm, i, back);
        pageFree(back.pixels);
    }
}

TEST(PixelsBack, AfterTheWriteItemsNameTheNewFileAndTheRestorerDecodesThem) {
    const std::wstring folder = makeFolder(L"pix_moved");
    FolderLoadSettings settings;
    settings.cacheFolder = scratchFolder(L"pix_moved_cache");
    settings.warmPixelsInViewOnly = true;
    Pane visit;
    FolderLoadStats s;

    // Cold, with a receiver of the records: after the write no item holds a stream.
    Pane pane;
    pane.keepRecords();
    ASSERT_EQ(loadFolderThumbnails(folder, settings, pane.hooks, s), LoadStop::None);
    ASSERT_TRUE(s.cacheWritten);
    EXPECT_TRUE(s.recordsMoved);
    ASSERT_NE(pane.table, nullptr);
    EXPECT_EQ(pane.table->count(), 8u);
    for (const ThumbnailItem& i : pane.items) {
        EXPECT_EQ(i.stream, nullptr);
        EXPECT_NE(i.cacheRecord, 0u);
    }

    // One file changes: the rewrite copies the other records as they are and the items
    // follow into the new file; the old one is gone once nothing reads it.
    ASSERT_TRUE(setLastWriteTime(joinPath(folder, L"f3.bmp").c_str(), FileTime::fromValue(130000000000000000ULL)));
    const CacheLocation location{settings.cacheFolder, settings.cellWidth, settings.cellHeight};
    std::string before;
    ASSERT_TRUE(readWholeFile(cacheDataPath(location, kFirstDataFileNumber).c_str(), before));
    ASSERT_EQ(loadFolderThumbnails(folder, settings, pane.hooks, s), LoadStop::None);
    EXPECT_EQ(s.decoded, 1u);
    ASSERT_TRUE(s.cacheWritten);
    EXPECT_TRUE(s.recordsMoved);
    std::wstring dataPath;
    ASSERT_TRUE(folderDataPath(location, folder, dataPath));
    std::string after;
    ASSERT_TRUE(readWholeFile(dataPath.c_str(), after));
    EXPECT_EQ(after.size(), before.size()) << "the same streams, only f3's facts changed";
    std::vector<DirectoryEntry> dataFiles;
    listDirectory(settings.cacheFolder.c_str(), L"1*.dat", dataFiles);
    EXPECT_EQ(dataFiles.size(), 1u) << "no data file is left that no record names";

    // Through the restorer's threads, as the pane asks: every item, back as a visit shows it.
    settings.warmPixelsInViewOnly = false;
    ASSERT_EQ(loadFolderThumbnails(folder, settings, visit.hooks, s), LoadStop::None);
    PixelRestorer restorer;
    std::vector<PixelJob> jobs;
    for (size_t i = 0; i < pane.items.size(); ++i) {
        PixelJob job;
        job.slot = int(i);
        job.ticket = uint32_t(i + 1);
        job.width = pane.items[i].thumbWidth;
        job.height = pane.items[i].thumbHeight;
        ASSERT_TRUE(pane.table->copyRecordStream(pane.items[i].cacheRecord - 1, job.stream));
        jobs.push_back(std::move(job));
    }
    restorer.submit(jobs);
    size_t got = 0;
    std::vector<bool> seen(pane.items.size(), false);
    while (got < pane.items.size()) {
        PixelResult r;
        if (!restorer.take(r)) {
            WorkerSemaphore pause;
            pause.wait(5);
            continue;
        }
        ++got;
        ASSERT_LT(size_t(r.slot), pane.items.size());
        EXPECT_EQ(r.ticket, uint32_t(r.slot + 1));
        EXPECT_FALSE(seen[size_t(r.slot)]);
        seen[size_t(r.slot)] = true;
        expectSamePixels(visit, pane, size_t(r.slot), r);
        pageFree(r.pixels);
    }
}

// "n000.bmp" to count - 1 in a new folder, loaded once cold into a new cache folder of settings.
std::wstring cachedNumberedFolder(const std::wstring& tag, int count, FolderLoadSettings& settings) {
    const std::wstring folder = scratchFolder(tag.c_str());
    for (int n = 0; n < count; ++n) {
        wchar_t name[16];
        std::swprintf(name, 16, L"n%03d.bmp", n);
        EXPECT_TRUE(thumbtest::writeTestBmp(joinPath(folder, name), 20 + n % 7, 15 + n % 5, [n](int x, int y) {
            return uint32_t((x * 9 + n) & 0xFF) | uint32_t((y * 13 + x) & 0xFF) << 8;
        }));
    }
    settings.cacheFolder = scratchFolder((tag + L"_cache").c_str());
    FolderLoadStats s;
    Pane cold;
    EXPECT_EQ(loadFolderThumbnails(folder, settings, cold.hooks, s), LoadStop::None);
    EXPECT_TRUE(s.cacheWritten);
    return folder;
}

// A warm visit of a folder longer than the loader looks ahead, the view at its top or far
// down, two files changed since the cache was written, with threads and without: the cells
// in view and the changed files get pixels, every other item only its record, in list order.
TEST(PixelsBack, WarmLoadOfALongFolderWithTheViewAtTheTopOrFarDownAndTwoChangedFiles) {
    FolderLoadSettings settings;
    const std::wstring folder = cachedNumberedFolder(L"pix_long", 100, settings);
    std::vector<std::wstring> names;
    for (int n = 0; n < 100; ++n) {
        wchar_t name[16];
        std::swprintf(name, 16, L"n%03d.bmp", n);
        names.push_back(name);
    }
    FolderLoadStats s;
    settings.warmPixelsInViewOnly = true;
    uint64_t stamp = 130000000000000000ULL;
    struct Case {
        int32_t workers;
        size_t first, end;
    };
    for (const Case c : {Case{2, 80, 84}, Case{1, 80, 84}, Case{2, 2, 6}, Case{1, 2, 6}}) {
        SCOPED_TRACE(std::to_string(c.workers) + " workers, view from " + std::to_string(c.first));
        settings.workers = c.workers;
        for (const wchar_t* changed : {L"n010.bmp", L"n081.bmp"})
            ASSERT_TRUE(setLastWriteTime(joinPath(folder, changed).c_str(), FileTime::fromValue(stamp += 10000000)));
        Pane warm;
        warm.keepRecords();
        warm.hooks.visibleSlots = [c](size_t& first, size_t& end) {
            first = c.first;
            end = c.end;
        };
        ASSERT_EQ(loadFolderThumbnails(folder, settings, warm.hooks, s), LoadStop::None);
        EXPECT_EQ(s.shown, 100u);
        EXPECT_EQ(s.decoded, 2u);
        EXPECT_EQ(s.fromCache, 98u);
        const size_t changedInView = c.first <= 81 && 81 < c.end ? 1 : 0;
        EXPECT_EQ(s.withoutPixels, 98u - (c.end - c.first - changedInView)) << "every cached name out of view only";
        EXPECT_TRUE(s.cacheWritten);
        ASSERT_EQ(warm.items.size(), 100u);
        for (size_t i = 0; i < 100; ++i) {
            const ThumbnailItem& item = warm.items[i];
            EXPECT_EQ(std::wstring(item.name), names[i]);
            const bool shown = (i >= c.first && i < c.end) || i == 10 || i == 81;
            EXPECT_EQ(item.pixels != nullptr, shown) << i;
            EXPECT_TRUE(item.pixelsRestorable()) << i;
        }
    }
}

// A warm visit shows the cells in view from the data file's first records while the folder is
// listed: the same pixels the load then fills in, kept when the listing agrees; a file added
// before them makes the items again; a changed file ends the early screen before it.
TEST(PixelsBack, FirstScreenFromTheDataFileBeforeTheListing) {
    FolderLoadSettings settings;
    const std::wstring folder = cachedNumberedFolder(L"pix_early", 40, settings);
    FolderLoadStats s;
    settings.warmPixelsInViewOnly = true;

    struct EarlyPane : Pane {
        size_t listedCalls = 0, dropped = 0, relistedCalls = 0;
        bool listingDone = false;  // recordsIn comes after the listing
        std::vector<size_t> early;  // slots shown before it
        std::vector<std::vector<uint8_t>> shown;
        EarlyPane() {
            keepRecords();
            hooks.itemReady = [this](size_t slot, const std::wstring& name, ThumbnailData& data, bool) {
                releaseItemThumbnail(items[slot]);  // the copy shown early, as the pane frees it
                fillThumbnailItem(items[slot], data, name.c_str());
            };
            const auto listed = hooks.listed;
            hooks.listed = [this, listed](size_t n) {
                ++listedCalls;
                shown.assign(n, {});
                return listed(n);
            };
            hooks.recordsIn = [this](const std::shared_ptr<FolderCache>& t) {
                listingDone = true;
                table = t;
            };
            hooks.itemPreview = [this](size_t slot, const std::wstring& name, ThumbnailData& data) {
                if (!listingDone) early.push_back(slot);
                releaseItemThumbnail(items[slot]);
                fillThumbnailItem(items[slot], data, name.c_str());
                shown[slot].assign(items[slot].pixels, items[slot].pixels + bytesOf(items[slot]));
            };
            hooks.relisted = [this](size_t n) {
                ++relistedCalls;
                items.resize(n, ThumbnailItem{});
                shown.resize(n);
                return true;
            };
            hooks.previewsDropped = [this] {
                ++dropped;
                for (ThumbnailItem& i : items) releaseItemThumbnail(i);
            };
            hooks.visibleSlots = [](size_t& first, size_t& end) {
                first = 0;
                end = 8;
            };
        }
    };
    const std::vector<size_t> eight{0, 1, 2, 3, 4, 5, 6, 7};
    // A warm visit: the slots shown early, how often the items were made and dropped.
    const auto visit = [&](EarlyPane& pane, const std::vector<size_t>& early, size_t listed, size_t dropped) {
        ASSERT_EQ(loadFolderThumbnails(folder, settings, pane.hooks, s), LoadStop::None);
        EXPECT_TRUE(s.earlyScreen);
        EXPECT_EQ(pane.early, early);
        EXPECT_EQ(pane.listedCalls, listed);
        EXPECT_EQ(pane.dropped, dropped);
        for (size_t i = 0; i < 8; ++i) EXPECT_NE(pane.items[i].pixels, nullptr) << i;
    };

    {
        SCOPED_TRACE("unchanged");
        EarlyPane pane;
        visit(pane, eight, 1, 0);
        ASSERT_EQ(pane.items.size(), 40u);
        for (size_t i = 0; i < 8; ++i) {
            const ThumbnailItem& item = pane.items[i];
            ASSERT_NE(item.pixels, nullptr) << i;
            EXPECT_TRUE(pane.shown[i] == std::vector<uint8_t>(item.pixels, item.pixels + bytesOf(item)))
                << "the early screen shows what the load fills in, at " << i;
        }
    }
    {
        SCOPED_TRACE("a file added before them");
        ASSERT_TRUE(thumbtest::writeTestBmp(joinPath(folder, L"a.bmp"), 25, 25, [](int x, int) { return uint32_t(x); }));
        EarlyPane pane;
        visit(pane, eight, 2, 1);
        ASSERT_EQ(pane.items.size(), 41u);
        EXPECT_EQ(std::wstring(pane.items[0].name), L"a.bmp");
        EXPECT_EQ(std::wstring(pane.items[40].name), L"n039.bmp");
    }
    {
        SCOPED_TRACE("a changed file in view");
        ASSERT_TRUE(setLastWriteTime(joinPath(folder, L"n002.bmp").c_str(), FileTime::fromValue(132000000000000000ULL)));
        EarlyPane pane;
        // a.bmp, n000 and n001: up to the changed file.
        visit(pane, {0, 1, 2}, 1, 0);
        EXPECT_EQ(s.decoded, 1u);
    }
    {
        SCOPED_TRACE("a file added after them");
        ASSERT_TRUE(thumbtest::writeTestBmp(joinPath(folder, L"z.bmp"), 25, 25, [](int, int y) { return uint32_t(y); }));
        EarlyPane pane;
        visit(pane, eight, 1, 0);
        EXPECT_EQ(pane.relistedCalls, 1u) << "the items take the new count and keep the early screen";
        ASSERT_EQ(pane.items.size(), 42u);
        EXPECT_EQ(std::wstring(pane.items[41].name), L"z.bmp");
    }
    {
        SCOPED_TRACE("another file added after them, items that cannot be resized");
        ASSERT_TRUE(thumbtest::writeTestBmp(joinPath(folder, L"zz.bmp"), 25, 25, [](int, int y) { return uint32_t(y); }));
        EarlyPane pane;
        pane.hooks.relisted = nullptr;
        visit(pane, eight, 2, 1);
        ASSERT_EQ(pane.items.size(), 43u);
    }
}

}  // namespace
