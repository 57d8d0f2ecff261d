// TIFF decoder: files built in memory in either byte order, so every case states exactly
// where each tag, strip and table lies.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "image/tiff_decoder.h"

namespace {

using Bytes = std::vector<uint8_t>;

enum : uint16_t { kShort = 3, kLong = 4, kRational = 5, kAscii = 2 };

struct TiffBuilder {
    bool bigEndian;
    Bytes b;
    struct Entry {
        uint16_t tag, type;
        uint32_t count, value;
    };
    std::vector<Entry> entries;

    explicit TiffBuilder(bool be) : bigEndian(be) {
        b = {uint8_t(be ? 'M' : 'I'), uint8_t(be ? 'M' : 'I')};
        put16(b, 42);
        put32(b, 0);  // directory offset, patched by finish()
    }
    void put16(Bytes& out, uint32_t v) const {
        if (bigEndian) out.insert(out.end(), {uint8_t(v >> 8), uint8_t(v)});
        else out.insert(out.end(), {uint8_t(v), uint8_t(v >> 8)});
    }
    void put32(Bytes& out, uint32_t v) const {
        if (bigEndian) out.insert(out.end(), {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)});
        else out.insert(out.end(), {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)});
    }
    uint32_t data(const Bytes& bytes) {
        const uint32_t at = uint32_t(b.size());
        b.insert(b.end(), bytes.begin(), bytes.end());
        return at;
    }
    uint32_t shorts(const std::vector<uint32_t>& values) {
        Bytes raw;
        for (uint32_t v : values) put16(raw, v);
        return data(raw);
    }
    uint32_t longs(const std::vector<uint32_t>& values) {
        Bytes raw;
        for (uint32_t v : values) put32(raw, v);
        return data(raw);
    }
    TiffBuilder& tag(uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
        entries.push_back({tag, type, count, value});
        return *this;
    }
    TiffBuilder& size(uint32_t w, uint32_t h) { return tag(256, kShort, 1, w).tag(257, kLong, 1, h); }
    TiffBuilder& photometric(uint32_t p) { return tag(262, kShort, 1, p); }
    TiffBuilder& bits(uint32_t bps) { return tag(258, kShort, 1, bps); }
    TiffBuilder& rgbBits(uint32_t bps) { return tag(258, kShort, 3, shorts({bps, bps, bps})); }
    // One strip per piece, stored in the file in the order given; offsets list them in
    // image order.
    TiffBuilder& strips(const std::vector<Bytes>& pieces, bool reversedInFile = false) {
        std::vector<uint32_t> offsets(pieces.size()), counts(pieces.size());
        for (size_t k = 0; k < pieces.size(); ++k) {
            const size_t i = reversedInFile ? pieces.size() - 1 - k : k;
            offsets[i] = data(pieces[i]);
            counts[i] = uint32_t(pieces[i].size());
        }
        if (pieces.size() == 1) return tag(273, kLong, 1, offsets[0]).tag(279, kLong, 1, counts[0]);
        return tag(273, kLong, uint32_t(pieces.size()), longs(offsets)).tag(279, kLong, uint32_t(pieces.size()), longs(counts));
    }
    Bytes finish() {
        if (b.size() & 1) b.push_back(0);
        const uint32_t at = uint32_t(b.size());
        put16(b, uint32_t(entries.size()));
        for (const Entry& e : entries) {
            put16(b, e.tag);
            put16(b, e.type);
            put32(b, e.count);
            if (e.type == kShort && e.count == 1) {
                put16(b, e.value);
                put16(b, 0);
            } else {
                put32(b, e.value);
            }
        }
        put32(b, 0);
        Bytes header;
        put32(header, at);
        std::copy(header.begin(), header.end(), b.begin() + 4);
        return b;
    }
};

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
    size_t stride() const {
        const size_t w = size_t(image->header.biWidth);
        return image->header.biBitCount == 24 ? (w * 3 + 3) & ~size_t(3) : (w + 3) & ~size_t(3);
    }
    // Row y counted from the top of the image.
    const uint8_t* row(int y) const { return image->pixels + stride() * size_t(image->header.biHeight - 1 - y); }
    Bytes rowBytes(int y, size_t n) const { return Bytes(row(y), row(y) + n); }
};

