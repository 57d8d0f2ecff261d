// The platform layer under both builds: mapping, whole-file I/O, file times, page blocks.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/platform.h"

namespace {

std::wstring tempPath(const wchar_t* name) { return std::wstring(L"platform_test_") + name; }

TEST(Platform, MapsWholeFileAndRefusesEmptyOrMissing) {
    std::wstring path = tempPath(L"map.bin");
    const char text[] = "0123456789";
    ASSERT_TRUE(writeWholeFile(path.c_str(), text, 10));
    MappedFile m;
    ASSERT_TRUE(mapFile(path.c_str(), m));
    EXPECT_EQ(m.size, 10u);
    EXPECT_EQ(std::memcmp(m.data, text, 10), 0);
    unmapFile(m);
    EXPECT_EQ(m.data, nullptr);

    std::wstring empty = tempPath(L"empty.bin");
    ASSERT_TRUE(writeWholeFile(empty.c_str(), "", 0));
    EXPECT_FALSE(mapFile(empty.c_str(), m));
    EXPECT_FALSE(mapFile(tempPath(L"missing.bin").c_str(), m));
    unmapFile(m);  // harmless on a cleared record
    deleteFileAt(path.c_str());
    deleteFileAt(empty.c_str());
}

TEST(Platform, LastWriteTimeRoundTripsAndPagesAreZeroed) {
    std::wstring path = tempPath(L"time.bin");
    ASSERT_TRUE(writeWholeFile(path.c_str(), "x", 1));
    FileTime t = FileTime::fromValue(130000000000000000ULL);  // 2012
    ASSERT_TRUE(setLastWriteTime(path.c_str(), t));
    FileTime back;
    ASSERT_TRUE(getLastWriteTime(path.c_str(), back));
    EXPECT_EQ(back.value(), t.value());
    deleteFileAt(path.c_str());

    auto* block = static_cast<uint8_t*>(pageAlloc(1 << 16));
    ASSERT_NE(block, nullptr);
    for (size_t i = 0; i < (1 << 16); i += 4093) EXPECT_EQ(block[i], 0);
    pageFree(block);
    EXPECT_EQ(pageAlloc(0), nullptr);
}

// A pane keeps one pixel block per thumbnail: 70,000 small blocks must fit even a 32-bit
// process (at one 64 KiB allocation step each they would need 4.6 GB), come zeroed and go
// back whatever their size.
TEST(Platform, ManySmallPageBlocksFitAndAllSizesRelease) {
    std::vector<uint8_t*> blocks;
    for (int i = 0; i < 70000; ++i) {
        auto* b = static_cast<uint8_t*>(pageAlloc(80 + size_t(i % 7)));
        ASSERT_NE(b, nullptr) << "block " << i;
        ASSERT_EQ(b[0] | b[79], 0);
        b[0] = 1;
        blocks.push_back(b);
    }
    for (uint8_t* b : blocks) pageFree(b);
    for (size_t size : {size_t(1), size_t(65535), size_t(65536), size_t(3) << 20}) {
        auto* b = static_cast<uint8_t*>(pageAlloc(size));
        ASSERT_NE(b, nullptr) << size;
        EXPECT_EQ(b[size - 1], 0);
        b[size - 1] = 7;
        pageFree(b);
    }
}

TEST(Platform, WideUtf8RoundTrip) {
    std::wstring text = L"画像フォルダ/a\u00e9";
    EXPECT_EQ(utf8ToWide(wideToUtf8(text)), text);
}

}  // namespace
