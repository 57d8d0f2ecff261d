// The PNG decoder on generated files: every sample format through every filter, Adam7,
// split and truncated image data, the IHDR and chunk-order error codes, palette, tRNS,
// gAMA, pHYs and tEXt rules.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>

#include "core/png_builder.h"
#include "image/decoded_image.h"

// The record the decodes in this file fill.
static DecodedImage pngOut;

using namespace pngtest;

namespace {

struct Bgr {
    int b, g, r;
    bool operator==(const Bgr& o) const { return b == o.b && g == o.g && r == o.r; }
};
std::ostream& operator<<(std::ostream& os, const Bgr& c) { return os << "(b" << c.b << " g" << c.g << " r" << c.r << ")"; }

// The documented alpha product, written out independently of the decoder's table.
int product(int a, int v) {
    if (a == 0 || v == 0) return 0;
    if (a == 255) return v;
    if (v == 255) return a;
    return int((uint32_t(v) * (uint32_t(a) * 65536u / 255u) + 32768u) >> 16);
}
int overWhite(int a, int v) { return product(a, v) + product(255 - a, 255); }

std::wstring tempFile(const char* name) { return utf8ToWide(std::string("png_test_") + name + ".png"); }

// The decoder reuses one record, so each result is copied out and owns its pixels.
struct Decoded {
    DecodedImage* image = nullptr;  // &copy after a successful decode
    DecodedImage copy;
    DecodeCounters counters;
    int32_t error = 0;
    Decoded() = default;
    Decoded(const Decoded&) = delete;
    ~Decoded() {
        if (image) pageFree(image->pixels);
    }
    void take(DecodedImage* result) {
        if (!result) return;
        copy = *result;
        result->pixels = nullptr;
        image = &copy;
    }
    // Colour shown at (x, y), y counted from the top.
    Bgr at(int x, int y) const {
        const auto& h = image->header;
        if (h.biBitCount == 8) {
            const uint32_t stride = (uint32_t(h.biWidth) + 3) & ~3u;
            const uint8_t index = image->pixels[size_t(h.biHeight - 1 - y) * stride + x];
            const PaletteEntry& e = image->palette[index];
            return {e.blue, e.green, e.red};
        }
        const uint32_t stride = (uint32_t(h.biWidth) * 3 + 3) & ~3u;
        const uint8_t* p = image->pixels + size_t(h.biHeight - 1 - y) * stride + size_t(x) * 3;
        return {p[0], p[1], p[2]};
    }
    uint8_t indexAt(int x, int y) const {
        const auto& h = image->header;
        const uint32_t stride = (uint32_t(h.biWidth) + 3) & ~3u;
        return image->pixels[size_t(h.biHeight - 1 - y) * stride + x];
    }
};

void decodeBytes(const std::string& bytes, Decoded& out, const char* name = "case", PngOptions options = {}) {
    const std::wstring path = tempFile(name);
    ASSERT_TRUE(writeWholeFile(path.c_str(), bytes.data(), bytes.size()));
    out.take(decodePng(path.c_str(), options, pngOut, out.counters));
    out.error = pngOut.errorCode;
    deleteFileAt(path.c_str());
}

int32_t errorOf(const std::string& bytes) {
    Decoded d;
    decodeBytes(bytes, d, "error");
    EXPECT_EQ(d.image, nullptr);
    EXPECT_EQ(pngOut.pixels, nullptr);
    return d.error;
}

int highByte(const Image& img, uint16_t v) { return img.depth == 16 ? v >> 8 : v; }

// What the decoder must show for a pixel of a generated image (white background, no gAMA).
Bgr expected(const Image& img, uint32_t x, uint32_t y) {
    const int depth = img.depth;
    switch (img.type) {
        case 0: {
            const int step = depth == 1 ? 255 : depth == 2 ? 85 : depth == 4 ? 17 : 1;
            const int v = highByte(img, img.at(x, y, 0)) * step;
            return {v, v, v};
        }
        case 2: return {highByte(img, img.at(x, y, 2)), highByte(img, img.at(x, y, 1)), highByte(img, img.at(x, y, 0))};
        case 3: {
            const int i = img.at(x, y, 0);
            return {uint8_t(i * 3), uint8_t(255 - i), uint8_t(i * 7)};
        }
        case 4: {
            const int v = overWhite(highByte(img, img.at(x, y, 1)), highByte(img, img.at(x, y, 0)));
            return {v, v, v};
        }
        default: {
            const int a = highByte(img, img.at(x, y, 3));
            return {overWhite(a, highByte(img, img.at(x, y, 2))), overWhite(a, highByte(img, img.at(x, y, 1))),
                    overWhite(a, highByte(img, img.at(x, y, 0)))};
        }
    }
}

struct Format {
    int type, depth;
};
const Format kFormats[] = {{0, 1}, {0, 2}, {0, 4}, {0, 8}, {0, 16}, {2, 8}, {2, 16}, {3, 1},
                           {3, 2}, {3, 4}, {3, 8}, {4, 8}, {4, 16}, {6, 8}, {6, 16}};

std::string paletteFor(const Image& img) {
    return img.type == 3 ? chunk("PLTE", paletteData(1 << img.depth)) : std::string();
}

void expectImage(const Decoded& d, const Image& img, const char* what) {
    ASSERT_NE(d.image, nullptr) << what << " error " << d.error;
    for (uint32_t y = 0; y < img.height; ++y)
        for (uint32_t x = 0; x < img.width; ++x)
            ASSERT_EQ(d.at(int(x), int(y)), expected(img, x, y)) << what << " at " << x << "," << y;
}

std::string describe(const Format& f) { return "type " + std::to_string(f.type) + " depth " + std::to_string(f.depth); }

}  // namespace

