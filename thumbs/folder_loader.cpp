// The headless folder load (see folder_loader.h).
#include "thumbs/folder_loader.h"

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "base/directory_list.h"
#include "base/platform.h"
#include "base/platform_threads.h"
#include "image/jpeg_codec.h"
#include "image/plugin_host.h"

std::vector<std::wstring> filterExtensions(int32_t filter) {
    switch (filter) {
        case 1: return {L".bmp"};
        case 2: return {L".png"};
        case 3: return {L".jpg", L".jpe", L".jpeg"};
        case 4: return {L".tif", L".tiff"};
        case 5: return {L".gif"};
        default: return {L".bmp", L".png", L".jpg", L".jpe", L".jpeg", L".tif", L".tiff", L".gif"};
    }
}

std::vector<std::wstring> enumerateImages(const std::wstring& folder, int32_t filter, uint32_t hiddenMask,
                                          const std::vector<std::wstring>& pluginExtensions) {
    std::vector<std::wstring> extensions = filterExtensions(filter);
    if (filter < 1 || filter > 5) {
        for (const std::wstring& e : pluginExtensions) {
            std::wstring ext = !e.empty() && e[0] == L'*' ? e.substr(1) : e;
            if (!ext.empty()) extensions.push_back(ext);
        }
    }
    std::vector<std::wstring> names;
    std::vector<DirectoryEntry> entries;
    for (const std::wstring& ext : extensions) {
        entries.clear();
        listDirectory(folder.c_str(), (L"*" + ext).c_str(), entries);
        for (DirectoryEntry& e : entries) {
            if ((e.attributes & kAttributeDirectory) || (e.attributes & hiddenMask)) continue;
            const size_t dot = e.name.rfind(L'.');
            if (dot == std::wstring::npos || e.name.size() - dot != ext.size()) continue;
            names.push_back(std::move(e.name));
        }
    }
    std::stable_sort(names.begin(), names.end(),
                     [](const std::wstring& a, const std::wstring& b) { return compareListNames(a, b) < 0; });
    return names;
}

ThumbnailSource makeItemThumbnail(const FolderCache* table, const std::wstring& name, const std::wstring& path,
                                  int32_t cellWidth, int32_t cellHeight, bool cacheTooSmall, bool* cacheNeedsRewrite,
                                  ThumbnailData& out) {
    ThumbnailSource source = ThumbnailSource::Failed;
    if (table && table->isOpen() && takeFromCache(*table, name, path, cellWidth, cellHeight))
        source = ThumbnailSource::Cache;
    else if (loadImage(path.c_str(), cellWidth, cellHeight, cacheNeedsRewrite))
        source = ThumbnailSource::Decoded;
    else
        return ThumbnailSource::Failed;

    DisplaySize display;
    if (!makeThumbnail(g_loadInfo, cellWidth, cellHeight, cacheTooSmall, display)) return ThumbnailSource::Failed;
    takeLoadedThumbnail(g_loadInfo, display, table && table->isOpen(), out);
    return source;
}

void takeLoadedThumbnail(LoadInfo& info, const DisplaySize& display, bool cacheAvailable, ThumbnailData& out) {
    DecodedImage* image = info.current;
    out = ThumbnailData{};
    out.header = image->header;
    out.palette0 = image->palette[0];
    out.pixels = image->pixels;
    image->pixels = nullptr;  // handed over
    out.facts = info.facts;
    out.thumbWidth = info.width;
    out.thumbHeight = info.height;
    out.displayWidth = display.width;
    out.displayHeight = display.height;
    out.cacheAvailable = cacheAvailable;
}

void fillThumbnailItem(ThumbnailItem& item, ThumbnailData& data, const wchar_t* name) {
    item.bitmapInfo = data.header;
    item.bitmapPalette = data.palette0;
    item.pixels = data.pixels;
    data.pixels = nullptr;
    if (name) {
        size_t n = 0;
        for (; name[n] && n + 1 < sizeof item.name / sizeof item.name[0]; ++n) item.name[n] = name[n];
        item.name[n] = 0;
    }
    item.facts = data.facts;
    item.thumbWidth = data.thumbWidth;
    item.thumbHeight = data.thumbHeight;
    item.displayWidth = data.displayWidth;
    item.displayHeight = data.displayHeight;
    item.cacheAvailable = data.cacheAvailable ? 1 : 0;
}

