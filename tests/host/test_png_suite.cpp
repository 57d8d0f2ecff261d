// The PngSuite through the loader dispatch, against libpng run natively.
//
// libpng reads each file with no transformation except unpacking 1/2/4-bit samples to
// bytes; the adapter below then applies this program's own display rules to libpng's raw
// samples: 16-bit samples keep their high byte, palette and grey ramp entries and colour
// samples go through the gamma table built from gAMA against a 2.2 display, tRNS keys and
// alpha are composited onto white with the alpha-product table. The decoded 24-bit image
// must equal that pixel for pixel. The x* files, which are broken on purpose, must be
// refused with the error code this decoder gives for their fault.
//
// Files that differ from plain libpng output on purpose, and why:
//  - tbbn0g04 .. tbwn0g16, tp0n0g08, tbbn2c16, tbgn2c16 (grey and colour keys): a key is
//    matched against the sample's high byte only for 16-bit images, because the decoder
//    turns the key into one palette entry of an 8-bit output (grey) or compares the
//    8-bit output (colour). The adapter does the same; on these files both agree anyway.
//  - bg*, tb*, tm3n3p02, tp1n3p08 and every alpha file: the file's bKGD is never used;
//    transparency always goes onto white.
//  - g*: the gamma table maps through 8 bits only (16-bit samples are cut to 8 bits first).
#include <gtest/gtest.h>
#include <png.h>

#include <cmath>
#include <csetjmp>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "image/decoded_image.h"

// The record the decodes in this file fill.
static DecodedImage pngOut;


namespace fs = std::filesystem;

namespace {

const fs::path kSuite = fs::path(PRAVEL_TESTDATA) / "pngsuite";

struct Rgb {
    int r = 0, g = 0, b = 0;
    bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
};

int product(int a, int v) {
    if (a == 0 || v == 0) return 0;
    if (a == 255) return v;
    if (v == 255) return a;
    return int((uint32_t(v) * (uint32_t(a) * 65536u / 255u) + 32768u) >> 16);
}
int overWhite(int a, int v) { return product(a, v) + product(255 - a, 255); }

// What libpng says about a file, as raw samples plus the chunks that matter.
struct Reference {
    bool ok = false;
    std::string error;
    uint32_t width = 0, height = 0;
    int depth = 0, type = 0, interlace = 0;
    std::vector<std::vector<uint8_t>> rows;  // unpacked samples, 16-bit kept big-endian
    std::vector<png_color> palette;
    std::vector<uint8_t> alpha;  // palette tRNS
    bool hasKey = false;
    png_color_16 key{};
    bool hasGamma = false;
    png_fixed_point gamma = 0;
    int32_t xppm = 0, yppm = 0;
    int textCount = 0, commentCount = 0;
};

void onError(png_structp png, png_const_charp message) {
    auto* ref = static_cast<Reference*>(png_get_error_ptr(png));
    ref->error = message;
    png_longjmp(png, 1);
}
void onWarning(png_structp, png_const_charp) {}

Reference readWithLibpng(const fs::path& path) {
    Reference ref;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return ref;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &ref, onError, onWarning);
    png_infop info = png_create_info_struct(png);
    std::vector<png_bytep> pointers;  // outside the jump's scope, so a libpng error cannot leak it
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        std::fclose(f);
        ref.ok = false;
        return ref;
    }
    png_set_benign_errors(png, 1);
    png_init_io(png, f);
    png_read_info(png, info);
    png_uint_32 w, h;
    int depth, type, interlace;
    png_get_IHDR(png, info, &w, &h, &depth, &type, &interlace, nullptr, nullptr);
    ref.width = w;
    ref.height = h;
    ref.depth = depth;
    ref.type = type;
    ref.interlace = interlace;
    if (depth < 8) png_set_packing(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    ref.rows.assign(h, std::vector<uint8_t>(png_get_rowbytes(png, info)));
    for (auto& r : ref.rows) pointers.push_back(r.data());
    png_read_image(png, pointers.data());
    png_read_end(png, info);

    png_colorp palette;
    int count;
    if (png_get_PLTE(png, info, &palette, &count)) ref.palette.assign(palette, palette + count);
    png_bytep trans;
    int transCount;
    png_color_16p transColour;
    if (png_get_tRNS(png, info, &trans, &transCount, &transColour)) {
        if (type == PNG_COLOR_TYPE_PALETTE) ref.alpha.assign(trans, trans + transCount);
        else {
            ref.hasKey = true;
            ref.key = *transColour;
        }
    }
    ref.hasGamma = png_get_gAMA_fixed(png, info, &ref.gamma) && ref.gamma > 0;
    png_uint_32 x, y;
    int unit;
    if (png_get_pHYs(png, info, &x, &y, &unit) && unit == PNG_RESOLUTION_METER && x < 0x80000000u && y < 0x80000000u) {
        ref.xppm = int32_t(x);
        ref.yppm = int32_t(y);
    }
    png_textp texts;
    int textCount = 0;
    png_get_text(png, info, &texts, &textCount);
    for (int i = 0; i < textCount; ++i) {
        if (texts[i].compression != PNG_TEXT_COMPRESSION_NONE) continue;
        ++ref.textCount;
        if (std::strcmp(texts[i].key, "Comment") == 0) ++ref.commentCount;
    }
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(f);
    ref.ok = true;
    return ref;
}

