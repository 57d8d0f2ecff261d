// BMP reader and writer: header limits, every depth and mask rule, the guards against
// oversized colour tables and short pixel areas, and the writer's layout and round trip.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "image/bmp_codec.h"

// The record the decodes in this file fill.
static DecodedImage bmpOut;


namespace {

void put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
}
void put16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
    b[at] = uint8_t(v);
    b[at + 1] = uint8_t(v >> 8);
}
uint32_t get32(const std::string& b, size_t at) {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= uint32_t(uint8_t(b[at + i])) << (8 * i);
    return v;
}

struct BmpSpec {
    int32_t width = 1, height = 1;
    uint16_t depth = 24;
    uint32_t compression = 0;
    uint32_t coloursUsed = 0;
    std::vector<uint8_t> afterHeader;  // colour table or masks, from offset 54
    std::vector<uint8_t> pixels;
};

std::vector<uint8_t> buildBmp(const BmpSpec& s) {
    std::vector<uint8_t> b(54, 0);
    b[0] = 'B';
    b[1] = 'M';
    put32(b, 10, uint32_t(54 + s.afterHeader.size()));
    put32(b, 14, 40);
    put32(b, 18, uint32_t(s.width));
    put32(b, 22, uint32_t(s.height));
    put16(b, 26, 1);
    put16(b, 28, s.depth);
    put32(b, 30, s.compression);
    put32(b, 38, 2835);
    put32(b, 42, 1417);
    put32(b, 46, s.coloursUsed);
    b.insert(b.end(), s.afterHeader.begin(), s.afterHeader.end());
    b.insert(b.end(), s.pixels.begin(), s.pixels.end());
    put32(b, 2, uint32_t(b.size()));
    return b;
}

