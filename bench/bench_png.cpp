// Full PNG decode: Pravel's decoder against libpng and libspng on the same files, in one run,
// reported as ratios (Pravel time / peer time; below 1 means Pravel is faster).
//
// Classes: real 8-bit RGB and RGBA photographs from build/testdata/photos, and RGBA, palette
// and grey images derived from one RGB photograph (made once with libpng into
// build/bench-png/, so the run needs nothing but the fetched photos).
//
// Every decoder does what a caller needs for an 8-bit image: the file is read (Pravel maps
// it, the peers read it into memory), inflated, unfiltered and converted. The peers produce
// RGB8 / RGBA8 / palette indices / grey bytes; Pravel additionally writes bottom-up BGR and
// composites alpha onto white, so the comparison is not in its favour.
#include <benchmark/benchmark.h>
#include <png.h>
#include <spng.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
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

const fs::path kPhotos = fs::path(PRAVEL_TESTDATA) / "photos";
const fs::path kDerived = fs::path(PRAVEL_TESTDATA) / ".." / "bench-png";

std::vector<uint8_t> readFile(const fs::path& path) {
    std::vector<uint8_t> bytes;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return bytes;
    std::fseek(f, 0, SEEK_END);
    const long size = std::ftell(f);
    std::fseek(f, 0, SEEK_SET);
    bytes.resize(size_t(size > 0 ? size : 0));
    if (!bytes.empty() && std::fread(bytes.data(), 1, bytes.size(), f) != bytes.size()) bytes.clear();
    std::fclose(f);
    return bytes;
}

// ------------------------------------------------------------------ peers

struct MemoryReader {
    const uint8_t* data;
    size_t size, pos;
};

void readFromMemory(png_structp png, png_bytep out, png_size_t n) {
    auto* r = static_cast<MemoryReader*>(png_get_io_ptr(png));
    if (r->size - r->pos < n) png_error(png, "read past end");
    std::memcpy(out, r->data + r->pos, n);
    r->pos += n;
}