void decode(const Bytes& file, Decoded& out) {
    std::vector<uint8_t> exact(file);  // exact size: the sanitizer build sees any over-read
    DecodedImage* image = decodeTiffMemory(exact.data(), exact.size(), out.counters);
    out.error = image ? 0 : tiffRecord().errorCode;
    if (image) {
        out.copy = *image;
        out.image = &out.copy;
    }
}

int refusal(const Bytes& file) {
    Decoded d;
    decode(file, d);
    if (!d.image) EXPECT_EQ(tiffRecord().pixels, nullptr);
    return d.error;
}

TEST(TiffKinds, BilevelGreyAndPaletteBecomeEightBitWithTheirPalettes) {
    // White-is-zero, 1 bit, width 10: two bytes per row, the last six bits are padding.
    TiffBuilder bilevel(false);
    bilevel.size(10, 2).bits(1).photometric(0).strips({{0xA5, 0xFF, 0x00, 0x7F}});
    Decoded d1;
    decode(bilevel.finish(), d1);
    ASSERT_NE(d1.image, nullptr) << d1.error;
    EXPECT_EQ(d1.image->header.biBitCount, 8);
    EXPECT_EQ(d1.image->sourceDepth, 1);
    EXPECT_EQ(d1.image->palette[0].red, 255);
    EXPECT_EQ(d1.image->palette[1].green, 0);
    EXPECT_EQ(d1.rowBytes(0, 12), (Bytes{1, 0, 1, 0, 0, 1, 0, 1, 1, 1, 0, 0}));
    EXPECT_EQ(d1.rowBytes(1, 12), (Bytes{0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0}));

    // Black-is-zero, 4 bits, odd width: ascending steps of 17, high half first.
    TiffBuilder grey(true);
    grey.size(5, 1).bits(4).photometric(1).strips({{0x1F, 0xA3, 0x70}});
    Decoded d4;
    decode(grey.finish(), d4);
    ASSERT_NE(d4.image, nullptr) << d4.error;
    EXPECT_EQ(d4.rowBytes(0, 5), (Bytes{1, 15, 10, 3, 7}));
    EXPECT_EQ(d4.image->palette[15].blue, 255);
    EXPECT_EQ(d4.image->palette[2].red, 34);

    // White-is-zero 8 bits descends; palette 4 bits takes the high bytes of the ColorMap.
    TiffBuilder grey8(false);
    grey8.size(2, 1).bits(8).photometric(0).strips({{0, 200}});
    Decoded d8;
    decode(grey8.finish(), d8);
    ASSERT_NE(d8.image, nullptr);
    EXPECT_EQ(d8.image->palette[200].green, 55);
    EXPECT_EQ(d8.rowBytes(0, 2), (Bytes{0, 200}));

    for (bool be : {false, true}) {
        TiffBuilder palette(be);
        std::vector<uint32_t> map(48);
        for (uint32_t k = 0; k < 16; ++k) {
            map[k] = 0x1000 * k + 0xFF;   // red
            map[16 + k] = 0x0F00 + k;     // green
            map[32 + k] = 0xFF00 - k;     // blue
        }
        palette.size(2, 1).bits(4).photometric(3).tag(320, kShort, 48, palette.shorts(map)).strips({{0x2E}});
        Decoded dp;
        decode(palette.finish(), dp);
        ASSERT_NE(dp.image, nullptr) << dp.error;
        EXPECT_EQ(dp.rowBytes(0, 2), (Bytes{2, 14}));
        EXPECT_EQ(dp.image->palette[14].red, 0xE0);
        EXPECT_EQ(dp.image->palette[14].green, 0x0F);
        EXPECT_EQ(dp.image->palette[14].blue, 0xFE);
    }
}

