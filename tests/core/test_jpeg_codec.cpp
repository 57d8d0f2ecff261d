// JPEG glue: scale choice, orientation and colour order, grey and CMYK, marker bookkeeping,
// density, truncated streams, size limits, library errors, and the thumbnail encoder's
// bounded destination. Test images are made here with the library itself.
#include <gtest/gtest.h>

#include <algorithm>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

extern "C" {
#include <jpeglib.h>
}

#include "image/jpeg_codec.h"

namespace {

uint32_t stride24(int w) { return uint32_t(w * 3 + 3) & ~3u; }

// Compresses interleaved top-down samples with the library (any colour space, any settings).
struct EncodeOptions {
    J_COLOR_SPACE space = JCS_RGB;
    int components = 3;
    int quality = 95;
    bool progressive = false;
    int densityUnit = -1;
    int density = 0;
};
std::vector<uint8_t> libEncode(int w, int h, const std::vector<uint8_t>& topDown, const EncodeOptions& o) {
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &out, &size);
    c.image_width = w;
    c.image_height = h;
    c.input_components = o.components;
    c.in_color_space = o.space;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, o.quality, TRUE);
    if (o.progressive) jpeg_simple_progression(&c);
    if (o.densityUnit >= 0) {
        c.density_unit = uint8_t(o.densityUnit);
        c.X_density = c.Y_density = uint16_t(o.density);
    }
    jpeg_start_compress(&c, TRUE);
    for (int y = 0; y < h; ++y) {
        JSAMPROW row = const_cast<JSAMPROW>(topDown.data() + size_t(y) * w * o.components);
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    std::vector<uint8_t> bytes(out, out + size);
    jpeg_destroy_compress(&c);
    std::free(out);
    return bytes;
}

// A gradient image; 3 components, top-down, red/green/blue order.
std::vector<uint8_t> gradient(int w, int h) {
    std::vector<uint8_t> px(size_t(w) * h * 3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = &px[(size_t(y) * w + x) * 3];
            p[0] = uint8_t(x * 255 / (w > 1 ? w - 1 : 1));
            p[1] = uint8_t(y * 255 / (h > 1 ? h - 1 : 1));
            p[2] = 128;
        }
    return px;
}

// Inserts raw segments right after SOI.
std::vector<uint8_t> withSegments(std::vector<uint8_t> jpeg, const std::vector<std::vector<uint8_t>>& segments) {
    std::vector<uint8_t> extra;
    for (const auto& s : segments) extra.insert(extra.end(), s.begin(), s.end());
    jpeg.insert(jpeg.begin() + 2, extra.begin(), extra.end());
    return jpeg;
}
std::vector<uint8_t> segment(uint8_t marker, const std::string& body) {
    std::vector<uint8_t> s(4 + body.size());
    s[0] = 0xFF;
    s[1] = marker;
    s[2] = uint8_t((body.size() + 2) >> 8);
    s[3] = uint8_t(body.size() + 2);
    std::copy(body.begin(), body.end(), s.begin() + 4);
    return s;
}

class JpegTest : public ::testing::Test {
protected:
    DecodeCounters counters;
    void TearDown() override { releasePixels(); }
    static void releasePixels() {
        pageFree(jpegRecord().pixels);
        jpegRecord().pixels = nullptr;
    }
    DecodedImage* decode(const std::vector<uint8_t>& bytes, int tw = 0, int th = 0) {
        releasePixels();
        return decodeJpegMemory(bytes.data(), bytes.size(), tw, th, counters);
    }
};

TEST(JpegScale, DenominatorChoice) {
    EXPECT_EQ(jpegScaleDenominator(4000, 3000, 160, 120), 8);
    EXPECT_EQ(jpegScaleDenominator(4000, 3000, 1000, 1000), 2);  // r = 3
    EXPECT_EQ(jpegScaleDenominator(4000, 3000, 148, 111), 8);
    EXPECT_EQ(jpegScaleDenominator(4000, 3000, 1000, 750), 4);   // r = 4
    EXPECT_EQ(jpegScaleDenominator(4000, 3000, 571, 428), 4);    // r = 7
    EXPECT_EQ(jpegScaleDenominator(4000, 3000, 2000, 1501), 1);  // r = 1
    EXPECT_EQ(jpegScaleDenominator(100, 100, 400, 400), 1);      // smaller than the target
    EXPECT_EQ(jpegScaleDenominator(4000, 3000, 0, 120), 1);
    EXPECT_EQ(jpegScaleDenominator(4000, 3000, 160, 0), 1);
}