CacheItemView cacheViewOf(const ThumbnailItem& item) {
    CacheItemView view;
    view.name = item.name;
    view.facts = item.facts;
    view.thumbWidth = item.thumbWidth;
    view.thumbHeight = item.thumbHeight;
    // Only 24-bit pixels can be compressed; anything else is left out of the file.
    view.pixels = item.bitmapInfo.biBitCount == 24 ? item.pixels : nullptr;
    return view;
}

namespace {

using Clock = std::chrono::steady_clock;

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Holds the image lock for one scope through the hooks.
class LockScope {
public:
    explicit LockScope(const FolderLoadHooks& hooks) : hooks_(hooks) {
        if (hooks_.lock) hooks_.lock();
    }
    ~LockScope() {
        if (hooks_.unlock) hooks_.unlock();
    }
    LockScope(const LockScope&) = delete;
    LockScope& operator=(const LockScope&) = delete;

private:
    const FolderLoadHooks& hooks_;
};

LoadStop afterFile(const FolderLoadHooks& hooks, size_t done, bool secondPass, const std::atomic<LoadStop>* stop) {
    LoadStop stopped = hooks.afterFile ? hooks.afterFile(done, secondPass) : LoadStop::None;
    if (stopped == LoadStop::None && stop) stopped = stop->load();
    return stopped;
}


// ---------------------------------------------------------------- decoding threads

constexpr int kMaxWorkers = 8;
constexpr int kWaitSliceMs = 20;  // the loading thread pumps at least this often while it waits

// What became of a name in the first pass.
enum NameState : uint8_t {
    NameSerial,   // loaded on the loading thread (cache entry, or not a JPEG by its name)
    NameQueued,   // waiting for a decoding thread
    NameTaken,    // being decoded
    NameDone,     // thumbnail ready in results
    NameRefused,  // the thread could not make it; the loading thread loads it the usual way
};

// The decoding threads of one load. The threads see only this record, their own decoder
// and the files; the image lock, the cache table and the caller's items stay with the
// loading thread, which takes the finished thumbnails in list order.
class DecodePool {
public:
    DecodePool(const std::wstring& folder, const std::vector<std::wstring>& names, std::vector<uint8_t>& state,
               int32_t cellWidth, int32_t cellHeight, bool cacheTooSmall, bool cacheAvailable)
        : folder_(folder), names_(names), state_(state), results_(names.size()), cellWidth_(cellWidth),
          cellHeight_(cellHeight), cacheTooSmall_(cacheTooSmall), cacheAvailable_(cacheAvailable) {}
    ~DecodePool() { shutDown(); }
    DecodePool(const DecodePool&) = delete;
    DecodePool& operator=(const DecodePool&) = delete;

    // Creates the decoders (image lock held by the caller) and starts up to count threads
    // for queued names. Returns the number started.
    int start(int count, size_t queued) {
        if (!work_.valid() || !done_.valid()) return 0;
        for (int i = 0; i < count; ++i) {
            Worker& w = workers_[i];
            w.pool = this;
            w.decoder = createJpegDecoder();
            if (!w.decoder || !w.thread.start(&DecodePool::run, &w)) {
                destroyJpegDecoder(w.decoder);
                w.decoder = nullptr;
                break;
            }
            ++started_;
        }
        if (started_ > 0) work_.release(int(queued));
        return started_;
    }

    // Stops the threads (those busy finish their file first) and waits for their end;
    // thumbnails never taken are released.
    void shutDown() {
        {
            WorkerLockScope hold(lock_);
            quit_ = true;
        }
        work_.release(started_);
        for (int i = 0; i < started_; ++i) {
            workers_[i].thread.join();
            cpuMsMax_ = workers_[i].cpuMs > cpuMsMax_ ? workers_[i].cpuMs : cpuMsMax_;
            cpuMsTotal_ += workers_[i].cpuMs;
            destroyJpegDecoder(workers_[i].decoder);
            workers_[i].decoder = nullptr;
        }
        started_ = 0;
        for (size_t i = 0; i < results_.size(); ++i) {
            pageFree(results_[i].pixels);
            results_[i].pixels = nullptr;
        }
    }

    void setVisible(size_t first, size_t end) {
        WorkerLockScope hold(lock_);
        visibleFirst_ = first < names_.size() ? first : names_.size();
        visibleEnd_ = end < names_.size() ? end : names_.size();
    }
    void visible(size_t& first, size_t& end) {
        WorkerLockScope hold(lock_);
        first = visibleFirst_;
        end = visibleEnd_;
    }