TEST(TiffKinds, RgbBecomesBgrAndSixteenBitKeepsTheHighByteInBothOrders) {
    TiffBuilder rgb(false);
    rgb.size(3, 1).rgbBits(8).photometric(2).strips({{1, 2, 3, 4, 5, 6, 7, 8, 9}});
    Decoded d;
    decode(rgb.finish(), d);
    ASSERT_NE(d.image, nullptr) << d.error;
    EXPECT_EQ(d.image->header.biBitCount, 24);
    EXPECT_EQ(d.image->sourceDepth, 24);
    EXPECT_EQ(d.rowBytes(0, 12), (Bytes{3, 2, 1, 6, 5, 4, 9, 8, 7, 0, 0, 0}));

    // Samples 0x12AB, 0x34CD, 0x56EF and 0xFF01, 0x0080, 0x7F7F in each byte order.
    Bytes results[2];
    for (bool be : {false, true}) {
        TiffBuilder b16(be);
        Bytes samples;
        for (uint32_t v : {0x12AB, 0x34CD, 0x56EF, 0xFF01, 0x0080, 0x7F7F}) b16.put16(samples, v);
        b16.size(2, 1).rgbBits(16).photometric(2).strips({samples});
        Decoded d16;
        decode(b16.finish(), d16);
        ASSERT_NE(d16.image, nullptr) << d16.error;
        EXPECT_EQ(d16.image->sourceDepth, 48);
        results[be] = d16.rowBytes(0, 6);
    }
    EXPECT_EQ(results[0], (Bytes{0x56, 0x34, 0x12, 0x7F, 0x00, 0xFF}));
    EXPECT_EQ(results[0], results[1]);
}

TEST(TiffStrips, StripsInAnyOrderAndRowsAcrossStripBoundaries) {
    // Three rows of 9 bytes cut into strips of 7, 11 and 9 bytes, stored back to front.
    Bytes all(27);
    for (int i = 0; i < 27; ++i) all[i] = uint8_t(10 + i);
    const std::vector<Bytes> pieces = {Bytes(all.begin(), all.begin() + 7), Bytes(all.begin() + 7, all.begin() + 18),
                                       Bytes(all.begin() + 18, all.end())};
    for (bool be : {false, true}) {
        TiffBuilder t(be);
        t.size(3, 3).rgbBits(8).photometric(2).strips(pieces, true);
        Decoded d;
        decode(t.finish(), d);
        ASSERT_NE(d.image, nullptr) << d.error;
        for (int y = 0; y < 3; ++y) {
            for (int x = 0; x < 3; ++x) {
                EXPECT_EQ(d.row(y)[x * 3], all[y * 9 + x * 3 + 2]);
                EXPECT_EQ(d.row(y)[x * 3 + 2], all[y * 9 + x * 3]);
            }
        }
    }
    // Two SHORT strip offsets and counts fit in the entry itself.
    TiffBuilder inlineShorts(true);
    const uint32_t first = inlineShorts.data({7, 8}), second = inlineShorts.data({9, 6});
    inlineShorts.size(2, 2).bits(8).photometric(1).tag(273, kShort, 2, (first << 16) | second).tag(279, kShort, 2, (2u << 16) | 2u);
    Decoded d;
    decode(inlineShorts.finish(), d);
    ASSERT_NE(d.image, nullptr) << d.error;
    EXPECT_EQ(d.rowBytes(0, 2), (Bytes{7, 8}));
    EXPECT_EQ(d.rowBytes(1, 2), (Bytes{9, 6}));
}

TEST(TiffStrips, StripDataAreNeverReadPastTheirLengthOrTheFile) {
    // Byte counts shorter than the rows need: what is there is used, the rest stays zero.
    TiffBuilder shortData(false);
    shortData.size(4, 3).bits(8).photometric(1).strips({{1, 2, 3, 4, 5, 6}});
    Decoded d;
    decode(shortData.finish(), d);
    ASSERT_NE(d.image, nullptr) << d.error;
    EXPECT_EQ(d.rowBytes(0, 4), (Bytes{1, 2, 3, 4}));
    EXPECT_EQ(d.rowBytes(1, 4), (Bytes{5, 6, 0, 0}));
    EXPECT_EQ(d.rowBytes(2, 4), (Bytes{0, 0, 0, 0}));

    // A strip running past the end of the file, one starting beyond it, and one whose
    // offset + count wraps around 32 bits: code 4.
    for (uint32_t offset : {0u, 0x7FFFFFF0u, 0xFFFFFFF0u}) {
        TiffBuilder t(false);
        const uint32_t at = t.data({1, 2, 3, 4});
        t.size(4, 1).bits(8).photometric(1).tag(273, kLong, 1, offset ? offset : at).tag(279, kLong, 1, offset ? 0x20 : 4000);
        EXPECT_EQ(refusal(t.finish()), 4) << offset;
    }
}

