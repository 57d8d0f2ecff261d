// The cache files: numbering, lookups and staleness, damaged and oversized indexes, damaged
// data files, and the exact bytes written (the same in every build).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "thumb_test_support.h"
#include "thumbs/thumbnail_cache.h"

namespace {

using thumbtest::makePixels;
using thumbtest::scratchFolder;

std::string readAll(const std::wstring& path) {
    std::string bytes;
    readWholeFile(path.c_str(), bytes);
    return bytes;
}

CacheLocation locationIn(const std::wstring& name, int32_t w = 148, int32_t h = 111) {
    CacheLocation location;
    location.folder = scratchFolder(name);
    location.cellWidth = w;
    location.cellHeight = h;
    return location;
}

// An index with the given records (path, number, cell width, cell height).
struct IndexRecordSpec {
    std::wstring path;
    uint32_t number;
    int32_t w, h;
};
void writeIndex(const CacheLocation& location, const std::vector<IndexRecordSpec>& records, uint32_t count) {
    std::string bytes(kCacheHeaderSize + records.size() * kIndexRecordSize, '\0');
    auto* p = reinterpret_cast<uint8_t*>(bytes.data());
    writeLe32(p, kCacheFormatMark);
    writeLe32(p + 4, count);
    for (size_t i = 0; i < records.size(); ++i) {
        uint8_t* r = p + kCacheHeaderSize + i * kIndexRecordSize;
        encodeCacheName(records[i].path, r);
        writeLe32(r + kIndexNumberOffset, records[i].number);
        writeLe32(r + kIndexCellWidthOffset, uint32_t(records[i].w));
        writeLe32(r + kIndexCellHeightOffset, uint32_t(records[i].h));
    }
    ASSERT_TRUE(writeWholeFile(cacheIndexPath(location).c_str(), bytes.data(), bytes.size()));
}

// The records of an index: (path, number, w, h).
std::vector<IndexRecordSpec> readIndex(const CacheLocation& location) {
    const std::string bytes = readAll(cacheIndexPath(location));
    std::vector<IndexRecordSpec> records;
    if (bytes.size() < 8) return records;
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
    EXPECT_EQ(readLe32(p), kCacheFormatMark);
    const uint32_t count = readLe32(p + 4);
    EXPECT_EQ(bytes.size(), kCacheHeaderSize + size_t(count) * kIndexRecordSize);
    for (uint32_t i = 0; i < count && kCacheHeaderSize + (i + 1) * kIndexRecordSize <= bytes.size(); ++i) {
        const uint8_t* r = p + kCacheHeaderSize + size_t(i) * kIndexRecordSize;
        records.push_back({decodeCacheName(r), readLe32(r + kIndexNumberOffset), int32_t(readLe32(r + kIndexCellWidthOffset)),
                           int32_t(readLe32(r + kIndexCellHeightOffset))});
    }
    return records;
}

// Owned thumbnails to store.
struct TestItem {
    std::wstring name;
    FileFacts facts;
    int32_t w, h;
    uint8_t* pixels;
};
struct TestItems {
    std::vector<TestItem> items;
    ~TestItems() {
        for (auto& i : items) pageFree(i.pixels);
    }
    void add(const std::wstring& name, int32_t w, int32_t h, uint32_t seed, FileTime time = FileTime::fromValue(0)) {
        TestItem item;
        item.name = name;
        item.facts = FileFacts{time, w * 10, h * 10, 1000 + seed, int32_t(seed % 6), 24, int32_t(seed % 3),
                                    int32_t(seed % 2), int32_t(seed & 1)};
        item.w = w;
        item.h = h;
        item.pixels = makePixels(w, h, [seed](int x, int y) {
            return uint32_t((x * 3 + seed) & 0xFF) | (uint32_t((y * 5 + seed * 7) & 0xFF) << 8) | (uint32_t((x + y) & 0xFF) << 16);
        });
        items.push_back(item);
    }
    std::vector<CacheItemView> views() const {
        std::vector<CacheItemView> v;
        for (const auto& i : items) {
            CacheItemView view;
            view.name = i.name.c_str();
            view.facts = i.facts;
            view.thumbWidth = i.w;
            view.thumbHeight = i.h;
            view.pixels = i.pixels;
            v.push_back(view);
        }
        return v;
    }
};

bool write(const CacheLocation& location, const std::wstring& folder, const TestItems& items, uint32_t* written = nullptr) {
    const std::vector<CacheItemView> views = items.views();
    return writeFolderCache(location, folder, views.data(), views.size(), written);
}

// Caches folder with no thumbnails through the one write path; its data file's path, or
// nothing when the write failed.
std::wstring registerFolder(const CacheLocation& location, const std::wstring& folder) {
    std::wstring dataPath;
    if (!writeFolderCache(location, folder, nullptr, 0) || !folderDataPath(location, folder, dataPath)) return L"";
    return dataPath;
}

// Files left aside in the cache folder.
size_t asideFiles(const CacheLocation& location) {
    std::vector<DirectoryEntry> entries;
    listDirectory(location.folder.c_str(), L"*.new", entries);
    return entries.size();
}

// ---------------------------------------------------------------- index

TEST(CacheIndex, NumbersFoldersFromTheFirstFreeNumber) {
    CacheLocation location = locationIn(L"numbering");
    std::wstring dataPath;
    dataPath = registerFolder(location, L"C:\\photos\\one");
    ASSERT_FALSE(dataPath.empty());
    EXPECT_EQ(dataPath, cacheDataPath(location, 10000000));
    ASSERT_EQ(readIndex(location).size(), 1u);
    dataPath = registerFolder(location, L"C:\\photos\\two");
    ASSERT_FALSE(dataPath.empty());
    EXPECT_EQ(dataPath, cacheDataPath(location, 10000001));

    // The same folder again keeps its number and takes the current cell size.
    location.cellWidth = 200;
    location.cellHeight = 150;
    dataPath = registerFolder(location, L"C:\\photos\\one");
    ASSERT_FALSE(dataPath.empty());
    EXPECT_EQ(dataPath, cacheDataPath(location, 10000000));
    auto records = readIndex(location);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].w, 200);
    EXPECT_EQ(records[0].h, 150);
    EXPECT_EQ(records[1].w, 148);
    // Folder paths are matched exactly, letter case included.
    dataPath = registerFolder(location, L"C:\\Photos\\one");
    ASSERT_FALSE(dataPath.empty());
    EXPECT_EQ(dataPath, cacheDataPath(location, 10000002));
}

