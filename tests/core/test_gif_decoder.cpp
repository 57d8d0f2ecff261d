// GIF decoder: files built in memory, so every case states exactly what the file holds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "image/gif_decoder.h"

namespace {

using Bytes = std::vector<uint8_t>;

void put16(Bytes& b, int v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}

// LSB-first code writer.
struct CodeWriter {
    Bytes bytes;
    uint32_t buffer = 0;
    int count = 0;
    void put(uint32_t code, int size) {
        buffer |= code << count;
        count += size;
        while (count >= 8) {
            bytes.push_back(uint8_t(buffer));
            buffer >>= 8;
            count -= 8;
        }
    }
    Bytes finish() {
        if (count) bytes.push_back(uint8_t(buffer));
        return bytes;
    }
};

// Encodes indices as one literal code each, tracking the code size exactly as a decoder
// grows it (every code after the first adds an entry). clearEvery > 0 inserts a clear code
// after that many pixels.
Bytes literalLzw(const Bytes& pixels, int minCodeSize, size_t clearEvery = 0, bool endCode = true) {
    const uint32_t clear = 1u << minCodeSize;
    CodeWriter w;
    int size = minCodeSize + 1;
    uint32_t next = clear + 2;
    bool first = true;
    w.put(clear, size);
    for (size_t i = 0; i < pixels.size(); ++i) {
        if (clearEvery && i && i % clearEvery == 0) {
            w.put(clear, size);
            size = minCodeSize + 1;
            next = clear + 2;
            first = true;
        }
        w.put(pixels[i], size);
        if (!first && next < 4096) {
            ++next;
            if (next > (1u << size) - 1 && size < 12) ++size;
        }
        first = false;
    }
    if (endCode) w.put(clear + 1, size);
    return w.finish();
}

// Splits LZW data into sub-blocks of at most 255 bytes plus the terminator.
void putSubBlocks(Bytes& b, const Bytes& data, size_t blockSize = 255) {
    for (size_t i = 0; i < data.size(); i += blockSize) {
        const size_t n = std::min(blockSize, data.size() - i);
        b.push_back(uint8_t(n));
        b.insert(b.end(), data.begin() + i, data.begin() + i + n);
    }
    b.push_back(0);
}

struct GifBuilder {
    Bytes b;
    GifBuilder(int screenW, int screenH, int globalBits, int background = 0) {
        const char* sig = "GIF89a";
        b.assign(sig, sig + 6);
        put16(b, screenW);
        put16(b, screenH);
        b.push_back(uint8_t(globalBits ? 0x80 | (globalBits - 1) : 0));
        b.push_back(uint8_t(background));
        b.push_back(0);
        // Global entry k = (k, 100 + k, 200 - k).
        for (int k = 0; globalBits && k < (1 << globalBits); ++k) {
            b.push_back(uint8_t(k));
            b.push_back(uint8_t(100 + k));
            b.push_back(uint8_t(200 - k));
        }
    }
    GifBuilder& graphicControl(bool transparent, int index) {
        b.insert(b.end(), {'!', 0xF9, 4, uint8_t(transparent ? 1 : 0), 0, 0, uint8_t(index), 0});
        return *this;
    }
    GifBuilder& comment(const char* text) {
        b.insert(b.end(), {'!', 0xFE});
        putSubBlocks(b, Bytes(text, text + std::strlen(text)));
        return *this;
    }
    GifBuilder& application() {
        b.insert(b.end(), {'!', 0xFF, 11});
        for (char c : std::string("NETSCAPE2.0")) b.push_back(uint8_t(c));
        b.insert(b.end(), {3, 1, 0, 0, 0});
        return *this;
    }
    // Local table entry k = (250 - k, k, 7) when localBits > 0.
    GifBuilder& image(int left, int top, int w, int h, const Bytes& lzw, int minCodeSize = 8, int localBits = 0,
                      bool interlaced = false) {
        b.push_back(',');
        put16(b, left);
        put16(b, top);
        put16(b, w);
        put16(b, h);
        b.push_back(uint8_t((localBits ? 0x80 | (localBits - 1) : 0) | (interlaced ? 0x40 : 0)));
        for (int k = 0; localBits && k < (1 << localBits); ++k) {
            b.insert(b.end(), {uint8_t(250 - k), uint8_t(k), 7});
        }
        b.push_back(uint8_t(minCodeSize));
        putSubBlocks(b, lzw);
        return *this;
    }
    Bytes done() {
        b.push_back(';');
        return b;
    }
};

// A decode's result, copied out of the decoder's record (which the next decode reuses);
// owns the pixels.
struct Decoded {
    DecodedImage copy;
    DecodedImage* image = nullptr;
    DecodeCounters counters;
    int32_t error = 0;
    Decoded() = default;
    Decoded(const Decoded&) = delete;
    ~Decoded() {
        if (image) pageFree(image->pixels);
    }
    // Index at screen (x, y), y counted from the top.
    uint8_t at(int x, int y) const {
        const int w = image->header.biWidth, h = image->header.biHeight;
        return image->pixels[size_t((w + 3) & ~3) * size_t(h - 1 - y) + x];
    }
};

void decode(const Bytes& file, Decoded& out) {
    // An exact-size heap copy, so the sanitizer build catches any read past the end.
    std::vector<uint8_t> copy(file);
    DecodedImage* image = decodeGifMemory(copy.data(), copy.size(), out.counters);
    out.error = image ? 0 : gifRecord().errorCode;
    if (image) {
        out.copy = *image;
        out.image = &out.copy;
    }
}

Bytes ramp(size_t n, int modulo) {
    Bytes p(n);
    for (size_t i = 0; i < n; ++i) p[i] = uint8_t(i % modulo);
    return p;
}

TEST(GifScreen, ImageIsPlacedOnTheScreenWithTheBackgroundAround) {
    // 10 x 10 at (5, 5) on a 21 x 20 screen (odd width: rows padded to 24 bytes).
    const Bytes pixels = ramp(100, 7);
    Decoded d;
    decode(GifBuilder(21, 20, 4, 9).image(5, 5, 10, 10, literalLzw(pixels, 4), 4).done(), d);
    ASSERT_NE(d.image, nullptr) << d.error;
    EXPECT_EQ(d.image->header.biWidth, 21);
    EXPECT_EQ(d.image->header.biHeight, 20);
    EXPECT_EQ(d.image->header.biBitCount, 8);
    EXPECT_EQ(d.image->format, FormatGif);
    EXPECT_EQ(d.image->sourceDepth, 4);
    for (int y = 0; y < 20; ++y) {
        for (int x = 0; x < 21; ++x) {
            const bool inside = x >= 5 && x < 15 && y >= 5 && y < 15;
            const int want = inside ? pixels[(y - 5) * 10 + (x - 5)] : 9;
            ASSERT_EQ(d.at(x, y), want) << x << "," << y;
        }
        // Row padding stays zero.
        const uint8_t* row = d.image->pixels + 24 * size_t(19 - y);
        EXPECT_EQ(row[21] | row[22] | row[23], 0);
    }
    // Palette: the 16 global entries, zero beyond.
    EXPECT_EQ(d.image->palette[15].red, 15);
    EXPECT_EQ(d.image->palette[15].green, 115);
    EXPECT_EQ(d.image->palette[15].blue, 185);
    EXPECT_EQ(d.image->palette[16].green, 0);
}

TEST(GifScreen, LocalTableWinsAndSetsTheSourceDepth) {
    Decoded d;
    decode(GifBuilder(4, 1, 8, 0).image(0, 0, 4, 1, literalLzw({0, 1, 2, 3}, 2), 2, 2).done(), d);
    ASSERT_NE(d.image, nullptr) << d.error;
    EXPECT_EQ(d.image->sourceDepth, 2);
    EXPECT_EQ(d.image->palette[1].red, 249);
    EXPECT_EQ(d.image->palette[1].blue, 7);
    EXPECT_EQ(d.image->palette[4].red, 0);  // beyond the local table's 4 entries
}

TEST(GifScreen, NineRowInterlacedImageFollowsTheFourPasses) {
    // Decoded row r holds the value r in every pixel.
    Bytes pixels;
    for (int r = 0; r < 9; ++r) pixels.insert(pixels.end(), 3, uint8_t(r));
    Decoded d;
    decode(GifBuilder(3, 9, 4).image(0, 0, 3, 9, literalLzw(pixels, 4), 4, 0, true).done(), d);
    ASSERT_NE(d.image, nullptr) << d.error;
    EXPECT_EQ(d.counters.interlaced, 1);
    const int fromDecoded[9] = {0, 5, 3, 6, 2, 7, 4, 8, 1};
    for (int y = 0; y < 9; ++y) EXPECT_EQ(d.at(1, y), fromDecoded[y]) << "display row " << y;
}

TEST(GifTransparency, TransparentEntryTakesTheGlobalBackgroundOrWhite) {
    const Bytes lzw = literalLzw({3, 1}, 2);
    Decoded withGlobal;
    decode(GifBuilder(2, 1, 2, 0).graphicControl(true, 3).image(0, 0, 2, 1, lzw, 2).done(), withGlobal);
    ASSERT_NE(withGlobal.image, nullptr);
    const PaletteEntry& e = withGlobal.image->palette[3];
    EXPECT_EQ(e.red, 0);
    EXPECT_EQ(e.green, 100);
    EXPECT_EQ(e.blue, 200);
    EXPECT_EQ(withGlobal.image->palette[1].green, 101);

    Decoded localOnly;
    decode(GifBuilder(2, 1, 0).graphicControl(true, 3).image(0, 0, 2, 1, lzw, 2, 2).done(), localOnly);
    ASSERT_NE(localOnly.image, nullptr);
    const PaletteEntry& w = localOnly.image->palette[3];
    EXPECT_EQ(w.red + w.green + w.blue, 3 * 255);

    Decoded flagOff;
    decode(GifBuilder(2, 1, 2, 0).graphicControl(false, 3).image(0, 0, 2, 1, lzw, 2).done(), flagOff);
    ASSERT_NE(flagOff.image, nullptr);
    EXPECT_EQ(flagOff.image->palette[3].green, 103);
}

TEST(GifBlocks, OnlyTheFirstImageAndOnlyAnEarlierCommentCount) {
    const Bytes first = literalLzw({1, 1, 1, 1}, 2), second = literalLzw({2, 2, 2, 2}, 2);
    GifBuilder animated(2, 2, 2);
    animated.application().comment("before").graphicControl(false, 0).image(0, 0, 2, 2, first, 2);
    animated.comment("after").image(0, 0, 2, 2, second, 2);
    Decoded d;
    decode(animated.done(), d);
    ASSERT_NE(d.image, nullptr) << d.error;
    EXPECT_EQ(d.at(1, 1), 1);
    EXPECT_EQ(d.counters.commentCount, 1);
    EXPECT_EQ(d.counters.interlaced, 0);

    Decoded late;
    decode(GifBuilder(2, 2, 2).image(0, 0, 2, 2, first, 2).comment("after").done(), late);
    ASSERT_NE(late.image, nullptr);
    EXPECT_EQ(late.counters.commentCount, 0);
}

// Hand-made code streams (minimum code size 2: clear 4, end 5, first free entry 6).
Bytes codes(std::initializer_list<std::pair<uint32_t, int>> list) {
    CodeWriter w;
    for (auto [code, size] : list) w.put(code, size);
    return w.finish();
}

TEST(GifLzw, DefinedEntriesTheCodeBeingDefinedAndInvalidCodes) {
    // 1, 2, then 6 = "1 2" (an entry), then 8 = the code being defined ("1 2 1").
    Decoded reuse;
    decode(GifBuilder(8, 1, 2).image(0, 0, 8, 1, codes({{4, 3}, {1, 3}, {2, 3}, {6, 3}, {8, 4}, {5, 4}}), 2).done(),
           reuse);
    ASSERT_NE(reuse.image, nullptr) << reuse.error;
    const int want[8] = {1, 2, 1, 2, 1, 2, 1, 0};
    for (int x = 0; x < 8; ++x) EXPECT_EQ(reuse.at(x, 0), want[x]) << x;

    // 1, then 6 and 7 are each the code being defined: 1 | 1 1 | 1 1 1.
    Decoded kwk;
    decode(GifBuilder(7, 1, 2).image(0, 0, 7, 1, codes({{4, 3}, {1, 3}, {6, 3}, {7, 3}, {5, 4}}), 2).done(), kwk);
    ASSERT_NE(kwk.image, nullptr);
    for (int x = 0; x < 6; ++x) EXPECT_EQ(kwk.at(x, 0), 1);
    EXPECT_EQ(kwk.at(6, 0), 0);

    // A code beyond the next free entry ends the data; what was decoded stays.
    Decoded beyond;
    decode(GifBuilder(4, 1, 2).image(0, 0, 4, 1, codes({{4, 3}, {3, 3}, {7, 3}, {1, 3}, {5, 3}}), 2).done(), beyond);
    ASSERT_NE(beyond.image, nullptr);
    EXPECT_EQ(beyond.at(0, 0), 3);
    EXPECT_EQ(beyond.at(1, 0) | beyond.at(2, 0) | beyond.at(3, 0), 0);

    // A string that would not fit in the rest of the image is not written at all.
    Decoded overflow;
    decode(GifBuilder(3, 1, 2).image(0, 0, 3, 1, codes({{4, 3}, {1, 3}, {2, 3}, {6, 3}, {5, 4}}), 2).done(), overflow);
    ASSERT_NE(overflow.image, nullptr);
    EXPECT_EQ(overflow.at(0, 0), 1);
    EXPECT_EQ(overflow.at(1, 0), 2);
    EXPECT_EQ(overflow.at(2, 0), 0);
}

TEST(GifLzw, FullDictionaryKeepsTwelveBitCodesAndClearResets) {
    // 6000 literals without a clear: the dictionary fills at 4096 and decoding continues.
    const Bytes pixels = ramp(6000, 251);
    Decoded full;
    decode(GifBuilder(100, 60, 8).image(0, 0, 100, 60, literalLzw(pixels, 8), 8).done(), full);
    ASSERT_NE(full.image, nullptr) << full.error;
    for (int i = 0; i < 6000; i += 1) ASSERT_EQ(full.at(i % 100, i / 100), pixels[i]) << i;

    // The same with a clear every 700 codes (code size falls back to 9 bits each time).
    Decoded cleared;
    decode(GifBuilder(100, 60, 8).image(0, 0, 100, 60, literalLzw(pixels, 8, 700), 8).done(), cleared);
    ASSERT_NE(cleared.image, nullptr) << cleared.error;
    for (int i = 0; i < 6000; i += 1) ASSERT_EQ(cleared.at(i % 100, i / 100), pixels[i]) << i;
}

TEST(GifLzw, DataEndingEarlyLeavesTheRestZero) {
    const Bytes pixels(40, 3);
    Bytes lzw = literalLzw(pixels, 2, 0, false);
    lzw.resize(lzw.size() / 2);
    Decoded d;
    decode(GifBuilder(10, 4, 2).image(0, 0, 10, 4, lzw, 2).done(), d);
    ASSERT_NE(d.image, nullptr);
    EXPECT_EQ(d.at(0, 0), 3);
    EXPECT_EQ(d.at(9, 3), 0);
}

TEST(GifRefusals, CodesForBadHeadersBlocksAndData) {
    const Bytes lzw = literalLzw({1, 2, 3, 0}, 2);
    auto code = [](const Bytes& file) {
        Decoded d;
        decode(file, d);
        if (d.image) return 0;
        EXPECT_EQ(gifRecord().pixels, nullptr);
        return d.error;
    };
    const Bytes good = GifBuilder(2, 2, 2).image(0, 0, 2, 2, lzw, 2).done();
    EXPECT_EQ(code(good), 0);

    Bytes bad = good;
    bad[4] = '8';  // "GIF88a"
    EXPECT_EQ(code(bad), 6);
    EXPECT_EQ(code(Bytes(good.begin(), good.begin() + 12)), 6);
    EXPECT_EQ(code(GifBuilder(0, 5, 2).image(0, 0, 0, 0, lzw, 2).done()), 2);
    EXPECT_EQ(code(GifBuilder(25001, 1, 2).image(0, 0, 1, 1, lzw, 2).done()), 2);
    EXPECT_EQ(code(GifBuilder(25000, 1, 2).image(0, 0, 2, 1, lzw, 2).done()), 0);
    EXPECT_EQ(code(GifBuilder(2, 2, 2).image(1, 0, 2, 2, lzw, 2).done()), 6);  // wider than the screen
    EXPECT_EQ(code(GifBuilder(2, 2, 2).image(0, 0, 2, 2, lzw, 1).done()), 6);
    EXPECT_EQ(code(GifBuilder(2, 2, 2).image(0, 0, 2, 2, lzw, 9).done()), 6);
    EXPECT_EQ(code(GifBuilder(2, 2, 0).image(0, 0, 2, 2, lzw, 2).done()), 6);  // no colour table

    GifBuilder unknownLabel(2, 2, 2);
    unknownLabel.b.insert(unknownLabel.b.end(), {'!', 0x77, 0});
    EXPECT_EQ(code(unknownLabel.image(0, 0, 2, 2, lzw, 2).done()), 4);
    GifBuilder unknownBlock(2, 2, 2);
    unknownBlock.b.push_back('x');
    EXPECT_EQ(code(unknownBlock.done()), 4);
    EXPECT_EQ(code(GifBuilder(2, 2, 2).done()), 6);  // trailer before any image

    // Global table cut short, an extension and an image sub-block running past the end.
    EXPECT_EQ(code(Bytes(good.begin(), good.begin() + 20)), 6);
    Bytes cutComment = GifBuilder(2, 2, 2).comment("a long comment text").b;
    cutComment.resize(cutComment.size() - 6);
    EXPECT_EQ(code(cutComment), 6);
    EXPECT_EQ(code(Bytes(good.begin(), good.end() - 3)), 6);
    // No image data at all: the first sub-block is the terminator.
    GifBuilder empty(2, 2, 2);
    empty.b.insert(empty.b.end(), {',', 0, 0, 0, 0, 2, 0, 2, 0, 0, 2, 0});
    EXPECT_EQ(code(empty.done()), 6);
}

TEST(GifFile, DecodesThroughTheMappedFileWithSizeAndTime) {
    const Bytes file = GifBuilder(3, 2, 2).comment("x").image(0, 0, 3, 2, literalLzw({1, 2, 3, 3, 2, 1}, 2), 2, 0, true).done();
    const std::wstring path = L"gif_decoder_test.gif";
    ASSERT_TRUE(writeWholeFile(path.c_str(), file.data(), file.size()));
    DecodeCounters counters;
    DecodedImage* image = decodeGif(path.c_str(), counters);
    ASSERT_NE(image, nullptr) << gifRecord().errorCode;
    EXPECT_EQ(image->fileSize, file.size());
    FileTime time;
    ASSERT_TRUE(getLastWriteTime(path.c_str(), time));
    EXPECT_EQ(image->lastWriteTime, time);
    EXPECT_EQ(counters.commentCount, 1);
    EXPECT_EQ(counters.interlaced, 1);
    EXPECT_EQ(counters.fileWidth, 3);
    pageFree(image->pixels);
    deleteFileAt(path.c_str());

    EXPECT_EQ(decodeGif(L"gif_decoder_missing.gif", counters), nullptr);
    EXPECT_EQ(gifRecord().errorCode, 4);
}

}  // namespace
