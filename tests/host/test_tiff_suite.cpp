// The TIFF decoder against libtiff, on the test images of libtiff's own source package and
// on extra files written by ImageMagick for the kinds the package lacks (bilevel, 4-bit
// grey, palette, RGB 8/16 in both byte orders, many small strips) and for layouts that
// must be refused (tiled, planar, LZW, RGBA).
//
// libtiff reads each file's tags independently of us and decides whether it is one of the
// accepted kinds (uncompressed strips; grey 1/4/8 bits, palette 1/4/8 bits, RGB 8/16 bits,
// contiguous samples). Accepted files must decode to exactly libtiff's pixels; all others
// must be refused with code 2.
//
// Reference pixels: TIFFReadRGBAImageOriented (top-left) for every kind except 16-bit RGB.
// For 16-bit samples libtiff's RGBA interface rounds v * 255 / 65535, whereas Pravel keeps
// the high byte, so 16-bit RGB is compared with the high bytes of libtiff's scanlines.
// Differences on purpose: none among the accepted files of the package; the refused ones
// are compressed (Zip, LZW, RLE, JPEG, Group 4, LogLuv), 16-bit grey, grey+alpha, floats.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "image/tiff_decoder.h"

// The record the decodes in this file fill.
static DecodedImage tiffOut;


namespace fs = std::filesystem;

namespace {

struct Rgb {
    uint8_t r, g, b;
    bool operator==(const Rgb&) const = default;
};

struct Picture {
    uint32_t width = 0, height = 0;
    std::vector<Rgb> pixels;  // top row first
};

struct Kind {
    bool accepted = false;
    bool rgb16 = false;
};

void quietLibtiff() {
    TIFFSetWarningHandler(nullptr);
    TIFFSetErrorHandler(nullptr);
}

Kind classify(TIFF* tif) {
    uint16_t compression = 1, photometric = 0xFFFF, bits = 1, samples = 1, planar = 1, fill = 1, format = 1;
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tif, TIFFTAG_FILLORDER, &fill);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &format);
    uint16_t *r, *g, *b;
    const bool hasMap = TIFFGetField(tif, TIFFTAG_COLORMAP, &r, &g, &b) == 1;
    Kind kind;
    if (compression != 1 || TIFFIsTiled(tif) || fill != 1 || format != 1) return kind;
    const bool small = bits == 1 || bits == 4 || bits == 8;
    if ((photometric == 0 || photometric == 1) && samples == 1 && small) kind.accepted = true;
    if (photometric == 3 && samples == 1 && small && hasMap) kind.accepted = true;
    if (photometric == 2 && samples == 3 && (bits == 8 || bits == 16) && planar == 1) {
        kind.accepted = true;
        kind.rgb16 = bits == 16;
    }
    return kind;
}

bool referencePicture(TIFF* tif, const Kind& kind, Picture& out) {
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &out.width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &out.height);
    out.pixels.assign(size_t(out.width) * out.height, Rgb{});
    if (kind.rgb16) {
        std::vector<uint8_t> line(TIFFScanlineSize(tif));
        for (uint32_t y = 0; y < out.height; ++y) {
            if (TIFFReadScanline(tif, line.data(), y, 0) < 0) return false;
            for (uint32_t x = 0; x < out.width; ++x) {
                // The scanline holds the samples in the host's order after libtiff's swab.
                const uint16_t* s = reinterpret_cast<const uint16_t*>(line.data()) + x * 3;
                out.pixels[size_t(y) * out.width + x] = Rgb{uint8_t(s[0] >> 8), uint8_t(s[1] >> 8), uint8_t(s[2] >> 8)};
            }
        }
        return true;
    }
    std::vector<uint32_t> raster(size_t(out.width) * out.height);
    if (!TIFFReadRGBAImageOriented(tif, out.width, out.height, raster.data(), ORIENTATION_TOPLEFT, 0)) return false;
    for (size_t i = 0; i < raster.size(); ++i) {
        out.pixels[i] = Rgb{uint8_t(TIFFGetR(raster[i])), uint8_t(TIFFGetG(raster[i])), uint8_t(TIFFGetB(raster[i]))};
    }
    return true;
}

Picture ourPicture(const DecodedImage& image) {
    Picture p;
    p.width = uint32_t(image.header.biWidth);
    p.height = uint32_t(image.header.biHeight);
    const int depth = image.header.biBitCount;
    const size_t stride = depth == 24 ? (size_t(p.width) * 3 + 3) & ~size_t(3) : (size_t(p.width) + 3) & ~size_t(3);
    for (uint32_t y = 0; y < p.height; ++y) {
        const uint8_t* row = image.pixels + stride * (p.height - 1 - y);
        for (uint32_t x = 0; x < p.width; ++x) {
            if (depth == 24) {
                p.pixels.push_back(Rgb{row[x * 3 + 2], row[x * 3 + 1], row[x * 3]});
            } else {
                const PaletteEntry& e = image.palette[row[x]];
                p.pixels.push_back(Rgb{e.red, e.green, e.blue});
            }
        }
    }
    return p;
}