class BmpTest : public ::testing::Test {
protected:
    std::filesystem::path dir;
    void SetUp() override {
        dir = std::filesystem::temp_directory_path() /
              ("pravel_bmp_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        std::filesystem::create_directories(dir);
    }
    void TearDown() override {
        if (bmpOut.pixels) {
            pageFree(bmpOut.pixels);
            bmpOut.pixels = nullptr;
        }
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
    std::wstring file(const char* name) { return (dir / name).wstring(); }
    // The caller of the decoder owns the pixels of each successful decode: free the last ones.
    DecodedImage* decodePath(const std::wstring& path, DecodeCounters& counters) {
        if (bmpOut.pixels) {
            pageFree(bmpOut.pixels);
            bmpOut.pixels = nullptr;
        }
        return decodeBmp(path.c_str(), bmpOut, counters);
    }
    DecodedImage* decodeBytes(const std::vector<uint8_t>& bytes) {
        std::wstring path = file("in.bmp");
        EXPECT_TRUE(writeWholeFile(path.c_str(), bytes.data(), bytes.size()));
        DecodeCounters counters;
        return decodePath(path, counters);
    }
};

TEST_F(BmpTest, SizeLimitsAndTopDownRefused) {
    struct Case { int32_t w, h; bool ok; } cases[] = {
        {25000, 1, true}, {1, 25000, true}, {25001, 1, false}, {1, 25001, false},
        {0, 5, false},    {5, 0, false},    {4, -4, false},    {-4, 4, false},
    };
    for (const auto& c : cases) {
        BmpSpec s;
        s.width = c.w;
        s.height = c.h;
        s.depth = 8;
        DecodedImage* img = decodeBytes(buildBmp(s));
        EXPECT_EQ(img != nullptr, c.ok) << c.w << "x" << c.h;
        if (!c.ok) {
            EXPECT_EQ(bmpOut.errorCode, 2) << c.w << "x" << c.h;
        }
    }
}

TEST_F(BmpTest, UnsupportedDepthsAndCompressionsRefused) {
    struct Case { uint16_t depth; uint32_t compression; } cases[] = {
        {4, 2}, {8, 1}, {24, 3}, {1, 3}, {16, 1}, {32, 2}, {2, 0}, {15, 0}, {64, 0},
    };
    for (const auto& c : cases) {
        BmpSpec s;
        s.width = s.height = 2;
        s.depth = c.depth;
        s.compression = c.compression;
        s.pixels.assign(64, 0);
        EXPECT_EQ(decodeBytes(buildBmp(s)), nullptr) << c.depth << "/" << c.compression;
        EXPECT_EQ(bmpOut.errorCode, 2);
        EXPECT_EQ(bmpOut.pixels, nullptr);
    }
}

TEST_F(BmpTest, PaletteDepthsExpandToEightBits) {
    // 1 bit, 10 pixels wide: bits MSB first, rows padded to 4 bytes.
    BmpSpec one;
    one.width = 10;
    one.height = 2;
    one.depth = 1;
    one.afterHeader = {10, 20, 30, 0, 40, 50, 60, 0};
    one.pixels = {0xA5, 0xC0, 0, 0, 0x01, 0x40, 0, 0};
    DecodedImage* img = decodeBytes(buildBmp(one));
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(img->header.biBitCount, 8);
    EXPECT_EQ(img->sourceDepth, 1);
    EXPECT_EQ(img->format, FormatBmp);
    EXPECT_EQ(img->header.biXPelsPerMeter, 2835);
    EXPECT_EQ(img->header.biYPelsPerMeter, 1417);
    const uint8_t row0[10] = {1, 0, 1, 0, 0, 1, 0, 1, 1, 1};
    const uint8_t row1[10] = {0, 0, 0, 0, 0, 0, 0, 1, 0, 1};
    EXPECT_EQ(0, std::memcmp(img->pixels, row0, 10));
    EXPECT_EQ(0, std::memcmp(img->pixels + 12, row1, 10));
    EXPECT_EQ(img->palette[1].blue, 40);
    EXPECT_EQ(img->palette[1].red, 60);
    EXPECT_EQ(img->palette[2].blue, 0);

    // 8 bits with colours used = 16: the rest of the palette stays zero.
    BmpSpec eight;
    eight.width = 2;
    eight.height = 1;
    eight.depth = 8;
    eight.coloursUsed = 16;
    for (int i = 0; i < 16; ++i) eight.afterHeader.insert(eight.afterHeader.end(), {1, 2, uint8_t(100 + i), 0});
    eight.pixels = {5, 15, 0, 0};
    img = decodeBytes(buildBmp(eight));
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(img->palette[15].red, 115);
    for (int i = 16; i < 256; ++i) ASSERT_EQ(img->palette[i].red + img->palette[i].blue, 0) << i;
    EXPECT_EQ(img->pixels[1], 15);
}

TEST_F(BmpTest, MaskedDepthsScaleEachChannelWithTruncation) {
    // 16 bits 5-6-5 through masks; 31 -> 255 and 63 -> 255, mid values scaled down.
    BmpSpec s565;
    s565.width = 3;
    s565.height = 1;
    s565.depth = 16;
    s565.compression = 3;
    s565.afterHeader.assign(12, 0);
    s565.afterHeader[0] = 0x00; s565.afterHeader[1] = 0xF8;  // red 0xF800
    s565.afterHeader[4] = 0xE0; s565.afterHeader[5] = 0x07;  // green 0x07E0
    s565.afterHeader[8] = 0x1F;                              // blue 0x001F
    s565.pixels = {0xFF, 0xFF, 0x20, 0x00, 0x10, 0x00, 0, 0};  // white; green 1; blue 16
    DecodedImage* img = decodeBytes(buildBmp(s565));
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(img->header.biBitCount, 24);
    EXPECT_EQ(img->sourceDepth, 16);
    const uint8_t want565[9] = {255, 255, 255, 0, 255 / 63, 0, 16 * 255 / 31, 0, 0};
    EXPECT_EQ(0, std::memcmp(img->pixels, want565, 9));

    // A blue mask 32 bits wide cannot be scaled: error 4.
    BmpSpec wide;
    wide.width = 1;
    wide.height = 2;
    wide.depth = 32;
    wide.pixels.assign(8, 0);
    wide.compression = 3;
    wide.afterHeader.assign(12, 0);
    put32(wide.afterHeader, 8, 0xFFFFFFFFu);
    EXPECT_EQ(decodeBytes(buildBmp(wide)), nullptr);
    EXPECT_EQ(bmpOut.errorCode, 4);
    EXPECT_EQ(bmpOut.pixels, nullptr);
}

TEST_F(BmpTest, OversizedTablesAndShortFilesStayInsideBuffers) {
    // Colours used far above 256: only the palette's 256 entries are read.
    BmpSpec big;
    big.width = 2;
    big.height = 2;
    big.depth = 8;
    big.coloursUsed = 0x40000000;
    big.afterHeader.assign(2048, 0x77);
    big.pixels = {1, 2, 0, 0, 3, 4, 0, 0};
    DecodedImage* img = decodeBytes(buildBmp(big));
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(img->palette[255].red, 0x77);

    // 32-bit image whose pixel area holds one and a half rows of four: the rest is black.
    BmpSpec shortArea;
    shortArea.width = 4;
    shortArea.height = 3;
    shortArea.depth = 32;
    shortArea.pixels.assign(16 + 8, 0xFF);
    img = decodeBytes(buildBmp(shortArea));
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(img->pixels[0], 255);
    EXPECT_EQ(img->pixels[12 + 5], 255);  // second row, second pixel
    EXPECT_EQ(img->pixels[12 + 6], 0);    // second row, third pixel: not in the file
    EXPECT_EQ(img->pixels[24], 0);

    // 24-bit file cut short, and a pixel offset beyond the end: decoded, missing rows zero.
    BmpSpec cut;
    cut.width = 2;
    cut.height = 2;
    cut.depth = 24;
    cut.pixels = {9, 9, 9};
    img = decodeBytes(buildBmp(cut));
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(img->pixels[2], 9);
    EXPECT_EQ(img->pixels[3], 0);
    std::vector<uint8_t> farOffset = buildBmp(cut);
    put32(farOffset, 10, 0xFFFFFFF0u);
    ASSERT_NE(decodeBytes(farOffset), nullptr);
    EXPECT_EQ(bmpOut.pixels[0], 0);

    // A header cut off before the size fields: refused, not read past the file.
    std::vector<uint8_t> stub = buildBmp(cut);
    stub.resize(20);
    EXPECT_EQ(decodeBytes(stub), nullptr);
    EXPECT_EQ(bmpOut.errorCode, 2);

    // Missing file: error 4.
    DecodeCounters counters;
    EXPECT_EQ(decodePath(file("absent.bmp"), counters), nullptr);
    EXPECT_EQ(bmpOut.errorCode, 4);
}

TEST_F(BmpTest, WriterLayoutAndRoundTrip) {
    // 24-bit, width 3: rows of 12 bytes, pixel data at 54, no palette.
    const int w = 3, h = 2;
    std::vector<uint8_t> pixels(12 * h, 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w * 3; ++x) pixels[y * 12 + x] = uint8_t(10 * y + x + 1);
    DepthConversion conv;
    conv.width = w;
    conv.height = h;
    conv.sourceDepth = 24;
    conv.targetDepth = 24;
    std::wstring out = file("wall.bmp");
    ASSERT_TRUE(writeBmp(out.c_str(), conv, pixels.data()));
    std::string bytes;
    ASSERT_TRUE(readWholeFile(out.c_str(), bytes));
    ASSERT_EQ(bytes.size(), 54u + 24u);
    EXPECT_EQ(bytes.substr(0, 2), "BM");
    EXPECT_EQ(get32(bytes, 2), 78u);
    EXPECT_EQ(get32(bytes, 10), 54u);
    EXPECT_EQ(get32(bytes, 14), 40u);
    EXPECT_EQ(get32(bytes, 22), 2u);
    EXPECT_EQ(get32(bytes, 46), 0u);
    EXPECT_EQ(0, std::memcmp(bytes.data() + 54, pixels.data(), pixels.size()));

    DecodeCounters counters;
    DecodedImage* img = decodePath(out, counters);
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(counters.fileWidth, 3);
    EXPECT_EQ(0, std::memcmp(img->pixels, pixels.data(), pixels.size()));

    // Unsupported conversion (24 -> 8) fails with 7 and leaves no file; a bad folder fails with 5.
    DepthConversion down = conv;
    down.targetDepth = 8;
    EXPECT_FALSE(writeBmp(out.c_str(), down, pixels.data()));
    EXPECT_EQ(down.errorCode, 7);
    EXPECT_FALSE(pathExists(out.c_str()));
    std::wstring bad = file("no_such_folder/x.bmp");
    EXPECT_FALSE(writeBmp(bad.c_str(), conv, pixels.data()));
    EXPECT_EQ(conv.errorCode, 5);
}

}  // namespace
