// Thumbnail loading against its peers, on the same real photographs in the same run:
//  - cold load (no cache: enumerate, decode, fit, write the cache) against vipsthumbnail
//    making same-size thumbnails of the same files in one process, and against bare
//    libjpeg-turbo scaled decodes of the same JPEG files (the floor);
//  - warm load (every thumbnail from the cache) against the cold load;
//  - the resampler against the half-scale JPEG decode it follows;
//  - a folder of 10,000 cached thumbnails: opening its cache, and the whole warm load.
// The ratios are printed after the table.
//
//   build: cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DPRAVEL_BENCH=ON
//          cmake --build build/bench --target bench_thumbs
//   run:   build/bench/bench/bench_thumbs
//
// One run on the 52 photographs of build/testdata/photos (26 JPEG, 26 PNG; 1280 x 1024 to
// 5640 x 3172), cell 148 x 111, on a shared 2-core machine (real time; ratios from one run):
//   cold load / vipsthumbnail            0.71 (JPEG)   0.83 (JPEG + PNG)
//   cold load / bare scaled decode       1.23 (with the cache write)   1.07 (without)
//   cold load / warm load                628 (JPEG)    932 (JPEG + PNG)
//   resample / half-scale decode         0.05 (1920 x 1200 -> cell)    0.07 (2000 x 1500 -> 148 x 111)
//   10,000 cached thumbnails             160 ms to open the cache; the whole warm load
//                                        (10,000 stream decodes into fresh pixel blocks) 2.1 s CPU
// Decoding threads (cold_in_turn, warm_in_turn; 2026-12-08, idle machine, see README):
//   threads / vipsthumbnail 0.42-0.43, threads / one thread 0.56-0.57 (wall); busiest thread's
//   CPU time / one thread's 0.54-0.56; warm with threads / one thread 1.00-1.01 (2.1-2.2 ms)
// Every format on the threads (mixed_in_turn, 216 files; 2026-12-09, load average ~20):
//   threads / one thread 0.46 (wall), busiest thread's CPU 0.54, all threads' CPU 1.04, warm 0.69
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

extern "C" {
#include <jpeglib.h>
}

#include "base/platform.h"
#include "image/jpeg_codec.h"
#include "thumbs/folder_loader.h"
#include "thumbs/resampler.h"
#include "thumbs/thumbnail_cache.h"

namespace fs = std::filesystem;

namespace {

const fs::path kPhotos = fs::path(PRAVEL_TESTDATA) / "photos";
const fs::path kWork = fs::path(PRAVEL_SOURCE_DIR) / "build" / "bench-thumbs";
constexpr int32_t kCellW = 148, kCellH = 111;

bool isJpeg(const fs::path& p) {
    const std::string e = p.extension().string();
    return e == ".jpg" || e == ".jpeg" || e == ".JPG";
}
bool isImage(const fs::path& p) { return isJpeg(p) || p.extension() == ".png"; }

// The photographs (all, or the JPEG ones) as a folder of links, so that each set is a folder.
fs::path photoSet(bool jpegOnly) {
    const fs::path dir = kWork / (jpegOnly ? "jpeg" : "all");
    if (fs::exists(dir)) return dir;
    fs::create_directories(dir);
    for (const auto& e : fs::directory_iterator(kPhotos))
        if (isImage(e.path()) && (!jpegOnly || isJpeg(e.path()))) fs::create_symlink(e.path(), dir / e.path().filename());
    return dir;
}

std::vector<fs::path> filesOf(const fs::path& dir) {
    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(dir))
        if (isImage(e.path())) files.push_back(e.path());
    return files;
}

void clearFolder(const fs::path& dir) {
    fs::remove_all(dir);
    fs::create_directories(dir);
}