TEST_F(JpegTest, PhotoSizeDecodesAtReducedScale) {
    const int w = 4000, h = 3000;
    std::vector<uint8_t> bytes = libEncode(w, h, gradient(w, h), EncodeOptions{.quality = 50});
    struct Case { int tw, th, ow, oh; } cases[] = {
        {160, 120, 500, 375}, {1000, 1000, 2000, 1500}, {0, 120, 4000, 3000}, {160, 0, 4000, 3000},
    };
    for (const auto& c : cases) {
        DecodedImage* img = decode(bytes, c.tw, c.th);
        ASSERT_NE(img, nullptr);
        EXPECT_EQ(img->header.biWidth, c.ow) << c.tw << "x" << c.th;
        EXPECT_EQ(img->header.biHeight, c.oh);
        EXPECT_EQ(counters.fileWidth, 4000);
        EXPECT_EQ(counters.fileHeight, 3000);
        EXPECT_EQ(img->header.biBitCount, 24);
        EXPECT_EQ(img->format, FormatJpeg);
        EXPECT_EQ(img->sourceDepth, 24);
        EXPECT_EQ(img->fileSize, bytes.size());
    }
}

TEST_F(JpegTest, EncoderRoundTripKeepsOrientationAndColourOrder) {
    // Bottom-up BGR buffer: top image row pure red, the rest pure blue, width not a multiple of 4.
    const int w = 37, h = 24;
    std::vector<uint8_t> bmp(stride24(w) * h, 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = &bmp[size_t(y) * stride24(w) + x * 3];
            const bool top = y >= h - 8;  // last rows of a bottom-up buffer are the top of the image
            p[0] = top ? 0 : 255;
            p[2] = top ? 255 : 0;
        }
    DepthConversion conv;
    conv.width = w;
    conv.height = h;
    std::vector<uint8_t> out(stride24(w) * h);
    uint32_t capacity = uint32_t(out.size());
    ASSERT_TRUE(encodeJpegThumbnail(out.data(), &capacity, bmp.data(), conv));
    ASSERT_GT(capacity, 100u);
    ASSERT_LT(capacity, out.size());
    out.resize(capacity);

    // The stream is baseline 4:4:4 with optimised tables, read back by the bare library.
    jpeg_decompress_struct d;
    jpeg_error_mgr err;
    d.err = jpeg_std_error(&err);
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, out.data(), out.size());
    jpeg_read_header(&d, TRUE);
    EXPECT_EQ(d.progressive_mode, FALSE);
    EXPECT_EQ(d.jpeg_color_space, JCS_YCbCr);
    EXPECT_EQ(d.comp_info[0].h_samp_factor, 1);
    EXPECT_EQ(d.comp_info[0].v_samp_factor, 1);
    EXPECT_TRUE(d.saw_JFIF_marker);
    jpeg_destroy_decompress(&d);

    DecodedImage* img = decode(out);
    ASSERT_NE(img, nullptr);
    ASSERT_EQ(img->header.biWidth, w);
    ASSERT_EQ(img->header.biHeight, h);
    int worst = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w * 3; ++x) {
            int diff = std::abs(int(img->pixels[size_t(y) * stride24(w) + x]) - int(bmp[size_t(y) * stride24(w) + x]));
            worst = diff > worst ? diff : worst;
        }
    EXPECT_LT(worst, 24);
    // The top row of the image (last buffer row) is red: third byte high, first low.
    const uint8_t* top = img->pixels + size_t(h - 1) * stride24(w);
    EXPECT_GT(top[2], 230);
    EXPECT_LT(top[0], 25);
}

TEST_F(JpegTest, EncoderNeverWritesPastTheBlock) {
    const int w = 64, h = 48;
    std::vector<uint8_t> px(stride24(w) * h);
    for (size_t i = 0; i < px.size(); ++i) px[i] = uint8_t((i * 7919) >> 3);  // noisy: compresses badly
    DepthConversion conv;
    conv.width = w;
    conv.height = h;
    std::vector<uint8_t> big(px.size() * 2);
    uint32_t needed = uint32_t(big.size());
    ASSERT_TRUE(encodeJpegThumbnail(big.data(), &needed, px.data(), conv));

    // Exactly enough room succeeds with the same stream; any less fails; the guard bytes after
    // the given capacity are never touched.
    for (uint32_t capacity : {needed, needed - 1, needed / 2, 600u, 1u}) {
        std::vector<uint8_t> block(capacity + 256, 0xA5);
        uint32_t size = capacity;
        const bool ok = encodeJpegThumbnail(block.data(), &size, px.data(), conv);
        EXPECT_EQ(ok, capacity == needed) << capacity;
        if (ok) {
            EXPECT_EQ(size, needed);
            EXPECT_EQ(0, std::memcmp(block.data(), big.data(), needed));
        }
        for (size_t i = capacity; i < block.size(); ++i) ASSERT_EQ(block[i], 0xA5) << capacity << " at " << i;
    }
    DepthConversion empty;
    uint32_t size = 100;
    EXPECT_FALSE(encodeJpegThumbnail(big.data(), &size, px.data(), empty));
}