TEST(CacheIndex, ReusesGapsAndSkipsDeletedMarks) {
    CacheLocation location = locationIn(L"gap");
    writeIndex(location, {{L"a", 10000000, 148, 111}, {L"b", 10000002, 148, 111}}, 2);
    std::wstring dataPath;
    dataPath = registerFolder(location, L"c");
    ASSERT_FALSE(dataPath.empty());
    EXPECT_EQ(dataPath, cacheDataPath(location, 10000001));
    dataPath = registerFolder(location, L"d");
    ASSERT_FALSE(dataPath.empty());
    EXPECT_EQ(dataPath, cacheDataPath(location, 10000003));
    auto records = readIndex(location);
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[2].path, L"c");
    EXPECT_EQ(records[3].number, 10000003u);

    // A record marked 0 by the maintenance dialog holds no number.
    writeIndex(location, {{L"a", 0, 148, 111}, {L"b", 10000001, 148, 111}}, 2);
    dataPath = registerFolder(location, L"e");
    ASSERT_FALSE(dataPath.empty());
    EXPECT_EQ(dataPath, cacheDataPath(location, 10000000));
}

TEST(CacheIndex, BrokenIndexIsReplacedOversizedOneRefused) {
    CacheLocation location = locationIn(L"broken");
    ASSERT_TRUE(writeWholeFile(cacheIndexPath(location).c_str(), "\0\0\xC8\0", 4));
    std::wstring dataPath;
    dataPath = registerFolder(location, L"D:\\new");
    ASSERT_FALSE(dataPath.empty());
    EXPECT_EQ(dataPath, cacheDataPath(location, 10000000));
    auto records = readIndex(location);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].path, L"D:\\new");

    // Count 1,000,001: no reads, no writes, and the index stays as it was.
    writeIndex(location, {{L"big", 10000000, 148, 111}}, kCacheMaxCount + 1);
    writeWholeFile(cacheDataPath(location, 10000000).c_str(), "x", 1);
    const std::string before = readAll(cacheIndexPath(location));
    FolderDataLookup lookup;
    EXPECT_FALSE(findFolderData(location, L"big", lookup));
    FolderCache table;
    bool larger = false, smaller = false;
    EXPECT_FALSE(openFolderCache(location, L"big", table, larger, smaller));
    EXPECT_TRUE(registerFolder(location, L"big").empty());
    TestItems items;
    items.add(L"a.bmp", 40, 30, 1);
    EXPECT_FALSE(write(location, L"big", items));
    EXPECT_EQ(readAll(cacheIndexPath(location)), before);
    // Exactly 1,000,000 is still an index (its single record is found).
    writeIndex(location, {{L"big", 10000000, 148, 111}}, kCacheMaxCount);
    EXPECT_TRUE(findFolderData(location, L"big", lookup));
}

