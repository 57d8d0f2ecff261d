// The plug-in hand-back as the host reads it: the kinds accepted before stay byte for byte what
// they were, 32-bit pixels give what the PNG decoder gives for the same image (the Wine test
// of the host compares the other kinds with the built-in decoders), and
// malformed blocks are refused or clipped without a read past their real sizes (every block
// here is a vector of exactly that size, so the sanitizer sees any over-read).
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "image/plugin_bitmap.h"
#include "png_builder.h"

namespace {

using Bytes = std::vector<uint8_t>;

void put32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
}

// An information block: a header of headerSize bytes, then `after` (colour table or masks).
Bytes infoBlock(uint32_t headerSize, int32_t width, int32_t height, uint16_t depth, uint32_t compression,
                const Bytes& after = {}) {
    Bytes b(headerSize, 0);
    put32(b, 0, headerSize);
    put32(b, 4, uint32_t(width));
    put32(b, 8, uint32_t(height));
    b[12] = 1;
    b[14] = uint8_t(depth);
    put32(b, 16, compression);
    b.insert(b.end(), after.begin(), after.end());
    return b;
}

Bytes masks(std::initializer_list<uint32_t> values) {
    Bytes b(values.size() * 4);
    size_t at = 0;
    for (uint32_t v : values) put32(b, at, v), at += 4;
    return b;
}

Bytes randomBytes(size_t n, uint32_t seed) {
    Bytes b(n);
    for (auto& v : b) seed = seed * 1664525u + 1013904223u, v = uint8_t(seed >> 24);
    return b;
}