// ---------------------------------------------------------------------------- formats

TEST(PngFormats, EveryColourTypeAndDepthThroughEveryFilter) {
    for (const Format& f : kFormats) {
        // Width 13 leaves a partial last byte at every packed depth; 11 rows cycle the
        // five filters twice with a different filter on the first row of each cycle.
        Image img = randomImage(13, 11, f.depth, f.type, uint32_t(f.type * 100 + f.depth));
        if (f.type == 4 || f.type == 6) {
            // Make sure the extremes of alpha occur.
            const int a = f.type == 4 ? 1 : 3;
            const uint16_t full = f.depth == 16 ? 0xFFFF : 0xFF;
            img.samples[a] = 0;
            img.samples[img.channels() + a] = full;
        }
        PngParts parts;
        parts.beforeIdat = paletteFor(img);
        Decoded d;
        decodeBytes(encodePng(img, parts), d, "formats");
        const std::string what = describe(f);
        expectImage(d, img, what.c_str());
        const bool colour = f.type == 2 || f.type == 6;
        EXPECT_EQ(d.image->header.biBitCount, colour ? 24 : 8) << what;
        EXPECT_EQ(d.image->sourceDepth, colour ? f.depth * 3 : f.depth) << what;
        EXPECT_EQ(d.image->format, FormatPng);
        EXPECT_EQ(d.image->header.biSize, 40u);
        EXPECT_EQ(d.image->header.biPlanes, 1);
        EXPECT_EQ(d.image->header.biCompression, 0u);
        EXPECT_EQ(d.image->errorCode, 0) << what;
        EXPECT_EQ(d.counters.fileWidth, 13);
        EXPECT_EQ(d.counters.fileHeight, 11);
        EXPECT_EQ(d.counters.interlaced, 0);
    }
}

TEST(PngFormats, PackedGreyKeepsSampleValuesAndRampPalette) {
    // 1-bit grey of width 10: pixel bytes are 0 or 1, the second byte of a row gives two pixels.
    Image img = randomImage(10, 3, 1, 0, 7);
    Decoded d;
    decodeBytes(encodePng(img), d, "grey1");
    ASSERT_NE(d.image, nullptr);
    EXPECT_EQ(d.image->palette[0].red, 0);
    EXPECT_EQ(d.image->palette[1].red, 255);
    EXPECT_EQ(d.image->palette[2].red, 0);  // only two ramp entries
    for (uint32_t y = 0; y < 3; ++y)
        for (uint32_t x = 0; x < 10; ++x) EXPECT_EQ(d.indexAt(int(x), int(y)), img.at(x, y, 0));
    // Padding bytes past the width stay zero.
    EXPECT_EQ(d.image->pixels[10], 0);
    EXPECT_EQ(d.image->pixels[11], 0);

    Image g2 = randomImage(5, 1, 2, 0);
    Decoded d2;
    decodeBytes(encodePng(g2), d2, "grey2");
    ASSERT_NE(d2.image, nullptr);
    EXPECT_EQ(d2.image->palette[3].green, 255);
    EXPECT_EQ(d2.image->palette[1].green, 85);
    EXPECT_EQ(d2.image->palette[4].green, 0);
}