// A pane stand-in that keeps the thumbnails for the cache write.
struct Keeper {
    std::vector<ThumbnailItem> items;
    FolderLoadHooks hooks;
    Keeper() {
        hooks.listed = [this](size_t n) {
            release();
            items.assign(n, ThumbnailItem{});
            return true;
        };
        hooks.itemReady = [this](size_t slot, const std::wstring& name, ThumbnailData& d, bool replaced) {
            if (replaced) releaseItemThumbnail(items[slot]);
            fillThumbnailItem(items[slot], d, name.c_str());
        };
        hooks.itemForCache = [this](size_t slot, CacheItemView& v) { v = cacheViewOf(items[slot]); };
    }
    // As a pane keeps it: the data file's records for the items outside the view, and a
    // screen of 40 cells in view at the top.
    void likeAPane() {
        hooks.recordsIn = [this](const std::shared_ptr<FolderCache>& t) { table = t; };
        hooks.recordMoved = [this](size_t slot, uint32_t record) {
            pageFree(items[slot].stream);
            items[slot].stream = nullptr;
            items[slot].cacheRecord = record;
        };
        hooks.visibleSlots = [](size_t& first, size_t& end) {
            first = 0;
            end = 40;
        };
    }
    std::shared_ptr<FolderCache> table;
    ~Keeper() { release(); }
    void release() {
        for (auto& i : items) releaseItemThumbnail(i);
        items.clear();
    }
};

// inView: as the pane loads, decoding only the cached streams of the cells in view.
FolderLoadStats loadOnce(const fs::path& folder, const fs::path& cache, bool useCache, int workers = 0,
                         bool inView = false) {
    FolderLoadSettings settings;
    settings.warmPixelsInViewOnly = inView;
    settings.workers = workers;
    settings.cellWidth = kCellW;
    settings.cellHeight = kCellH;
    settings.useCache = useCache;
    settings.cacheFolder = utf8ToWide(cache.string());
    Keeper keeper;
    if (inView) keeper.likeAPane();
    FolderLoadStats stats;
    loadFolderThumbnails(utf8ToWide(folder.string()), settings, keeper.hooks, stats);
    return stats;
}

bool havePhotos(benchmark::State& state) {
    if (fs::exists(kPhotos) && !filesOf(kPhotos).empty()) return true;
    state.SkipWithError("no build/testdata/photos (tools/setup.sh)");
    return false;
}

// ---------------------------------------------------------------- cold and warm loads

void coldLoad(benchmark::State& state, bool jpegOnly, bool writeCache, int workers = 0) {
    if (!havePhotos(state)) return;
    const fs::path folder = photoSet(jpegOnly);
    const fs::path cache = kWork / "cache-cold";
    size_t shown = 0;
    for (auto _ : state) {
        state.PauseTiming();
        clearFolder(cache);
        state.ResumeTiming();
        const FolderLoadStats s = loadOnce(folder, cache, writeCache, workers);
        shown = s.shown;
        state.counters["threads"] = double(s.workers);
        if (s.decoded != s.shown || s.failed) state.SkipWithError("some photographs did not decode");
    }
    state.counters["files"] = double(shown);
}

void warmLoad(benchmark::State& state, bool jpegOnly, int workers = 0, bool inView = false) {
    if (!havePhotos(state)) return;
    const fs::path folder = photoSet(jpegOnly);
    const fs::path cache = kWork / "cache-warm";
    clearFolder(cache);
    loadOnce(folder, cache, true);
    for (auto _ : state) {
        const FolderLoadStats s = loadOnce(folder, cache, true, workers, inView);
        if (s.decoded != 0 || s.fromCache != s.shown) state.SkipWithError("the warm load decoded files");
    }
}

void vipsThumbnail(benchmark::State& state, bool jpegOnly) {
    if (!havePhotos(state)) return;
    if (std::system("command -v vipsthumbnail >/dev/null 2>&1") != 0) {
        state.SkipWithError("vipsthumbnail not installed (libvips-tools)");
        return;
    }
    const fs::path folder = photoSet(jpegOnly);
    const fs::path out = kWork / "vips-out";
    std::string command = "vipsthumbnail --size " + std::to_string(kCellW) + "x" + std::to_string(kCellH) + " -o '" +
                          (out / "%s.jpg[Q=80]").string() + "'";
    for (const fs::path& f : filesOf(folder)) command += " '" + f.string() + "'";
    for (auto _ : state) {
        state.PauseTiming();
        clearFolder(out);
        state.ResumeTiming();
        if (std::system(command.c_str()) != 0) state.SkipWithError("vipsthumbnail failed");
    }
}

