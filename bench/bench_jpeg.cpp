// JPEG thumbnail-size decode through the glue (decodeJpegMemory) against bare libjpeg-turbo
// at the same reduced scale, on the real photographs of build/testdata/photos. Each iteration
// decodes every photo once; both sides get the same bytes already in memory, produce the same
// bottom-up BGR rows into a freshly allocated buffer, and release it.
//
// Targets: 148 x 111 (the default thumbnail cell, which the panes pass as decode target),
// 800 x 600 (the largest cell) and 1920 x 1080 (a screen, as the wallpaper command passes).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>
#include <ctime>

#include <malloc.h>

extern "C" {
#include <jpeglib.h>
}

#include "image/jpeg_codec.h"

namespace fs = std::filesystem;

namespace {

struct Photo {
    std::string name;
    std::vector<uint8_t> bytes;
};

const std::vector<Photo>& photos() {
    static std::vector<Photo> all = [] {
        std::vector<Photo> list;
        std::error_code ec;
        for (auto& e : fs::directory_iterator(std::string(PRAVEL_TESTDATA) + "/photos", ec)) {
            if (e.path().extension() != ".jpg") continue;
            std::string bytes;
            if (!readWholeFile(e.path().wstring().c_str(), bytes)) continue;
            list.push_back({e.path().filename().string(), std::vector<uint8_t>(bytes.begin(), bytes.end())});
        }
        std::sort(list.begin(), list.end(), [](const Photo& a, const Photo& b) { return a.name < b.name; });
        return list;
    }();
    return all;
}

// What an application would write with the bare library: same scale rule, same BGR rows
// written bottom-up straight into the destination, batches of row pointers. The destination
// comes from the same page allocator as the glue's (the image buffers' contract), so the
// comparison is of the decoding glue, not of two allocators.
bool bareDecode(const std::vector<uint8_t>& data, int targetWidth, int targetHeight) {
    jpeg_decompress_struct d;
    jpeg_error_mgr err;
    d.err = jpeg_std_error(&err);
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, data.data(), static_cast<unsigned long>(data.size()));
    jpeg_read_header(&d, TRUE);
    d.scale_num = 1;
    d.scale_denom = unsigned(jpegScaleDenominator(int32_t(d.image_width), int32_t(d.image_height), targetWidth, targetHeight));
    if (d.out_color_space == JCS_RGB) d.out_color_space = JCS_EXT_BGR;
    jpeg_start_decompress(&d);
    const size_t stride = (size_t(d.output_width) * d.output_components + 3) & ~size_t(3);
    uint8_t* pixels = static_cast<uint8_t*>(pageAlloc(stride * d.output_height));
    uint8_t* last = pixels + stride * (d.output_height - 1);
    JSAMPROW rows[16];
    while (d.output_scanline < d.output_height) {
        unsigned count = std::min(16u, d.output_height - d.output_scanline);
        for (unsigned i = 0; i < count; ++i) rows[i] = last - stride * (d.output_scanline + i);
        jpeg_read_scanlines(&d, rows, count);
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
    benchmark::DoNotOptimize(pixels[0]);
    pageFree(pixels);
    return true;
}

bool glueDecode(const std::vector<uint8_t>& data, int targetWidth, int targetHeight) {
    DecodeCounters counters;
    DecodedImage* img = decodeJpegMemory(data.data(), data.size(), targetWidth, targetHeight, counters);
    if (!img) return false;
    benchmark::DoNotOptimize(img->pixels[0]);
    pageFree(img->pixels);
    img->pixels = nullptr;
    return true;
}

void run(benchmark::State& state, bool glue) {
    const auto& set = photos();
    if (set.empty()) {
        state.SkipWithError("no photographs in build/testdata/photos (tools/setup.sh)");
        return;
    }
    const int tw = int(state.range(0)), th = int(state.range(1));
    size_t bytes = 0;
    for (auto _ : state) {
        for (const auto& p : set) {
            const bool ok = glue ? glueDecode(p.bytes, tw, th) : bareDecode(p.bytes, tw, th);
            if (!ok) state.SkipWithError(("decode failed: " + p.name).c_str());
            bytes += p.bytes.size();
        }
    }
    state.SetBytesProcessed(int64_t(bytes));
    state.counters["photos"] = double(set.size());
}

void BM_JpegGlue(benchmark::State& state) { run(state, true); }

double threadSeconds() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// The two sides alternate photo by photo inside one iteration and each is timed in thread CPU
// time, so a busy machine shifts both alike; the counter glue/bare is the figure of merit.
void BM_JpegRatio(benchmark::State& state) {
    const auto& set = photos();
    if (set.empty()) {
        state.SkipWithError("no photographs in build/testdata/photos (tools/setup.sh)");
        return;
    }
    const int tw = int(state.range(0)), th = int(state.range(1));
    double bare = 0, glue = 0;
    for (auto _ : state) {
        for (size_t i = 0; i < set.size(); ++i) {
            const auto& p = set[i];
            // Alternate which side goes first so cache warmth favours neither.
            for (int side = 0; side < 2; ++side) {
                const bool useGlue = (side == 0) == (i % 2 == 0);
                const double start = threadSeconds();
                if (useGlue) glueDecode(p.bytes, tw, th);
                else bareDecode(p.bytes, tw, th);
                (useGlue ? glue : bare) += threadSeconds() - start;
            }
        }
    }
    state.counters["bare_ms"] = bare * 1000 / double(state.iterations());
    state.counters["glue_ms"] = glue * 1000 / double(state.iterations());
    state.counters["glue/bare"] = bare > 0 ? glue / bare : 0;
}
void BM_JpegBare(benchmark::State& state) { run(state, false); }

// Bare and glue alternate per target so that both sides see much the same machine load.
#define PAIR(w, h)                                                                                       \
    BENCHMARK(BM_JpegBare)->Args({w, h})->Unit(benchmark::kMillisecond)->MinTime(2.0)->Repetitions(3); \
    BENCHMARK(BM_JpegGlue)->Args({w, h})->Unit(benchmark::kMillisecond)->MinTime(2.0)->Repetitions(3)
PAIR(148, 111);
PAIR(800, 600);
PAIR(1920, 1080);
BENCHMARK(BM_JpegRatio)->Args({148, 111})->Args({800, 600})->Args({1920, 1080})->Unit(benchmark::kMillisecond)->MinTime(10.0);

}  // namespace

int main(int argc, char** argv) {
    // Image buffers come from the page allocator (VirtualAlloc on Windows: fresh zero pages every
    // time). Natively pageAlloc is calloc, and glibc's sliding mmap threshold would otherwise hand
    // whichever side allocates second a recycled heap block that calloc must clear, a cost of the
    // allocator's history rather than of the decoder. A fixed threshold keeps every image buffer
    // a fresh mapping, as on Windows.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