TEST(PngFormats, InterlacedTwinsArePixelIdentical) {
    // Sizes that leave some Adam7 passes empty (1x1, 3x2, 5x1) as well as full ones.
    const std::array<std::pair<uint32_t, uint32_t>, 5> sizes{{{1, 1}, {3, 2}, {5, 1}, {9, 9}, {17, 12}}};
    for (const Format& f : kFormats) {
        for (auto [w, h] : sizes) {
            Image img = randomImage(w, h, f.depth, f.type, w * 31 + h);
            PngParts plain, inter;
            plain.beforeIdat = inter.beforeIdat = paletteFor(img);
            inter.interlace = true;
            Decoded a, b;
            decodeBytes(encodePng(img, plain), a, "plain");
            decodeBytes(encodePng(img, inter), b, "adam7");
            const std::string what = describe(f) + " " + std::to_string(w) + "x" + std::to_string(h);
            expectImage(a, img, what.c_str());
            expectImage(b, img, what.c_str());
            EXPECT_EQ(b.counters.interlaced, 1);
        }
    }
}

TEST(PngFormats, IdatSplitIntoManyChunksDecodesTheSame) {
    Image img = randomImage(21, 9, 8, 6, 3);
    for (size_t piece : {size_t(1), size_t(7), size_t(64)}) {
        PngParts parts;
        parts.idatPiece = piece;
        Decoded d;
        decodeBytes(encodePng(img, parts), d, "split");
        expectImage(d, img, "split");
        EXPECT_EQ(d.error, 0);
    }
    // Empty IDAT chunks inside the run are harmless.
    const std::string z = zlibCompress(scanlines(img, false));
    std::string png = kSignature + chunk("IHDR", ihdrData(21, 9, 8, 6)) + chunk("IDAT", "") + chunk("IDAT", z.substr(0, 10)) +
                      chunk("IDAT", "") + chunk("IDAT", z.substr(10)) + chunk("IEND", "");
    Decoded d;
    decodeBytes(png, d, "empty-idat");
    expectImage(d, img, "empty idat");
}

TEST(PngFormats, FilterBytesAboveFourActAsNone) {
    Image img = randomImage(4, 2, 8, 0);
    std::string raw = scanlines(img, false, [](int, uint32_t) { return 0; });
    raw[0] = char(9);
    raw[5] = char(200);
    const std::string png = kSignature + chunk("IHDR", ihdrData(4, 2, 8, 0)) + chunk("IDAT", zlibCompress(raw)) + chunk("IEND", "");
    Decoded d;
    decodeBytes(png, d, "filter9");
    expectImage(d, img, "filter > 4");
}

// ---------------------------------------------------------------------------- broken data

TEST(PngImageData, TruncatedStreamKeepsItsRowsAndRecords23) {
    for (const Format& f : {Format{2, 8}, Format{6, 8}, Format{3, 8}}) {
        Image img = randomImage(16, 40, f.depth, f.type, 5);
        const std::string z = zlibCompress(scanlines(img, false, [](int, uint32_t) { return 0; }), 0);
        // Stored blocks: the first bytes of the stream hold the first rows verbatim.
        const std::string cut = z.substr(0, z.size() / 2);
        std::string png = kSignature + chunk("IHDR", ihdrData(16, 40, f.depth, f.type)) + paletteFor(img) +
                          chunk("IDAT", cut) + chunk("IEND", "");
        Decoded d;
        decodeBytes(png, d, "truncated");
        ASSERT_NE(d.image, nullptr) << describe(f);
        EXPECT_EQ(d.image->errorCode, 23);
        EXPECT_EQ(d.at(3, 0), expected(img, 3, 0));
        EXPECT_EQ(d.at(15, 5), expected(img, 15, 5));
        // Rows never produced stay zero: black, whatever the colour type.
        if (f.type == 3) EXPECT_EQ(d.indexAt(0, 39), 0);
        else EXPECT_EQ(d.at(0, 39), (Bgr{0, 0, 0}));
    }
}

TEST(PngImageData, StreamEndingEarlyIsNotAnError) {
    Image img = randomImage(8, 10, 8, 2, 9);
    std::string raw = scanlines(img, false);
    raw.resize(raw.size() / 2 + 3);  // a complete zlib stream of 5 and a bit rows
    const std::string png = kSignature + chunk("IHDR", ihdrData(8, 10, 8, 2)) + chunk("IDAT", zlibCompress(raw)) + chunk("IEND", "");
    Decoded d;
    decodeBytes(png, d, "short");
    ASSERT_NE(d.image, nullptr);
    EXPECT_EQ(d.image->errorCode, 0);
    EXPECT_EQ(d.at(7, 4), expected(img, 7, 4));
    EXPECT_EQ(d.at(0, 9), (Bgr{0, 0, 0}));
}