// The three cold loads of the JPEG set taken in turn, the order rotated each round, so that
// the changing load of a shared machine falls on all of them alike: the scheduler with one
// thread per processor, the one-thread load, and vipsthumbnail. Reported as counters (ms per
// load and the two ratios). On a machine whose processors are taken by others the threads
// cannot run side by side, so the processor time of the busiest thread against that of the
// one-thread load is reported too (cpu_path_vs_one), and all threads' time (cpu_all_vs_one).
void coldInTurn(benchmark::State& state) {
    if (!havePhotos(state)) return;
    if (std::system("command -v vipsthumbnail >/dev/null 2>&1") != 0) {
        state.SkipWithError("vipsthumbnail not installed (libvips-tools)");
        return;
    }
    const fs::path folder = photoSet(true);
    const fs::path cache = kWork / "cache-turn";
    const fs::path out = kWork / "vips-turn";
    std::string command = "vipsthumbnail --size " + std::to_string(kCellW) + "x" + std::to_string(kCellH) + " -o '" +
                          (out / "%s.jpg[Q=80]").string() + "'";
    for (const fs::path& f : filesOf(folder)) command += " '" + f.string() + "'";
    double ms[3] = {0, 0, 0};
    double cpuPath[2] = {0, 0}, cpuAll[2] = {0, 0};  // the busiest thread's CPU time; all threads'
    int round = 0;
    for (auto _ : state) {
        for (int k = 0; k < 3; ++k) {
            const int which = (k + round) % 3;
            clearFolder(cache);
            clearFolder(out);
            const auto t0 = std::chrono::steady_clock::now();
            if (which == 2) {
                if (std::system(command.c_str()) != 0) state.SkipWithError("vipsthumbnail failed");
            } else {
                const FolderLoadStats s = loadOnce(folder, cache, true, which == 0 ? 0 : 1);
                if (s.decoded != s.shown || s.failed) state.SkipWithError("some photographs did not decode");
                cpuPath[which] += s.loaderCpuMs > s.workerCpuMsMax ? s.loaderCpuMs : s.workerCpuMsMax;
                cpuAll[which] += s.loaderCpuMs + s.workerCpuMsTotal;
            }
            ms[which] += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
        }
        ++round;
    }
    const double n = round > 0 ? double(round) : 1.0;
    state.counters["threads_ms"] = ms[0] / n;
    state.counters["one_ms"] = ms[1] / n;
    state.counters["vips_ms"] = ms[2] / n;
    state.counters["vs_one"] = ms[1] > 0 ? ms[0] / ms[1] : 0;
    state.counters["vs_vips"] = ms[2] > 0 ? ms[0] / ms[2] : 0;
    // What an idle machine would show: the load lasts about as long as its busiest thread runs.
    state.counters["cpu_path_vs_one"] = cpuPath[1] > 0 ? cpuPath[0] / cpuPath[1] : 0;
    state.counters["cpu_all_vs_one"] = cpuAll[1] > 0 ? cpuAll[0] / cpuAll[1] : 0;
}