// libpng's samples shown the way this program shows them.
std::vector<Rgb> expectedPixels(const Reference& ref) {
    int gammaTable[256];
    for (int i = 0; i < 256; ++i) gammaTable[i] = i;
    if (ref.hasGamma) {
        const double e = 1.0 / ((double(ref.gamma) / 100000000.0) * double(2200));
        for (int i = 1; i < 256; ++i) gammaTable[i] = int(std::floor(std::pow(double(i) / 255.0, e) * 255.0 + 0.5));
    }
    auto G = [&](int v) { return gammaTable[v]; };
    const int sb = ref.depth == 16 ? 2 : 1;  // bytes per sample after unpacking
    const int channels = ref.type == 2 ? 3 : ref.type == 4 ? 2 : ref.type == 6 ? 4 : 1;
    std::vector<Rgb> out;
    out.reserve(size_t(ref.width) * ref.height);
    for (uint32_t y = 0; y < ref.height; ++y) {
        const uint8_t* row = ref.rows[y].data();
        for (uint32_t x = 0; x < ref.width; ++x) {
            const uint8_t* px = row + size_t(x) * channels * sb;
            auto s = [&](int c) { return int(px[c * sb]); };  // high byte (or the byte)
            Rgb c;
            switch (ref.type) {
                case 0: {
                    const int step = ref.depth == 1 ? 255 : ref.depth == 2 ? 85 : ref.depth == 4 ? 17 : 1;
                    const int index = s(0);
                    const int keyIndex = ref.depth == 16 ? ref.key.gray >> 8 : ref.key.gray & 0xFF;
                    if (ref.hasKey && index == keyIndex) c = {255, 255, 255};
                    else c = {G(index * step), G(index * step), G(index * step)};
                    break;
                }
                case 2: {
                    auto k = [&](int v) { return ref.depth == 16 ? v >> 8 : v & 0xFF; };
                    if (ref.hasKey && s(0) == k(ref.key.red) && s(1) == k(ref.key.green) && s(2) == k(ref.key.blue))
                        c = {255, 255, 255};
                    else c = {G(s(0)), G(s(1)), G(s(2))};
                    break;
                }
                case 3: {
                    const int i = s(0);
                    png_color e{0, 0, 0};
                    if (size_t(i) < ref.palette.size()) e = ref.palette[i];
                    c = {G(e.red), G(e.green), G(e.blue)};
                    if (!ref.alpha.empty()) {
                        const int a = size_t(i) < ref.alpha.size() ? ref.alpha[i] : 255;
                        c = {overWhite(a, c.r), overWhite(a, c.g), overWhite(a, c.b)};
                    }
                    break;
                }
                case 4: {
                    const int v = G(overWhite(s(1), s(0)));
                    c = {v, v, v};
                    break;
                }
                default: {
                    const int a = s(3);
                    c = {overWhite(a, G(s(0))), overWhite(a, G(s(1))), overWhite(a, G(s(2)))};
                    break;
                }
            }
            out.push_back(c);
        }
    }
    return out;
}

std::vector<fs::path> suiteFiles() {
    std::vector<fs::path> files;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(kSuite, ec))
        if (e.path().extension() == ".png") files.push_back(e.path());
    std::sort(files.begin(), files.end());
    return files;
}