TEST(TiffRefusals, UnsupportedKindsAndLayoutsGiveTwo) {
    auto rgb = [](TiffBuilder& t) -> TiffBuilder& { return t.size(1, 1).rgbBits(8).photometric(2).strips({{1, 2, 3}}); };
    TiffBuilder lzw(false);
    EXPECT_EQ(refusal(rgb(lzw).tag(259, kShort, 1, 5).finish()), 2);
    TiffBuilder noPhotometric(false);
    EXPECT_EQ(refusal(noPhotometric.size(1, 1).bits(8).strips({{1}}).finish()), 2);
    TiffBuilder rgba(false);
    EXPECT_EQ(refusal(rgba.size(1, 1).tag(258, kShort, 4, rgba.shorts({8, 8, 8, 8})).photometric(2).strips({{1, 2, 3, 4}}).finish()), 2);
    TiffBuilder grey16(true);
    EXPECT_EQ(refusal(grey16.size(1, 1).bits(16).photometric(1).strips({{1, 2}}).finish()), 2);
    TiffBuilder grey2(true);
    EXPECT_EQ(refusal(grey2.size(4, 1).bits(2).photometric(1).strips({{1}}).finish()), 2);
    TiffBuilder paletteWithoutMap(false);
    EXPECT_EQ(refusal(paletteWithoutMap.size(1, 1).bits(8).photometric(3).strips({{1}}).finish()), 2);
    TiffBuilder planar(false);
    EXPECT_EQ(refusal(rgb(planar).tag(284, kShort, 1, 2).finish()), 2);
    TiffBuilder tiled(false);
    EXPECT_EQ(refusal(tiled.size(1, 1).rgbBits(8).photometric(2).tag(322, kShort, 1, 16).tag(323, kShort, 1, 16).finish()), 2);
    TiffBuilder fill(false);
    EXPECT_EQ(refusal(rgb(fill).tag(266, kShort, 1, 2).finish()), 2);
    TiffBuilder greyAlpha(false);
    EXPECT_EQ(refusal(greyAlpha.size(1, 1).tag(258, kShort, 2, (8u << 16) | 8u).photometric(1).strips({{1, 2}}).finish()), 2);
    TiffBuilder tooWide(false);
    EXPECT_EQ(refusal(tooWide.size(25001, 1).bits(8).photometric(1).strips({{1}}).finish()), 2);
}