TEST(CacheIndex, CellSizeFlags) {
    CacheLocation location = locationIn(L"flags");
    writeIndex(location, {{L"f", 10000000, 148, 111}}, 1);
    writeWholeFile(cacheDataPath(location, 10000000).c_str(), "x", 1);
    struct Case {
        int32_t w, h;
        bool larger, smaller;
    } cases[] = {{148, 111, false, false}, {200, 150, false, true}, {100, 80, true, false}, {120, 150, true, true}, {148, 112, false, true}};
    for (const Case& c : cases) {
        location.cellWidth = c.w;
        location.cellHeight = c.h;
        FolderDataLookup lookup;
        EXPECT_TRUE(findFolderData(location, L"f", lookup));
        EXPECT_EQ(lookup.cacheTooLarge, c.larger) << c.w << "x" << c.h;
        EXPECT_EQ(lookup.cacheTooSmall, c.smaller) << c.w << "x" << c.h;
    }
    // Without its data file the folder has no data.
    deleteFileAt(cacheDataPath(location, 10000000).c_str());
    FolderDataLookup lookup;
    EXPECT_FALSE(findFolderData(location, L"f", lookup));
}

// ---------------------------------------------------------------- data files

TEST(CacheData, LookupIsExactAndHonoursLastWriteTime) {
    CacheLocation location = locationIn(L"cache_lookup");
    const std::wstring folder = scratchFolder(L"lookup_files");
    const FileTime t1 = FileTime::fromValue(130000000000000000ULL);
    const FileTime t2 = FileTime::fromValue(130000000010000000ULL);
    for (const wchar_t* n : {L"a.bmp", L"b.bmp", L"Photo.JPG"}) {
        ASSERT_TRUE(writeWholeFile(joinPath(folder, n).c_str(), "x", 1));
        ASSERT_TRUE(setLastWriteTime(joinPath(folder, n).c_str(), t1));
    }
    TestItems items;
    items.add(L"a.bmp", 148, 111, 1, t1);
    items.add(L"b.bmp", 60, 100, 2, t1);
    items.add(L"Photo.JPG", 148, 99, 3, t1);
    uint32_t written = 0;
    ASSERT_TRUE(write(location, folder, items, &written));
    EXPECT_EQ(written, 3u);

    FolderCache table;
    bool larger = false, smaller = false;
    ASSERT_TRUE(openFolderCache(location, folder, table, larger, smaller));
    EXPECT_EQ(table.count(), 3u);

    ImageDecoder decoder;
    LoadInfo loaded;
    auto take = [&](const wchar_t* name) {
        const bool ok = takeFromCache(table, name, joinPath(folder, name), 148, 111, decoder, loaded);
        if (ok) {
            pageFree(loaded.current->pixels);
            loaded.current->pixels = nullptr;
        }
        return ok;
    };
    ASSERT_TRUE(takeFromCache(table, L"b.bmp", joinPath(folder, L"b.bmp"), 148, 111, decoder, loaded));
    EXPECT_EQ(loaded.width, 60);
    EXPECT_EQ(loaded.height, 100);
    EXPECT_EQ(std::memcmp(&loaded.facts, &items.items[1].facts, sizeof(FileFacts)), 0);
    // The pixels are the stored ones, give or take the JPEG rounding.
    long error = 0;
    const uint8_t* got = loaded.current->pixels;
    const uint8_t* want = items.items[1].pixels;
    for (size_t k = 0; k < rowStride24(60) * 100; ++k) error += std::abs(int(got[k]) - int(want[k]));
    EXPECT_LT(double(error) / (rowStride24(60) * 100), 4.0);
    pageFree(loaded.current->pixels);
    loaded.current->pixels = nullptr;

    EXPECT_TRUE(take(L"a.bmp"));
    EXPECT_FALSE(take(L"A.bmp"));      // letter case differs (the file is found on Windows)
    EXPECT_FALSE(take(L"photo.jpg"));
    EXPECT_TRUE(take(L"Photo.JPG"));
    // Renamed: the new name has no record, the old one no file.
    ASSERT_EQ(std::rename(wideToUtf8(joinPath(folder, L"b.bmp")).c_str(), wideToUtf8(joinPath(folder, L"c.bmp")).c_str()), 0);
    EXPECT_FALSE(take(L"c.bmp"));
    EXPECT_FALSE(take(L"b.bmp"));
    // Touched: stale.
    ASSERT_TRUE(setLastWriteTime(joinPath(folder, L"a.bmp").c_str(), t2));
    EXPECT_FALSE(take(L"a.bmp"));
}

