// The BMP reader against bmpsuite (g: good, q: questionable, b: bad). Every good file either
// decodes to the pixels that ImageMagick reads from it, or is refused with the expected code,
// or is listed below as differing on purpose. No file of any folder may crash the reader
// (the sanitizer build checks for reads outside the buffers and for leaks).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "image/bmp_codec.h"

// The record the decodes in this file fill.
static DecodedImage bmpOut;


namespace fs = std::filesystem;

namespace {

enum class Expect { Match, Within1, Refused, Differs };
struct Expectation {
    Expect kind;
    int code;            // Refused: the error code
    const char* reason;  // why the file is not an exact match
};

// Files of g/ that do not match ImageMagick exactly, and why.
const std::map<std::string, Expectation> kGood = {
    // 16-bit channels are scaled as value * 255 / max with truncation; ImageMagick rounds.
    {"rgb16.bmp", {Expect::Within1, 0, "5-bit channels scaled with truncation, not rounding"}},
    {"rgb16-565.bmp", {Expect::Within1, 0, "5/6-bit channels scaled with truncation, not rounding"}},
    {"rgb16-565pal.bmp", {Expect::Within1, 0, "5/6-bit channels scaled with truncation, not rounding"}},
    // Run-length encoded bitmaps are not decoded (left to the image plug-ins).
    {"pal4rle.bmp", {Expect::Refused, 2, "run-length encoding is refused"}},
    {"pal8rle.bmp", {Expect::Refused, 2, "run-length encoding is refused"}},
    // Top-down bitmaps (negative height) are refused.
    {"pal8topdown.bmp", {Expect::Refused, 2, "negative height is refused"}},
    // The 12-byte OS/2 header is read as if it were the 40-byte one: its 16-bit width and height
    // fall into one 32-bit width that exceeds the limit.
    {"pal8os2.bmp", {Expect::Refused, 2, "OS/2 core header read as a 40-byte header"}},
    // Version 4 and 5 headers: the colour table is always taken from offset 54, which lies inside
    // these longer headers, so the colours are wrong (the indices are right).
    {"pal8v4.bmp", {Expect::Differs, 0, "colour table read from offset 54 inside a 108-byte header"}},
    {"pal8v5.bmp", {Expect::Differs, 0, "colour table read from offset 54 inside a 124-byte header"}},
    // Masks are taken as blue lowest, green right above it, red above green; this file puts
    // blue at bits 16-23, green at 4-11 and red at 24-31, so its colours come out wrong.
    {"rgb32bf.bmp", {Expect::Differs, 0, "masks not stacked blue-green-red from bit 0"}},
};

std::string suiteDir() { return std::string(PRAVEL_TESTDATA) + "/bmpsuite"; }

// Reads a binary PPM (P6, maxval 255).
bool readPpm(const fs::path& path, int& w, int& h, std::vector<uint8_t>& rgb) {
    std::ifstream in(path, std::ios::binary);
    std::string magic;
    int maxval = 0;
    in >> magic >> w >> h >> maxval;
    in.get();
    if (!in || magic != "P6" || maxval != 255 || w <= 0 || h <= 0) return false;
    rgb.resize(size_t(w) * h * 3);
    in.read(reinterpret_cast<char*>(rgb.data()), std::streamsize(rgb.size()));
    return bool(in);
}

bool haveImageMagick() { return std::system("convert -version > /dev/null 2>&1") == 0; }

// Our decode as top-down RGB.
std::vector<uint8_t> toRgb(const DecodedImage& img) {
    const int w = img.header.biWidth, h = img.header.biHeight;
    std::vector<uint8_t> rgb(size_t(w) * h * 3);
    const int bpp = img.header.biBitCount / 8;
    const size_t stride = (size_t(w) * bpp + 3) & ~size_t(3);
    for (int y = 0; y < h; ++y) {
        const uint8_t* row = img.pixels + stride * (h - 1 - y);
        for (int x = 0; x < w; ++x) {
            uint8_t* out = &rgb[(size_t(y) * w + x) * 3];
            if (bpp == 1) {
                const PaletteEntry& e = img.palette[row[x]];
                out[0] = e.red, out[1] = e.green, out[2] = e.blue;
            } else {
                out[0] = row[x * 3 + 2], out[1] = row[x * 3 + 1], out[2] = row[x * 3];
            }
        }
    }
    return rgb;
}

std::vector<fs::path> filesIn(const std::string& sub) {
    std::vector<fs::path> files;
    std::error_code ec;
    for (auto& e : fs::directory_iterator(suiteDir() + "/" + sub, ec))
        if (e.path().extension() == ".bmp") files.push_back(e.path());
    std::sort(files.begin(), files.end());
    return files;
}

void release() {
    pageFree(bmpOut.pixels);
    bmpOut.pixels = nullptr;
}

TEST(BmpSuite, GoodFilesMatchTheReferenceOrAreRefusedAsExpected) {
    auto files = filesIn("g");
    if (files.empty()) GTEST_SKIP() << "bmpsuite not fetched (tools/setup.sh)";
    if (!haveImageMagick()) GTEST_SKIP() << "ImageMagick's convert is needed for the reference pixels";
    const fs::path ppm = fs::temp_directory_path() / "pravel_bmpsuite_ref.ppm";
    int matched = 0;
    for (const auto& file : files) {
        const std::string name = file.filename().string();
        auto it = kGood.find(name);
        const Expectation expect = it == kGood.end() ? Expectation{Expect::Match, 0, ""} : it->second;
        SCOPED_TRACE(name + (expect.reason[0] ? std::string(" (") + expect.reason + ")" : ""));

        DecodeCounters counters;
        DecodedImage* img = decodeBmp(file.wstring().c_str(), bmpOut, counters);
        if (expect.kind == Expect::Refused) {
            EXPECT_EQ(img, nullptr);
            EXPECT_EQ(bmpOut.errorCode, expect.code);
            release();
            continue;
        }
        ASSERT_NE(img, nullptr) << "error " << bmpOut.errorCode;
        EXPECT_EQ(img->format, FormatBmp);
        const std::string cmd = "convert '" + file.string() + "' -alpha off -depth 8 'ppm:" + ppm.string() + "' 2>/dev/null";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
        int w = 0, h = 0;
        std::vector<uint8_t> ref;
        ASSERT_TRUE(readPpm(ppm, w, h, ref));
        ASSERT_EQ(img->header.biWidth, w);
        ASSERT_EQ(img->header.biHeight, h);
        std::vector<uint8_t> ours = toRgb(*img);
        int worst = 0;
        for (size_t i = 0; i < ours.size(); ++i) worst = std::max(worst, std::abs(int(ours[i]) - int(ref[i])));
        if (expect.kind == Expect::Match) {
            EXPECT_EQ(worst, 0);
        } else if (expect.kind == Expect::Within1) {
            EXPECT_LE(worst, 1);
        } else if (expect.kind == Expect::Differs) {
            EXPECT_GT(worst, 0) << "now matches: update the list";
        }
        matched += worst == 0;
        release();
    }
    fs::remove(ppm);
    EXPECT_GT(matched, 10);
}

TEST(BmpSuite, QuestionableAndBadFilesNeverCrash) {
    auto files = filesIn("q");
    auto bad = filesIn("b");
    files.insert(files.end(), bad.begin(), bad.end());
    if (files.empty()) GTEST_SKIP() << "bmpsuite not fetched (tools/setup.sh)";
    int decoded = 0;
    for (const auto& file : files) {
        SCOPED_TRACE(file.filename().string());
        DecodeCounters counters;
        DecodedImage* img = decodeBmp(file.wstring().c_str(), bmpOut, counters);
        if (img) {
            ++decoded;
            EXPECT_GT(img->header.biWidth, 0);
            EXPECT_LE(img->header.biWidth, 25000);
            EXPECT_TRUE(img->header.biBitCount == 8 || img->header.biBitCount == 24);
        } else {
            EXPECT_TRUE(bmpOut.errorCode == 1 || bmpOut.errorCode == 2 || bmpOut.errorCode == 4);
            EXPECT_EQ(bmpOut.pixels, nullptr);
        }
        release();
    }
    EXPECT_GT(decoded, 0);
}

}  // namespace