// Writes the extra files once per test run into a temporary folder.
fs::path generatedFolder() {
    static fs::path dir;
    if (!dir.empty()) return dir;
    dir = fs::temp_directory_path() / ("pravel-tiff-suite-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    std::atexit([] {
        std::error_code ec;
        fs::remove_all(dir, ec);
    });
    const fs::path source = fs::path(PRAVEL_TESTDATA) / "giflib" / "pic" / "porsche.gif";
    const std::string in = fs::exists(source) ? "'" + source.string() + "[0]'" : "rose:";
    struct Job {
        const char* name;
        const char* options;
    } jobs[] = {
        {"bilevel-msb.tif", "-monochrome -depth 1 -define tiff:endian=msb"},
        {"bilevel-lsb-odd.tif", "-crop 157x33+0+0 +repage -monochrome -depth 1 -define tiff:endian=lsb"},
        {"grey4.tif", "-colorspace Gray -depth 4"},
        {"grey8-strips.tif", "-colorspace Gray -depth 8 -define tiff:rows-per-strip=7"},
        {"palette8.tif", "-colors 200 -type Palette -depth 8"},
        {"palette4-odd.tif", "-crop 101x40+100+80 +repage -colors 16 -type Palette -depth 4"},
        {"rgb8-lsb.tif", "-type TrueColor -depth 8 -define tiff:endian=lsb -define tiff:rows-per-strip=5"},
        {"rgb8-msb.tif", "-type TrueColor -depth 8 -define tiff:endian=msb"},
        {"rgb16-lsb.tif", "-type TrueColor -depth 16 -define tiff:endian=lsb -define tiff:rows-per-strip=3"},
        {"rgb16-msb.tif", "-type TrueColor -depth 16 -define tiff:endian=msb -define tiff:rows-per-strip=3"},
        {"refuse-tiled.tif", "-type TrueColor -depth 8 -define tiff:tile-geometry=32x32"},
        {"refuse-planar.tif", "-type TrueColor -depth 8 -interlace plane"},
        {"refuse-lzw.tif", "-type TrueColor -depth 8 -compress lzw"},
        {"refuse-rgba.tif", "-type TrueColorAlpha -depth 8"},
    };
    for (const Job& job : jobs) {
        const bool ownCompression = std::strstr(job.options, "-compress") != nullptr;
        const std::string command = "convert " + in + " " + job.options + (ownCompression ? " '" : " -compress none '") +
                                    (dir / job.name).string() + "' 2>/dev/null";
        if (std::system(command.c_str()) != 0) fs::remove(dir / job.name);
    }
    return dir;
}

std::vector<fs::path> suiteFiles(bool withGenerated) {
    std::vector<fs::path> files;
    std::error_code ec;
    for (auto& e : fs::recursive_directory_iterator(fs::path(PRAVEL_TESTDATA) / "tiff", ec)) {
        const auto ext = e.path().extension();
        if (ext == ".tif" || ext == ".tiff") files.push_back(e.path());
    }
    if (withGenerated && !files.empty()) {
        for (auto& e : fs::directory_iterator(generatedFolder(), ec)) files.push_back(e.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

TEST(TiffSuite, AcceptedKindsMatchLibtiffAndOthersAreRefused) {
    quietLibtiff();
    const auto files = suiteFiles(true);
    if (files.empty()) GTEST_SKIP() << "libtiff test images not fetched (tools/setup.sh)";
    int accepted = 0, refused = 0;
    for (const auto& path : files) {
        SCOPED_TRACE(path.filename().string());
        TIFF* tif = TIFFOpen(path.c_str(), "r");
        ASSERT_NE(tif, nullptr);
        const Kind kind = classify(tif);
        Picture expected;
        const bool referenceOk = kind.accepted && referencePicture(tif, kind, expected);
        TIFFClose(tif);

        DecodeCounters counters;
        DecodedImage* image = decodeTiff(utf8ToWide(path.string()).c_str(), tiffOut, counters);
        if (!kind.accepted) {
            ++refused;
            EXPECT_EQ(image, nullptr);
            EXPECT_EQ(tiffOut.errorCode, 2);
            if (image) pageFree(image->pixels);
            continue;
        }
        ++accepted;
        ASSERT_TRUE(referenceOk);
        ASSERT_NE(image, nullptr) << "error " << tiffOut.errorCode;
        EXPECT_EQ(image->format, FormatTiff);
        EXPECT_EQ(image->fileSize, fs::file_size(path));
        EXPECT_EQ(counters.fileWidth, int32_t(expected.width));
        const Picture actual = ourPicture(*image);
        pageFree(image->pixels);
        ASSERT_EQ(actual.width, expected.width);
        ASSERT_EQ(actual.height, expected.height);
        size_t differing = 0;
        for (size_t i = 0; i < actual.pixels.size(); ++i) differing += !(actual.pixels[i] == expected.pixels[i]);
        EXPECT_EQ(differing, 0u);
    }
    // The package alone holds 8 accepted files; the generated ones add 10.
    EXPECT_GE(accepted, 8);
    EXPECT_GE(refused, 10);
}

TEST(TiffSuite, CutShortFilesAreRefusedOrDecodedNeverOverread) {
    const auto files = suiteFiles(true);
    if (files.empty()) GTEST_SKIP() << "libtiff test images not fetched (tools/setup.sh)";
    for (const auto& path : files) {
        std::string bytes;
        readWholeFile(utf8ToWide(path.string()).c_str(), bytes);
        SCOPED_TRACE(path.filename().string());
        const size_t step = bytes.size() / 61 + 1;
        for (size_t cut = 0; cut < bytes.size(); cut += step) {
            std::vector<uint8_t> part(bytes.begin(), bytes.begin() + cut);
            DecodeCounters counters;
            DecodedImage* image = decodeTiffMemory(part.data(), part.size(), tiffOut, counters);
            if (image) {
                pageFree(image->pixels);
            } else {
                const int code = tiffOut.errorCode;
                EXPECT_TRUE(code == 2 || code == 4 || code == 6) << "cut at " << cut << ": code " << code;
            }
        }
    }
}

}  // namespace