TEST(CacheData, DamagedDataFilesGiveNoCache) {
    CacheLocation location = locationIn(L"cache_damaged");
    TestItems items;
    items.add(L"one.bmp", 30, 20, 1);
    items.add(L"two.bmp", 25, 40, 2);
    ASSERT_TRUE(write(location, L"F:\\damaged", items));
    const std::wstring dataPath = cacheDataPath(location, 10000000);
    const std::string good = readAll(dataPath);
    FolderCache table;
    bool larger = false, smaller = false;
    ASSERT_TRUE(openFolderCache(location, L"F:\\damaged", table, larger, smaller));
    EXPECT_EQ(table.count(), 2u);
    table.release();

    // Every truncation, one extra byte, a count too high or low, a stream size that runs past
    // the end, a name without terminator: no table, and never a read past the block.
    std::vector<std::string> damaged;
    for (size_t cut = 0; cut < good.size(); cut += (cut < 600 ? 1 : 7)) damaged.push_back(good.substr(0, cut));
    damaged.push_back(good + '\0');
    for (uint32_t count : {0u, 1u, 3u, 0xFFFFFFFFu}) {
        std::string s = good;
        writeLe32(reinterpret_cast<uint8_t*>(s.data()) + 4, count);
        damaged.push_back(s);
    }
    {
        std::string s = good;
        writeLe32(reinterpret_cast<uint8_t*>(s.data()) + 8 + kDataStreamSizeOffset, 0x7FFFFFF0u);
        damaged.push_back(s);
        s = good;
        for (size_t k = 0; k < kCacheNameBytes; ++k) s[8 + k] = 'a';
        damaged.push_back(s);
    }
    for (const std::string& bytes : damaged) {
        writeWholeFile(dataPath.c_str(), bytes.data(), bytes.size());
        EXPECT_FALSE(openFolderCache(location, L"F:\\damaged", table, larger, smaller)) << "size " << bytes.size();
        EXPECT_FALSE(table.isOpen());
    }
}

TEST(CacheData, StreamsThatDoNotFitAreLeftOut) {
    // A 1 x 1 thumbnail's raw size (4 bytes) cannot hold any JPEG stream.
    CacheLocation location = locationIn(L"cache_overflow");
    TestItems items;
    items.add(L"tiny.bmp", 1, 1, 1);
    items.add(L"fine.bmp", 64, 48, 2);
    items.add(L"tiny2.bmp", 2, 1, 3);
    uint32_t written = 99;
    ASSERT_TRUE(write(location, L"G:\\o", items, &written));
    EXPECT_EQ(written, 1u);
    FolderCache table;
    bool larger = false, smaller = false;
    ASSERT_TRUE(openFolderCache(location, L"G:\\o", table, larger, smaller));
    ASSERT_EQ(table.count(), 1u);
    EXPECT_EQ(decodeCacheName(table.recordHeader(0)), L"fine.bmp");
}

