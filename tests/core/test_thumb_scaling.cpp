// The fit rule, the area-averaging resampler and makeThumbnail's ownership and header rules.
#include <gtest/gtest.h>

#include <cstdlib>

#include "thumb_test_support.h"
#include "thumbs/resampler.h"
#include "thumbs/thumbnail_scaling.h"

namespace {

using thumbtest::makePixels;

void expectFit(int32_t w, int32_t h, int32_t cw, int32_t ch, int32_t ew, int32_t eh) {
    const DisplaySize d = fitToCell(w, h, cw, ch);
    EXPECT_EQ(d.width, ew) << w << "x" << h << " in " << cw << "x" << ch;
    EXPECT_EQ(d.height, eh) << w << "x" << h << " in " << cw << "x" << ch;
}

TEST(FitRule, TruncatesTiesToHeightAndNeverDropsBelowOne) {
    expectFit(640, 480, 148, 111, 147, 111);   // truncation, never rounded up
    expectFit(1000, 500, 148, 111, 148, 73);   // width binds
    expectFit(296, 222, 148, 111, 148, 111);   // tie: height binds
    expectFit(480, 640, 148, 111, 83, 111);    // height binds
    expectFit(1, 25000, 148, 111, 1, 111);     // minimum 1
    expectFit(25000, 1, 148, 111, 148, 1);
    expectFit(148, 111, 148, 111, 148, 111);
    expectFit(800, 800, 800, 32, 31, 32);      // 800 * 655 >> 14 = 31.98
}

// ---------------------------------------------------------------- resampler

uint32_t pixelAt(const uint8_t* p, int32_t width, int32_t height, int32_t x, int32_t yFromTop) {
    const uint8_t* q = p + rowStride24(width) * size_t(height - 1 - yFromTop) + 3 * size_t(x);
    return uint32_t(q[0]) | (uint32_t(q[1]) << 8) | (uint32_t(q[2]) << 16);
}

TEST(Resampler, CheckerboardAveragesToMidGrey) {
    // A one-pixel checkerboard reduced 4:1 must come out grey, not black or white.
    uint8_t* src = makePixels(400, 300, [](int x, int y) { return ((x + y) & 1) ? 0xFFFFFFu : 0u; });
    const int32_t w = 100, h = 75;
    auto* dst = static_cast<uint8_t*>(pageAlloc(rowStride24(w) * h));
    ASSERT_TRUE(resampleArea24(src, 400, 300, dst, w, h));
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c) {
                const int v = int(pixelAt(dst, w, h, x, y) >> (8 * c)) & 0xFF;
                ASSERT_TRUE(v == 127 || v == 128) << x << "," << y << " = " << v;
            }
    pageFree(src);
    pageFree(dst);
}

TEST(Resampler, FlatColoursStayExactAndPaddingIsZero) {
    const uint32_t colours[] = {0x000000u, 0xFFFFFFu, 0x0C4DC8u, 0x7F8081u, 0x010203u};
    const int32_t sizes[][4] = {{1234, 567, 147, 67}, {1001, 999, 7, 5}, {149, 111, 148, 110}, {3, 3, 2, 2}};
    for (uint32_t colour : colours) {
        for (const auto& s : sizes) {
            uint8_t* src = makePixels(s[0], s[1], [colour](int, int) { return colour; });
            const size_t stride = rowStride24(s[2]);
            auto* dst = static_cast<uint8_t*>(pageAlloc(stride * size_t(s[3])));
            std::memset(dst, 0xAA, stride * size_t(s[3]));  // padding must be written, not inherited
            ASSERT_TRUE(resampleArea24(src, s[0], s[1], dst, s[2], s[3]));
            for (int32_t y = 0; y < s[3]; ++y) {
                for (int32_t x = 0; x < s[2]; ++x) ASSERT_EQ(pixelAt(dst, s[2], s[3], x, y), colour);
                for (size_t k = size_t(s[2]) * 3; k < stride; ++k) ASSERT_EQ(dst[stride * size_t(y) + k], 0);
            }
            pageFree(src);
            pageFree(dst);
        }
    }
}