TEST(PngImageData, CorruptDeflateDataRecords23AndStillDelivers) {
    Image img = randomImage(8, 8, 8, 0, 2);
    std::string z = zlibCompress(scanlines(img, false));
    z[0] = char(0x79);  // header check fails
    std::string png = kSignature + chunk("IHDR", ihdrData(8, 8, 8, 0)) + chunk("IDAT", z) + chunk("IEND", "");
    Decoded d;
    decodeBytes(png, d, "badzlib");
    ASSERT_NE(d.image, nullptr);
    EXPECT_EQ(d.image->errorCode, 23);
    // A wrong Adler-32 comes to light only at the end: every row is kept.
    z = zlibCompress(scanlines(img, false));
    z[z.size() - 1] = char(z[z.size() - 1] ^ 1);
    png = kSignature + chunk("IHDR", ihdrData(8, 8, 8, 0)) + chunk("IDAT", z) + chunk("IEND", "");
    Decoded d2;
    decodeBytes(png, d2, "badadler");
    expectImage(d2, img, "bad adler");
}

// ---------------------------------------------------------------------------- header errors

TEST(PngHeader, SizeLimits) {
    // 25000 wide is accepted, 25001 in either direction is code 2, so is 0.
    Image wide = randomImage(25000, 1, 1, 0);
    Decoded d;
    decodeBytes(encodePng(wide), d, "wide");
    ASSERT_NE(d.image, nullptr);
    EXPECT_EQ(d.image->header.biWidth, 25000);
    auto header = [](uint32_t w, uint32_t h) {
        return kSignature + chunk("IHDR", ihdrData(w, h, 8, 0)) + chunk("IEND", "");
    };
    EXPECT_EQ(errorOf(header(25001, 1)), 2);
    EXPECT_EQ(errorOf(header(1, 25001)), 2);
    EXPECT_EQ(errorOf(header(0, 5)), 2);
    EXPECT_EQ(errorOf(header(0x80000000u, 5)), 2);
}

TEST(PngHeader, ErrorCodes) {
    const std::string good = chunk("IHDR", ihdrData(4, 4, 8, 2));
    EXPECT_EQ(errorOf(kSignature + chunk("IHDR", ihdrData(4, 4, 8, 2) + "x")), 11);
    EXPECT_EQ(errorOf(kSignature + chunk("IHDX", ihdrData(4, 4, 8, 2))), 12);
    EXPECT_EQ(errorOf(kSignature + chunk("IHDR", ihdrData(4, 4, 8, 2), false)), 9);
    EXPECT_EQ(errorOf(kSignature + chunk("IHDR", ihdrData(4, 4, 8, 2, 0, 1))), 16);
    EXPECT_EQ(errorOf(kSignature + chunk("IHDR", ihdrData(4, 4, 8, 2, 0, 0, 1))), 17);
    EXPECT_EQ(errorOf(kSignature + chunk("IHDR", ihdrData(4, 4, 8, 2, 2))), 18);
    EXPECT_EQ(errorOf(kSignature + chunk("IHDR", ihdrData(4, 4, 16, 3))), 14);
    EXPECT_EQ(errorOf(kSignature + chunk("IHDR", ihdrData(4, 4, 8, 1))), 14);
    EXPECT_EQ(errorOf(kSignature + chunk("IHDR", ihdrData(4, 4, 2, 2))), 14);
    EXPECT_EQ(errorOf(kSignature + chunk("IHDR", ihdrData(4, 4, 3, 0))), 15);
    EXPECT_EQ(errorOf(kSignature + chunk("IHDR", ihdrData(4, 4, 0, 2))), 15);
    // 32 bytes with a right signature are too short for IHDR.
    EXPECT_EQ(errorOf((kSignature + good).substr(0, 32)), 6);
    std::string badSig = kSignature + good + chunk("IEND", "");
    badSig[4] = '\n';
    EXPECT_EQ(errorOf(badSig), 6);
}

TEST(PngHeader, UnreadableFilesAreCode4) {
    Decoded d;
    d.take(decodePng(L"png_test_does_not_exist.png", PngOptions{}, pngOut, d.counters));
    EXPECT_EQ(d.image, nullptr);
    EXPECT_EQ(pngOut.errorCode, 4);
    Decoded e;
    decodeBytes("", e, "empty");
    EXPECT_EQ(e.image, nullptr);
    EXPECT_EQ(e.error, 4);
}

// ---------------------------------------------------------------------------- chunk walk