// The warm loads (every thumbnail from the cache) in turn the same way.
void warmInTurn(benchmark::State& state) {
    if (!havePhotos(state)) return;
    const fs::path folder = photoSet(true);
    const fs::path cache = kWork / "cache-warm-turn";
    clearFolder(cache);
    loadOnce(folder, cache, true);
    double ms[2] = {0, 0};
    int round = 0;
    for (auto _ : state) {
        for (int k = 0; k < 2; ++k) {
            const int which = (k + round) % 2;
            const auto t0 = std::chrono::steady_clock::now();
            const FolderLoadStats s = loadOnce(folder, cache, true, which == 0 ? 0 : 1);
            if (s.decoded != 0) state.SkipWithError("the warm load decoded files");
            ms[which] += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
        }
        ++round;
    }
    const double n = round > 0 ? double(round) : 1.0;
    state.counters["threads_ms"] = ms[0] / n;
    state.counters["one_ms"] = ms[1] / n;
    state.counters["vs_one"] = ms[1] > 0 ? ms[0] / ms[1] : 0;
}

// The mixed folder: 100 PNG, 30 TIFF (uncompressed), 30 GIF and 30 BMP files made once by
// ImageMagick from the first 10 photographs (at most 1600 x 1200; each kind's 10 images
// repeated under other names), and links to the 26 JPEG photos.
fs::path mixedSet() {
    const fs::path dir = kWork / "mixed";
    const fs::path done = dir / ".complete";
    if (fs::exists(done)) return dir;
    fs::remove_all(dir);
    fs::create_directories(dir);
    std::vector<fs::path> photos = filesOf(kPhotos);
    std::sort(photos.begin(), photos.end());
    if (photos.empty() || std::system("command -v convert >/dev/null 2>&1") != 0) return {};
    constexpr size_t kDistinct = 10;
    std::vector<fs::path> bases;  // each source once at the size all kinds are made from
    for (size_t i = 0; i < kDistinct && i < photos.size(); ++i) {
        const fs::path base = kWork / ("mixed-base-" + std::to_string(i) + ".ppm");
        const std::string command = "convert -define jpeg:size=3200x2400 '" + photos[i].string() +
                                    "' -resize '1600x1200>' '" + base.string() + "' 2>/dev/null";
        if (std::system(command.c_str()) != 0) return {};
        bases.push_back(base);
    }
    struct Kind {
        const char* prefix;
        const char* options;
        const char* extension;
        int count;
    };
    const Kind kinds[] = {{"png", "", ".png", 100},
                          {"tif", "-compress none", ".tif", 30},
                          {"gif", "-colors 256", ".gif", 30},
                          {"bmp", "-type TrueColor", ".bmp", 30}};
    for (const Kind& k : kinds) {
        for (int i = 0; i < k.count; ++i) {
            char name[64];
            std::snprintf(name, sizeof name, "%s_%03d%s", k.prefix, i, k.extension);
            if (size_t(i) >= bases.size()) {
                std::snprintf(name + 32, 32, "%s_%03d%s", k.prefix, int(size_t(i) % bases.size()), k.extension);
                fs::copy_file(dir / (name + 32), dir / name);
                continue;
            }
            const std::string command = "convert '" + bases[size_t(i)].string() + "' " + k.options + " '" +
                                        (dir / name).string() + "' 2>/dev/null";
            if (std::system(command.c_str()) != 0) return {};
        }
    }
    for (const fs::path& f : photos)
        if (isJpeg(f)) fs::create_symlink(f, dir / f.filename());
    std::FILE* mark = std::fopen(done.string().c_str(), "w");
    if (mark) std::fclose(mark);
    return dir;
}