    // A copy of name i's thumbnail when a thread has finished it (the original stays for
    // collect). False when it is not finished or the copy cannot be allocated.
    bool copyDone(size_t i, ThumbnailData& out) {
        WorkerLockScope hold(lock_);
        if (NameState(state_[i]) != NameDone || !results_[i].pixels) return false;
        const ThumbnailData& from = results_[i];
        const int32_t height = from.header.biHeight < 0 ? -from.header.biHeight : from.header.biHeight;
        const size_t bytes = size_t((int64_t(from.header.biWidth) * from.header.biBitCount + 31) / 32 * 4) * size_t(height);
        void* pixels = bytes ? pageAlloc(bytes) : nullptr;
        if (!pixels) return false;
        std::memcpy(pixels, from.pixels, bytes);
        out = from;
        out.pixels = static_cast<uint8_t*>(pixels);
        return true;
    }

    // The state of name i; when it is NameDone its thumbnail moves into out.
    NameState collect(size_t i, ThumbnailData& out) {
        WorkerLockScope hold(lock_);
        const auto st = NameState(state_[i]);
        if (st == NameDone) {
            out = results_[i];
            results_[i].pixels = nullptr;
        }
        return st;
    }

    double cpuMsMax() const { return cpuMsMax_; }
    double cpuMsTotal() const { return cpuMsTotal_; }

    // Waits at most one slice for any thread to finish a file.
    void waitSlice() { done_.wait(kWaitSliceMs); }

private:
    struct Worker {
        DecodePool* pool = nullptr;
        JpegDecoder* decoder = nullptr;
        double cpuMs = 0;
        WorkerThread thread;
    };

    static void run(void* argument) {
        auto& w = *static_cast<Worker*>(argument);
        w.pool->loop(w.decoder);
        w.cpuMs = threadCpuMilliseconds();
    }

    // The next name to decode: those in view first, then the lowest queued one.
    size_t take() {
        for (size_t i = visibleFirst_; i < visibleEnd_; ++i)
            if (state_[i] == NameQueued) return i;
        while (low_ < state_.size() && state_[low_] != NameQueued) ++low_;
        return low_ < state_.size() ? low_ : SIZE_MAX;
    }

    void loop(JpegDecoder* decoder) {
        for (;;) {
            work_.wait(-1);
            size_t i = SIZE_MAX;
            {
                WorkerLockScope hold(lock_);
                if (quit_) return;
                i = take();
                if (i == SIZE_MAX) continue;
                state_[i] = NameTaken;
            }
            ThumbnailData data;
            const bool made = makeOne(decoder, names_[i], data);
            {
                WorkerLockScope hold(lock_);
                results_[i] = data;
                state_[i] = made ? NameDone : NameRefused;
            }
            done_.release();
        }
    }

    bool makeOne(JpegDecoder* decoder, const std::wstring& name, ThumbnailData& out) {
        const std::wstring path = joinPath(folder_, name);
        LoadInfo info;
        if (!loadJpegImage(decoder, path.c_str(), cellWidth_, cellHeight_, info)) return false;
        DisplaySize display;
        if (!makeThumbnail(info, cellWidth_, cellHeight_, cacheTooSmall_, display)) return false;
        takeLoadedThumbnail(info, display, cacheAvailable_, out);
        return true;
    }