TEST(TiffRefusals, MalformedHeadersAndDirectoriesGiveSixAndTablesOutsideGiveFour) {
    TiffBuilder good(true);
    good.size(1, 1).bits(8).photometric(1).strips({{1}});
    const Bytes file = good.finish();
    EXPECT_EQ(refusal(file), 0);

    Bytes b = file;
    b[0] = 'X';
    EXPECT_EQ(refusal(b), 6);
    b = file;
    b[3] = 43;
    EXPECT_EQ(refusal(b), 6);
    EXPECT_EQ(refusal(Bytes(file.begin(), file.begin() + 7)), 6);
    b = file;
    b[4] = 0xFF;  // directory offset far beyond the file
    EXPECT_EQ(refusal(b), 6);
    EXPECT_EQ(refusal(Bytes(file.begin(), file.end() - 10)), 6);  // entries cut short

    TiffBuilder zeroWidth(false);
    EXPECT_EQ(refusal(zeroWidth.size(0, 1).bits(8).photometric(1).strips({{1}}).finish()), 6);
    TiffBuilder asciiWidth(false);
    EXPECT_EQ(refusal(asciiWidth.tag(256, kAscii, 1, 1).tag(257, kShort, 1, 1).bits(8).photometric(1).strips({{1}}).finish()), 6);
    TiffBuilder mismatch(false);
    EXPECT_EQ(refusal(mismatch.size(1, 1).bits(8).photometric(1).tag(273, kLong, 1, 8).tag(279, kLong, 2, mismatch.longs({1, 1})).finish()), 6);
    TiffBuilder twice(false);
    EXPECT_EQ(refusal(twice.size(1, 1).bits(8).photometric(1).strips({{1}}).tag(273, kLong, 1, 8).finish()), 6);
    TiffBuilder noStrips(false);
    EXPECT_EQ(refusal(noStrips.size(1, 1).bits(8).photometric(1).tag(273, kLong, 0, 0).tag(279, kLong, 0, 0).finish()), 6);
    TiffBuilder unequalBits(false);
    EXPECT_EQ(refusal(unequalBits.size(1, 1).tag(258, kShort, 3, unequalBits.shorts({8, 8, 16})).photometric(2).strips({{1, 2, 3}}).finish()), 6);
    TiffBuilder stripArrayOutside(false);
    EXPECT_EQ(refusal(stripArrayOutside.size(1, 1).bits(8).photometric(1).tag(273, kLong, 2, 0xFFFFFFFC).tag(279, kLong, 2, 0xFFFFFFFC).finish()), 6);

    TiffBuilder mapOutside(false);
    EXPECT_EQ(refusal(mapOutside.size(1, 1).bits(8).photometric(3).tag(320, kShort, 768, 0xFFFFFF00).strips({{1}}).finish()), 4);
}

TEST(TiffResolution, InchAndCentimetreUnitsAndTheirGuards) {
    struct Case {
        uint32_t xNum, xDen, unit;
        bool withY;
        int32_t expected;
    } cases[] = {
        {300, 1, 2, true, 11811},  {118, 1, 3, true, 11800},       {72, 1, 1, true, 0},
        {300, 0, 2, true, 0},      {300, 1, 2, false, 0},          {0xFFFFFFFF, 1, 2, true, 2147483647},
        {7200, 100, 2, true, 2835},
    };
    for (const Case& c : cases) {
        TiffBuilder t(true);
        t.size(1, 1).bits(8).photometric(1).strips({{1}});
        t.tag(282, kRational, 1, t.longs({c.xNum, c.xDen}));
        if (c.withY) t.tag(283, kRational, 1, t.longs({c.xNum, c.xDen}));
        t.tag(296, kShort, 1, c.unit);
        Decoded d;
        decode(t.finish(), d);
        ASSERT_NE(d.image, nullptr);
        EXPECT_EQ(d.image->header.biXPelsPerMeter, c.expected) << c.xNum << "/" << c.xDen << " unit " << c.unit;
        EXPECT_EQ(d.image->header.biYPelsPerMeter, c.withY ? c.expected : 0);
    }
}

TEST(TiffFile, DecodesThroughTheMappedFileWithCommentSizeAndTime) {
    TiffBuilder t(false);
    t.size(2, 1).bits(8).photometric(1).tag(270, kAscii, 4, t.data({'a', 'b', 'c', 0})).strips({{5, 6}});
    const Bytes file = t.finish();
    const std::wstring path = L"tiff_decoder_test.tif";
    ASSERT_TRUE(writeWholeFile(path.c_str(), file.data(), file.size()));
    DecodeCounters counters;
    DecodedImage* image = decodeTiff(path.c_str(), counters);
    ASSERT_NE(image, nullptr) << tiffRecord().errorCode;
    EXPECT_EQ(image->format, FormatTiff);
    EXPECT_EQ(image->fileSize, file.size());
    FileTime time;
    ASSERT_TRUE(getLastWriteTime(path.c_str(), time));
    EXPECT_EQ(image->lastWriteTime, time);
    EXPECT_EQ(counters.commentCount, 1);
    EXPECT_EQ(counters.fileWidth, 2);
    EXPECT_EQ(counters.fileHeight, 1);
    pageFree(image->pixels);
    deleteFileAt(path.c_str());
    EXPECT_EQ(decodeTiff(L"tiff_decoder_missing.tif", counters), nullptr);
    EXPECT_EQ(tiffRecord().errorCode, 4);
}

}  // namespace