// The code each deliberately broken file must be refused with.
const std::map<std::string, int> kBrokenFiles = {
    {"xc1n0g08", 14},  // colour type 1
    {"xc9n2c08", 14},  // colour type 9
    {"xcrn0g04", 6},   // signature mangled by a CR conversion
    {"xcsn0g01", 9},   // IDAT CRC wrong
    {"xd0n2c08", 15},  // bit depth 0
    {"xd3n2c08", 15},  // bit depth 3
    {"xd9n2c08", 15},  // bit depth 99
    {"xdtn0g01", 21},  // no IDAT
    {"xhdn0g08", 9},   // IHDR CRC wrong
    {"xlfn0g04", 6},   // signature mangled by an LF conversion
    {"xs1n0g01", 6},   // signature byte 1
    {"xs2n0g01", 6},   // signature byte 2
    {"xs4n0g01", 6},   // signature byte 4
    {"xs7n0g01", 6},   // signature byte 7
};

}  // namespace

TEST(PngSuite, EveryFileMatchesLibpngOrIsRefusedWithItsCode) {
    const auto files = suiteFiles();
    if (files.empty()) GTEST_SKIP() << "PngSuite not fetched into " << kSuite << " (run tools/setup.sh)";
    ASSERT_GT(files.size(), 150u);
    size_t compared = 0, refused = 0;
    for (const auto& path : files) {
        const std::string name = path.stem().string();
        SCOPED_TRACE(name);
        const Reference ref = readWithLibpng(path);
        const std::wstring wpath = utf8ToWide(path.string());
        ImageDecoder decoder;
        LoadInfo loaded;
        const bool ok = loadImage(decoder, wpath.c_str(), 0, 0, nullptr, loaded);

        const auto broken = kBrokenFiles.find(name);
        if (broken != kBrokenFiles.end() || name[0] == 'x') {
            ASSERT_NE(broken, kBrokenFiles.end()) << "an x file without an expected code";
            EXPECT_FALSE(ok);
            EXPECT_FALSE(ref.ok) << "libpng accepts a file the suite calls broken";
            // Signature faults are not even sniffed as PNG (the dispatch offers them to the
            // plug-ins); the decoder itself names every fault.
            if (broken->second == 6) {
                EXPECT_NE(sniffImageFormat(wpath.c_str()), FormatPng);
            }
            DecodeCounters counters;
            EXPECT_EQ(decodePng(wpath.c_str(), PngOptions{}, pngOut, counters), nullptr);
            EXPECT_EQ(pngOut.errorCode, broken->second);
            EXPECT_EQ(pngOut.pixels, nullptr);
            ++refused;
            continue;
        }
        ASSERT_TRUE(ref.ok) << "libpng: " << ref.error;
        ASSERT_TRUE(ok) << "error " << decoder.record.errorCode;
        const LoadInfo& info = loaded;
        DecodedImage& image = *info.current;
        EXPECT_EQ(info.facts.format, FormatPng);
        EXPECT_EQ(info.width, int32_t(ref.width));
        EXPECT_EQ(info.height, int32_t(ref.height));
        EXPECT_EQ(info.facts.fileWidth, int32_t(ref.width));
        EXPECT_EQ(info.facts.interlaced, ref.interlace);
        EXPECT_EQ(info.facts.sourceDepth, (ref.type == 2 || ref.type == 6) ? ref.depth * 3 : ref.depth);
        EXPECT_EQ(info.facts.metaCount, ref.textCount);
        EXPECT_EQ(info.facts.commentCount, ref.commentCount);
        EXPECT_EQ(image.header.biXPelsPerMeter, ref.xppm);
        EXPECT_EQ(image.header.biYPelsPerMeter, ref.yppm);
        EXPECT_EQ(image.errorCode, 0);
        ASSERT_EQ(image.header.biBitCount, 24);

        const std::vector<Rgb> want = expectedPixels(ref);
        const uint32_t stride = (ref.width * 3 + 3) & ~3u;
        size_t mismatches = 0;
        for (uint32_t y = 0; y < ref.height; ++y) {
            const uint8_t* row = image.pixels + size_t(ref.height - 1 - y) * stride;
            for (uint32_t x = 0; x < ref.width; ++x) {
                const Rgb got{row[x * 3 + 2], row[x * 3 + 1], row[x * 3]};
                const Rgb& w = want[size_t(y) * ref.width + x];
                if (!(got == w) && mismatches++ < 3)
                    ADD_FAILURE() << "pixel " << x << "," << y << ": got " << got.r << "," << got.g << "," << got.b
                                  << " want " << w.r << "," << w.g << "," << w.b;
            }
        }
        EXPECT_EQ(mismatches, 0u);
        pageFree(image.pixels);
        image.pixels = nullptr;
        ++compared;
    }
    EXPECT_EQ(refused, kBrokenFiles.size());
    std::printf("compared %zu files with libpng, %zu refused as expected\n", compared, refused);
}