// libpng: 8-bit samples, palette kept as indices.
bool decodeWithLibpng(const fs::path& path, std::vector<uint8_t>& pixels) {
    const std::vector<uint8_t> file = readFile(path);
    MemoryReader reader{file.data(), file.size(), 0};
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    std::vector<png_bytep> rows;
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_set_read_fn(png, &reader, readFromMemory);
    png_read_info(png, info);
    png_set_strip_16(png);
    png_set_packing(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const size_t rowBytes = png_get_rowbytes(png, info);
    const uint32_t height = png_get_image_height(png, info);
    pixels.resize(rowBytes * height);
    rows.resize(height);
    for (uint32_t y = 0; y < height; ++y) rows[y] = pixels.data() + y * rowBytes;
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

// libspng: RGB8 / RGBA8 for colour, the stored 8-bit samples (indices, grey) otherwise.
bool decodeWithSpng(const fs::path& path, std::vector<uint8_t>& pixels) {
    const std::vector<uint8_t> file = readFile(path);
    spng_ctx* ctx = spng_ctx_new(0);
    if (!ctx) return false;
    bool ok = false;
    spng_ihdr ihdr;
    if (spng_set_png_buffer(ctx, file.data(), file.size()) == 0 && spng_get_ihdr(ctx, &ihdr) == 0) {
        int fmt = SPNG_FMT_PNG;
        if (ihdr.color_type == SPNG_COLOR_TYPE_TRUECOLOR) fmt = SPNG_FMT_RGB8;
        else if (ihdr.color_type == SPNG_COLOR_TYPE_TRUECOLOR_ALPHA) fmt = SPNG_FMT_RGBA8;
        size_t size = 0;
        if (spng_decoded_image_size(ctx, fmt, &size) == 0) {
            pixels.resize(size);
            ok = spng_decode_image(ctx, pixels.data(), size, fmt, 0) == 0;
        }
    }
    spng_ctx_free(ctx);
    return ok;
}

bool decodeWithPravel(const fs::path& path) {
    static const PngOptions options = [] {
        PngOptions o;
        o.blendTable = blendTable();
        return o;
    }();
    DecodeCounters counters;
    const std::wstring wide = utf8ToWide(path.string());
    DecodedImage* image = decodePng(wide.c_str(), options, pngOut, counters);
    if (!image) return false;
    pageFree(image->pixels);
    image->pixels = nullptr;
    return true;
}

// ------------------------------------------------------------------ derived images

bool writePng(const fs::path& path, uint32_t w, uint32_t h, int type, const std::vector<uint8_t>& data,
              const std::vector<png_color>& palette) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(f);
        return false;
    }
    png_init_io(png, f);
    png_set_IHDR(png, info, w, h, 8, type, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (!palette.empty()) png_set_PLTE(png, info, palette.data(), int(palette.size()));
    png_write_info(png, info);
    const size_t channels = type == PNG_COLOR_TYPE_RGB_ALPHA ? 4 : type == PNG_COLOR_TYPE_RGB ? 3 : 1;
    for (uint32_t y = 0; y < h; ++y) png_write_row(png, data.data() + size_t(y) * w * channels);
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
    return true;
}

// RGBA with a smoothly varying alpha, a 3-3-2 palette image with ordered dithering, and a
// grey image, all from one RGB photograph.
void makeDerived(const fs::path& source) {
    std::error_code ec;
    fs::create_directories(kDerived, ec);
    const fs::path rgba = kDerived / "rgba-derived.png", pal = kDerived / "palette-derived.png",
                   grey = kDerived / "grey-derived.png";
    if (fs::exists(rgba) && fs::exists(pal) && fs::exists(grey)) return;
    std::vector<uint8_t> rgb;
    if (!decodeWithLibpng(source, rgb)) return;
    FILE* f = std::fopen(source.c_str(), "rb");
    uint8_t header[24];
    if (!f || std::fread(header, 1, 24, f) != 24) return;
    std::fclose(f);
    const uint32_t w = uint32_t(header[16]) << 24 | header[17] << 16 | header[18] << 8 | header[19];
    const uint32_t h = uint32_t(header[20]) << 24 | header[21] << 16 | header[22] << 8 | header[23];
    const size_t n = size_t(w) * h;
    std::vector<uint8_t> a(n * 4), p(n), g(n);
    static const int bayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
    for (uint32_t y = 0; y < h; ++y) {
        for (uint32_t x = 0; x < w; ++x) {
            const size_t i = size_t(y) * w + x;
            const int r = rgb[i * 3], gr = rgb[i * 3 + 1], b = rgb[i * 3 + 2];
            std::memcpy(&a[i * 4], &rgb[i * 3], 3);
            a[i * 4 + 3] = uint8_t(std::clamp(int(140 + 115 * std::sin(x / 97.0) * std::cos(y / 61.0)), 0, 255));
            const int d = bayer[y & 3][x & 3] * 2 - 15;
            auto q = [&](int v, int levels) { return std::clamp((v + d * 2) * levels / 256, 0, levels - 1); };
            p[i] = uint8_t(q(r, 8) << 5 | q(gr, 8) << 2 | q(b, 4));
            g[i] = uint8_t((r * 77 + gr * 150 + b * 29) >> 8);
        }
    }
    std::vector<png_color> palette(256);
    for (int i = 0; i < 256; ++i)
        palette[i] = png_color{uint8_t((i >> 5) * 255 / 7), uint8_t(((i >> 2) & 7) * 255 / 7), uint8_t((i & 3) * 255 / 3)};
    writePng(rgba, w, h, PNG_COLOR_TYPE_RGB_ALPHA, a, {});
    writePng(pal, w, h, PNG_COLOR_TYPE_PALETTE, p, palette);
    writePng(grey, w, h, PNG_COLOR_TYPE_GRAY, g, {});
}

// ------------------------------------------------------------------ benchmarks

struct Case {
    std::string name;
    fs::path path;
};

std::vector<Case> cases() {
    std::vector<Case> list;
    auto add = [&](const std::string& name, const fs::path& p) {
        if (fs::exists(p)) list.push_back({name, p});
    };
    add("rgb/flowers", kPhotos / "lxqt-flowers.png");
    add("rgb/butterfly", kPhotos / "lxqt-butterfly.png");
    add("rgb/cloud", kPhotos / "lxqt-cloud.png");
    add("rgba/calla", kPhotos / "ukui-calla.png");
    add("rgba/valendas", kPhotos / "lxqt-Valendas.png");
    makeDerived(kPhotos / "lxqt-appleflower.png");
    add("rgba/appleflower-alpha", kDerived / "rgba-derived.png");
    add("palette/appleflower-332", kDerived / "palette-derived.png");
    add("grey/appleflower", kDerived / "grey-derived.png");
    add("grey/stripes-ga", kPhotos / "mate-Stripes.png");
    return list;
}

// Collects CPU times so the ratios can be printed after the console table.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& r : runs)
            if (!r.error_occurred && r.run_type == Run::RT_Iteration) {
                // The fastest repetition: the machine may be shared, and interference only
                // ever adds time.
                const double t = r.GetAdjustedCPUTime();
                auto it = times_.find(r.run_name.function_name);
                if (it == times_.end() || t < it->second) times_[r.run_name.function_name] = t;
            }
        ConsoleReporter::ReportRuns(runs);
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("\nPravel CPU time / peer CPU time, fastest repetition (below 1.00: Pravel faster)\n");
        std::printf("%-28s %10s %10s\n", "image", "/libpng", "/libspng");
        for (const auto& [name, t] : times_) {
            if (name.rfind("pravel/", 0) != 0) continue;
            const std::string rest = name.substr(7);
            const auto lp = times_.find("libpng/" + rest), sp = times_.find("libspng/" + rest);
            std::printf("%-28s %10.2f %10.2f\n", rest.c_str(), lp == times_.end() ? 0.0 : t / lp->second,
                        sp == times_.end() ? 0.0 : t / sp->second);
        }
    }

private:
    std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    const auto list = cases();
    if (list.empty()) {
        std::fprintf(stderr, "no photographs in %s (run tools/setup.sh)\n", kPhotos.c_str());
        return 1;
    }
    for (const auto& c : list) {
        const fs::path path = c.path;
        benchmark::RegisterBenchmark(("pravel/" + c.name).c_str(), [path](benchmark::State& state) {
            for (auto _ : state)
                if (!decodeWithPravel(path)) state.SkipWithError("decode failed");
        })->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("libpng/" + c.name).c_str(), [path](benchmark::State& state) {
            std::vector<uint8_t> pixels;
            for (auto _ : state) {
                pixels.clear();
                pixels.shrink_to_fit();  // a fresh buffer per image, as the decoders allocate one
                if (!decodeWithLibpng(path, pixels)) state.SkipWithError("decode failed");
            }
        })->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("libspng/" + c.name).c_str(), [path](benchmark::State& state) {
            std::vector<uint8_t> pixels;
            for (auto _ : state) {
                pixels.clear();
                pixels.shrink_to_fit();
                if (!decodeWithSpng(path, pixels)) state.SkipWithError("decode failed");
            }
        })->Unit(benchmark::kMillisecond);
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