// The exact bytes of both files for fixed inputs: the same natively and in the Windows build
// (little-endian fields, UTF-16 names including a character outside the BMP, zero padding).
// A rewrite stopped half-way (the program closing during the write) keeps the old data
// file byte for byte and leaves no partial file; a finished one replaces it whole. The same
// holds when there was no old file: then none is left.
TEST(CacheData, AStoppedRewriteKeepsTheOldFileAndAFinishedOneReplacesIt) {
    CacheLocation location = locationIn(L"cache_stopped");
    const std::wstring folder = scratchFolder(L"stopped_files");
    TestItems first, second;
    for (uint32_t k = 0; k < 6; ++k) first.add(L"f" + std::to_wstring(k) + L".bmp", 40, 30, k);
    for (uint32_t k = 0; k < 9; ++k) second.add(L"s" + std::to_wstring(k) + L".bmp", 50, 20, k + 40);
    const std::vector<CacheItemView> views = second.views();
    int asked = 0;
    const auto stopAfterFour = [&asked] { return ++asked <= 4; };

    FolderDataLookup lookup;
    // No old file: a stopped write leaves none, no partial file, and no index record either.
    EXPECT_FALSE(writeFolderCache(location, folder, views.data(), views.size(), nullptr, stopAfterFour));
    ASSERT_TRUE(!findFolderData(location, folder, lookup));
    EXPECT_FALSE(pathExists(cacheIndexPath(location).c_str()));
    std::wstring dataPath;
    ASSERT_TRUE(folderDataPath(location, folder, dataPath));
    EXPECT_FALSE(pathExists(dataPath.c_str()));
    EXPECT_EQ(asideFiles(location), 0u);

    ASSERT_TRUE(write(location, folder, first));
    const std::string old = readAll(dataPath);
    ASSERT_GT(old.size(), kCacheHeaderSize);
    asked = 0;
    uint32_t written = 99;
    EXPECT_FALSE(writeFolderCache(location, folder, views.data(), views.size(), &written, stopAfterFour));
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(asked, 5);
    EXPECT_EQ(readAll(dataPath), old);
    EXPECT_EQ(asideFiles(location), 0u);

    EXPECT_TRUE(writeFolderCache(location, folder, views.data(), views.size(), &written, [] { return true; }));
    EXPECT_EQ(written, 9u);
    EXPECT_EQ(asideFiles(location), 0u);
    FolderCache table;
    bool larger = false, smaller = false;
    ASSERT_TRUE(openFolderCache(location, folder, table, larger, smaller));
    EXPECT_EQ(table.count(), 9u);
    EXPECT_GE(table.find(L"s8.bmp"), 0);
    EXPECT_LT(table.find(L"f0.bmp"), 0);
}

TEST(CacheData, WritesTheSameBytesInEveryBuild) {
    CacheLocation location = locationIn(L"cache_golden");
    TestItems items;
    items.add(L"IMG_0001.JPG", 148, 111, 1, FileTime::fromValue(0x01D0000012345678ULL));
    items.add(L"写真 \U0001F600.png", 83, 111, 2, FileTime::fromValue(0x01D0000087654321ULL));
    items.add(L"z.gif", 17, 9, 3, FileTime::fromValue(1));
    ASSERT_TRUE(write(location, L"C:\\Users\\宮\\Pictures", items));
    const std::string index = readAll(cacheIndexPath(location));
    const std::string data = readAll(cacheDataPath(location, 10000000));
    ASSERT_EQ(index.size(), 540u);
    const auto* d = reinterpret_cast<const uint8_t*>(data.data());
    // Name with a surrogate pair: "写真 " then D83D DE00.
    EXPECT_EQ(readLe32(d + 4), 3u);
    const size_t second = 8 + kDataRecordHeaderSize + readLe32(d + 8 + kDataStreamSizeOffset);
    EXPECT_EQ(decodeCacheName(d + second), L"写真 \U0001F600.png");
    EXPECT_EQ(d[second + 6], 0x3D);
    EXPECT_EQ(d[second + 7], 0xD8);
    const uint32_t indexCrc = crc32Of(reinterpret_cast<const uint8_t*>(index.data()), index.size());
    const uint32_t dataCrc = crc32Of(d, data.size());
    std::printf("index crc %08x, data crc %08x (%zu bytes)\n", unsigned(indexCrc), unsigned(dataCrc), data.size());
    EXPECT_EQ(indexCrc, 0x7e033c61u);
    EXPECT_EQ(dataCrc, 0x6832d149u);
}