    const std::wstring& folder_;
    const std::vector<std::wstring>& names_;
    std::vector<uint8_t>& state_;  // written under lock_ once the threads run
    std::vector<ThumbnailData> results_;
    const int32_t cellWidth_, cellHeight_;
    const bool cacheTooSmall_, cacheAvailable_;
    WorkerLock lock_;
    WorkerSemaphore work_;  // one count per queued name, one per thread to stop it
    WorkerSemaphore done_;  // one count per finished name
    Worker workers_[kMaxWorkers];
    int started_ = 0;
    size_t low_ = 0;  // no queued name below this one
    size_t visibleFirst_ = 0, visibleEnd_ = 0;
    bool quit_ = false;
    double cpuMsMax_ = 0, cpuMsTotal_ = 0;
};

std::atomic<int32_t> g_automaticWorkers{0};

int workerCount(int32_t setting) {
    if (setting <= 0) setting = g_automaticWorkers.load();
    int n = setting > 0 ? setting : processorCount();
    if (n > kMaxWorkers) n = kMaxWorkers;
    return n < 1 ? 1 : n;
}

// Asks which slots are in view and hands the names they stand for to the threads: `filled`
// slots hold the names already loaded, and slot filled + k will take name next + k if every
// name before it loads (the rule the copies shown ahead follow too).
void askVisible(const FolderLoadHooks& hooks, DecodePool* pool, size_t filled, size_t next) {
    if (!pool || !hooks.visibleSlots) return;
    size_t first = 0, end = 0;
    hooks.visibleSlots(first, end);
    const auto nameOf = [&](size_t slot) { return slot < filled ? next : next + (slot - filled); };
    pool->setVisible(nameOf(first), nameOf(end));
}

// The cache write: the records are compressed into a file aside on a thread of its own,
// while this thread keeps answering through proceed (every kWriteSliceMs at most) and can
// give the write up; only putting the file in place and updating the index take the image
// lock. Without a thread the records are compressed here, proceed asked before each.
// records receives the number of records the new data file holds.
constexpr int kWriteSliceMs = 10;

struct CacheWriteJob {
    const CacheLocation* location = nullptr;
    const std::vector<CacheItemView>* views = nullptr;
    PreparedFolderData prepared;
    std::atomic<bool> giveUp{false};
    bool made = false;
    WorkerSemaphore done;

    static void run(void* argument) {
        auto& job = *static_cast<CacheWriteJob*>(argument);
        job.made = prepareFolderData(*job.location, job.views->data(), job.views->size(), job.prepared,
                                     [&job] { return !job.giveUp.load(); });
        job.done.release();
    }
};

bool writeCacheOffThread(const CacheLocation& location, const std::wstring& folder,
                         const std::vector<CacheItemView>& views, const FolderLoadHooks& hooks,
                         const std::function<bool()>& ask, FolderLoadStats& stats) {
    uint32_t& records = stats.cacheRecords;
    records = 0;
    Clock::time_point asked = Clock::now();
    const auto proceed = [&] {
        const double gap = millisecondsSince(asked);
        if (gap > stats.writeLongestGapMs) stats.writeLongestGapMs = gap;
        const bool go = ask();
        asked = Clock::now();
        return go;
    };
    CacheWriteJob job;
    job.location = &location;
    job.views = &views;
    // Asked before the first record and after the last as well: a stop that arrives at any
    // time during the write gives it up.
    if (!proceed()) return false;
    WorkerThread thread;
    if (job.done.valid() && thread.start(&CacheWriteJob::run, &job)) {
        while (!job.done.wait(kWriteSliceMs)) {
            if (!job.giveUp.load() && !proceed()) job.giveUp.store(true);
        }
        thread.join();
        if (!job.giveUp.load() && !proceed()) job.giveUp.store(true);
    } else {
        job.made = prepareFolderData(location, views.data(), views.size(), job.prepared, proceed);
    }
    if (!job.made) return false;
    if (job.giveUp.load()) {
        discardFolderData(job.prepared);
        return false;
    }
    records = job.prepared.records;
    const Clock::time_point locked = Clock::now();
    LockScope lock(hooks);
    const bool committed = commitFolderData(location, folder, job.prepared);
    stats.writeLockMs = millisecondsSince(locked);
    return committed;
}

}  // namespace

void setAutomaticLoadWorkers(int32_t workers) { g_automaticWorkers.store(workers > 0 ? workers : 0); }

