// GIF and TIFF decoders against giflib and libtiff, from the same files in the same run.
//
// Both sides produce the same result from a file path: for GIF the first image drawn on
// the logical screen as 8-bit indices (background around it, rows bottom-up and padded to
// 4 bytes) with its palette; for TIFF a 24-bit bottom-up BGR buffer from uncompressed RGB
// strips. The pictures are real photographs converted with ImageMagick into build/ on the
// first run (a 3840 x 2160 photo as a 256-colour GIF, interlaced and not, and as an
// uncompressed RGB TIFF).
//
//   bench/run.sh gif_tiff        or   build/<dir>/bench/bench_gif_tiff
#include <benchmark/benchmark.h>
#include <gif_lib.h>
#include <tiffio.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "image/gif_decoder.h"
#include "image/tiff_decoder.h"

// The record the decodes in this file fill.
static DecodedImage gifOut;
static DecodedImage tiffOut;


namespace fs = std::filesystem;

namespace {

const fs::path kDir = fs::path(PRAVEL_SOURCE_DIR) / "build" / "bench-giftiff";
const fs::path kPhoto = fs::path(PRAVEL_TESTDATA) / "photos" / "mate-Elephants_3840x2160.jpg";

// Makes name with ImageMagick from the photo when it is missing; empty path on failure.
fs::path picture(const char* name, const char* options) {
    const fs::path out = kDir / name;
    if (fs::exists(out)) return out;
    fs::create_directories(kDir);
    const std::string command = "convert '" + kPhoto.string() + "' " + options + " '" + out.string() + "'";
    if (!fs::exists(kPhoto) || std::system(command.c_str()) != 0) return {};
    return out;
}

fs::path gifPath(bool interlaced) {
    return interlaced ? picture("photo-3840x2160-interlaced.gif", "-colors 256 -interlace GIF")
                      : picture("photo-3840x2160.gif", "-colors 256");
}
fs::path tiffPath() { return picture("photo-3840x2160.tif", "-type TrueColor -depth 8 -compress none"); }

// ---------------------------------------------------------------- GIF

void pravelGif(benchmark::State& state, bool interlaced) {
    const fs::path path = gifPath(interlaced);
    if (path.empty()) return state.SkipWithError("no test picture");
    const std::wstring wide = utf8ToWide(path.string());
    for (auto _ : state) {
        DecodeCounters counters;
        DecodedImage* image = decodeGif(wide.c_str(), gifOut, counters);
        if (!image) return state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(image->pixels[0]);
        pageFree(image->pixels);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(fs::file_size(path)));
}

// giflib's first frame, drawn the same way: screen of background indices, the image rows
// (de-interlaced) placed bottom-up, the palette with the transparent entry resolved.
bool giflibFirstFrame(const char* path, std::vector<uint8_t>& pixels, PaletteEntry* palette) {
    int error = 0;
    GifFileType* gif = DGifOpenFileName(path, &error);
    if (!gif) return false;
    const int sw = gif->SWidth, sh = gif->SHeight;
    const size_t stride = (size_t(sw) + 3) & ~size_t(3);
    const int background = gif->SColorMap ? gif->SBackGroundColor : 0;
    int transparent = -1;
    bool ok = false;
    GifRecordType type;
    while (DGifGetRecordType(gif, &type) == GIF_OK) {
        if (type == EXTENSION_RECORD_TYPE) {
            int code;
            GifByteType* block;
            if (DGifGetExtension(gif, &code, &block) != GIF_OK) break;
            if (code == GRAPHICS_EXT_FUNC_CODE && block && block[0] >= 4 && (block[1] & 1)) transparent = block[4];
            while (block && DGifGetExtensionNext(gif, &block) == GIF_OK && block) {
            }
        } else if (type == IMAGE_DESC_RECORD_TYPE) {
            if (DGifGetImageDesc(gif) != GIF_OK) break;
            const GifImageDesc& d = gif->Image;
            pixels.assign(stride * size_t(sh), 0);
            if (background) {
                for (int y = 0; y < sh; ++y) std::memset(&pixels[stride * y], background, size_t(sw));
            }
            static const int offsets[4] = {0, 4, 2, 1}, jumps[4] = {8, 8, 4, 2};
            auto rowAt = [&](int y) { return &pixels[stride * size_t(sh - 1 - (d.Top + y)) + d.Left]; };
            ok = true;
            if (d.Interlace) {
                for (int pass = 0; pass < 4 && ok; ++pass) {
                    for (int y = offsets[pass]; y < d.Height && ok; y += jumps[pass]) ok = DGifGetLine(gif, rowAt(y), d.Width) == GIF_OK;
                }
            } else {
                for (int y = 0; y < d.Height && ok; ++y) ok = DGifGetLine(gif, rowAt(y), d.Width) == GIF_OK;
            }
            const ColorMapObject* map = d.ColorMap ? d.ColorMap : gif->SColorMap;
            std::fill(palette, palette + 256, PaletteEntry{});
            for (int k = 0; map && k < map->ColorCount; ++k) {
                palette[k] = PaletteEntry{map->Colors[k].Blue, map->Colors[k].Green, map->Colors[k].Red, 0};
            }
            if (transparent >= 0) {
                palette[transparent] = gif->SColorMap ? palette[background] : PaletteEntry{255, 255, 255, 0};
            }
            break;
        } else {
            break;
        }
    }
    DGifCloseFile(gif, &error);
    return ok;
}

void giflibGif(benchmark::State& state, bool interlaced) {
    const fs::path path = gifPath(interlaced);
    if (path.empty()) return state.SkipWithError("no test picture");
    std::vector<uint8_t> pixels;
    PaletteEntry palette[256];
    for (auto _ : state) {
        if (!giflibFirstFrame(path.c_str(), pixels, palette)) return state.SkipWithError("giflib failed");
        benchmark::DoNotOptimize(pixels.data());
        std::vector<uint8_t>().swap(pixels);  // a fresh buffer every time, like the decoder
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(fs::file_size(path)));
}

// ---------------------------------------------------------------- TIFF

void pravelTiff(benchmark::State& state) {
    const fs::path path = tiffPath();
    if (path.empty()) return state.SkipWithError("no test picture");
    const std::wstring wide = utf8ToWide(path.string());
    for (auto _ : state) {
        DecodeCounters counters;
        DecodedImage* image = decodeTiff(wide.c_str(), tiffOut, counters);
        if (!image) return state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(image->pixels[0]);
        pageFree(image->pixels);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(fs::file_size(path)));
}

// libtiff reading the strips, then the same bottom-up BGR conversion.
void libtiffTiff(benchmark::State& state) {
    const fs::path path = tiffPath();
    if (path.empty()) return state.SkipWithError("no test picture");
    TIFFSetWarningHandler(nullptr);
    for (auto _ : state) {
        TIFF* tif = TIFFOpen(path.c_str(), "r");
        if (!tif) return state.SkipWithError("libtiff failed");
        uint32_t w = 0, h = 0, rowsPerStrip = 0;
        TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
        TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
        TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
        if (rowsPerStrip > h) rowsPerStrip = h;
        const size_t stride = (size_t(w) * 3 + 3) & ~size_t(3);
        uint8_t* pixels = static_cast<uint8_t*>(pageAlloc(stride * h));
        std::vector<uint8_t> strip(TIFFStripSize(tif));
        const tstrip_t strips = TIFFNumberOfStrips(tif);
        for (tstrip_t s = 0; s < strips; ++s) {
            const tmsize_t got = TIFFReadEncodedStrip(tif, s, strip.data(), tmsize_t(strip.size()));
            if (got < 0) break;
            const uint32_t first = s * rowsPerStrip;
            const uint32_t rows = uint32_t(got / (tmsize_t(w) * 3));
            for (uint32_t r = 0; r < rows && first + r < h; ++r) {
                const uint8_t* src = strip.data() + size_t(r) * w * 3;
                uint8_t* dst = pixels + stride * (h - 1 - (first + r));
                for (uint32_t x = 0; x < w; ++x, src += 3, dst += 3) {
                    dst[0] = src[2];
                    dst[1] = src[1];
                    dst[2] = src[0];
                }
            }
        }
        TIFFClose(tif);
        benchmark::DoNotOptimize(pixels[0]);
        pageFree(pixels);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(fs::file_size(path)));
}

BENCHMARK_CAPTURE(pravelGif, photo, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(giflibGif, photo, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(pravelGif, photo_interlaced, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(giflibGif, photo_interlaced, true)->Unit(benchmark::kMillisecond);
BENCHMARK(pravelTiff)->Unit(benchmark::kMillisecond);
BENCHMARK(libtiffTiff)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