// Cold loads of the mixed folder in turn: the decoding threads (one per processor) against
// one thread, wall time and processor time, and the same for warm loads.
void mixedInTurn(benchmark::State& state) {
    if (!havePhotos(state)) return;
    const fs::path folder = mixedSet();
    if (folder.empty()) {
        state.SkipWithError("could not make the mixed folder (ImageMagick convert)");
        return;
    }
    const fs::path cache = kWork / "cache-mixed";
    double ms[2] = {0, 0}, warmMs[2] = {0, 0};
    double cpuPath[2] = {0, 0}, cpuAll[2] = {0, 0};
    int round = 0;
    size_t files = 0;
    for (auto _ : state) {
        for (int k = 0; k < 2; ++k) {
            const int which = (k + round) % 2;
            clearFolder(cache);
            auto t0 = std::chrono::steady_clock::now();
            const FolderLoadStats s = loadOnce(folder, cache, true, which == 0 ? 0 : 1);
            ms[which] += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
            if (s.decoded != s.shown || s.failed) state.SkipWithError("some files did not decode");
            files = s.shown;
            cpuPath[which] += s.loaderCpuMs > s.workerCpuMsMax ? s.loaderCpuMs : s.workerCpuMsMax;
            cpuAll[which] += s.loaderCpuMs + s.workerCpuMsTotal;
            t0 = std::chrono::steady_clock::now();
            const FolderLoadStats w = loadOnce(folder, cache, true, which == 0 ? 0 : 1);
            warmMs[which] += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
            if (w.decoded != 0) state.SkipWithError("the warm load decoded files");
        }
        ++round;
    }
    const double n = round > 0 ? double(round) : 1.0;
    state.counters["files"] = double(files);
    state.counters["threads_ms"] = ms[0] / n;
    state.counters["one_ms"] = ms[1] / n;
    state.counters["vs_one"] = ms[1] > 0 ? ms[0] / ms[1] : 0;
    state.counters["cpu_path_vs_one"] = cpuPath[1] > 0 ? cpuPath[0] / cpuPath[1] : 0;
    state.counters["cpu_all_vs_one"] = cpuAll[1] > 0 ? cpuAll[0] / cpuAll[1] : 0;
    state.counters["warm_threads_ms"] = warmMs[0] / n;
    state.counters["warm_one_ms"] = warmMs[1] / n;
    state.counters["warm_vs_one"] = warmMs[1] > 0 ? warmMs[0] / warmMs[1] : 0;
}

// The floor: each JPEG read and decoded by libjpeg-turbo at the scale the loader picks,
// nothing else (no fitting, no cache).
void scaledDecodeFloor(benchmark::State& state) {
    if (!havePhotos(state)) return;
    const std::vector<fs::path> files = filesOf(photoSet(true));
    std::vector<uint8_t> rows;
    for (auto _ : state) {
        for (const fs::path& f : files) {
            MappedFile m;
            if (!mapFile(utf8ToWide(f.string()).c_str(), m)) continue;
            jpeg_decompress_struct cinfo;
            jpeg_error_mgr err;
            cinfo.err = jpeg_std_error(&err);
            jpeg_create_decompress(&cinfo);
            jpeg_mem_src(&cinfo, m.data, m.size);
            jpeg_read_header(&cinfo, TRUE);
            cinfo.scale_num = 1;
            cinfo.scale_denom = unsigned(jpegScaleDenominator(int32_t(cinfo.image_width), int32_t(cinfo.image_height), kCellW, kCellH));
            cinfo.out_color_space = JCS_EXT_BGR;
            jpeg_start_decompress(&cinfo);
            const size_t stride = rowStride24(int32_t(cinfo.output_width));
            rows.resize(stride * cinfo.output_height);
            while (cinfo.output_scanline < cinfo.output_height) {
                JSAMPROW row = rows.data() + stride * cinfo.output_scanline;
                jpeg_read_scanlines(&cinfo, &row, 1);
            }
            jpeg_finish_decompress(&cinfo);
            jpeg_destroy_decompress(&cinfo);
            unmapFile(m);
            benchmark::DoNotOptimize(rows.data());
        }
    }
}

// ---------------------------------------------------------------- resampler vs decode

std::string g_bigJpeg;  // a large photograph, loaded once
bool loadBigJpeg() {
    if (!g_bigJpeg.empty()) return true;
    const fs::path p = kPhotos / "ukui-the-mouse.jpg";  // 3840 x 2400
    return readWholeFile(utf8ToWide(p.string()).c_str(), g_bigJpeg) && !g_bigJpeg.empty();
}

