// The GIF decoder against giflib on the test pictures of giflib's own source package.
// giflib decodes the first frame; the reference is then composited the way Pravel shows
// a GIF: the logical screen filled with the background index (0 without a global table),
// the first image placed at its position, and the transparent entry of the active table
// replaced by the global background colour (white without a global table). Both results
// are compared colour for colour, pixel for pixel. No picture of the package differs on
// purpose: all nine (interlaced, transparent, animated, several colour-table sizes) match.
//
// Every picture is also cut short at many points: a cut file must decode or be refused
// with code 4 or 6, and must never crash (the sanitizer build watches the reads).
#include <gif_lib.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "image/gif_decoder.h"

// The record the decodes in this file fill.
static DecodedImage gifOut;


namespace fs = std::filesystem;

namespace {

struct Rgb {
    uint8_t r, g, b;
    bool operator==(const Rgb&) const = default;
};

struct Screen {
    int width = 0, height = 0;
    std::vector<Rgb> pixels;  // top row first
    int interlaced = 0;
};

std::vector<fs::path> suiteFiles() {
    std::vector<fs::path> files;
    const fs::path dir = fs::path(PRAVEL_TESTDATA) / "giflib";
    std::error_code ec;
    for (auto& e : fs::recursive_directory_iterator(dir, ec)) {
        if (e.path().extension() == ".gif") files.push_back(e.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::string readBytes(const fs::path& path) {
    std::string bytes;
    readWholeFile(utf8ToWide(path.string()).c_str(), bytes);
    return bytes;
}

bool referenceScreen(const fs::path& path, Screen& out) {
    int error = 0;
    GifFileType* gif = DGifOpenFileName(path.c_str(), &error);
    if (!gif) return false;
    if (DGifSlurp(gif) != GIF_OK || gif->ImageCount < 1) {
        DGifCloseFile(gif, &error);
        return false;
    }
    const SavedImage& image = gif->SavedImages[0];
    const ColorMapObject* global = gif->SColorMap;
    const ColorMapObject* active = image.ImageDesc.ColorMap ? image.ImageDesc.ColorMap : global;
    Rgb palette[256] = {};
    for (int k = 0; active && k < active->ColorCount && k < 256; ++k) {
        palette[k] = Rgb{active->Colors[k].Red, active->Colors[k].Green, active->Colors[k].Blue};
    }
    const int background = global ? gif->SBackGroundColor : 0;
    GraphicsControlBlock gcb;
    if (DGifSavedExtensionToGCB(gif, 0, &gcb) == GIF_OK && gcb.TransparentColor >= 0) {
        const GifColorType* bg = global && background < global->ColorCount ? &global->Colors[background] : nullptr;
        palette[gcb.TransparentColor] = global ? (bg ? Rgb{bg->Red, bg->Green, bg->Blue} : Rgb{0, 0, 0}) : Rgb{255, 255, 255};
    }
    out.width = gif->SWidth;
    out.height = gif->SHeight;
    out.interlaced = image.ImageDesc.Interlace ? 1 : 0;
    out.pixels.assign(size_t(out.width) * out.height, palette[background]);
    const GifImageDesc& d = image.ImageDesc;
    for (int y = 0; y < d.Height; ++y) {
        for (int x = 0; x < d.Width; ++x) {
            out.pixels[size_t(d.Top + y) * out.width + d.Left + x] = palette[image.RasterBits[size_t(y) * d.Width + x]];
        }
    }
    DGifCloseFile(gif, &error);
    return true;
}

Screen ourScreen(const DecodedImage& image, const DecodeCounters& counters) {
    Screen s;
    s.width = image.header.biWidth;
    s.height = image.header.biHeight;
    s.interlaced = counters.interlaced;
    const size_t stride = (size_t(s.width) + 3) & ~size_t(3);
    for (int y = 0; y < s.height; ++y) {
        const uint8_t* row = image.pixels + stride * size_t(s.height - 1 - y);
        for (int x = 0; x < s.width; ++x) {
            const PaletteEntry& p = image.palette[row[x]];
            s.pixels.push_back(Rgb{p.red, p.green, p.blue});
        }
    }
    return s;
}

TEST(GifSuite, FirstFrameMatchesGiflibComposite) {
    const auto files = suiteFiles();
    if (files.empty()) GTEST_SKIP() << "giflib test pictures not fetched (tools/setup.sh)";
    for (const auto& path : files) {
        SCOPED_TRACE(path.filename().string());
        Screen expected;
        ASSERT_TRUE(referenceScreen(path, expected));
        DecodeCounters counters;
        DecodedImage* image = decodeGif(utf8ToWide(path.string()).c_str(), gifOut, counters);
        ASSERT_NE(image, nullptr) << "error " << gifOut.errorCode;
        EXPECT_EQ(image->format, FormatGif);
        EXPECT_EQ(image->header.biBitCount, 8);
        EXPECT_EQ(image->fileSize, fs::file_size(path));
        EXPECT_NE(image->lastWriteTime.value(), 0u);
        const Screen actual = ourScreen(*image, counters);
        pageFree(image->pixels);
        EXPECT_EQ(actual.width, expected.width);
        EXPECT_EQ(actual.height, expected.height);
        EXPECT_EQ(actual.interlaced, expected.interlaced);
        ASSERT_EQ(actual.pixels.size(), expected.pixels.size());
        size_t differing = 0;
        for (size_t i = 0; i < actual.pixels.size(); ++i) differing += !(actual.pixels[i] == expected.pixels[i]);
        EXPECT_EQ(differing, 0u);
    }
    EXPECT_GE(files.size(), 9u);
}

TEST(GifSuite, CutShortFilesAreRefusedOrDecodedNeverOverread) {
    const auto files = suiteFiles();
    if (files.empty()) GTEST_SKIP() << "giflib test pictures not fetched (tools/setup.sh)";
    for (const auto& path : files) {
        const std::string bytes = readBytes(path);
        SCOPED_TRACE(path.filename().string());
        const size_t step = bytes.size() / 97 + 1;
        for (size_t cut = 0; cut < bytes.size(); cut += step) {
            // A heap copy of exactly the cut length, so the sanitizer sees any read past it.
            std::vector<uint8_t> part(bytes.begin(), bytes.begin() + cut);
            DecodeCounters counters;
            DecodedImage* image = decodeGifMemory(part.data(), part.size(), gifOut, counters);
            if (image) {
                pageFree(image->pixels);
            } else {
                const int code = gifOut.errorCode;
                EXPECT_TRUE(code == 4 || code == 6) << "cut at " << cut << ": code " << code;
            }
        }
    }
}

}  // namespace
