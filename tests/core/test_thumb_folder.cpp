// The headless folder load: enumeration rules, cache use across loads (stale files, cell
// made larger or smaller, interruption), and `pravel-probe thumbs` run twice.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "thumb_test_support.h"
#include "thumbs/folder_loader.h"

namespace {

using thumbtest::scratchFolder;
using thumbtest::writeTestBmp;

void touch(const std::wstring& folder, const wchar_t* name) {
    ASSERT_TRUE(writeWholeFile(joinPath(folder, name).c_str(), "x", 1));
}

TEST(Enumeration, ExtensionPatternsExactLengthAndListBoxOrder) {
    const std::wstring folder = scratchFolder(L"enum");
    for (const wchar_t* n : {L"a.jpeg", L"b.jpe", L"c.JPG", L"d.txt", L"e.tiff", L"f.tif", L"g.jpgx", L"noext", L"h.gif",
                             L"B.bmp", L"_x.bmp", L"10.bmp", L"9.bmp", L"k.pic", L"m.xyz"})
        touch(folder, n);
    createDirectoryAt(joinPath(folder, L"sub.jpg").c_str());

    using Names = std::vector<std::wstring>;
    EXPECT_EQ(enumerateImages(folder, 3, 2), (Names{L"a.jpeg", L"b.jpe", L"c.JPG"}));
    EXPECT_EQ(enumerateImages(folder, 4, 2), (Names{L"e.tiff", L"f.tif"}));
    EXPECT_EQ(enumerateImages(folder, 2, 2), Names{});
    // Punctuation before digits before letters, case ignored, digits not as numbers.
    EXPECT_EQ(enumerateImages(folder, 1, 2), (Names{L"_x.bmp", L"10.bmp", L"9.bmp", L"B.bmp"}));
    const Names all{L"_x.bmp", L"10.bmp", L"9.bmp", L"a.jpeg", L"B.bmp", L"b.jpe", L"c.JPG", L"e.tiff", L"f.tif", L"h.gif"};
    EXPECT_EQ(enumerateImages(folder, 0, 2), all);
    EXPECT_EQ(enumerateImages(folder, 99, 2), all);  // unknown filters list everything
    // Plug-in patterns join only the all-types listing.
    Names withPlugins = enumerateImages(folder, 0, 2, {L".pic", L"*.xyz"});
    EXPECT_EQ(withPlugins.size(), all.size() + 2);
    EXPECT_EQ(enumerateImages(folder, 3, 2, {L".pic"}).size(), 3u);
    // A plug-in extension that a built-in type has already lists its files once; '?' in a
    // plug-in's pattern stands for one character.
    EXPECT_EQ(enumerateImages(folder, 0, 2, {L".jpg", L"*.p?c"}).size(), all.size() + 1);
    // The listing's last-write times are the files' own.
    ASSERT_TRUE(setLastWriteTime(joinPath(folder, L"h.gif").c_str(), FileTime::fromValue(131000000000000000ULL)));
    const std::vector<DirectoryEntry> gifs = listImageFiles(folder, 5, 2);
    ASSERT_EQ(gifs.size(), 1u);
    FileTime asked;
    ASSERT_TRUE(getLastWriteTime(joinPath(folder, L"h.gif").c_str(), asked));
    EXPECT_TRUE(gifs[0].lastWriteTime == asked);
    EXPECT_EQ(asked.value(), 131000000000000000ULL);
#ifndef _WIN32
    // Natively a dot-name is a hidden file: left out under the default mask only.
    touch(folder, L".secret.png");
    EXPECT_EQ(enumerateImages(folder, 2, 2), Names{});
    EXPECT_EQ(enumerateImages(folder, 2, 0), Names{L".secret.png"});
#endif
    EXPECT_TRUE(enumerateImages(L"thumbtest_no_such_folder", 0, 2).empty());
}

// The sort by keys made once per name gives the order of comparing the names pairwise, ties
// kept in their listed order: kana, kanji, full-width letters, case, digits, punctuation.
TEST(Enumeration, SortByListNameIsTheStableOrderOfCompareListNames) {
    std::vector<DirectoryEntry> entries;
    const wchar_t* names[] = {L"b.jpg", L"B2.jpg", L"a-b.jpg", L"ab.jpg", L"a'c.jpg", L"_z.png", L"10.gif", L"9.gif",
                              L"\u3042.jpg", L"\u30a2.jpg", L"\u65e5\u672c.png", L"\uff21.bmp", L"A.bmp", L"a.bmp",
                              L"photo 2.jpg", L"photo10.jpg", L"photo-1.jpg", L"~x.tif", L"Zz.tif", L"\u3044\u3042.jpg"};
    for (int round = 0; round < 3; ++round)
        for (const wchar_t* n : names) entries.push_back(DirectoryEntry{n, uint32_t(round), FileTime{}});
    std::vector<DirectoryEntry> expected = entries;
    std::stable_sort(expected.begin(), expected.end(), [](const DirectoryEntry& a, const DirectoryEntry& b) {
        return compareListNames(a.name, b.name) < 0;
    });
    sortByListName(entries);
    ASSERT_EQ(entries.size(), expected.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(entries[i].name, expected[i].name) << i;
        EXPECT_EQ(entries[i].attributes, expected[i].attributes) << "ties keep their order, at " << i;
    }
}

// A pane stand-in: keeps the items and hands them back for the cache write.
struct Pane : thumbtest::PaneStandIn {
    Pane() {
        hooks.itemReady = [this](size_t slot, const std::wstring& name, ThumbnailData& data, bool replaced) {
            if (replaced) releaseItemThumbnail(items[slot]);
            fillThumbnailItem(items[slot], data, name.c_str());
        };
    }
    const ThumbnailItem* find(const wchar_t* name) const {
        for (const auto& i : items)
            if (i.hasThumbnail() && std::wstring(i.name) == name) return &i;
        return nullptr;
    }
};

struct FolderFixture {
    std::wstring folder;
    FolderLoadSettings settings;
    FolderFixture(const wchar_t* name) {
        folder = scratchFolder(std::wstring(L"load_") + name);
        settings.cacheFolder = scratchFolder(std::wstring(L"loadcache_") + name);
        writeTestBmp(joinPath(folder, L"big.bmp"), 600, 400, [](int x, int y) { return uint32_t(x % 256) | uint32_t(y % 256) << 8; });
        writeTestBmp(joinPath(folder, L"small.bmp"), 40, 30, [](int x, int) { return x < 20 ? 0xFF0000u : 0x00FF00u; });
        writeTestBmp(joinPath(folder, L"tall.bmp"), 20, 500, [](int, int y) { return uint32_t(y / 2); });
        writeWholeFile(joinPath(folder, L"bad.bmp").c_str(), "BMnot really", 12);
    }
    FolderLoadStats load(Pane& pane) {
        FolderLoadStats stats;
        loadFolderThumbnails(folder, settings, pane.hooks, stats);
        return stats;
    }
};

TEST(FolderLoad, SecondLoadComesFromTheCacheAndStaleFilesAreDecoded) {
    FolderFixture f(L"basic");
    Pane pane;
    FolderLoadStats s = f.load(pane);
    EXPECT_EQ(s.listed, 4u);
    EXPECT_EQ(s.shown, 3u);
    EXPECT_EQ(s.decoded, 3u);
    EXPECT_EQ(s.failed, 1u);
    EXPECT_EQ(s.fromCache, 0u);
    EXPECT_TRUE(s.cacheWritten);
    EXPECT_EQ(s.cacheRecords, 3u);
    // Packed in list order, bad.bmp left out; display sizes by the fit rule.
    EXPECT_EQ(std::wstring(pane.items[0].name), L"big.bmp");
    EXPECT_EQ(std::wstring(pane.items[1].name), L"small.bmp");
    EXPECT_EQ(std::wstring(pane.items[2].name), L"tall.bmp");
    EXPECT_EQ(pane.items[3].pixels, nullptr);
    EXPECT_EQ(pane.items[0].displayWidth, 148);
    EXPECT_EQ(pane.items[0].displayHeight, 98);
    EXPECT_EQ(pane.items[1].displayWidth, 40);
    EXPECT_EQ(pane.items[2].displayWidth, 4);
    EXPECT_EQ(pane.items[2].displayHeight, 111);
    EXPECT_EQ(pane.items[0].facts.fileWidth, 600);
    EXPECT_EQ(pane.items[0].facts.format, int32_t(FormatBmp));
    EXPECT_EQ(pane.items[0].cacheAvailable, 0);
    const std::wstring dataPath = cacheDataPath(CacheLocation{f.settings.cacheFolder, 148, 111}, 10000000);
    std::string firstFile;
    readWholeFile(dataPath.c_str(), firstFile);

    s = f.load(pane);
    EXPECT_EQ(s.fromCache, 3u);
    EXPECT_EQ(s.decoded, 0u);
    EXPECT_FALSE(s.cacheWriteAttempted);
    EXPECT_EQ(pane.items[0].displayWidth, 148);
    EXPECT_EQ(pane.items[0].facts.fileWidth, 600);
    EXPECT_EQ(pane.items[2].displayHeight, 111);
    EXPECT_EQ(pane.items[0].cacheAvailable, 1);
    std::string secondFile;
    readWholeFile(dataPath.c_str(), secondFile);
    EXPECT_EQ(secondFile, firstFile);

    // A touched file is decoded again and the cache rewritten.
    ASSERT_TRUE(setLastWriteTime(joinPath(f.folder, L"small.bmp").c_str(), FileTime::fromValue(130000000000000000ULL)));
    s = f.load(pane);
    EXPECT_EQ(s.fromCache, 2u);
    EXPECT_EQ(s.decoded, 1u);
    EXPECT_TRUE(s.cacheWritten);
    s = f.load(pane);
    EXPECT_EQ(s.fromCache, 3u);
}

TEST(FolderLoad, CellMadeLargerRunsSecondPassSmallerRescalesFromCache) {
    FolderFixture f(L"cells");
    Pane pane;
    f.load(pane);

    f.settings.cellWidth = 200;
    f.settings.cellHeight = 150;
    FolderLoadStats s = f.load(pane);
    EXPECT_TRUE(s.cacheTooSmall);
    EXPECT_TRUE(s.secondPass);
    EXPECT_EQ(s.fromCache, 3u);
    EXPECT_EQ(s.refreshed, 3u);
    EXPECT_TRUE(s.cacheWritten);
    EXPECT_EQ(pane.find(L"big.bmp")->thumbWidth, 200);  // fresh decode at the new size
    EXPECT_EQ(pane.find(L"big.bmp")->displayWidth, 200);
    s = f.load(pane);  // the index now holds the new cell
    EXPECT_FALSE(s.cacheTooSmall);
    EXPECT_EQ(s.fromCache, 3u);
    EXPECT_FALSE(s.cacheWriteAttempted);

    f.settings.cellWidth = 100;
    f.settings.cellHeight = 75;
    s = f.load(pane);
    EXPECT_EQ(s.fromCache, 3u);
    EXPECT_EQ(s.decoded, 0u);
    EXPECT_TRUE(s.cacheWritten);  // made for a larger cell: rewritten at the new size
    const ThumbnailItem* big = pane.find(L"big.bmp");
    EXPECT_EQ(big->thumbWidth, 100);
    EXPECT_EQ(big->displayHeight, 66);
    EXPECT_EQ(big->bitmapInfo.biWidth, 100);
}

// The cell grows and the rewrite at the new size is given up (the program closing during
// it): the old data file and the index stay as they were, so the next visit refreshes the
// thumbnails again instead of keeping the small ones for good.
TEST(FolderLoad, AGivenUpRewriteAfterACellChangeRunsTheSecondPassOnTheNextVisit) {
    FolderFixture f(L"cells_given_up");
    Pane pane;
    ASSERT_TRUE(f.load(pane).cacheWritten);
    const CacheLocation location{f.settings.cacheFolder, 148, 111};
    std::string index, data, now;
    readWholeFile(cacheIndexPath(location).c_str(), index);
    readWholeFile(cacheDataPath(location, 10000000).c_str(), data);

    f.settings.cellWidth = 200;
    f.settings.cellHeight = 150;
    pane.hooks.duringWrite = [] { return false; };
    FolderLoadStats s = f.load(pane);
    EXPECT_TRUE(s.secondPass);
    EXPECT_TRUE(s.cacheWriteAttempted);
    EXPECT_TRUE(s.cacheWriteGivenUp);
    EXPECT_FALSE(s.cacheWritten);
    readWholeFile(cacheIndexPath(location).c_str(), now);
    EXPECT_EQ(now, index);
    readWholeFile(cacheDataPath(location, 10000000).c_str(), now);
    EXPECT_EQ(now, data);

    pane.hooks.duringWrite = nullptr;
    s = f.load(pane);
    EXPECT_TRUE(s.cacheTooSmall);
    EXPECT_TRUE(s.secondPass);
    EXPECT_EQ(s.refreshed, 3u);
    EXPECT_TRUE(s.cacheWritten);
    EXPECT_EQ(pane.find(L"big.bmp")->thumbWidth, 200);
    s = f.load(pane);
    EXPECT_FALSE(s.secondPass);
    EXPECT_FALSE(s.cacheWriteAttempted);
}

TEST(FolderLoad, InterruptedLoadWritesNothing) {
    FolderFixture f(L"stop");
    Pane pane;
    pane.stopAfter = 2;  // bad.bmp, then big.bmp
    FolderLoadStats s = f.load(pane);
    EXPECT_EQ(s.stop, LoadStop::Clear);
    EXPECT_EQ(s.shown, 1u);
    EXPECT_FALSE(s.cacheWriteAttempted);
    EXPECT_FALSE(pathExists(cacheIndexPath(CacheLocation{f.settings.cacheFolder, 148, 111}).c_str()));

    std::atomic<LoadStop> stop{LoadStop::EndThread};
    pane.stopAfter = 0;
    FolderLoadStats t;
    EXPECT_EQ(loadFolderThumbnails(f.folder, f.settings, pane.hooks, t, &stop), LoadStop::EndThread);
    // Without the cache nothing is read or written.
    f.settings.useCache = false;
    t = f.load(pane);
    EXPECT_EQ(t.decoded, 3u);
    EXPECT_FALSE(t.cacheWriteAttempted);
}

#ifndef _WIN32  // 50,001 files: quick natively, slow under Wine
TEST(FolderLoad, KeepsTheFirst50000NamesInListOrder) {
    const std::wstring folder = scratchFolder(L"cap");
    for (int i = 0; i <= 50000; ++i) touch(folder, (std::to_wstring(100000 + i) + L".gif").c_str());
    FolderLoadSettings settings;
    settings.useCache = false;
    FolderLoadHooks hooks;
    size_t kept = 0;
    hooks.listed = [&kept](size_t n) {
        kept = n;
        return false;  // as a pane whose item array could not be had
    };
    FolderLoadStats stats;
    EXPECT_EQ(loadFolderThumbnails(folder, settings, hooks, stats), LoadStop::None);
    EXPECT_EQ(stats.listed, 50001u);
    EXPECT_EQ(kept, 50000u);
    EXPECT_EQ(stats.shown, 0u);
    const std::vector<std::wstring> names = enumerateImages(folder, 5, 2);
    EXPECT_EQ(names[49999], L"149999.gif");
}
#endif

// ---------------------------------------------------------------- the probe

std::string runProbe(const std::string& arguments) {
#ifdef _WIN32
    const std::string command = "..\\pravel-probe.exe " + arguments;
    FILE* pipe = _popen(command.c_str(), "rb");
#else
    const std::string command = "../pravel-probe " + arguments;
    FILE* pipe = popen(command.c_str(), "r");
#endif
    if (!pipe) return {};
    std::string output;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
#ifdef _WIN32
    _pclose(pipe);
#else
    pclose(pipe);
#endif
    return output;
}

long jsonNumber(const std::string& json, const char* key) {
    const std::string k = std::string("\"") + key + "\":";
    const size_t at = json.find(k);
    return at == std::string::npos ? -1 : std::strtol(json.c_str() + at + k.size(), nullptr, 10);
}

void probeTwice(const std::string& folder, const std::string& cache) {
    const std::string args = "thumbs \"" + folder + "\" --cell 148x111 --cache \"" + cache + "\"";
    const std::string first = runProbe(args);
    ASSERT_NE(jsonNumber(first, "shown"), -1) << first;
    EXPECT_GT(jsonNumber(first, "shown"), 0) << first;
    EXPECT_EQ(jsonNumber(first, "decoded"), jsonNumber(first, "shown")) << first;
    const std::string second = runProbe(args);
    EXPECT_EQ(jsonNumber(second, "decoded"), 0) << second;
    EXPECT_EQ(jsonNumber(second, "fromCache"), jsonNumber(first, "shown")) << second;
    EXPECT_NE(second.find("\"cacheWriteAttempted\":false"), std::string::npos) << second;
}

TEST(ProbeThumbs, SecondRunDecodesNothing) {
    if (!pathExists(L"../pravel-probe") && !pathExists(L"../pravel-probe.exe")) GTEST_SKIP() << "pravel-probe not built";
    FolderFixture f(L"probe");
    probeTwice(wideToUtf8(f.folder), wideToUtf8(f.settings.cacheFolder));

    const std::string sample = std::string(PRAVEL_TESTDATA) + "/../sample";
    if (!isDirectory(utf8ToWide(sample).c_str())) GTEST_SKIP() << "no sample folder (tools/setup.sh)";
    probeTwice(sample, wideToUtf8(scratchFolder(L"samplecache")));
}

}  // namespace