std::vector<std::wstring> cachedNames(const CacheLocation& location, const std::wstring& folder);

// A data file read through views smaller than its records: every record, looked up by name
// in any order, has the same bytes as when the file is read whole.
TEST(CacheData, RecordsAcrossViewBoundariesReadAsFromMemory) {
    CacheLocation location = locationIn(L"cache_views");
    TestItems items;
    for (uint32_t k = 0; k < 40; ++k) items.add(L"v" + std::to_wstring(k) + L".bmp", 60 + int32_t(k) * 3, 45, k);
    ASSERT_TRUE(write(location, L"H:\\views", items));
    const std::string bytes = readAll(cacheDataPath(location, 10000000));
    FolderCache whole;
    ASSERT_TRUE(readFolderCacheBytes(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), whole));

    setCacheViewBytes(1);  // one granularity step: records straddle views
    FolderCache viewed;
    bool larger = false, smaller = false;
    const bool opened = openFolderCache(location, L"H:\\views", viewed, larger, smaller);
    setCacheViewBytes(size_t(16) << 20);
    ASSERT_TRUE(opened);
    ASSERT_EQ(viewed.count(), 40u);
    for (int pass = 0; pass < 2; ++pass) {
        for (uint32_t n = 0; n < 40; ++n) {
            const uint32_t k = pass == 0 ? n : (n * 17) % 40;  // in order, then scattered
            const std::wstring name = L"v" + std::to_wstring(k) + L".bmp";
            const int64_t i = viewed.find(name);
            ASSERT_EQ(i, whole.find(name)) << "record " << k;
            ASSERT_EQ(viewed.recordStreamSize(uint32_t(i)), whole.recordStreamSize(uint32_t(i)));
            const size_t size = kDataRecordHeaderSize + whole.recordStreamSize(uint32_t(i));
            const uint8_t* a = viewed.record(uint32_t(i));
            ASSERT_NE(a, nullptr);
            EXPECT_EQ(std::memcmp(a, whole.record(uint32_t(i)), size), 0) << "record " << k;
        }
    }
    // The other pane may rewrite the folder while this table is open (on Windows the mapped
    // file cannot be replaced, so the new data takes another number); the table still reads
    // the old records.
    TestItems fewer;
    fewer.add(L"w.bmp", 30, 20, 9);
    EXPECT_TRUE(write(location, L"H:\\views", fewer));
    EXPECT_EQ(cachedNames(location, L"H:\\views"), std::vector<std::wstring>{L"w.bmp"});
    const int64_t last = viewed.find(L"v39.bmp");
    ASSERT_GE(last, 0);
    EXPECT_EQ(std::memcmp(viewed.record(uint32_t(last)), whole.record(uint32_t(last)), kDataRecordHeaderSize), 0);
    viewed.release();
    EXPECT_TRUE(write(location, L"H:\\views", fewer));  // and once it lets go, all is as before
    CacheIndex index;
    ASSERT_EQ(readCacheIndex(location, index), IndexState::Read);
    ASSERT_EQ(index.count(), 1u);
}