void halfScaleDecode(benchmark::State& state) {
    if (!loadBigJpeg()) {
        state.SkipWithError("photo missing");
        return;
    }
    for (auto _ : state) {
        DecodeCounters c;
        DecodedImage* image = decodeJpegMemory(reinterpret_cast<const uint8_t*>(g_bigJpeg.data()), g_bigJpeg.size(), 1920, 1200, c);
        if (!image) {
            state.SkipWithError("decode failed");
            break;
        }
        state.counters["width"] = image->header.biWidth;
        pageFree(image->pixels);
        image->pixels = nullptr;
    }
}

void resampleHalfScaleResult(benchmark::State& state) {
    if (!loadBigJpeg()) {
        state.SkipWithError("photo missing");
        return;
    }
    DecodeCounters c;
    DecodedImage* image = decodeJpegMemory(reinterpret_cast<const uint8_t*>(g_bigJpeg.data()), g_bigJpeg.size(), 1920, 1200, c);
    if (!image) {
        state.SkipWithError("decode failed");
        return;
    }
    const int32_t w = image->header.biWidth, h = image->header.biHeight;
    const DisplaySize d = fitToCell(w, h, kCellW, kCellH);
    std::vector<uint8_t> out(rowStride24(d.width) * size_t(d.height));
    for (auto _ : state) {
        resampleArea24(image->pixels, w, h, out.data(), d.width, d.height);
        benchmark::DoNotOptimize(out.data());
    }
    pageFree(image->pixels);
    image->pixels = nullptr;
}

void resample2000x1500(benchmark::State& state) {
    const int32_t w = 2000, h = 1500;
    std::vector<uint8_t> src(rowStride24(w) * h);
    for (size_t i = 0; i < src.size(); ++i) src[i] = uint8_t(i * 2654435761u >> 24);
    std::vector<uint8_t> out(rowStride24(148) * 111);
    for (auto _ : state) {
        resampleArea24(src.data(), w, h, out.data(), 148, 111);
        benchmark::DoNotOptimize(out.data());
    }
}

// ---------------------------------------------------------------- 10,000 cached thumbnails

constexpr int kMany = 10000;

// A folder of 10,000 (one-byte) files and a cache holding a 148 x 111 thumbnail of a real
// photograph for each, current for every file; made once.
bool prepareMany(fs::path& folder, fs::path& cache) {
    folder = kWork / "many";
    cache = kWork / "cache-many";
    if (fs::exists(kWork / "many.ready")) return true;
    if (!loadBigJpeg()) return false;
    clearFolder(folder);
    clearFolder(cache);
    DecodeCounters c;
    DecodedImage* image = decodeJpegMemory(reinterpret_cast<const uint8_t*>(g_bigJpeg.data()), g_bigJpeg.size(), kCellW, kCellH, c);
    if (!image) return false;
    LoadInfo info;
    info.width = image->header.biWidth;
    info.height = image->header.biHeight;
    info.facts.fileWidth = c.fileWidth;
    info.facts.fileHeight = c.fileHeight;
    info.current = image;
    DisplaySize d;
    if (!makeThumbnail(info, kCellW, kCellH, false, d)) return false;
    const FileTime when = FileTime::fromValue(132000000000000000ULL);
    std::vector<std::wstring> names(kMany);
    std::vector<CacheItemView> views(kMany);
    for (int i = 0; i < kMany; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "IMG_%05d.JPG", i);
        names[size_t(i)] = utf8ToWide(name);
        const std::wstring path = utf8ToWide((folder / name).string());
        writeWholeFile(path.c_str(), "x", 1);
        setLastWriteTime(path.c_str(), when);
        CacheItemView& v = views[size_t(i)];
        v.name = names[size_t(i)].c_str();
        v.facts.lastWriteTime = when;
        v.facts.fileWidth = c.fileWidth;
        v.facts.fileHeight = c.fileHeight;
        v.facts.format = 3;
        v.facts.sourceDepth = 24;
        v.thumbWidth = info.width;
        v.thumbHeight = info.height;
        v.pixels = image->pixels;
    }
    const CacheLocation location{utf8ToWide(cache.string()), kCellW, kCellH};
    const bool ok = writeFolderCache(location, utf8ToWide(folder.string()), views.data(), views.size());
    pageFree(image->pixels);
    image->pixels = nullptr;
    if (ok) writeWholeFile(utf8ToWide((kWork / "many.ready").string()).c_str(), "", 0);
    return ok;
}