TEST(Resampler, WeighsPartlyCoveredPixelsByCoverage) {
    // Three columns into two: each output takes one whole and half of the middle column.
    // (0 + 90/2) / 1.5 = 30 and (90/2 + 180) / 1.5 = 150; rows likewise.
    uint8_t* src = makePixels(3, 1, [](int x, int) { return uint32_t(90 * x) * 0x010101u; });
    auto* dst = static_cast<uint8_t*>(pageAlloc(rowStride24(2)));
    ASSERT_TRUE(resampleArea24(src, 3, 1, dst, 2, 1));
    EXPECT_EQ(pixelAt(dst, 2, 1, 0, 0), 30u * 0x010101u);
    EXPECT_EQ(pixelAt(dst, 2, 1, 1, 0), 150u * 0x010101u);
    pageFree(src);
    pageFree(dst);

    // Vertical halves of different colours, reduced 5 rows -> 2: the middle row is shared.
    src = makePixels(1, 5, [](int, int y) { return y < 2 ? 0u : y == 2 ? 100u : 200u; });
    dst = static_cast<uint8_t*>(pageAlloc(rowStride24(1) * 2));
    ASSERT_TRUE(resampleArea24(src, 1, 5, dst, 1, 2));
    EXPECT_EQ(pixelAt(dst, 1, 2, 0, 0), 20u);   // (0 + 0 + 100 * 0.5) / 2.5
    EXPECT_EQ(pixelAt(dst, 1, 2, 0, 1), 180u);  // (100 * 0.5 + 200 + 200) / 2.5
    pageFree(src);
    pageFree(dst);
}

TEST(Resampler, ExtremeAspectRatiosAndRefusals) {
    // 1 x 25000 and 25000 x 1 through makeThumbnail's sizes: a gradient keeps its order and mean.
    uint8_t* tall = makePixels(1, 25000, [](int, int y) { return y < 12500 ? 0u : 0xFFFFFFu; });
    auto* out = static_cast<uint8_t*>(pageAlloc(rowStride24(1) * 111));
    ASSERT_TRUE(resampleArea24(tall, 1, 25000, out, 1, 111));
    EXPECT_EQ(pixelAt(out, 1, 111, 0, 0), 0u);
    EXPECT_EQ(pixelAt(out, 1, 111, 0, 110), 0xFFFFFFu);
    pageFree(tall);
    pageFree(out);

    uint8_t* wide = makePixels(25000, 1, [](int x, int) { return x < 12500 ? 0u : 0xFFFFFFu; });
    out = static_cast<uint8_t*>(pageAlloc(rowStride24(148)));
    ASSERT_TRUE(resampleArea24(wide, 25000, 1, out, 148, 1));
    EXPECT_EQ(pixelAt(out, 148, 1, 0, 0), 0u);
    EXPECT_EQ(pixelAt(out, 148, 1, 147, 0), 0xFFFFFFu);
    pageFree(wide);
    pageFree(out);

    uint8_t one[4] = {1, 2, 3, 0};
    uint8_t target[4] = {};
    EXPECT_FALSE(resampleArea24(one, 0, 1, target, 1, 1));
    EXPECT_FALSE(resampleArea24(one, 1, 1, target, 1, 0));
    EXPECT_FALSE(resampleArea24(nullptr, 1, 1, target, 1, 1));
}

// ---------------------------------------------------------------- makeThumbnail

struct Loaded {
    DecodedImage image;
    LoadInfo info;
    Loaded(int32_t w, int32_t h, int32_t fileW, int32_t fileH, uint16_t bits = 24) {
        image.header.biWidth = w;
        image.header.biHeight = h;
        image.header.biBitCount = bits;
        image.header.biXPelsPerMeter = 2835;
        image.palette[0] = PaletteEntry{1, 2, 3, 4};
        image.pixels = makePixels(w, h, [](int x, int y) { return uint32_t((x * 7 + y * 13) & 0xFF) * 0x010101u; });
        info.width = w;
        info.height = h;
        info.facts.fileWidth = fileW;
        info.facts.fileHeight = fileH;
        info.current = &image;
    }
    ~Loaded() { pageFree(image.pixels); }
};