class PluginBitmap : public ::testing::Test {
protected:
    DecodedImage record, reference;
    std::filesystem::path dir;
    void SetUp() override {
        dir = std::filesystem::temp_directory_path() / "pravel_plugin_bitmap";
        std::filesystem::create_directories(dir);
    }
    void TearDown() override {
        pageFree(record.pixels);
        pageFree(reference.pixels);
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
    int32_t convert(const Bytes& info, const Bytes& bits) {
        pageFree(record.pixels);
        return convertPluginBitmap(info.data(), info.size(), bits.data(), bits.size(), record);
    }
    // The same image through the PNG decoder, from a file of these bytes.
    const DecodedImage& throughPng(const std::string& bytes) {
        const std::wstring path = (dir / "ref.png").wstring();
        EXPECT_TRUE(writeWholeFile(path.c_str(), bytes.data(), bytes.size()));
        pageFree(reference.pixels);
        DecodeCounters counters;
        EXPECT_NE(decodePng(path.c_str(), PngOptions{}, reference, counters), nullptr);
        return reference;
    }
    void expectSamePixels(const DecodedImage& want) {
        ASSERT_EQ(converted_, true);
        ASSERT_EQ(record.header.biBitCount, 24);
        ASSERT_EQ(want.header.biBitCount, 24);
        ASSERT_EQ(record.header.biWidth, want.header.biWidth);
        ASSERT_EQ(record.header.biHeight, want.header.biHeight);
        const size_t size = size_t(record.header.biHeight) * ((size_t(record.header.biWidth) * 3 + 3) & ~size_t(3));
        EXPECT_EQ(std::memcmp(record.pixels, want.pixels, size), 0);
    }
    bool converted_ = false;
};

TEST_F(PluginBitmap, PaletteAndTwentyFourBitBitmapsPassAsBeforeAndTopDownIsTurned) {
    // 4 bits, 13 x 5 with a version 4 header: the colour table follows its 108 bytes and is
    // clipped to the 16 entries given; the bits are copied as they are.
    const Bytes palette = randomBytes(16 * 4, 1);
    const Bytes bits = randomBytes(8 * 5, 2);
    ASSERT_EQ(convert(infoBlock(108, 13, 5, 4, 0, palette), bits), ErrNone);
    EXPECT_EQ(record.header.biSize, 40u);
    EXPECT_EQ(record.header.biBitCount, 4);
    EXPECT_EQ(record.sourceDepth, 4);
    EXPECT_EQ(std::memcmp(record.palette, palette.data(), palette.size()), 0);
    EXPECT_EQ(record.palette[16].blue | record.palette[255].red, 0);
    EXPECT_EQ(std::memcmp(record.pixels, bits.data(), bits.size()), 0);

    // 24 bits, half the bits: the other half of a full-size buffer stays black.
    const Bytes half = randomBytes(24 * 3, 3);  // 7 x 6 has rows of 24 bytes
    ASSERT_EQ(convert(infoBlock(40, 7, 6, 24, 0), half), ErrNone);
    EXPECT_EQ(std::memcmp(record.pixels, half.data(), half.size()), 0);
    EXPECT_EQ(Bytes(record.pixels + half.size(), record.pixels + 24 * 6), Bytes(24 * 3, 0));

    // Top-down 8 bits: the rows come out bottom-up, exactly the bottom-up bitmap's record.
    const Bytes rows = randomBytes(12 * 4, 4);  // 9 x 4, rows of 12 bytes
    Bytes reversed;
    for (int r = 3; r >= 0; --r) reversed.insert(reversed.end(), rows.begin() + r * 12, rows.begin() + r * 12 + 12);
    ASSERT_EQ(convert(infoBlock(40, 9, -4, 8, 0, palette), reversed), ErrNone);
    EXPECT_EQ(record.header.biHeight, 4);
    EXPECT_EQ(Bytes(record.pixels, record.pixels + rows.size()), rows);
}

TEST_F(PluginBitmap, ThirtyTwoBitsCompositeOntoWhiteAsThePngDecoder) {
    const uint32_t w = 7, h = 5;
    pngtest::Image rgba = pngtest::randomImage(w, h, 8, 6, 9);
    for (uint32_t x = 0; x < w; ++x) rgba.samples[x * 4 + 3] = x % 2 ? 255 : 0;  // opaque and clear
    // BGRA, top-down like many filters hand it over.
    Bytes bits;
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x)
            for (int c : {2, 1, 0, 3}) bits.push_back(uint8_t(rgba.at(x, y, c)));
    const DecodedImage& png = throughPng(pngtest::encodePng(rgba));
    converted_ = convert(infoBlock(40, int32_t(w), -int32_t(h), 32, 0), bits) == ErrNone;
    expectSamePixels(png);
    EXPECT_EQ(record.sourceDepth, 32);
    // The same with colour masks of one byte each (8-8-8-8) after a 40-byte header.
    converted_ = convert(infoBlock(40, int32_t(w), -int32_t(h), 32, 3, masks({0xFF0000, 0xFF00, 0xFF})), bits) == ErrNone;
    expectSamePixels(png);

    // Alpha bytes all 0: opaque, the colours as an RGB PNG gives them.
    pngtest::Image rgb = rgba;
    rgb.type = 2;
    rgb.samples.clear();
    for (size_t i = 0; i < rgba.samples.size(); ++i)
        if (i % 4 != 3) rgb.samples.push_back(rgba.samples[i]);
    for (size_t i = 3; i < bits.size(); i += 4) bits[i] = 0;
    const DecodedImage& plain = throughPng(pngtest::encodePng(rgb));
    converted_ = convert(infoBlock(40, int32_t(w), -int32_t(h), 32, 0), bits) == ErrNone;
    expectSamePixels(plain);
    // A version 5 header stating no alpha mask: the 4th bytes are ignored whatever they hold.
    for (size_t i = 3; i < bits.size(); i += 4) bits[i] = uint8_t(i);
    Bytes v5 = infoBlock(124, int32_t(w), -int32_t(h), 32, 3);
    put32(v5, 40, 0xFF0000), put32(v5, 44, 0xFF00), put32(v5, 48, 0xFF), put32(v5, 52, 0);
    converted_ = convert(v5, bits) == ErrNone;
    expectSamePixels(plain);
}

