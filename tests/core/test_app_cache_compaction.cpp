// Exit-time compaction of the cache index: vanished folders leave the index and their
// data files are deleted; live folders keep their records in order; a damaged index is
// left exactly as it was.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "base/platform.h"
#include "thumbs/thumbnail_cache.h"

namespace {

namespace fs = std::filesystem;

#ifdef _WIN32
const std::wstring kSep = L"\\";
#else
const std::wstring kSep = L"/";
#endif

void putLe32(std::string& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(char(uint8_t(v >> (8 * i))));
}

std::string record(const std::wstring& folder, uint32_t number, uint32_t w = 148, uint32_t h = 111) {
    std::string r(520, '\0');
    size_t i = 0;
    for (wchar_t c : folder) {  // test paths are plain ASCII
        r[2 * i] = char(c & 0xFF);
        r[2 * i + 1] = char((c >> 8) & 0xFF);
        ++i;
    }
    putLe32(r, number);
    putLe32(r, w);
    putLe32(r, h);
    return r;
}

std::string header(uint32_t count, uint32_t mark = 0x00C80000u) {
    std::string h;
    putLe32(h, mark);
    putLe32(h, count);
    return h;
}

class CacheCompaction : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = L"compaction_" + utf8ToWide(::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(fs::path(root_));
        fs::create_directories(fs::path(cacheDir()));
    }
    void TearDown() override { fs::remove_all(fs::path(root_)); }

    std::wstring cacheDir() const { return root_ + kSep + L"cache"; }
    std::wstring cacheFolder() const { return cacheDir() + kSep; }
    std::wstring folder(const wchar_t* name, bool create) const {
        std::wstring p = root_ + kSep + name;
        if (create) fs::create_directories(fs::path(p));
        return p;
    }
    void writeIndex(const std::string& bytes) const {
        ASSERT_TRUE(writeWholeFile((cacheFolder() + L"index.dat").c_str(), bytes.data(), bytes.size()));
    }
    std::string readIndex() const {
        std::string bytes;
        EXPECT_TRUE(readWholeFile((cacheFolder() + L"index.dat").c_str(), bytes));
        return bytes;
    }
    void makeDataFile(uint32_t number) const {
        std::wstring p = cacheFolder() + std::to_wstring(number) + L".dat";
        ASSERT_TRUE(writeWholeFile(p.c_str(), "data", 4));
    }
    bool dataFileExists(uint32_t number) const {
        return pathExists((cacheFolder() + std::to_wstring(number) + L".dat").c_str());
    }

    std::wstring root_;
};

TEST_F(CacheCompaction, AllFoldersGoneLeavesHeaderOnly) {
    std::string index = header(3) + record(folder(L"gone1", false), 10000000) +
                        record(folder(L"gone2", false), 10000001) + record(folder(L"gone3", false), 10000002);
    writeIndex(index);
    for (uint32_t n = 10000000; n <= 10000002; ++n) makeDataFile(n);

    EXPECT_TRUE(optimiseCacheIndex(CacheLocation{cacheFolder()}));
    EXPECT_EQ(readIndex(), header(0));
    for (uint32_t n = 10000000; n <= 10000002; ++n) EXPECT_FALSE(dataFileExists(n)) << n;
}

TEST_F(CacheCompaction, LiveFoldersKeptInOrder) {
    std::string a = record(folder(L"alive_a", true), 10000002, 200, 150);
    std::string b = record(folder(L"gone_b", false), 10000000);
    std::string c = record(folder(L"alive_c", true), 10000001);
    writeIndex(header(3) + a + b + c);
    for (uint32_t n = 10000000; n <= 10000002; ++n) makeDataFile(n);

    EXPECT_TRUE(optimiseCacheIndex(CacheLocation{cacheFolder()}));
    EXPECT_EQ(readIndex(), header(2) + a + c);  // records byte for byte, file cut after them
    EXPECT_TRUE(dataFileExists(10000002));
    EXPECT_FALSE(dataFileExists(10000000));
    EXPECT_TRUE(dataFileExists(10000001));
}

TEST_F(CacheCompaction, RecordWithoutTerminatorIsDropped) {
    std::string broken(520, 'A');  // 260 units of U+4141, no terminator
    putLe32(broken, 10000003);
    putLe32(broken, 148);
    putLe32(broken, 111);
    std::string live = record(folder(L"alive", true), 10000000);
    writeIndex(header(2) + broken + live);
    makeDataFile(10000003);

    EXPECT_TRUE(optimiseCacheIndex(CacheLocation{cacheFolder()}));
    EXPECT_EQ(readIndex(), header(1) + live);
    EXPECT_FALSE(dataFileExists(10000003));
}

TEST_F(CacheCompaction, DamagedIndexIsLeftAlone) {
    std::string gone = record(folder(L"gone", false), 10000000);
    const std::vector<std::string> damaged = {
        std::string("\x00\x00\xC8\x00", 4),       // shorter than the header
        header(1, 0x00C90000u) + gone,            // wrong mark
        header(2) + gone,                         // count larger than the records present
        header(1000001) + gone,                   // more records than any index may hold
    };
    makeDataFile(10000000);
    for (const std::string& bytes : damaged) {
        writeIndex(bytes);
        EXPECT_FALSE(optimiseCacheIndex(CacheLocation{cacheFolder()}));
        EXPECT_EQ(readIndex(), bytes);
        EXPECT_TRUE(dataFileExists(10000000));
    }
}

TEST_F(CacheCompaction, MissingIndexOrFolderDoesNothing) {
    EXPECT_FALSE(optimiseCacheIndex(CacheLocation{cacheFolder()}));
    EXPECT_FALSE(pathExists((cacheFolder() + L"index.dat").c_str()));
    std::wstring nowhere = root_ + kSep + L"no_such_cache" + kSep;
    EXPECT_FALSE(optimiseCacheIndex(CacheLocation{nowhere}));
}

}  // namespace