TEST(MakeThumbnail, NeverEnlargesAndKeepsFittingPixels) {
    Loaded exact(148, 111, 148, 111);
    const uint8_t* before = exact.image.pixels;
    DisplaySize d;
    ASSERT_TRUE(makeThumbnail(exact.info, 148, 111, false, d));
    EXPECT_EQ(exact.image.pixels, before);  // neither copied nor resampled
    EXPECT_EQ(d.width, 148);
    EXPECT_EQ(d.height, 111);
    EXPECT_EQ(exact.image.header.biXPelsPerMeter, 2835);  // the decoder's header stays

}

TEST(MakeThumbnail, ReducesIntoFreshBufferWithCleanHeaderBlock) {
    Loaded wider(149, 111, 2980, 2220);  // one pixel wider than the cell
    DisplaySize d;
    ASSERT_TRUE(makeThumbnail(wider.info, 148, 111, false, d));
    EXPECT_EQ(d.width, 148);
    EXPECT_EQ(d.height, 110);
    EXPECT_EQ(wider.info.width, 148);
    EXPECT_EQ(wider.info.height, 110);
    const BitmapInfoHeader& h = wider.image.header;
    BitmapInfoHeader fresh;  // size 40, planes 1, everything else 0
    fresh.biWidth = 148;
    fresh.biHeight = 110;
    fresh.biBitCount = 24;
    EXPECT_EQ(std::memcmp(&h, &fresh, sizeof h), 0);
    const PaletteEntry& p = wider.image.palette[0];
    EXPECT_EQ(p.blue | p.green | p.red | p.reserved, 0);
    EXPECT_EQ(wider.info.facts.fileWidth, 2980);  // the file's facts stay
}

TEST(MakeThumbnail, CacheTooSmallLeavesPixelsAndPicksDisplaySize) {
    // A cached 148 x 111 thumbnail of a 180 x 135 file, cell now 200 x 150: drawn at the
    // file's own size, pixels untouched.
    Loaded cached(148, 111, 180, 135);
    const uint8_t* before = cached.image.pixels;
    DisplaySize d;
    ASSERT_TRUE(makeThumbnail(cached.info, 200, 150, true, d));
    EXPECT_EQ(cached.image.pixels, before);
    EXPECT_EQ(d.width, 180);
    EXPECT_EQ(d.height, 135);
    EXPECT_EQ(cached.info.width, 148);

    // A large file: the fit of the current pixels (stretched when painted).
    Loaded big(148, 111, 4000, 3000);
    ASSERT_TRUE(makeThumbnail(big.info, 200, 150, true, d));
    EXPECT_EQ(d.width, 199);  // a tie, and the width truncates
    EXPECT_EQ(d.height, 150);

    // A freshly decoded image larger than the cell is not resampled in the first pass either.
    Loaded fresh(500, 375, 1000, 750);
    before = fresh.image.pixels;
    ASSERT_TRUE(makeThumbnail(fresh.info, 200, 150, true, d));
    EXPECT_EQ(fresh.image.pixels, before);
    EXPECT_EQ(d.width, 199);
    EXPECT_EQ(d.height, 150);
}

TEST(MakeThumbnail, FailureReleasesTheDecodedPixels) {
    Loaded palette(300, 300, 300, 300, 8);  // only 24-bit rows can be resampled
    DisplaySize d;
    EXPECT_FALSE(makeThumbnail(palette.info, 148, 111, false, d));
    EXPECT_EQ(palette.image.pixels, nullptr);

    Loaded empty(10, 10, 10, 10);
    empty.info.width = 0;
    EXPECT_FALSE(makeThumbnail(empty.info, 148, 111, false, d));
    EXPECT_EQ(empty.image.pixels, nullptr);
}

}  // namespace