TEST_F(PluginBitmap, MalformedBlocksAreRefusedOrClipped) {
    const Bytes bits = randomBytes(64, 6);
    Bytes lying = infoBlock(40, 2, 2, 24, 0, Bytes(40, 0));
    put32(lying, 0, 124);  // a version 5 header in 80 bytes
    struct Case {
        const char* what;
        Bytes info;
        int32_t code;
    } cases[] = {
        {"shorter than a header", Bytes(39, 0), ErrMalformed},
        {"header size beyond the block", lying, ErrMalformed},
        {"masks missing", infoBlock(40, 2, 2, 32, 3, Bytes(8, 0)), ErrMalformed},
        {"run-length compressed", infoBlock(40, 2, 2, 8, 1), ErrUnsupported},
        {"bit fields at 24 bits", infoBlock(40, 2, 2, 24, 3, masks({0xFF0000, 0xFF00, 0xFF})), ErrUnsupported},
        {"4-4-4 masks", infoBlock(40, 2, 2, 16, 3, masks({0xF00, 0xF0, 0xF})), ErrUnsupported},
        {"two channels in one byte", infoBlock(40, 2, 2, 32, 3, masks({0xFF, 0xFF00, 0xFF})), ErrUnsupported},
        {"2-bit pixels", infoBlock(40, 2, 2, 2, 0), ErrUnsupported},
        {"zero height", infoBlock(40, 2, 0, 24, 0), ErrUnsupported},
        {"too tall top-down", infoBlock(40, 2, -25001, 24, 0), ErrUnsupported},
        {"most negative height", infoBlock(40, 2, INT32_MIN, 24, 0), ErrUnsupported},
        {"too wide", infoBlock(40, 25001, 1, 1, 0), ErrUnsupported},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(convert(c.info, bits), c.code) << c.what;
        EXPECT_EQ(record.pixels, nullptr) << c.what;
    }
    // Bits far shorter than the picture: what there is is used, the rest is black.
    const Bytes one = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};  // a pixel and a half of 32 bits
    ASSERT_EQ(convert(infoBlock(40, 300, -200, 32, 0), one), ErrNone);
    const size_t stride = 900;
    EXPECT_EQ(Bytes(record.pixels + 199 * stride, record.pixels + 199 * stride + 4), (Bytes{255, 255, 255, 0}));
    EXPECT_EQ(record.pixels[0], 0);
}

// Counts what the host does with each handle.
struct FakeMemory final : PluginMemory {
    std::map<void*, Bytes> blocks;
    std::map<void*, int> locks, releases;
    size_t size(void* h) override { return blocks.count(h) ? blocks[h].size() : 0; }
    const void* lock(void* h) override {
        if (!blocks.count(h)) return nullptr;
        ++locks[h];
        return blocks[h].data();
    }
    void unlock(void* h) override { --locks[h]; }
    void release(void* h) override { ++releases[h]; }
};

TEST_F(PluginBitmap, EveryHandleHandedOverIsReleasedOnceAndAFailedFiltersNever) {
    FakeMemory m;
    void* info = &m.blocks;
    void* bits = &m.locks;
    m.blocks[info] = infoBlock(40, 2, 2, 24, 0);
    m.blocks[bits] = randomBytes(16, 7);
    ASSERT_EQ(takePluginPicture(m, 0, info, bits, record), ErrNone);
    EXPECT_EQ(m.releases, (std::map<void*, int>{{info, 1}, {bits, 1}}));
    EXPECT_EQ(m.locks, (std::map<void*, int>{{info, 0}, {bits, 0}}));
    pageFree(record.pixels);
    record.pixels = nullptr;

    m.releases.clear();
    EXPECT_NE(takePluginPicture(m, 3, info, bits, record), ErrNone);  // the filter may have freed them
    EXPECT_NE(takePluginPicture(m, 0, info, info, record), ErrNone);  // one block for both
    EXPECT_NE(takePluginPicture(m, 0, info, nullptr, record), ErrNone);
    EXPECT_NE(takePluginPicture(m, 0, &m, bits, record), ErrNone);   // a handle that locks to nothing
    EXPECT_EQ(m.releases, (std::map<void*, int>{{info, 2}, {&m, 1}, {bits, 1}}));
    EXPECT_EQ(record.pixels, nullptr);
}

}  // namespace
