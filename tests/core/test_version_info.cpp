// The file version read from a version resource block: the layout the resource compiler
// writes, formatting, and blocks that are cut short or lie about their length.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "base/version_info.h"

namespace {

// A VS_VERSIONINFO block as the resource compiler lays it out: header, key, padding, the
// 52-byte fixed information, then (here) a few bytes standing for the string tables.
std::vector<uint8_t> block(uint32_t high, uint32_t low) {
    std::vector<uint8_t> b;
    auto u16 = [&](uint16_t v) { b.push_back(uint8_t(v)); b.push_back(uint8_t(v >> 8)); };
    auto u32 = [&](uint32_t v) { u16(uint16_t(v)); u16(uint16_t(v >> 16)); };
    u16(0);   // length, set below
    u16(52);  // value length
    u16(0);   // binary
    for (char16_t c : std::u16string(u"VS_VERSION_INFO")) u16(uint16_t(c));
    u16(0);
    while (b.size() % 4) b.push_back(0);
    u32(0xFEEF04BD);
    u32(0x00010000);
    u32(high);
    u32(low);
    u32(high);
    u32(low);
    for (int i = 0; i < 7; ++i) u32(0);
    for (int i = 0; i < 12; ++i) b.push_back(0xAA);
    b[0] = uint8_t(b.size());
    b[1] = uint8_t(b.size() >> 8);
    return b;
}

std::wstring text(uint16_t a, uint16_t b, uint16_t c, uint16_t d) {
    const uint16_t parts[4] = {a, b, c, d};
    wchar_t out[24];
    formatFileVersion(parts, out, 24);
    return out;
}

TEST(VersionInfo, ReadsTheFixedFileVersion) {
    const std::vector<uint8_t> b = block(0x00020037, 0x00010007);
    uint16_t parts[4] = {};
    ASSERT_TRUE(readFileVersion(b.data(), b.size(), parts));
    EXPECT_EQ(parts[0], 2);
    EXPECT_EQ(parts[1], 55);
    EXPECT_EQ(parts[2], 1);
    EXPECT_EQ(parts[3], 7);
}

TEST(VersionInfo, FormatsOnlyTheNonZeroTail) {
    EXPECT_EQ(text(2, 55, 0, 0), L"2.55");
    EXPECT_EQ(text(2, 55, 1, 0), L"2.55.1");
    EXPECT_EQ(text(2, 55, 0, 7), L"2.55.0.7");
    EXPECT_EQ(text(65535, 65535, 65535, 65535), L"65535.65535.65535.65535");  // the longest fits
}

// Every cut copy is refused (the fixed information is needed whole), and so are a wrong key,
// a wrong signature, a short value and a length larger than the bytes held.
TEST(VersionInfo, RefusesCutAndDamagedBlocks) {
    const std::vector<uint8_t> whole = block(0x00020037, 0);
    uint16_t parts[4];
    const size_t fixedEnd = 40 + 52;
    for (size_t length = 0; length < fixedEnd; ++length) {
        std::vector<uint8_t> cut(whole.begin(), whole.begin() + length);
        cut.resize(length);
        if (length >= 2) {  // the block claims no more than it holds
            cut[0] = uint8_t(length);
            cut[1] = 0;
        }
        EXPECT_FALSE(readFileVersion(cut.data(), cut.size(), parts)) << length;
    }
    EXPECT_FALSE(readFileVersion(whole.data(), whole.size() - 1, parts));  // length says more than held
    std::vector<uint8_t> key = whole;
    key[8] = 'W';
    EXPECT_FALSE(readFileVersion(key.data(), key.size(), parts));
    std::vector<uint8_t> signature = whole;
    signature[40] ^= 1;
    EXPECT_FALSE(readFileVersion(signature.data(), signature.size(), parts));
    std::vector<uint8_t> value = whole;
    value[2] = 51;
    EXPECT_FALSE(readFileVersion(value.data(), value.size(), parts));
    EXPECT_FALSE(readFileVersion(nullptr, 100, parts));
}

}  // namespace