TEST(PngChunks, OrderAndStructureErrors) {
    Image img = randomImage(5, 3, 8, 3, 4);
    const std::string ihdr = kSignature + chunk("IHDR", ihdrData(5, 3, 8, 3));
    const std::string plte = chunk("PLTE", paletteData(256));
    const std::string idat = chunk("IDAT", zlibCompress(scanlines(img, false)));
    const std::string iend = chunk("IEND", "");
    EXPECT_EQ(errorOf(ihdr + plte + idat), 6);                                   // no IEND: runs off the end
    EXPECT_EQ(errorOf(ihdr + plte + idat + iend.substr(0, 2)), 6);              // fewer than 4 length bytes
    EXPECT_EQ(errorOf(ihdr + plte + idat + iend.substr(0, 10)), 6);             // chunk past the end
    EXPECT_EQ(errorOf(ihdr + be32(0x80000000u) + "tEXt" + iend), 10);
    EXPECT_EQ(errorOf(ihdr + chunk("IHDR", ihdrData(5, 3, 8, 3)) + plte + idat + iend), 20);
    EXPECT_EQ(errorOf(ihdr + plte + plte + idat + iend), 20);
    EXPECT_EQ(errorOf(ihdr + plte + idat + plte + iend), 20);
    EXPECT_EQ(errorOf(ihdr + plte + idat + chunk("tEXt", "a\0b") + idat + iend), 20);
    EXPECT_EQ(errorOf(ihdr + chunk("PLTE", paletteData(256), false) + idat + iend), 9);
    EXPECT_EQ(errorOf(ihdr + plte + idat + chunk("IEND", "", false)), 9);
    EXPECT_EQ(errorOf(ihdr + plte + iend), 21);  // no IDAT
    EXPECT_EQ(errorOf(ihdr + idat + iend), 21);  // palette image without PLTE

    // IDAT runs: a bad CRC on the first chunk is 9, on a later one (or a later chunk that
    // does not fit or is too long) 22.
    const std::string z = zlibCompress(scanlines(img, false));
    const std::string a = chunk("IDAT", z.substr(0, 5)), b = chunk("IDAT", z.substr(5));
    EXPECT_EQ(errorOf(ihdr + plte + chunk("IDAT", z.substr(0, 5), false) + b + iend), 9);
    EXPECT_EQ(errorOf(ihdr + plte + a + chunk("IDAT", z.substr(5), false) + iend), 22);
    EXPECT_EQ(errorOf(ihdr + plte + a + be32(0x80000001u) + "IDAT" + iend), 22);
    EXPECT_EQ(errorOf(ihdr + plte + a + be32(5000) + "IDAT" + iend), 22);
    EXPECT_EQ(errorOf(ihdr + plte + a + be32(0) + "IDAT"), 22);  // an IDAT header at the very end
    EXPECT_EQ(errorOf(ihdr + plte + a + be32(0) + "IDAT" + "\1\2\3"), 22);
    Decoded ok;
    decodeBytes(ihdr + plte + a + b + iend + "trailing junk after IEND", ok, "run");
    expectImage(ok, img, "two-chunk run");
}

TEST(PngChunks, UnknownAndUnusedChunksAreSkippedUnchecked) {
    Image img = randomImage(6, 4, 8, 2, 8);
    PngParts parts;
    parts.beforeIdat = chunk("QUUX", "critical but unknown", false) + chunk("bKGD", std::string(6, '\x10'), false) +
                       chunk("PLTE", paletteData(300), false);  // a PLTE of an RGB image is not used
    parts.afterIdat = chunk("zzZz", "x", false);
    Decoded d;
    decodeBytes(encodePng(img, parts), d, "unknown");
    expectImage(d, img, "unknown chunks");
}

TEST(PngChunks, PaletteEntryCounts) {
    // 300 entries at depth 8 keep 256; 20 entries at depth 4 keep 16; an index beyond
    // the palette shows black.
    Image img = randomImage(4, 1, 8, 3);
    img.samples = {0, 255, 19, 100};
    Decoded d;
    PngParts parts;
    parts.beforeIdat = chunk("PLTE", paletteData(300));
    decodeBytes(encodePng(img, parts), d, "plte300");
    ASSERT_NE(d.image, nullptr);
    EXPECT_EQ(d.at(1, 0), (Bgr{uint8_t(255 * 3), 0, uint8_t(255 * 7)}));

    Image img4 = randomImage(3, 1, 4, 3);
    img4.samples = {15, 0, 3};
    parts.beforeIdat = chunk("PLTE", paletteData(20));
    Decoded d4;
    decodeBytes(encodePng(img4, parts), d4, "plte20");
    ASSERT_NE(d4.image, nullptr);
    EXPECT_EQ(d4.at(0, 0), (Bgr{45, 240, 105}));
    EXPECT_EQ(d4.image->palette[16].red, 0);
    EXPECT_EQ(d4.image->palette[16].green, 0);

    parts.beforeIdat = chunk("PLTE", paletteData(2));
    Decoded d2;
    decodeBytes(encodePng(img4, parts), d2, "plte2");
    ASSERT_NE(d2.image, nullptr);
    EXPECT_EQ(d2.at(0, 0), (Bgr{0, 0, 0}));
}