// Opening walks every record into a name table; a record whose name lands in a long probe
// chain is compared with records lying in other views, so its own header must not be read
// from a view those lookups may have replaced (a folder of 3,000 photographs at 800 x 600
// faulted so).
TEST(CacheData, ManyRecordsInSmallViewsOpenWithEveryNameFound) {
    CacheLocation location = locationIn(L"cache_many_views");
    TestItems items;
    for (uint32_t k = 0; k < 3000; ++k) items.add(L"photo" + std::to_wstring(k) + L".jpg", 24, 18, k);
    ASSERT_TRUE(write(location, L"H:\\many", items));
    setCacheViewBytes(1);
    FolderCache viewed;
    bool larger = false, smaller = false;
    const bool opened = openFolderCache(location, L"H:\\many", viewed, larger, smaller);
    ASSERT_TRUE(opened);
    ASSERT_EQ(viewed.count(), 3000u);
    for (uint32_t k = 0; k < 3000; k += 7) EXPECT_EQ(viewed.find(L"photo" + std::to_wstring(k) + L".jpg"), int64_t(k));
    viewed.release();

    // Views of many records: the walk reads the file front to back, and a probe passes other
    // names by their hash. A probe that read their headers mapped a view wherever they lay,
    // for nearly every record, when opening and for every lookup.
    constexpr size_t kView = size_t(64) << 10;
    setCacheViewBytes(kView);
    ASSERT_TRUE(openFolderCache(location, L"H:\\many", viewed, larger, smaller));
    const uint64_t parts = readAll(cacheDataPath(location, 10000000)).size() / kView + 1;
    EXPECT_LE(viewed.viewsMapped(), 2 * parts);
    const uint64_t afterWalk = viewed.viewsMapped();
    for (uint32_t k = 0; k < 3000; ++k) ASSERT_EQ(viewed.find(L"photo" + std::to_wstring(k) + L".jpg"), int64_t(k));
    EXPECT_LE(viewed.viewsMapped() - afterWalk, 2 * parts) << "lookups in file order map each part about once";
    viewed.release();
    setCacheViewBytes(size_t(16) << 20);
}

// ---------------------------------------------------------------- one rule for every writer

CacheStep g_crashStep;
bool crashAtStep(CacheStep step) { return step != g_crashStep; }

std::vector<std::wstring> namesOf(const TestItems& items) {
    std::vector<std::wstring> names;
    for (const TestItem& i : items.items) names.push_back(i.name);
    return names;
}

// The names of the folder's data file as a load finds it (none: no cache).
std::vector<std::wstring> cachedNames(const CacheLocation& location, const std::wstring& folder) {
    FolderCache table;
    bool larger = false, smaller = false;
    std::vector<std::wstring> names;
    if (!openFolderCache(location, folder, table, larger, smaller)) return names;
    for (uint32_t i = 0; i < table.count(); ++i) names.push_back(decodeCacheName(table.recordHeader(i)));
    return names;
}

