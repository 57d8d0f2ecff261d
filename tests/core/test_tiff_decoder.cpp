// TIFF decoder: files built in memory in either byte order, so every case states exactly
// where each tag, strip and table lies. (The kinds and palettes are compared with libtiff
// on real files in the host suite.)
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <vector>

#include "image/tiff_decoder.h"

// The record the decodes in this file fill.
static DecodedImage tiffOut;


namespace {

using Bytes = std::vector<uint8_t>;

enum : uint16_t { kAscii = 2, kShort = 3, kLong = 4, kRational = 5 };

struct TiffBuilder {
    bool be;
    Bytes b;
    struct Entry {
        uint16_t tag, type;
        uint32_t count, value;
    };
    std::vector<Entry> entries;

    explicit TiffBuilder(bool bigEndian) : be(bigEndian) {
        b = {uint8_t(be ? 'M' : 'I'), uint8_t(be ? 'M' : 'I')};
        put16(b, 42);
        put32(b, 0);  // directory offset, set by finish()
    }
    void put16(Bytes& out, uint32_t v) const {
        out.push_back(uint8_t(be ? v >> 8 : v));
        out.push_back(uint8_t(be ? v : v >> 8));
    }
    void put32(Bytes& out, uint32_t v) const {
        put16(out, be ? v >> 16 : v & 0xFFFF);
        put16(out, be ? v & 0xFFFF : v >> 16);
    }
    uint32_t data(const Bytes& bytes) {
        b.insert(b.end(), bytes.begin(), bytes.end());
        return uint32_t(b.size() - bytes.size());
    }
    uint32_t longs(std::initializer_list<uint32_t> values) {
        Bytes raw;
        for (uint32_t v : values) put32(raw, v);
        return data(raw);
    }
    TiffBuilder& tag(uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
        entries.push_back({tag, type, count, value});
        return *this;
    }
    TiffBuilder& grey(uint32_t w, uint32_t h, uint32_t bits = 8, uint32_t photometric = 1) {
        return tag(256, kShort, 1, w).tag(257, kLong, 1, h).tag(258, kShort, 1, bits).tag(262, kShort, 1, photometric);
    }
    TiffBuilder& rgb(uint32_t w, uint32_t h, uint32_t bits) {
        Bytes raw;
        for (int i = 0; i < 3; ++i) put16(raw, bits);
        return tag(256, kShort, 1, w).tag(257, kShort, 1, h).tag(258, kShort, 3, data(raw)).tag(262, kShort, 1, 2);
    }
    // One strip per piece, stored in the file in the order given by `order`.
    TiffBuilder& strips(const std::vector<Bytes>& pieces, std::vector<size_t> order = {}) {
        if (order.empty()) for (size_t i = 0; i < pieces.size(); ++i) order.push_back(i);
        std::vector<uint32_t> offsets(pieces.size());
        for (size_t i : order) offsets[i] = data(pieces[i]);
        if (pieces.size() == 1) return tag(273, kLong, 1, offsets[0]).tag(279, kLong, 1, uint32_t(pieces[0].size()));
        Bytes o, c;
        for (size_t i = 0; i < pieces.size(); ++i) put32(o, offsets[i]), put32(c, uint32_t(pieces[i].size()));
        const uint32_t n = uint32_t(pieces.size());
        return tag(273, kLong, n, data(o)).tag(279, kLong, n, data(c));
    }
    Bytes finish() {
        Bytes at;
        put32(at, uint32_t(b.size()));
        std::copy(at.begin(), at.end(), b.begin() + 4);
        put16(b, uint32_t(entries.size()));
        for (const Entry& e : entries) {
            put16(b, e.tag);
            put16(b, e.type);
            put32(b, e.count);
            if (e.type == kShort && e.count == 1) put16(b, e.value), put16(b, 0);
            else put32(b, e.value);
        }
        put32(b, 0);
        return b;
    }
};

// A decode's result copied out of the decoder's record (the next decode reuses it).
struct Decoded {
    DecodedImage record;
    bool ok = false;
    int32_t error = 0;
    DecodeCounters counters;
    explicit Decoded(const Bytes& file) {
        Bytes exact(file);  // exact size: the sanitizer build sees any read past the end
        DecodedImage* image = decodeTiffMemory(exact.data(), exact.size(), tiffOut, counters);
        ok = image != nullptr;
        error = ok ? 0 : tiffOut.errorCode;
        if (ok) record = *image;
    }
    ~Decoded() { pageFree(ok ? record.pixels : nullptr); }
    // n bytes of image row y, counted from the top.
    Bytes row(int y, size_t n) const {
        const size_t w = size_t(record.header.biWidth);
        const size_t stride = record.header.biBitCount == 24 ? (w * 3 + 3) & ~size_t(3) : (w + 3) & ~size_t(3);
        const uint8_t* p = record.pixels + stride * size_t(record.header.biHeight - 1 - y);
        return Bytes(p, p + n);
    }
};

TEST(TiffDecode, BilevelWhiteIsZeroSkipsThePaddingBitsOfEachRow) {
    TiffBuilder t(false);
    Decoded d(t.grey(10, 2, 1, 0).strips({{0xA5, 0xFF, 0x00, 0x7F}}).finish());
    ASSERT_TRUE(d.ok) << d.error;
    EXPECT_EQ(d.record.palette[0].red, 255);
    EXPECT_EQ(d.record.palette[1].green, 0);
    EXPECT_EQ(d.row(0, 12), (Bytes{1, 0, 1, 0, 0, 1, 0, 1, 1, 1, 0, 0}));
    EXPECT_EQ(d.row(1, 12), (Bytes{0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0}));
}

TEST(TiffDecode, SixteenBitRgbKeepsTheHighBytesAndByteOrderTwinsAgree) {
    Bytes results[2];
    for (bool be : {false, true}) {
        TiffBuilder t(be);
        Bytes samples;  // two pixels
        for (uint32_t v : {0x12AB, 0x34CD, 0x56EF, 0xFF01, 0x0080, 0x7F7F}) t.put16(samples, v);
        Decoded d(t.rgb(2, 1, 16).strips({samples}).finish());
        ASSERT_TRUE(d.ok) << d.error;
        EXPECT_EQ(d.record.sourceDepth, 48);
        results[be] = d.row(0, 6);
    }
    EXPECT_EQ(results[0], (Bytes{0x56, 0x34, 0x12, 0x7F, 0x00, 0xFF}));
    EXPECT_EQ(results[0], results[1]);
}

TEST(TiffStrips, StripsInAnyOrderWithRowsAcrossStripBoundaries) {
    // Five 8-bit RGB pixels per row (15 bytes), three rows cut into strips of 7, 23 and 15
    // bytes, stored in the file as third, first, second.
    Bytes all(45);
    for (int i = 0; i < 45; ++i) all[i] = uint8_t(10 + i);
    const std::vector<Bytes> pieces = {Bytes(all.begin(), all.begin() + 7), Bytes(all.begin() + 7, all.begin() + 30),
                                       Bytes(all.begin() + 30, all.end())};
    for (bool be : {false, true}) {
        TiffBuilder t(be);
        Decoded d(t.rgb(5, 3, 8).strips(pieces, {2, 0, 1}).finish());
        ASSERT_TRUE(d.ok) << d.error;
        for (int y = 0; y < 3; ++y) {
            Bytes want;
            for (int x = 0; x < 5; ++x) want.insert(want.end(), {all[y * 15 + x * 3 + 2], all[y * 15 + x * 3 + 1], all[y * 15 + x * 3]});
            EXPECT_EQ(d.row(y, 15), want) << "row " << y;
        }
    }
}

TEST(TiffStrips, StripDataAreNeverReadPastTheirLengthOrTheFile) {
    // Byte counts shorter than the rows need: what is there is used, the rest stays zero.
    TiffBuilder shortData(false);
    Decoded d(shortData.grey(4, 3).strips({{1, 2, 3, 4, 5, 6}}).finish());
    ASSERT_TRUE(d.ok) << d.error;
    EXPECT_EQ(d.row(1, 4), (Bytes{5, 6, 0, 0}));
    EXPECT_EQ(d.row(2, 4), (Bytes{0, 0, 0, 0}));

    // A strip running past the end, one beyond it, one whose offset + count wraps 32 bits.
    for (uint32_t offset : {8u, 0x7FFFFFF0u, 0xFFFFFFF0u}) {
        TiffBuilder t(false);
        t.data({1, 2, 3, 4});
        EXPECT_EQ(Decoded(t.grey(4, 1).tag(273, kLong, 1, offset).tag(279, kLong, 1, offset == 8 ? 4000 : 0x20).finish()).error, 4);
    }
    // Strip arrays and colour maps whose offset + size wraps: 6 and 4.
    TiffBuilder arrays(false);
    EXPECT_EQ(Decoded(arrays.grey(1, 1).tag(273, kLong, 2, 0xFFFFFFFC).tag(279, kLong, 2, 0xFFFFFFFC).finish()).error, 6);
    TiffBuilder map(false);
    EXPECT_EQ(Decoded(map.grey(1, 1, 8, 3).tag(320, kShort, 768, 0xFFFFFF00).strips({{1}}).finish()).error, 4);
}

TEST(TiffRefusals, UnusualKindsGiveTwoAndMalformedDirectoriesSix) {
    auto code = [](bool be, auto build) {
        TiffBuilder t(be);
        build(t);
        return Decoded(t.finish()).error;
    };
    EXPECT_EQ(code(false, [](TiffBuilder& t) { t.grey(1, 1).tag(259, kShort, 1, 5).strips({{1}}); }), 2);  // LZW
    EXPECT_EQ(code(true, [](TiffBuilder& t) { t.grey(1, 1, 16).strips({{1, 2}}); }), 2);
    EXPECT_EQ(code(true, [](TiffBuilder& t) { t.grey(1, 1, 8, 4).strips({{1}}); }), 2);  // as without the tag
    EXPECT_EQ(code(false, [](TiffBuilder& t) { t.grey(1, 1, 8, 3).strips({{1}}); }), 2);  // palette without map
    EXPECT_EQ(code(false, [](TiffBuilder& t) { t.grey(1, 1).tag(258, kShort, 2, 0x00080008).strips({{1, 2}}); }), 2);
    EXPECT_EQ(code(false, [](TiffBuilder& t) { t.rgb(1, 1, 8).tag(284, kShort, 1, 2).strips({{1, 2, 3}}); }), 2);
    EXPECT_EQ(code(false, [](TiffBuilder& t) { t.rgb(1, 1, 8).tag(322, kShort, 1, 16).tag(323, kShort, 1, 16); }), 2);
    EXPECT_EQ(code(false, [](TiffBuilder& t) { t.grey(25001, 1).strips({{1}}); }), 2);
    EXPECT_EQ(code(false, [](TiffBuilder& t) { t.grey(0, 1).strips({{1}}); }), 6);
    EXPECT_EQ(code(false, [](TiffBuilder& t) { t.tag(256, kAscii, 1, 1).grey(1, 1).strips({{1}}); }), 6);
    EXPECT_EQ(code(false, [](TiffBuilder& t) { t.grey(1, 1).tag(273, kLong, 1, 8).tag(279, kLong, 2, t.longs({1, 1})); }), 6);
    EXPECT_EQ(code(false, [](TiffBuilder& t) { t.grey(1, 1).strips({{1}}).tag(273, kLong, 1, 8); }), 6);  // twice
    EXPECT_EQ(code(true, [](TiffBuilder& t) { t.grey(1, 1).tag(273, kLong, 0, 0).tag(279, kLong, 0, 0); }), 6);
    TiffBuilder good(true);
    const Bytes file = good.grey(1, 1).strips({{1}}).finish();
    Bytes bad = file;
    bad[3] = 43;
    EXPECT_EQ(Decoded(bad).error, 6);
    bad = file;
    bad[4] = 0xFF;  // directory far beyond the file
    EXPECT_EQ(Decoded(bad).error, 6);
    EXPECT_EQ(Decoded(Bytes(file.begin(), file.end() - 10)).error, 6);  // entries cut short
    EXPECT_EQ(tiffOut.pixels, nullptr);
}

TEST(TiffResolution, InchAndCentimetreUnitsAndTheirGuards) {
    struct Case {
        uint32_t numerator, denominator, unit;
        bool withY;
        int32_t expected;
    } cases[] = {{300, 1, 2, true, 11811}, {118, 1, 3, true, 11800},          {72, 1, 1, true, 0},
                 {300, 0, 2, true, 0},     {300, 1, 2, false, 0},             {7200, 100, 2, true, 2835},
                 {0xFFFFFFFF, 1, 2, true, 2147483647}};
    for (const Case& c : cases) {
        TiffBuilder t(true);
        t.grey(1, 1).strips({{1}}).tag(282, kRational, 1, t.longs({c.numerator, c.denominator}));
        if (c.withY) t.tag(283, kRational, 1, t.longs({c.numerator, c.denominator}));
        Decoded d(t.tag(296, kShort, 1, c.unit).tag(270, kAscii, 2, 0x41000000).finish());
        ASSERT_TRUE(d.ok);
        EXPECT_EQ(d.record.header.biXPelsPerMeter, c.expected) << c.numerator << "/" << c.denominator << " unit " << c.unit;
        EXPECT_EQ(d.record.header.biYPelsPerMeter, c.withY ? c.expected : 0);
        EXPECT_EQ(d.counters.commentCount, 1);
    }
}

}  // namespace