TEST(PngTransparency, PaletteAlphaTable) {
    Image img = randomImage(4, 1, 4, 3);
    img.samples = {0, 1, 2, 3};
    const std::string plte = chunk("PLTE", paletteData(16));
    const std::string trns = chunk("tRNS", std::string("\x00\x80\xff", 3));
    auto decodeWith = [&](const std::string& before, const std::string& after, Decoded& d) {
        PngParts parts;
        parts.beforeIdat = before;
        parts.afterIdat = after;
        decodeBytes(encodePng(img, parts), d, "trns");
        ASSERT_NE(d.image, nullptr);
    };
    Decoded d;
    decodeWith(plte + trns, "", d);
    EXPECT_EQ(d.at(0, 0), (Bgr{255, 255, 255}));  // alpha 0
    EXPECT_EQ(d.at(1, 0), (Bgr{overWhite(128, 3), overWhite(128, 254), overWhite(128, 7)}));
    EXPECT_EQ(d.at(2, 0), (Bgr{6, 253, 14}));  // alpha 255
    EXPECT_EQ(d.at(3, 0), (Bgr{9, 252, 21}));  // beyond the table: 255
    EXPECT_EQ(d.image->palette[200].red, 0);   // unused entries blend black with alpha 255

    // Ignored: longer than the palette, before PLTE, after IDAT, a second tRNS.
    const std::string trnsLong = chunk("tRNS", std::string(17, '\0'));
    for (auto [before, after] : {std::pair{plte + trnsLong, std::string()}, std::pair{trns + plte, std::string()},
                                 std::pair{plte, trns}, std::pair{plte + chunk("tRNS", "", false) + trns, std::string()}}) {
        Decoded e;
        decodeWith(before, after, e);
        EXPECT_EQ(e.at(0, 0), (Bgr{0, 255, 0}));
    }
}

TEST(PngTransparency, GreyAndColourKeys) {
    // 8-bit grey with key 0: every black pixel shows the background.
    Image grey = randomImage(3, 1, 8, 0);
    grey.samples = {0, 1, 255};
    PngParts parts;
    parts.beforeIdat = chunk("tRNS", std::string("\x00\x00", 2));
    Decoded d;
    decodeBytes(encodePng(grey, parts), d, "greykey");
    ASSERT_NE(d.image, nullptr);
    EXPECT_EQ(d.at(0, 0), (Bgr{255, 255, 255}));
    EXPECT_EQ(d.at(1, 0), (Bgr{1, 1, 1}));

    // 16-bit grey: the key's high byte selects the palette entry.
    Image g16 = randomImage(2, 1, 16, 0);
    g16.samples = {0x1234, 0x5678};
    parts.beforeIdat = chunk("tRNS", std::string("\x12\x99", 2));
    Decoded d16;
    decodeBytes(encodePng(g16, parts), d16, "grey16key");
    ASSERT_NE(d16.image, nullptr);
    EXPECT_EQ(d16.at(0, 0), (Bgr{255, 255, 255}));
    EXPECT_EQ(d16.at(1, 0), (Bgr{0x56, 0x56, 0x56}));

    // RGB key with a custom background; the key matches all three samples only.
    Image rgb = randomImage(3, 1, 8, 2);
    rgb.samples = {10, 20, 30, 10, 20, 31, 0, 0, 0};
    parts.beforeIdat = chunk("tRNS", std::string("\x00\x0a\x00\x14\x00\x1e", 6));
    PngOptions options;
    options.backgroundRed = 1;
    options.backgroundGreen = 2;
    options.backgroundBlue = 3;
    Decoded c;
    decodeBytes(encodePng(rgb, parts), c, "rgbkey", options);
    ASSERT_NE(c.image, nullptr);
    EXPECT_EQ(c.at(0, 0), (Bgr{3, 2, 1}));
    EXPECT_EQ(c.at(1, 0), (Bgr{31, 20, 10}));

    // Compositing off: the key and the alpha are ignored.
    options.compositeTransparency = false;
    Decoded off;
    decodeBytes(encodePng(rgb, parts), off, "rgbkeyoff", options);
    ASSERT_NE(off.image, nullptr);
    EXPECT_EQ(off.at(0, 0), (Bgr{30, 20, 10}));
}