// Grey and CMYK rows are compared with the bare library in the host conformance test.
TEST_F(JpegTest, JfifDensityBecomesPixelsPerMetre) {
    auto rgb = gradient(8, 8);
    struct Case { int unit, density, perMetre; } cases[] = {{1, 72, 2835}, {2, 28, 2800}, {0, 3, 0}};
    for (const auto& c : cases) {
        DecodedImage* img = decode(libEncode(8, 8, rgb, {.densityUnit = c.unit, .density = c.density}));
        ASSERT_NE(img, nullptr);
        EXPECT_EQ(img->header.biXPelsPerMeter, c.perMetre) << c.unit;
        EXPECT_EQ(img->header.biYPelsPerMeter, c.perMetre) << c.unit;
    }
}

TEST_F(JpegTest, CommentsExifAndProgressiveAreReported) {
    auto base = libEncode(24, 16, gradient(24, 16), {});
    auto tagged = withSegments(base, {segment(0xFE, "first"), segment(0xE1, std::string("Exif\0\0MM", 8)),
                                      segment(0xFE, "second")});
    DecodedImage* img = decode(tagged);
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(counters.commentCount, 2);
    EXPECT_EQ(counters.metaCount, 1);
    EXPECT_EQ(counters.interlaced, 0);

    img = decode(base);
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(counters.commentCount, 0);
    EXPECT_EQ(counters.metaCount, 0);

    img = decode(libEncode(24, 16, gradient(24, 16), {.progressive = true}));
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(counters.interlaced, 1);

    // The path decoder reads the same through the file mapping and keeps the file facts.
    auto path = std::filesystem::temp_directory_path() / "pravel_jpeg_tagged.jpg";
    ASSERT_TRUE(writeWholeFile(path.wstring().c_str(), tagged.data(), tagged.size()));
    releasePixels();
    img = decodeJpeg(path.wstring().c_str(), 0, 0, counters);
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(counters.commentCount, 2);
    EXPECT_EQ(counters.metaCount, 1);
    EXPECT_EQ(img->fileSize, tagged.size());
    EXPECT_NE(img->lastWriteTime.value(), 0u);
    std::filesystem::remove(path);
}

TEST_F(JpegTest, TruncatedStreamsStillGiveTheFullImage) {
    const int w = 96, h = 64;
    auto bytes = libEncode(w, h, gradient(w, h), {});
    auto progressive = libEncode(w, h, gradient(w, h), {.progressive = true});
    for (const auto* full : {&bytes, &progressive}) {
        for (size_t cut : {full->size() / 2, full->size() - 2, size_t(700)}) {
            std::vector<uint8_t> part(full->begin(), full->begin() + cut);
            DecodedImage* img = decode(part);
            ASSERT_NE(img, nullptr) << cut;
            EXPECT_EQ(img->header.biWidth, w);
            EXPECT_EQ(img->header.biHeight, h);
        }
    }
    // Cut inside the headers: a library error, reported with its message and code 4.
    std::vector<uint8_t> headerOnly(bytes.begin(), bytes.begin() + 30);
    EXPECT_EQ(decode(headerOnly), nullptr);
    EXPECT_EQ(jpegRecord().errorCode, 4);
    EXPECT_NE(jpegLibraryMessage()[0], L'\0');
    // A marker segment whose length runs past the end of the data is skipped to the end, not beyond.
    std::vector<uint8_t> overlong = {0xFF, 0xD8, 0xFF, 0xFE, 0xFF, 0xF0, 'x'};
    EXPECT_EQ(decode(overlong), nullptr);
    EXPECT_EQ(jpegRecord().pixels, nullptr);
    // A successful decode empties the message again.
    ASSERT_NE(decode(bytes), nullptr);
    EXPECT_EQ(jpegLibraryMessage()[0], L'\0');
}

TEST_F(JpegTest, OutputSizeLimitAppliesAfterScaling) {
    auto wide = libEncode(25001, 8, std::vector<uint8_t>(size_t(25001) * 8 * 3, 90), {.quality = 30});
    EXPECT_EQ(decode(wide), nullptr);
    EXPECT_EQ(jpegRecord().errorCode, 2);
    EXPECT_EQ(jpegRecord().pixels, nullptr);
    DecodedImage* img = decode(wide, 100, 4);  // r = min(8/4, 25001/100) = 2 -> 12501 x 4
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(img->header.biWidth, 12501);
    EXPECT_EQ(counters.fileWidth, 25001);
}

}  // namespace