LoadStop loadFolderThumbnails(const std::wstring& folder, const FolderLoadSettings& settings,
                              const FolderLoadHooks& hooks, FolderLoadStats& stats,
                              const std::atomic<LoadStop>* stop) {
    stats = FolderLoadStats{};
    const Clock::time_point start = Clock::now();
    const double cpuStart = threadCpuMilliseconds();
    if (folder.empty()) return LoadStop::None;

    Clock::time_point phase = Clock::now();
    std::vector<std::wstring> names;
    {
        LockScope lock(hooks);
        std::vector<std::wstring> pluginExtensions = settings.pluginExtensions;
        if ((settings.filter < 1 || settings.filter > 5) && pluginFolderUsable(settings.pluginFolder.c_str())) {
            for (std::wstring& pattern : listPlugins(settings.pluginFolder.c_str(), PluginListMode::Patterns))
                pluginExtensions.push_back(std::move(pattern));
        }
        names = enumerateImages(folder, settings.filter, settings.hiddenMask, pluginExtensions);
    }
    stats.listed = names.size();
    if (names.size() > kMaxFolderItems) names.resize(kMaxFolderItems);
    stats.kept = names.size();
    stats.enumerateMs = millisecondsSince(phase);
    if (names.empty()) {
        stats.totalMs = millisecondsSince(start);
        return LoadStop::None;
    }
    if (hooks.listed && !hooks.listed(names.size())) {
        stats.totalMs = millisecondsSince(start);
        return LoadStop::None;
    }

    const CacheLocation location{settings.cacheFolder, settings.cellWidth, settings.cellHeight};
    bool cacheNeedsRewrite = false;
    bool cacheTooSmall = false;
    FolderCache table;
    phase = Clock::now();
    if (settings.useCache) {
        LockScope lock(hooks);
        bool larger = false;
        openFolderCache(location, folder, table, larger, cacheTooSmall);
        if (larger) cacheNeedsRewrite = true;  // rewrite the cache at the new size
        // Leaving thumbnails unresampled only pays when a second pass will replace them, and
        // that pass runs over items that came with a cache: without a usable table every file
        // is decoded now and must be made at its final size.
        if (!table.isOpen()) cacheTooSmall = false;
    }
    stats.cacheOpened = table.isOpen();
    stats.cacheTooSmall = cacheTooSmall;
    stats.openCacheMs = millisecondsSince(phase);

    // First pass: every name in list order; filled items are packed at the front. JPEG files
    // the cache does not hold are decoded ahead on the decoding threads; the rest, and any
    // file a thread could not make, are loaded here as they come.
    phase = Clock::now();
    std::vector<uint8_t> state(names.size(), NameSerial);  // the pool's lock guards it once threads run
    std::vector<uint8_t> viaThreads(names.size(), 0);        // which names the threads make; fixed
    std::unique_ptr<DecodePool> pool;
    const int wanted = workerCount(settings.workers);
    if (wanted > 1) {
        size_t queued = 0;
        for (size_t i = 0; i < names.size(); ++i) {
            if (formatFromExtension(names[i].c_str()) == FormatJpeg && !(table.isOpen() && table.find(names[i]) >= 0)) {
                state[i] = NameQueued;
                viaThreads[i] = 1;
                ++queued;
            }
        }
        if (queued > 1) {
            pool = std::make_unique<DecodePool>(folder, names, state, settings.cellWidth, settings.cellHeight,
                                                cacheTooSmall, table.isOpen());
            askVisible(hooks, pool.get(), 0, 0);
            LockScope lock(hooks);
            stats.workers = pool->start(wanted < int(queued) ? wanted : int(queued), queued);
        }
        if (stats.workers == 0) {
            pool.reset();
            std::fill(viaThreads.begin(), viaThreads.end(), uint8_t(0));
        }
    }

    std::vector<size_t> slotName;  // slot -> index into names
    slotName.reserve(names.size());
    // Thumbnails in view that the threads finished before the load reached them are shown
    // at once, as copies at the slot each will take if every name before it loads.
    std::vector<uint8_t> previewed(pool && hooks.itemPreview ? names.size() : 0, 0);
    size_t previewsOut = 0;  // shown copies whose names the load has not reached yet
    const auto previewAhead = [&](size_t next) {
        if (previewed.empty()) return;
        size_t first = 0, end = 0;
        pool->visible(first, end);
        for (size_t j = first > next ? first : next + 1; j < end; ++j) {
            if (!viaThreads[j] || previewed[j]) continue;
            ThumbnailData copy;
            if (!pool->copyDone(j, copy)) continue;
            LockScope lock(hooks);
            hooks.itemPreview(slotName.size() + (j - next), names[j], copy);
            pageFree(copy.pixels);  // when the receiver did not take it
            previewed[j] = 1;
            ++previewsOut;
            ++stats.previews;
        }
    };
    LoadStop stopped = LoadStop::None;
    for (size_t i = 0; i < names.size(); ++i) {
        ThumbnailData made;
        bool fromWorker = false;
        if (viaThreads[i]) {
            for (;;) {
                const NameState st = pool->collect(i, made);
                if (st == NameDone) {
                    fromWorker = true;
                    break;
                }
                if (st == NameRefused) break;
                pool->waitSlice();
                askVisible(hooks, pool.get(), slotName.size(), i);
                previewAhead(i);
                stopped = afterFile(hooks, i, false, stop);
                if (stopped != LoadStop::None) break;
            }
            if (stopped != LoadStop::None) break;
        }
        {
            LockScope lock(hooks);
            ThumbnailData data;
            ThumbnailSource source = ThumbnailSource::Decoded;
            if (fromWorker) {
                data = made;
                cacheNeedsRewrite = true;
                ++stats.decodedByWorkers;
            } else {
                source = makeItemThumbnail(table.isOpen() ? &table : nullptr, names[i], joinPath(folder, names[i]),
                                           settings.cellWidth, settings.cellHeight, cacheTooSmall,
                                           &cacheNeedsRewrite, data);
            }
            if (source == ThumbnailSource::Failed) {
                ++stats.failed;
                // Every copy shown ahead now stands one slot too far.
                if (previewsOut > 0) {
                    if (hooks.previewsDropped) hooks.previewsDropped();
                    std::fill(previewed.begin() + std::ptrdiff_t(i) + 1, previewed.end(), uint8_t(0));
                    previewsOut = 0;
                }
            } else {
                (source == ThumbnailSource::Cache ? stats.fromCache : stats.decoded)++;
                if (!previewed.empty() && previewed[i]) --previewsOut;
                const size_t slot = slotName.size();
                slotName.push_back(i);
                if (hooks.itemReady)
                    hooks.itemReady(slot, names[i], data, false);
                else
                    pageFree(data.pixels);
            }
        }
        askVisible(hooks, pool.get(), slotName.size(), i + 1);
        previewAhead(i + 1);
        stopped = afterFile(hooks, i + 1, false, stop);
        if (stopped != LoadStop::None) break;
    }
    // Ends the threads (promptly after a stop: each finishes at most the file it is on) and
    // releases what was decoded ahead and never delivered.
    if (pool) {
        pool->shutDown();
        stats.workerCpuMsMax = pool->cpuMsMax();
        stats.workerCpuMsTotal = pool->cpuMsTotal();
        pool.reset();
    }
    const bool hadTable = table.isOpen();
    table.release();
    stats.shown = slotName.size();
    stats.firstPassMs = millisecondsSince(phase);

    // Second pass: the cache was made for a smaller cell, so its thumbnails (shown stretched
    // meanwhile) are replaced by fresh decodes at the current size.
    phase = Clock::now();
    if (stopped == LoadStop::None && cacheTooSmall && hadTable) {
        stats.secondPass = true;
        for (size_t slot = 0; slot < slotName.size(); ++slot) {
            {
                LockScope lock(hooks);
                const std::wstring& name = names[slotName[slot]];
                const std::wstring path = joinPath(folder, name);
                if (loadImage(path.c_str(), settings.cellWidth, settings.cellHeight, &cacheNeedsRewrite)) {
                    DisplaySize display;
                    if (makeThumbnail(g_loadInfo, settings.cellWidth, settings.cellHeight, false, display)) {
                        ThumbnailData data;
                        takeLoadedThumbnail(g_loadInfo, display, true, data);
                        ++stats.refreshed;
                        if (hooks.itemReady)
                            hooks.itemReady(slot, name, data, true);
                        else
                            pageFree(data.pixels);
                    }
                }
            }
            stopped = afterFile(hooks, slot + 1, true, stop);
            if (stopped != LoadStop::None) break;
        }
    }
    stats.secondPassMs = millisecondsSince(phase);
    stats.stop = stopped;

    // The cache is rewritten whole when anything was decoded (or it was made for a larger cell).
    phase = Clock::now();
    if (stopped == LoadStop::None && settings.useCache && cacheNeedsRewrite) {
        if (hooks.beforeWrite) hooks.beforeWrite();
        std::vector<CacheItemView> views(slotName.size());
        for (size_t slot = 0; slot < slotName.size(); ++slot) {
            if (hooks.itemForCache) hooks.itemForCache(slot, views[slot]);
        }
        stats.cacheWriteAttempted = true;
        const auto proceed = [&] {
            const bool go = (!hooks.duringWrite || hooks.duringWrite()) && !(stop && stop->load() != LoadStop::None);
            if (!go) stats.cacheWriteGivenUp = true;
            return go;
        };
        stats.cacheWritten = writeCacheOffThread(location, folder, views, hooks, proceed, stats);
        if (stats.cacheWriteGivenUp && stop) stopped = stop->load();
        stats.stop = stopped;
    }
    stats.writeCacheMs = millisecondsSince(phase);
    stats.totalMs = millisecondsSince(start);
    stats.loaderCpuMs = threadCpuMilliseconds() - cpuStart;
    return stopped;
}