TEST(PngTransparency, AlphaExtremes) {
    Image img = randomImage(3, 1, 8, 6);
    img.samples = {200, 100, 50, 0, 200, 100, 50, 255, 200, 100, 50, 64};
    Decoded d;
    decodeBytes(encodePng(img), d, "alpha");
    ASSERT_NE(d.image, nullptr);
    EXPECT_EQ(d.at(0, 0), (Bgr{255, 255, 255}));
    EXPECT_EQ(d.at(1, 0), (Bgr{50, 100, 200}));
    EXPECT_EQ(d.at(2, 0), (Bgr{overWhite(64, 50), overWhite(64, 100), overWhite(64, 200)}));
}

// ---------------------------------------------------------------------------- gAMA, pHYs, tEXt

TEST(PngAncillary, GammaTableRules) {
    Image img = randomImage(16, 16, 8, 2, 11);
    auto gama = [](uint32_t v) { return chunk("gAMA", be32(v)); };
    // 1/2.2 against a 2.2 display changes nothing.
    {
        PngParts parts;
        parts.beforeIdat = gama(45455);
        Decoded d;
        decodeBytes(encodePng(img, parts), d, "g45455");
        expectImage(d, img, "gamma 45455");
    }
    // gAMA 1.0: every byte goes through floor((i/255)^(1/2.2) * 255 + 0.5).
    auto corrected = [](int v) { return v == 0 ? 0 : int(std::floor(std::pow(v / 255.0, 1.0 / 2.2) * 255.0 + 0.5)); };
    {
        PngParts parts;
        parts.beforeIdat = gama(100000);
        Decoded d;
        decodeBytes(encodePng(img, parts), d, "g100000");
        ASSERT_NE(d.image, nullptr);
        for (int x = 0; x < 16; ++x) {
            const Bgr e = expected(img, uint32_t(x), 3);
            EXPECT_EQ(d.at(x, 3), (Bgr{corrected(e.b), corrected(e.g), corrected(e.r)}));
        }
        // Display gamma 0 switches correction off.
        PngOptions off;
        off.displayGammaX1000 = 0;
        Decoded o;
        decodeBytes(encodePng(img, parts), o, "g-off", off);
        expectImage(o, img, "display gamma 0");
    }
    // Ignored: after PLTE, after IDAT, value 0, wrong length, a second gAMA.
    for (auto [before, after] : {std::pair{chunk("PLTE", paletteData(4)) + gama(100000), std::string()},
                                 std::pair{std::string(), gama(100000)}, std::pair{gama(0), std::string()},
                                 std::pair{chunk("gAMA", be32(100000) + "x"), std::string()},
                                 std::pair{gama(45455) + gama(100000), std::string()}}) {
        PngParts parts;
        parts.beforeIdat = before;
        parts.afterIdat = after;
        Decoded d;
        decodeBytes(encodePng(img, parts), d, "gignored");
        expectImage(d, img, "ignored gAMA");
    }
    // Palette images: the palette is corrected, then blended with tRNS.
    Image pal = randomImage(2, 1, 8, 3);
    pal.samples = {1, 2};
    PngParts parts;
    parts.beforeIdat = gama(100000) + chunk("PLTE", paletteData(3)) + chunk("tRNS", std::string("\xff\x40", 2));
    Decoded p;
    decodeBytes(encodePng(pal, parts), p, "gpal");
    ASSERT_NE(p.image, nullptr);
    EXPECT_EQ(p.at(0, 0), (Bgr{overWhite(64, corrected(3)), overWhite(64, corrected(254)), overWhite(64, corrected(7))}));
    EXPECT_EQ(p.at(1, 0), (Bgr{corrected(6), corrected(253), corrected(14)}));
}

TEST(PngAncillary, ColourKeyIsMatchedBeforeGamma) {
    Image img = randomImage(2, 1, 8, 2);
    img.samples = {100, 100, 100, 101, 100, 100};
    PngParts parts;
    parts.beforeIdat = chunk("gAMA", be32(100000)) + chunk("tRNS", std::string("\x00\x64\x00\x64\x00\x64", 6));
    Decoded d;
    decodeBytes(encodePng(img, parts), d, "keygamma");
    ASSERT_NE(d.image, nullptr);
    EXPECT_EQ(d.at(0, 0), (Bgr{255, 255, 255}));
    EXPECT_NE(d.at(1, 0), (Bgr{255, 255, 255}));
}

