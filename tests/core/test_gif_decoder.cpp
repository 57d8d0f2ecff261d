// GIF decoder: files built in memory, so every case states exactly what the file holds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "image/gif_decoder.h"

// The record the decodes in this file fill.
static DecodedImage gifOut;


namespace {

using Bytes = std::vector<uint8_t>;

// LSB-first code writer.
struct CodeWriter {
    Bytes bytes;
    uint32_t buffer = 0;
    int count = 0;
    void put(uint32_t code, int size) {
        for (buffer |= code << count, count += size; count >= 8; buffer >>= 8, count -= 8) bytes.push_back(uint8_t(buffer));
    }
    Bytes finish() {
        if (count) bytes.push_back(uint8_t(buffer));
        return bytes;
    }
};

Bytes codes(std::initializer_list<std::pair<uint32_t, int>> list) {
    CodeWriter w;
    for (auto [code, size] : list) w.put(code, size);
    return w.finish();
}

// One literal code per index, growing the code size exactly as a decoder does (every code
// after the first adds an entry); clearEvery > 0 puts a clear code after that many.
Bytes literalLzw(const Bytes& pixels, int minCodeSize, size_t clearEvery = 0, bool endCode = true) {
    const uint32_t clear = 1u << minCodeSize;
    CodeWriter w;
    int size = minCodeSize + 1;
    uint32_t next = clear + 2;
    bool first = true;  // the first code after a clear adds no entry
    w.put(clear, size);
    for (size_t i = 0; i < pixels.size(); ++i) {
        if (clearEvery && i && i % clearEvery == 0) {
            w.put(clear, size);
            size = minCodeSize + 1;
            next = clear + 2;
            first = true;
        }
        w.put(pixels[i], size);
        if (!first && next < 4096 && ++next > (1u << size) - 1 && size < 12) ++size;
        first = false;
    }
    if (endCode) w.put(clear + 1, size);
    return w.finish();
}

void put16(Bytes& b, int v) { b.insert(b.end(), {uint8_t(v), uint8_t(v >> 8)}); }

void putSubBlocks(Bytes& b, const Bytes& data) {
    for (size_t i = 0; i < data.size(); i += 255) {
        const size_t n = std::min<size_t>(255, data.size() - i);
        b.push_back(uint8_t(n));
        b.insert(b.end(), data.begin() + i, data.begin() + i + n);
    }
    b.push_back(0);
}

// Global entry k = (k, 100 + k, 200 - k); local entry k = (250 - k, k, 7).
struct GifBuilder {
    Bytes b;
    GifBuilder(int screenW, int screenH, int globalBits, int background = 0) {
        b = {'G', 'I', 'F', '8', '9', 'a'};
        put16(b, screenW);
        put16(b, screenH);
        b.insert(b.end(), {uint8_t(globalBits ? 0x80 | (globalBits - 1) : 0), uint8_t(background), 0});
        for (int k = 0; globalBits && k < (1 << globalBits); ++k) b.insert(b.end(), {uint8_t(k), uint8_t(100 + k), uint8_t(200 - k)});
    }
    GifBuilder& raw(std::initializer_list<uint8_t> bytes) {
        b.insert(b.end(), bytes);
        return *this;
    }
    GifBuilder& transparent(int index) { return raw({'!', 0xF9, 4, 1, 0, 0, uint8_t(index), 0}); }
    GifBuilder& comment() { return raw({'!', 0xFE, 2, 'h', 'i', 0}); }
    GifBuilder& image(int left, int top, int w, int h, const Bytes& lzw, int minCodeSize, int localBits = 0, bool interlaced = false) {
        b.push_back(',');
        for (int v : {left, top, w, h}) put16(b, v);
        b.push_back(uint8_t((localBits ? 0x80 | (localBits - 1) : 0) | (interlaced ? 0x40 : 0)));
        for (int k = 0; localBits && k < (1 << localBits); ++k) b.insert(b.end(), {uint8_t(250 - k), uint8_t(k), 7});
        b.push_back(uint8_t(minCodeSize));
        putSubBlocks(b, lzw);
        return *this;
    }
    Bytes done() { return raw({';'}).b; }
};

// A decode's result copied out of the decoder's record (the next decode reuses it).
struct Decoded {
    DecodedImage record;
    bool ok = false;
    DecodeCounters counters;
    int32_t error = 0;
    explicit Decoded(const Bytes& file) {
        Bytes exact(file);  // exact size: the sanitizer build sees any read past the end
        DecodedImage* image = decodeGifMemory(exact.data(), exact.size(), gifOut, counters);
        ok = image != nullptr;
        error = ok ? 0 : gifOut.errorCode;
        if (ok) record = *image;
    }
    ~Decoded() { pageFree(ok ? record.pixels : nullptr); }
    // Index at screen (x, y), y counted from the top.
    uint8_t at(int x, int y) const {
        const int w = record.header.biWidth, h = record.header.biHeight;
        return record.pixels[size_t((w + 3) & ~3) * size_t(h - 1 - y) + x];
    }
};

Bytes ramp(size_t n, int modulo) {
    Bytes p(n);
    for (size_t i = 0; i < n; ++i) p[i] = uint8_t(i % modulo);
    return p;
}

TEST(GifScreen, ImageIsPlacedOnTheScreenWithTheBackgroundAroundAndPaddingZero) {
    const Bytes pixels = ramp(100, 7);  // 10 x 10 at (5, 5) on 21 x 20: rows padded to 24 bytes
    Decoded d(GifBuilder(21, 20, 4, 9).image(5, 5, 10, 10, literalLzw(pixels, 4), 4).done());
    ASSERT_TRUE(d.ok) << d.error;
    EXPECT_EQ(d.record.header.biWidth, 21);
    EXPECT_EQ(d.record.header.biHeight, 20);
    EXPECT_EQ(d.record.sourceDepth, 4);
    for (int y = 0; y < 20; ++y) {
        for (int x = 0; x < 24; ++x) {
            const bool inside = x >= 5 && x < 15 && y >= 5 && y < 15;
            ASSERT_EQ(d.at(x, y), x >= 21 ? 0 : inside ? pixels[(y - 5) * 10 + (x - 5)] : 9) << x << "," << y;
        }
    }
    EXPECT_EQ(d.record.palette[15].blue, 185);
    EXPECT_EQ(d.record.palette[16].green, 0);  // beyond the 16 global entries
}

TEST(GifScreen, NineRowInterlacedImageFollowsTheFourPasses) {
    Bytes pixels;  // decoded row r holds r
    for (int r = 0; r < 9; ++r) pixels.insert(pixels.end(), 3, uint8_t(r));
    Decoded d(GifBuilder(3, 10, 4).image(0, 1, 3, 9, literalLzw(pixels, 4), 4, 0, true).done());
    ASSERT_TRUE(d.ok) << d.error;
    EXPECT_EQ(d.counters.interlaced, 1);
    const int fromDecoded[9] = {0, 5, 3, 6, 2, 7, 4, 8, 1};
    for (int y = 0; y < 9; ++y) EXPECT_EQ(d.at(2, y + 1), fromDecoded[y]) << "display row " << y;
}

TEST(GifPalette, TransparentEntryTakesTheGlobalBackgroundOrWhiteAndLocalTablesWin) {
    const Bytes lzw = literalLzw({3, 1}, 2);
    Decoded global(GifBuilder(2, 1, 2, 0).transparent(3).image(0, 0, 2, 1, lzw, 2).done());
    ASSERT_TRUE(global.ok);
    EXPECT_EQ(global.record.palette[3].green, 100);
    EXPECT_EQ(global.record.palette[3].blue, 200);
    EXPECT_EQ(global.record.palette[1].green, 101);

    Decoded localOnly(GifBuilder(2, 1, 0).transparent(3).image(0, 0, 2, 1, lzw, 2, 2).done());
    ASSERT_TRUE(localOnly.ok);
    const PaletteEntry& white = localOnly.record.palette[3];
    EXPECT_EQ(white.red + white.green + white.blue, 3 * 255);
    EXPECT_EQ(localOnly.record.palette[1].red, 249);
    EXPECT_EQ(localOnly.record.sourceDepth, 2);
}

TEST(GifBlocks, OnlyTheFirstImageAndOnlyAnEarlierCommentCount) {
    const Bytes first = literalLzw({1, 1, 1, 1}, 2), second = literalLzw({2, 2, 2, 2}, 2);
    GifBuilder animated(2, 2, 2);
    animated.raw({'!', 0xFF, 11, 'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0', 3, 1, 0, 0, 0});
    Decoded d(animated.comment().image(0, 0, 2, 2, first, 2).comment().image(0, 0, 2, 2, second, 2).done());
    ASSERT_TRUE(d.ok) << d.error;
    EXPECT_EQ(d.at(1, 1), 1);
    EXPECT_EQ(d.counters.commentCount, 1);
    Decoded late(GifBuilder(2, 2, 2).image(0, 0, 2, 2, first, 2).comment().done());
    EXPECT_EQ(late.counters.commentCount, 0);
}

// Minimum code size 2: clear 4, end 5, first free entry 6.
TEST(GifLzw, EntriesTheCodeBeingDefinedAndCodesBeyondTheNextFreeEntry) {
    // 1, 2, 6 = "1 2", then 8 = the code being defined ("1 2 1").
    Decoded reuse(GifBuilder(8, 1, 2).image(0, 0, 8, 1, codes({{4, 3}, {1, 3}, {2, 3}, {6, 3}, {8, 4}, {5, 4}}), 2).done());
    ASSERT_TRUE(reuse.ok) << reuse.error;
    const int want[8] = {1, 2, 1, 2, 1, 2, 1, 0};
    for (int x = 0; x < 8; ++x) EXPECT_EQ(reuse.at(x, 0), want[x]) << x;

    // A code beyond the next free entry ends the data; what was decoded stays.
    Decoded beyond(GifBuilder(4, 1, 2).image(0, 0, 4, 1, codes({{4, 3}, {3, 3}, {7, 3}, {1, 3}, {5, 3}}), 2).done());
    ASSERT_TRUE(beyond.ok);
    EXPECT_EQ(beyond.at(0, 0), 3);
    EXPECT_EQ(beyond.at(1, 0) | beyond.at(2, 0) | beyond.at(3, 0), 0);

    // A string that would not fit in the rest of the image is not written.
    Decoded overflow(GifBuilder(3, 1, 2).image(0, 0, 3, 1, codes({{4, 3}, {1, 3}, {2, 3}, {6, 3}, {5, 4}}), 2).done());
    ASSERT_TRUE(overflow.ok);
    EXPECT_EQ(overflow.at(1, 0), 2);
    EXPECT_EQ(overflow.at(2, 0), 0);
}

TEST(GifLzw, FullDictionaryKeepsTwelveBitCodesClearResetsAndEarlyEndLeavesZeros) {
    const Bytes pixels = ramp(6000, 251);  // fills the 4096 entries without a clear
    for (size_t clearEvery : {size_t(0), size_t(700)}) {
        Decoded d(GifBuilder(100, 60, 8).image(0, 0, 100, 60, literalLzw(pixels, 8, clearEvery), 8).done());
        ASSERT_TRUE(d.ok) << d.error;
        for (int i = 0; i < 6000; ++i) ASSERT_EQ(d.at(i % 100, i / 100), pixels[i]) << i << " clear every " << clearEvery;
    }
    Bytes cut = literalLzw(Bytes(40, 3), 2, 0, false);
    cut.resize(cut.size() / 2);
    Decoded early(GifBuilder(10, 4, 2).image(0, 0, 10, 4, cut, 2).done());
    ASSERT_TRUE(early.ok);
    EXPECT_EQ(early.at(0, 0), 3);
    EXPECT_EQ(early.at(9, 3), 0);
}

TEST(GifRefusals, CodesForBadHeadersBlocksAndData) {
    const Bytes lzw = literalLzw({1, 2, 3, 0}, 2);
    auto code = [](const Bytes& file) { return Decoded(file).error; };
    const Bytes good = GifBuilder(2, 2, 2).image(0, 0, 2, 2, lzw, 2).done();
    Bytes badVersion = good;
    badVersion[4] = '8';  // "GIF88a"
    EXPECT_EQ(code(badVersion), 6);
    EXPECT_EQ(code(GifBuilder(25001, 1, 2).image(0, 0, 1, 1, lzw, 2).done()), 2);
    EXPECT_EQ(code(GifBuilder(25000, 1, 2).image(0, 0, 2, 1, lzw, 2).done()), 0);
    EXPECT_EQ(code(GifBuilder(2, 2, 2).image(1, 0, 2, 2, lzw, 2).done()), 6);  // wider than the screen
    EXPECT_EQ(code(GifBuilder(2, 2, 2).image(0, 0, 2, 2, lzw, 1).done()), 6);
    EXPECT_EQ(code(GifBuilder(2, 2, 2).image(0, 0, 2, 2, lzw, 9).done()), 6);
    EXPECT_EQ(code(GifBuilder(2, 2, 0).image(0, 0, 2, 2, lzw, 2).done()), 6);  // no colour table
    EXPECT_EQ(code(GifBuilder(2, 2, 2).raw({'!', 0x77, 0}).image(0, 0, 2, 2, lzw, 2).done()), 4);
    EXPECT_EQ(code(GifBuilder(2, 2, 2).done()), 6);  // trailer before any image
    EXPECT_EQ(code(Bytes(good.begin(), good.end() - 3)), 6);  // image sub-block cut short
    EXPECT_EQ(gifOut.pixels, nullptr);
}

}  // namespace