void openManyCache(benchmark::State& state) {
    fs::path folder, cache;
    if (!prepareMany(folder, cache)) {
        state.SkipWithError("could not prepare the 10,000-file folder");
        return;
    }
    const CacheLocation location{utf8ToWide(cache.string()), kCellW, kCellH};
    for (auto _ : state) {
        FolderCache table;
        bool larger = false, smaller = false;
        if (!openFolderCache(location, utf8ToWide(folder.string()), table, larger, smaller) || table.count() != kMany)
            state.SkipWithError("cache did not open");
    }
}

// inView false: every cached stream decoded during the load (as before the pane kept its
// items compressed); true: only the 40 cells in view, the rest keep their records.
void warmLoadMany(benchmark::State& state, bool inView) {
    fs::path folder, cache;
    if (!prepareMany(folder, cache)) {
        state.SkipWithError("could not prepare the 10,000-file folder");
        return;
    }
    for (auto _ : state) {
        const FolderLoadStats s = loadOnce(folder, cache, true, 0, inView);
        if (s.fromCache != size_t(kMany)) state.SkipWithError("not every thumbnail came from the cache");
        state.counters["decoded_streams"] = double(s.fromCache - s.withoutPixels);
    }
}

BENCHMARK(mixedInTurn)->Name("mixed_in_turn")->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
BENCHMARK(coldInTurn)->Name("cold_in_turn/jpeg")->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(6);
BENCHMARK(warmInTurn)->Name("warm_in_turn/jpeg")->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(30);
BENCHMARK_CAPTURE(coldLoad, jpeg, true, true)->Name("cold_load/jpeg")->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK_CAPTURE(coldLoad, jpeg_one_thread, true, true, 1)->Name("cold_load_one_thread/jpeg")->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK_CAPTURE(coldLoad, jpeg_nocache, true, false)->Name("cold_load_no_write/jpeg")->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK_CAPTURE(vipsThumbnail, jpeg, true)->Name("vipsthumbnail/jpeg")->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(scaledDecodeFloor)->Name("libjpeg_scaled_decode/jpeg")->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK_CAPTURE(warmLoad, jpeg, true)->Name("warm_load/jpeg")->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);
BENCHMARK_CAPTURE(warmLoad, jpeg_one_thread, true, 1)->Name("warm_load_one_thread/jpeg")->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);
BENCHMARK_CAPTURE(coldLoad, all, false, true)->Name("cold_load/all")->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
BENCHMARK_CAPTURE(coldLoad, all_one_thread, false, true, 1)->Name("cold_load_one_thread/all")->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
BENCHMARK_CAPTURE(vipsThumbnail, all, false)->Name("vipsthumbnail/all")->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
BENCHMARK_CAPTURE(warmLoad, all, false)->Name("warm_load/all")->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);
BENCHMARK(halfScaleDecode)->Name("jpeg_half_scale_decode/3840x2400")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(resampleHalfScaleResult)->Name("resample/1920x1200_to_cell")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(resample2000x1500)->Name("resample/2000x1500_to_148x111")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(openManyCache)->Name("open_cache/10000")->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK_CAPTURE(warmLoadMany, all, false)->Name("warm_load/10000")->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK_CAPTURE(warmLoadMany, in_view, true)->Name("warm_load_in_view/10000")->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK_CAPTURE(warmLoad, jpeg_in_view, true, 0, true)->Name("warm_load_in_view/jpeg")->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);

// Keeps every result's real time per iteration for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> ms;
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs)
            if (!r.error_occurred && r.iterations > 0)
                ms[r.benchmark_name()] = r.real_accumulated_time * 1000.0 / double(r.iterations);
        ConsoleReporter::ReportRuns(runs);
    }
};