TEST(PngAncillary, PhysicalResolution) {
    Image img = randomImage(2, 2, 8, 0);
    auto phys = [](uint32_t x, uint32_t y, char unit, bool crc = true) { return chunk("pHYs", be32(x) + be32(y) + unit, crc); };
    struct Case {
        std::string before, after;
        int32_t x, y;
    } cases[] = {
        {phys(2835, 3780, 1), "", 2835, 3780},
        {phys(2835, 3780, 0), "", 0, 0},
        {phys(0x80000000u, 5, 1), "", 0, 0},
        {phys(2835, 3780, 1, false), "", 0, 0},
        {"", phys(2835, 3780, 1), 0, 0},
    };
    for (const auto& c : cases) {
        PngParts parts;
        parts.beforeIdat = c.before;
        parts.afterIdat = c.after;
        Decoded d;
        decodeBytes(encodePng(img, parts), d, "phys");
        ASSERT_NE(d.image, nullptr);
        EXPECT_EQ(d.image->header.biXPelsPerMeter, c.x);
        EXPECT_EQ(d.image->header.biYPelsPerMeter, c.y);
    }
}

TEST(PngAncillary, TextChunkCounting) {
    Image img = randomImage(2, 2, 8, 0);
    const std::string k79(79, 'k');
    PngParts parts;
    parts.beforeIdat = chunk("tEXt", std::string("Comment\0hello", 13)) +   // text + comment
                       chunk("tEXt", std::string("Title\0x", 7)) +           // text
                       chunk("tEXt", std::string("Comments\0x", 10)) +       // text, not a comment
                       chunk("tEXt", k79 + std::string("\0v", 2)) +          // 79-byte keyword: text
                       chunk("tEXt", k79 + "k" + std::string("\0v", 2)) +   // 80 bytes: not counted
                       chunk("tEXt", std::string("\0abc", 4)) +              // empty keyword
                       chunk("tEXt", "A") +                                  // too short
                       chunk("tEXt", "NoTerminator") +                       // no zero byte
                       chunk("tEXt", std::string("Comment\0bad", 11), false);  // bad CRC
    parts.afterIdat = chunk("tEXt", std::string("Comment\0", 8));            // after IDAT still counts
    Decoded d;
    decodeBytes(encodePng(img, parts), d, "text");
    ASSERT_NE(d.image, nullptr);
    EXPECT_EQ(d.counters.metaCount, 5);
    EXPECT_EQ(d.counters.commentCount, 2);
}

// ---------------------------------------------------------------------------- filters

#include "image/png_unfilter.h"

namespace {

template <int Bpp>
void checkFiltersAgainstPlainDefinition() {
    uint32_t seed = 99;
    auto next = [&] {
        seed = seed * 1664525u + 1013904223u;
        return uint8_t(seed >> 24);
    };
    for (size_t pixels = 1; pixels <= 37; ++pixels) {
        const size_t n = pixels * Bpp;
        // Slack after the rows, as the decoder's row buffers have; filled with a marker
        // that must survive.
        std::vector<uint8_t> prev(n + 32), raw(n + 32, 0xA5);
        for (size_t i = 0; i < n; ++i) {
            prev[i] = next();
            raw[i] = next();
        }
        for (int f = 1; f <= 4; ++f) {
            std::vector<uint8_t> want(raw.begin(), raw.begin() + n);
            for (size_t i = 0; i < n; ++i) {
                const int a = i >= Bpp ? want[i - Bpp] : 0, b = prev[i], c = i >= Bpp ? prev[i - Bpp] : 0;
                const int pred = f == 1 ? a : f == 2 ? b : f == 3 ? (a + b) / 2 : paethPredict(a, b, c);
                want[i] = uint8_t(want[i] + pred);
            }
            std::vector<uint8_t> got = raw;
            switch (f) {
                case 1: pngfilter::unfilter<1, Bpp>(got.data(), prev.data(), n); break;
                case 2: pngfilter::unfilter<2, Bpp>(got.data(), prev.data(), n); break;
                case 3: pngfilter::unfilter<3, Bpp>(got.data(), prev.data(), n); break;
                default: pngfilter::unfilter<4, Bpp>(got.data(), prev.data(), n); break;
            }
            ASSERT_EQ(std::vector<uint8_t>(got.begin(), got.begin() + n), want) << "bpp " << Bpp << " filter " << f << " width " << pixels;
            for (size_t i = n; i < got.size(); ++i) ASSERT_EQ(got[i], 0xA5) << "bpp " << Bpp << " wrote past the row";
        }
    }
}

}  // namespace

TEST(PngFilters, EveryDistanceMatchesTheDefinitionAtEveryWidth) {
    checkFiltersAgainstPlainDefinition<1>();
    checkFiltersAgainstPlainDefinition<2>();
    checkFiltersAgainstPlainDefinition<3>();
    checkFiltersAgainstPlainDefinition<4>();
    checkFiltersAgainstPlainDefinition<6>();
    checkFiltersAgainstPlainDefinition<8>();
}