// A stopped load's decoding thread gives up through the stop flag; an unset flag leaves the
// result as it is without one.
TEST(TiffDecode, AStopFlagGivesUpAndAnUnsetOneChangesNothing) {
    const uint32_t w = 37, h = 150;  // more rows than one look of the flag covers
    Bytes grey(size_t(w) * h);
    for (size_t i = 0; i < grey.size(); ++i) grey[i] = uint8_t(i * 13 + 7);
    const Bytes file = TiffBuilder(false).grey(w, h).strips({grey}).finish();
    Decoded plain(file);
    ASSERT_TRUE(plain.ok);

    std::atomic<bool> stop{false};
    DecodedImage record;
    DecodeCounters counters;
    ASSERT_NE(decodeTiffMemory(file.data(), file.size(), record, counters, &stop), nullptr);
    const size_t bytes = size_t((w + 3) & ~3u) * h;
    EXPECT_EQ(std::memcmp(record.pixels, plain.record.pixels, bytes), 0);
    pageFree(record.pixels);

    stop = true;
    EXPECT_EQ(decodeTiffMemory(file.data(), file.size(), record, counters, &stop), nullptr);
    EXPECT_EQ(record.errorCode, ErrMemory);
    EXPECT_EQ(record.pixels, nullptr);
}