// A write dies at each step of replacing a folder's data, for a folder cached before at a
// smaller cell and for one new to the index. Afterwards the index reads whole, the other
// folder is untouched, every record names a complete data file or none, and the record's
// cell is the new one only once the new data is in place. Then writes go through again and
// the exit-time clean-up removes what the crash left aside.
TEST(CacheCrash, ACrashAtEachStepOfAReplaceLeavesIndexAndDataConsistent) {
    const CacheStep steps[] = {CacheStep::DataPartlyAside, CacheStep::DataAside, CacheStep::DataInPlace,
                               CacheStep::IndexAside, CacheStep::IndexInPlace};
    for (const CacheStep step : steps) {
        for (const bool known : {true, false}) {
            SCOPED_TRACE("step " + std::to_string(int(step)) + (known ? ", cached folder" : ", new folder"));
            CacheLocation location = locationIn(L"crash");
            deleteFileAt(cacheIndexPath(location).c_str());
            const std::wstring other = scratchFolder(L"crash_other"), folder = scratchFolder(L"crash_folder");
            TestItems otherItems, oldItems, newItems;
            otherItems.add(L"o.bmp", 40, 30, 1);
            oldItems.add(L"old1.bmp", 40, 30, 2);
            oldItems.add(L"old2.bmp", 40, 30, 3);
            for (uint32_t k = 0; k < 3; ++k) newItems.add(L"new" + std::to_wstring(k) + L".bmp", 60, 45, 4 + k);
            ASSERT_TRUE(write(location, other, otherItems));
            if (known) ASSERT_TRUE(write(location, folder, oldItems));
            const std::string otherData = readAll(cacheDataPath(location, 10000000));
            CacheLocation larger = location;
            larger.cellWidth = 200;
            larger.cellHeight = 150;

            g_crashStep = step;
            g_cacheStepHook = &crashAtStep;
            EXPECT_FALSE(write(larger, folder, newItems));
            g_cacheStepHook = nullptr;

            CacheIndex index;
            bool truncated = true;
            ASSERT_EQ(readCacheIndex(location, index, &truncated), IndexState::Read);
            EXPECT_FALSE(truncated);
            ASSERT_GE(index.count(), 1u);
            EXPECT_EQ(index.folder(0), other);
            EXPECT_EQ(readAll(cacheDataPath(location, 10000000)), otherData);
            for (uint32_t i = 0; i < index.count(); ++i) {
                const std::wstring dataPath = cacheDataPath(location, index.number(i));
                FolderCache table;
                EXPECT_TRUE(!pathExists(dataPath.c_str()) || table.openFile(dataPath)) << "record " << i;
            }
            const bool dataReplaced = step >= CacheStep::DataInPlace;
            const bool indexReplaced = step == CacheStep::IndexInPlace;
            const int64_t found = index.find(folder);
            if (known) {
                ASSERT_GE(found, 0);
                EXPECT_EQ(index.cellWidth(uint32_t(found)), indexReplaced ? 200 : 148);
                EXPECT_EQ(cachedNames(location, folder), dataReplaced ? namesOf(newItems) : namesOf(oldItems));
            } else {
                EXPECT_EQ(found >= 0, indexReplaced);
                if (indexReplaced) EXPECT_EQ(cachedNames(location, folder), namesOf(newItems));
            }

            ASSERT_TRUE(write(larger, folder, newItems));
            EXPECT_EQ(cachedNames(location, folder), namesOf(newItems));
            ASSERT_TRUE(optimiseCacheIndex(location));
            EXPECT_EQ(asideFiles(location), 0u);
            CacheIndex after;
            ASSERT_EQ(readCacheIndex(location, after), IndexState::Read);
            EXPECT_EQ(after.count(), 2u);
        }
    }
}

// The maintenance dialog deletes from the index as it is when the delete runs: a folder a
// load registered after the list was read keeps its record and its data file.
TEST(CacheIndex, DeletingRecordsKeepsOnesAddedSinceTheyWereListed) {
    CacheLocation location = locationIn(L"dialog_delete");
    deleteFileAt(cacheIndexPath(location).c_str());
    TestItems items;
    items.add(L"a.bmp", 40, 30, 1);
    for (const wchar_t* f : {L"K:\\a", L"K:\\b"}) ASSERT_TRUE(write(location, f, items));
    CacheIndex listed;
    ASSERT_EQ(readCacheIndex(location, listed), IndexState::Read);
    ASSERT_TRUE(write(location, L"K:\\c", items));  // a pane load meanwhile

    CacheIndex now;
    int notDeleted = -1;
    ASSERT_TRUE(deleteFolderRecords(location, {{listed.number(0), listed.folder(0)}}, now, &notDeleted));
    EXPECT_EQ(notDeleted, 0);
    ASSERT_EQ(now.count(), 2u);
    EXPECT_EQ(now.folder(0), L"K:\\b");
    EXPECT_EQ(now.folder(1), L"K:\\c");
    CacheIndex onDisk;
    ASSERT_EQ(readCacheIndex(location, onDisk), IndexState::Read);
    EXPECT_EQ(onDisk.records, now.records);
    EXPECT_FALSE(pathExists(cacheDataPath(location, 10000000).c_str()));
    EXPECT_EQ(cachedNames(location, L"K:\\c"), namesOf(items));

    // Every listed record deleted, the new one still there: the index stays with it alone.
    ASSERT_TRUE(deleteFolderRecords(location, {{10000001, L"K:\\b"}}, now, &notDeleted));
    ASSERT_EQ(now.count(), 1u);
    EXPECT_EQ(now.folder(0), L"K:\\c");
    // The last record goes: so does the index.
    ASSERT_TRUE(deleteFolderRecords(location, {{now.number(0), L"K:\\c"}}, now, &notDeleted));
    EXPECT_FALSE(pathExists(cacheIndexPath(location).c_str()));
    EXPECT_EQ(now.count(), 0u);
}

}  // namespace