void ratio(const RatioReporter& r, const char* what, const std::string& a, const std::string& b, const char* goal) {
    const auto ia = r.ms.find(a), ib = r.ms.find(b);
    if (ia == r.ms.end() || ib == r.ms.end()) return;
    std::printf("  %-44s %8.2f   (%s %.1f ms / %s %.1f ms; goal %s)\n", what, ia->second / ib->second, a.c_str(),
                ia->second, b.c_str(), ib->second, goal);
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\nratios:\n");
    ratio(reporter, "cold load / vipsthumbnail (JPEG)", "cold_load/jpeg/iterations:3/real_time", "vipsthumbnail/jpeg/iterations:3/real_time", "<= 0.5");
    ratio(reporter, "cold load / vipsthumbnail (JPEG+PNG)", "cold_load/all/iterations:2/real_time", "vipsthumbnail/all/iterations:2/real_time", "<= 1");
    ratio(reporter, "cold load / one-thread cold load (JPEG)", "cold_load/jpeg/iterations:3/real_time", "cold_load_one_thread/jpeg/iterations:3/real_time", "<= 0.6");
    ratio(reporter, "cold load / one-thread cold load (JPEG+PNG)", "cold_load/all/iterations:2/real_time", "cold_load_one_thread/all/iterations:2/real_time", "-");
    ratio(reporter, "one-thread cold load / vipsthumbnail (JPEG)", "cold_load_one_thread/jpeg/iterations:3/real_time", "vipsthumbnail/jpeg/iterations:3/real_time", "-");
    ratio(reporter, "warm load / one-thread warm load (JPEG)", "warm_load/jpeg/iterations:10/real_time", "warm_load_one_thread/jpeg/iterations:10/real_time", "<= 1 (noise)");
    ratio(reporter, "cold load / bare scaled decode (JPEG)", "cold_load/jpeg/iterations:3/real_time", "libjpeg_scaled_decode/jpeg/iterations:3/real_time", "<= 1.3");
    ratio(reporter, "cold load without cache write / floor", "cold_load_no_write/jpeg/iterations:3/real_time", "libjpeg_scaled_decode/jpeg/iterations:3/real_time", "<= 1.3");
    ratio(reporter, "cold / warm load (JPEG)", "cold_load/jpeg/iterations:3/real_time", "warm_load/jpeg/iterations:10/real_time", ">= 20");
    ratio(reporter, "cold / warm load (JPEG+PNG)", "cold_load/all/iterations:2/real_time", "warm_load/all/iterations:10/real_time", ">= 20");
    ratio(reporter, "resample / half-scale decode", "resample/1920x1200_to_cell/real_time", "jpeg_half_scale_decode/3840x2400/real_time", "well under 1");
    ratio(reporter, "resample 2000x1500 / half-scale decode", "resample/2000x1500_to_148x111/real_time", "jpeg_half_scale_decode/3840x2400/real_time", "well under 1");
    const auto open = reporter.ms.find("open_cache/10000/iterations:5/real_time");
    const auto many = reporter.ms.find("warm_load/10000/iterations:3/real_time");
    if (open != reporter.ms.end()) std::printf("  %-44s %8.1f ms (goal < 1000)\n", "10,000 cached thumbnails: open", open->second);
    if (many != reporter.ms.end()) std::printf("  %-44s %8.1f ms\n", "10,000 cached thumbnails: whole warm load", many->second);
    ratio(reporter, "warm load 10,000: in view / every stream", "warm_load_in_view/10000/iterations:3/real_time",
          "warm_load/10000/iterations:3/real_time", "<= 0.2");
    ratio(reporter, "warm load photos: in view / every stream", "warm_load_in_view/jpeg/iterations:10/real_time",
          "warm_load/jpeg/iterations:10/real_time", "<= 1 (52 files: 40 in view)");
    benchmark::Shutdown();
    return 0;
}
