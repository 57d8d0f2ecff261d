// The headless folder load (see folder_loader.h).
#include "thumbs/folder_loader.h"

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <cwctype>
#include <memory>

#include "base/directory_list.h"
#include "base/image_lock.h"
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

namespace {

wchar_t foldExtensionCase(wchar_t c) {
    if (c >= L'A' && c <= L'Z') return wchar_t(c + 32);
    return c < 0x80 ? c : wchar_t(std::towlower(wint_t(c)));
}

// Whether name's extension from its last dot is ext (with its dot), without regard to case;
// '?' and '*' in ext stand for one character, as a "*<ext>" listing that keeps only names
// with an extension of the pattern's length comes to.
bool hasExtension(const std::wstring& name, const std::wstring& ext) {
    const size_t dot = name.rfind(L'.');
    if (dot == std::wstring::npos || name.size() - dot != ext.size()) return false;
    for (size_t k = 0; k < ext.size(); ++k) {
        const wchar_t p = ext[k];
        if (p != L'?' && p != L'*' && foldExtensionCase(p) != foldExtensionCase(name[dot + k])) return false;
    }
    return true;
}

}  // namespace

std::vector<DirectoryEntry> listImageFiles(const std::wstring& folder, int32_t filter, uint32_t hiddenMask,
                                           const std::vector<std::wstring>& pluginExtensions) {
    std::vector<std::wstring> extensions = filterExtensions(filter);
    if (filter < 1 || filter > 5) {
        for (const std::wstring& e : pluginExtensions) {
            std::wstring ext = !e.empty() && e[0] == L'*' ? e.substr(1) : e;
            if (!ext.empty()) extensions.push_back(ext);
        }
    }
    // One listing of the whole folder, matched here: a listing per extension reads the whole
    // folder each time (eight times for the built-in types alone).
    std::vector<DirectoryEntry> entries;
    listDirectory(folder.c_str(), L"*", entries);
    std::vector<DirectoryEntry> images;
    for (DirectoryEntry& e : entries) {
        if ((e.attributes & kAttributeDirectory) || (e.attributes & hiddenMask)) continue;
        for (const std::wstring& ext : extensions) {
            if (!hasExtension(e.name, ext)) continue;
            images.push_back(std::move(e));
            break;
        }
    }
    sortByListName(images);
    return images;
}

std::vector<std::wstring> enumerateImages(const std::wstring& folder, int32_t filter, uint32_t hiddenMask,
                                          const std::vector<std::wstring>& pluginExtensions) {
    std::vector<std::wstring> names;
    for (DirectoryEntry& e : listImageFiles(folder, filter, hiddenMask, pluginExtensions)) names.push_back(std::move(e.name));
    return names;
}

namespace {
// A thumbnail's pixels and its compressed form, in a loaded record or an item.
template <typename Thumbnail>
void releaseThumbnail(Thumbnail& t) {
    pageFree(t.pixels);
    pageFree(t.stream);
    t.pixels = nullptr;
    t.stream = nullptr;
    t.streamSize = 0;
    t.cacheRecord = 0;
}
}  // namespace

void releaseThumbnailData(ThumbnailData& data) { releaseThumbnail(data); }

void releaseItemThumbnail(ThumbnailItem& item) {
    releaseThumbnail(item);
    item.pixelTicket = 0;
}

namespace {

// What memory a failed makeThumbnail lacked: it fails otherwise only for images that are
// not 24-bit or have no size, which the dispatch never hands over.
bool thumbnailFailedForMemory(const LoadInfo& info) {
    return info.current && info.current->header.biBitCount == 24 && info.width > 0 && info.height > 0;
}

// The stream the cache write will store, made now from the finished pixels. A thumbnail
// whose stream cannot be made keeps only its pixels (and is left out of the cache, as the
// write always left out what it could not compress).
void attachStream(ThumbnailData& out, bool* outOfMemory) {
    if (out.cacheRecord || !out.pixels || out.header.biBitCount != 24) return;
    encodeThumbnailStream(out.pixels, out.thumbWidth, out.thumbHeight, &out.stream, &out.streamSize, outOfMemory);
}

// What takeFromCache and makeThumbnail would make of a record kept as it is, without the
// decode: facts, sizes and the record.
void fillFromRecord(const CurrentRecord& record, int32_t cellWidth, int32_t cellHeight, bool cacheTooSmall,
                    bool cacheAvailable, ThumbnailData& out) {
    out = ThumbnailData{};
    out.header.biWidth = record.thumbWidth;
    out.header.biHeight = record.thumbHeight;
    out.header.biBitCount = 24;
    out.facts = record.facts;
    out.thumbWidth = record.thumbWidth;
    out.thumbHeight = record.thumbHeight;
    const FileFacts& f = record.facts;
    DisplaySize display{record.thumbWidth, record.thumbHeight};
    if (cacheTooSmall) {
        display = f.fileWidth <= cellWidth && f.fileHeight <= cellHeight && f.fileWidth > 0 && f.fileHeight > 0
                      ? DisplaySize{f.fileWidth, f.fileHeight}
                      : fitToCell(record.thumbWidth, record.thumbHeight, cellWidth, cellHeight);
    }
    out.displayWidth = display.width;
    out.displayHeight = display.height;
    out.cacheAvailable = cacheAvailable;
    out.cacheRecord = record.index + 1;
}

}  // namespace

bool takeCachedRecord(const FolderCache& table, const std::wstring& name, const FileTime& lastWriteTime,
                      int32_t cellWidth, int32_t cellHeight, bool cacheTooSmall, bool cacheAvailable,
                      ThumbnailData& out) {
    CurrentRecord record;
    if (!table.isOpen() || !findCurrentRecord(table, name, lastWriteTime, record) ||
        !storedThumbnailKeptAsIs(record.thumbWidth, record.thumbHeight, cellWidth, cellHeight, cacheTooSmall))
        return false;
    fillFromRecord(record, cellWidth, cellHeight, cacheTooSmall, cacheAvailable, out);
    return true;
}

ThumbnailSource makeItemThumbnail(ImageDecoder& decoder, const FolderCache* table, const std::wstring& name,
                                  const std::wstring& path, int32_t cellWidth, int32_t cellHeight, bool cacheTooSmall,
                                  bool cacheAvailable, ThumbnailData& out, bool* decoded, bool wantPixels,
                                  bool* outOfMemory, const FileTime* listedTime) {
    LoadInfo info;
    ThumbnailSource source = ThumbnailSource::Cache;
    bool fromCache = false;
    uint32_t keptRecord = 0;
    if (table && table->isOpen()) {
        CurrentRecord record;
        if (listedTime ? findCurrentRecord(*table, name, *listedTime, record)
                       : findCurrentRecord(*table, name, path, record)) {
            const bool asIs =
                storedThumbnailKeptAsIs(record.thumbWidth, record.thumbHeight, cellWidth, cellHeight, cacheTooSmall);
            if (asIs && !wantPixels) {
                fillFromRecord(record, cellWidth, cellHeight, cacheTooSmall, cacheAvailable, out);
                return ThumbnailSource::Cache;
            }
            std::vector<uint8_t> stream;
            if (table->copyRecordStream(record.index, stream) &&
                decodeStoredStream(stream.data(), stream.size(), record.thumbWidth, record.thumbHeight, cellWidth,
                                   cellHeight, decoder, info, outOfMemory)) {
                info.facts = record.facts;
                fromCache = true;
                if (asIs) keptRecord = record.index + 1;
            }
        }
    }
    if (!fromCache) {
        const BuiltInLoad load = loadBuiltInImage(decoder, path.c_str(), cellWidth, cellHeight, info);
        if (load == BuiltInLoad::ForPlugins) return ThumbnailSource::ForPlugins;
        if (load == BuiltInLoad::Failed) {
            if (outOfMemory && decoder.record.errorCode == ErrMemory) *outOfMemory = true;
            return ThumbnailSource::Failed;
        }
        source = ThumbnailSource::Decoded;
        if (decoded) *decoded = true;
    }
    DisplaySize display;
    if (!makeThumbnail(info, cellWidth, cellHeight, cacheTooSmall, display)) {
        if (outOfMemory && thumbnailFailedForMemory(info)) *outOfMemory = true;
        return ThumbnailSource::Failed;
    }
    takeLoadedThumbnail(info, display, cacheAvailable, out);
    out.cacheRecord = keptRecord;
    attachStream(out, outOfMemory);
    return source;
}

bool makePluginThumbnail(ImageDecoder& decoder, const std::wstring& path, const std::wstring& pluginFolder,
                         int32_t cellWidth, int32_t cellHeight, bool cacheTooSmall, bool cacheAvailable,
                         ThumbnailData& out, bool* decoded, bool* outOfMemory) {
    LoadInfo info;
    if (!loadPluginFallback(decoder, path.c_str(), pluginFolder.c_str(), info)) return false;
    if (decoded) *decoded = true;
    DisplaySize display;
    if (!makeThumbnail(info, cellWidth, cellHeight, cacheTooSmall, display)) {
        if (outOfMemory && thumbnailFailedForMemory(info)) *outOfMemory = true;
        return false;
    }
    takeLoadedThumbnail(info, display, cacheAvailable, out);
    attachStream(out, outOfMemory);
    return true;
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
    item.stream = data.stream;
    item.streamSize = data.streamSize;
    item.cacheRecord = data.cacheRecord;
    item.pixelTicket = 0;
    data.stream = nullptr;
}

CacheItemView cacheViewOf(const ThumbnailItem& item) {
    CacheItemView view;
    view.name = item.name;
    view.facts = item.facts;
    view.thumbWidth = item.thumbWidth;
    view.thumbHeight = item.thumbHeight;
    view.stream = item.stream;
    view.streamSize = item.streamSize;
    view.tableRecord = item.cacheRecord;  // the loader names the table
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
// Finished thumbnails (and those being made) the threads may hold beyond the name the
// loading thread waits for: a folder of huge images must not pile up decoded pixels.
constexpr size_t kMaxAhead = 32;

// What became of a name of a pass.
enum NameState : uint8_t {
    NameWaiting,      // not looked at by the loading thread yet: a decoding thread takes it only in view
    NameQueued,       // waiting for a decoding thread
    NameTaken,        // being made by a decoding thread
    NamePlugins,      // no built-in decoder made it: waiting for the plug-in thread
    NamePluginTaken,  // being made by the plug-in thread
    NameDone,         // thumbnail ready in results
    NameReady,        // its cache record taken by the loading thread, ready in results
    NameFailed,       // nothing made it
    NameCollected,    // handed to the loading thread
};

constexpr size_t kNone = SIZE_MAX;

// Decoding threads of any load that have not ended yet: those of a stopped load may still
// finish their file (or sit in a plug-in call) after the load returned.
std::atomic<int> g_liveDecodingThreads{0};

// The threads of one pass over a list of names: decoding threads that take the cache
// entries and the built-in formats, and (when the plug-ins may be asked) one thread of its
// own for the plug-ins, so that one plug-in call runs at a time. The threads see only this
// record, their own decoders, the files and the cache table, which nobody changes while
// they run; the image lock and the caller's items stay with the loading thread, which
// takes the finished thumbnails in list order.
//
// The record lives on the heap, holds its own copy of the folder and shares the names
// (nobody changes them once the record is made) and the cache table. It is counted by
// references: one for the loading thread and one per thread. A load that stops while a
// thread is busy with one file (a huge image, a plug-in call that does not return) leaves
// that thread to end by itself; the last one out frees the record.
// Nothing a thread reads lies on the loading thread's stack.
class DecodePool {
public:
    struct Setup {
        const std::wstring* folder = nullptr;
        // Shared with the threads rather than copied: a large folder's names take a while to copy.
        std::shared_ptr<const std::vector<std::wstring>> names;
        int32_t cellWidth = 0, cellHeight = 0;
        bool cacheTooSmall = false, cacheAvailable = false;
        std::wstring pluginFolder;
        bool plugins = false;  // the plug-ins may be asked
        bool pixelsInViewOnly = false;  // cached names outside the view are taken without decoding
        // The names' last-write times as the listing read them (null: each file is asked).
        const std::vector<FileTime>* times = nullptr;
    };

    // table: the open cache table the names are taken from (null: every name is decoded),
    // shared with the loader, which writes the cache from its records after the pass.
    DecodePool(const Setup& setup, std::shared_ptr<const FolderCache> table)
        : setup_(setup), folder_(*setup.folder), namesKept_(setup.names), names_(*namesKept_),
          times_(setup.times && setup.times->size() == names_.size() ? *setup.times : std::vector<FileTime>()),
          table_(std::move(table)), source_(names_.size(), 0), results_(names_.size()) {
        // The caller's folder and names may be gone while a thread still runs: only the
        // copies above are used.
        setup_.folder = nullptr;
        setup_.names.reset();
        setup_.times = nullptr;
        // A warm visit: the loading thread takes the records of the names out of view itself
        // (lookAhead), which costs less than handing each to a thread and back.
        lookFirst_ = setup_.pixelsInViewOnly && table_ && table_->isOpen() && !times_.empty();
        state_.assign(names_.size(), lookFirst_ ? NameWaiting : NameQueued);
        queued_ = lookFirst_ ? 0 : names_.size();
    }
    DecodePool(const DecodePool&) = delete;
    DecodePool& operator=(const DecodePool&) = delete;

    // The loading thread's reference: ends the threads (see shutDown) and lets go.
    struct Release {
        void operator()(DecodePool* pool) const {
            pool->shutDown();
            pool->release();
        }
    };

    // Starts up to count decoding threads and the plug-in thread. Returns the number of
    // decoding threads started; with none, the caller makes each name itself (makeHere).
    int start(int count) {
        if (!wake_.valid() || !pluginWake_.valid() || !done_.valid()) return 0;
        for (int i = 0; i < count && i < kMaxWorkers; ++i) {
            Worker& w = workers_[i];
            w.pool = this;
            if (!startThread(w)) break;
            ++started_;
        }
        if (started_ > 0 && setup_.plugins) {
            pluginWorker_.pool = this;
            pluginWorker_.plugins = true;
            pluginStarted_ = startThread(pluginWorker_);
        }
        if (started_ > 0 && setup_.plugins && !pluginStarted_) {
            shutDown();  // plug-in names would wait for ever
            return 0;
        }
        return started_;
    }
    bool threaded() const { return started_ > 0; }

    // Stops the threads. When none is busy with a name they all end at once and are
    // joined; otherwise every one is left to end by itself (a busy decode of a PNG or TIFF
    // gives up within a few rows, a plug-in call whenever it returns) and the loading
    // thread goes on at once. Thumbnails never taken are released with the record.
    void shutDown() {
        bool busy = false;
        {
            WorkerLockScope hold(lock_);
            quit_ = true;
            busy = busy_ > 0;
            wakeIdle(true);
        }
        cancel_.store(true, std::memory_order_relaxed);
        for (int i = 0; i < started_; ++i) endThread(workers_[i], busy);
        if (pluginStarted_) endThread(pluginWorker_, busy);
        started_ = 0;
        pluginStarted_ = false;
    }

    void setVisible(size_t first, size_t end) {
        WorkerLockScope hold(lock_);
        first = first < names_.size() ? first : names_.size();
        end = end < names_.size() ? end : names_.size();
        if (first == visibleFirst_ && end == visibleEnd_) return;
        visibleFirst_ = first;
        visibleEnd_ = end;
        wakeIdle();
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
        // A copy to be shown: the stream and record stay with the original.
        out.stream = nullptr;
        out.streamSize = 0;
        out.cacheRecord = 0;
        return true;
    }

    // Name i is the one the loading thread needs now. NameDone: its thumbnail moves into
    // out with where it came from; NameFailed: nothing made it; anything else: not yet.
    NameState collect(size_t i, ThumbnailData& out, ThumbnailSource& source) {
        WorkerLockScope hold(lock_);
        if (next_ != i) {
            next_ = i;  // the name every thread may take whatever is held ahead
            wakeIdle();
        }
        const auto st = NameState(state_[i]);
        if (st == NameDone || st == NameReady) {
            out = results_[i];
            results_[i].pixels = nullptr;
            results_[i].stream = nullptr;
            source = ThumbnailSource(source_[i]);
            if (st == NameDone) {
                --outstanding_;  // room for one more ahead
                wakeIdle();
            }
        }
        if (st == NameDone || st == NameReady || st == NameFailed) state_[i] = NameCollected;
        return st == NameReady ? NameDone : st;
    }

    // Loading thread, before it waits for name i: the names up to kMaxAhead past it that no
    // thread has looked at are sorted out. Those out of view whose cache record is shown as
    // stored are taken here without decoding; the rest go to the decoding threads.
    void lookAhead(size_t i) {
        if (!lookFirst_) return;
        const size_t end = i + kMaxAhead < names_.size() ? i + kMaxAhead : names_.size();
        bool queued = false;
        for (; looked_ < end; ++looked_) {
            const size_t j = looked_;
            bool inView = false;
            {
                WorkerLockScope hold(lock_);
                if (state_[j] != NameWaiting) continue;
                inView = j >= visibleFirst_ && j < visibleEnd_;
                state_[j] = NameTaken;  // no thread takes it while it is looked at
            }
            ThumbnailData data;
            const bool taken = !inView && takeCachedRecord(*table_, names_[j], times_[j], setup_.cellWidth,
                                                           setup_.cellHeight, setup_.cacheTooSmall,
                                                           setup_.cacheAvailable, data);
            WorkerLockScope hold(lock_);
            if (taken) {
                results_[j] = data;
                source_[j] = uint8_t(ThumbnailSource::Cache);
                state_[j] = NameReady;
            } else {
                state_[j] = NameQueued;
                ++queued_;
                if (j < low_) low_ = j;
                queued = true;
            }
        }
        if (queued) {
            WorkerLockScope hold(lock_);
            wakeIdle();
        }
    }

    // Without threads: name i made on the calling thread, the same way a thread makes it.
    void makeHere(size_t i) {
        {
            WorkerLockScope hold(lock_);
            if (state_[i] != NameQueued) return;
            state_[i] = NameTaken;
            --queued_;
            ++outstanding_;
        }
        ThumbnailData data;
        bool inView = false;
        {
            WorkerLockScope hold(lock_);
            inView = i >= visibleFirst_ && i < visibleEnd_;
        }
        ThumbnailSource source = make(here_, i, false, inView, data);
        if (source == ThumbnailSource::ForPlugins) {
            finish(i, source, data, false);
            {
                WorkerLockScope hold(lock_);
                if (state_[i] != NamePlugins) return;
                state_[i] = NamePluginTaken;
                --pluginQueued_;
                ++outstanding_;
            }
            source = make(here_, i, true, inView, data);
        }
        finish(i, source, data, false);
    }

    // True when any file was decoded (not taken from the cache), even if no thumbnail
    // came of it: the cache must then be rewritten.
    bool decodedAny() {
        WorkerLockScope hold(lock_);
        return decodedAny_;
    }

    // Files not shown, or shown without a stream, for lack of memory.
    size_t outOfMemory() {
        WorkerLockScope hold(lock_);
        return outOfMemory_;
    }

    double cpuMsMax() const { return cpuMsMax_; }
    double cpuMsTotal() const { return cpuMsTotal_; }

    // Waits at most one slice for any thread to finish a file (through the caller's wait
    // when it has one, which may also end early).
    void waitSlice(const FolderLoadHooks& hooks) {
        if (hooks.waitForThreads)
            hooks.waitForThreads(done_.nativeHandle(), kWaitSliceMs);
        else
            done_.wait(kWaitSliceMs);
    }

private:
    struct Worker {
        DecodePool* pool = nullptr;
        bool plugins = false;
        double cpuMs = 0;
        WorkerThread thread;
    };

    ~DecodePool() {
        for (ThumbnailData& r : results_) releaseThumbnailData(r);  // pixels and streams never collected
    }

    void release() {
        if (refs_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
    }

    bool startThread(Worker& w) {
        refs_.fetch_add(1, std::memory_order_relaxed);
        g_liveDecodingThreads.fetch_add(1);
        if (w.thread.start(&DecodePool::run, &w)) return true;
        g_liveDecodingThreads.fetch_sub(1);
        refs_.fetch_sub(1, std::memory_order_relaxed);
        return false;
    }

    // A thread that is busy may use the record for a while yet: it is let go (its
    // reference keeps the record); an idle one ends at once and its processor time counts.
    void endThread(Worker& w, bool busy) {
        if (busy) {
            w.thread.detach();
            return;
        }
        w.thread.join();
        noteCpu(w.cpuMs);
    }

    static void run(void* argument) {
        auto& w = *static_cast<Worker*>(argument);
        DecodePool* pool = w.pool;
        {
            ImageDecoder decoder;  // the thread's own, for all its files
            decoder.setStopFlag(&pool->cancel_);
            pool->loop(w, decoder);
        }
        w.cpuMs = threadCpuMilliseconds();
        pool->release();  // may free the record: nothing of it is touched after this
        g_liveDecodingThreads.fetch_sub(1);
    }

    void noteCpu(double ms) {
        cpuMsMax_ = ms > cpuMsMax_ ? ms : cpuMsMax_;
        cpuMsTotal_ += ms;
    }

    // Lock held: lets the waiting threads look again when there may be a name for them (every
    // one with all). Under Wine each release is a round trip to its server: a warm load that
    // takes every record itself must not pay one per name.
    void wakeIdle(bool all = false) {
        if (idle_ > 0 && (all || queued_ > 0 || waitingInView())) {
            wake_.release(idle_);
            idle_ = 0;
        }
        if (pluginIdle_ > 0 && (all || pluginQueued_ > 0)) {
            pluginWake_.release(pluginIdle_);
            pluginIdle_ = 0;
        }
    }

    // Lock held: a name in view that nobody has looked at (a decoding thread takes it).
    bool waitingInView() const {
        for (size_t i = visibleFirst_; i < visibleEnd_; ++i)
            if (state_[i] == NameWaiting) return true;
        return false;
    }

    // Lock held: the next name in state `wanted`, those in view first, then the lowest; only
    // the name the loading thread needs when kMaxAhead are already held.
    size_t take(NameState wanted) {
        const bool room = outstanding_ < kMaxAhead;
        for (size_t i = visibleFirst_; i < visibleEnd_; ++i) {
            const bool mine = state_[i] == wanted || (wanted == NameQueued && state_[i] == NameWaiting);
            if (mine && (room || i == next_)) return i;
        }
        size_t i = kNone;
        if (wanted == NameQueued) {
            // Every queued name lies at or above low_.
            if (queued_ == 0) return kNone;
            while (low_ < state_.size() && state_[low_] != NameQueued) ++low_;
            i = low_;
        } else {
            // Names reach the plug-ins out of order, after a decoding thread gave them up.
            for (i = next_; i < state_.size() && state_[i] != NamePlugins; ++i) {
            }
        }
        if (i >= state_.size()) return kNone;
        return room || i == next_ ? i : kNone;
    }

    ThumbnailSource make(ImageDecoder& decoder, size_t i, bool plugins, bool inView, ThumbnailData& out) {
        const std::wstring path = joinPath(folder_, names_[i]);
        bool decoded = false;
        bool memoryShort = false;
        ThumbnailSource source = ThumbnailSource::Failed;
        if (plugins) {
            if (makePluginThumbnail(decoder, path, setup_.pluginFolder, setup_.cellWidth, setup_.cellHeight,
                                    setup_.cacheTooSmall, setup_.cacheAvailable, out, &decoded, &memoryShort))
                source = ThumbnailSource::Decoded;
        } else {
            source = makeItemThumbnail(decoder, table_.get(), names_[i], path, setup_.cellWidth, setup_.cellHeight,
                                       setup_.cacheTooSmall, setup_.cacheAvailable, out, &decoded,
                                       inView || !setup_.pixelsInViewOnly, &memoryShort,
                                       times_.empty() ? nullptr : &times_[i]);
        }
        if (decoded || memoryShort) {
            WorkerLockScope hold(lock_);
            if (decoded) decodedAny_ = true;
            if (memoryShort) ++outOfMemory_;
        }
        return source;
    }

    // Records what became of name i (taken by the caller, counted in outstanding_).
    // taken: by a decoding thread (counted in busy_), not by makeHere.
    void finish(size_t i, ThumbnailSource source, ThumbnailData& data, bool taken) {
        {
            WorkerLockScope hold(lock_);
            if (source == ThumbnailSource::Cache || source == ThumbnailSource::Decoded) {
                results_[i] = data;
                data.pixels = nullptr;
                data.stream = nullptr;
                source_[i] = uint8_t(source);
                state_[i] = NameDone;
                if (taken) --busy_;
            } else {
                if (taken) --busy_;
                state_[i] = source == ThumbnailSource::ForPlugins && setup_.plugins ? NamePlugins : NameFailed;
                if (state_[i] == NamePlugins) ++pluginQueued_;
                --outstanding_;
                wakeIdle();
            }
        }
        done_.release();
    }

    void loop(Worker& w, ImageDecoder& decoder) {
        const NameState wanted = w.plugins ? NamePlugins : NameQueued;
        for (;;) {
            size_t i = kNone;
            bool inView = false;
            {
                WorkerLockScope hold(lock_);
                if (quit_) return;
                i = take(wanted);
                if (i == kNone) {
                    ++(w.plugins ? pluginIdle_ : idle_);
                } else {
                    if (state_[i] == NameQueued) --queued_;
                    if (state_[i] == NamePlugins) --pluginQueued_;
                    state_[i] = w.plugins ? NamePluginTaken : NameTaken;
                    ++outstanding_;
                    ++busy_;
                    inView = i >= visibleFirst_ && i < visibleEnd_;
                }
            }
            if (i == kNone) {
                (w.plugins ? pluginWake_ : wake_).wait(-1);
                continue;
            }
            ThumbnailData data;
            const ThumbnailSource source = make(decoder, i, w.plugins, inView, data);
            finish(i, source, data, true);
        }
    }

    Setup setup_;
    const std::wstring folder_;
    const std::shared_ptr<const std::vector<std::wstring>> namesKept_;
    const std::vector<std::wstring>& names_;
    const std::vector<FileTime> times_;  // empty, or one per name
    const std::shared_ptr<const FolderCache> table_;
    std::atomic<int> refs_{1};           // the loading thread's and one per started thread
    std::atomic<bool> cancel_{false};    // the decoders' stop flag, set by shutDown
    std::vector<uint8_t> state_;   // NameState, under lock_
    std::vector<uint8_t> source_;  // ThumbnailSource of a NameDone name
    std::vector<ThumbnailData> results_;
    WorkerLock lock_;
    WorkerSemaphore wake_;        // one count per idle decoding thread woken
    WorkerSemaphore pluginWake_;  // the same for the plug-in thread
    WorkerSemaphore done_;        // one count per finished name
    Worker workers_[kMaxWorkers];
    Worker pluginWorker_;
    ImageDecoder here_;  // makeHere's
    int started_ = 0;
    bool pluginStarted_ = false;
    int idle_ = 0, pluginIdle_ = 0;
    size_t outstanding_ = 0;  // names taken or done and not yet collected
    int busy_ = 0;            // names a decoding thread is making now
    size_t next_ = 0;         // the name the loading thread needs
    size_t low_ = 0;          // no queued name below this one
    size_t queued_ = 0;       // names in NameQueued
    size_t pluginQueued_ = 0; // names in NamePlugins
    bool lookFirst_ = false;  // names start as NameWaiting and lookAhead sorts them out
    size_t looked_ = 0;       // lookAhead has seen every name below this one (loading thread)
    size_t visibleFirst_ = 0, visibleEnd_ = 0;
    bool quit_ = false;
    bool decodedAny_ = false;
    size_t outOfMemory_ = 0;
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
void askVisible(const FolderLoadHooks& hooks, DecodePool& pool, size_t filled, size_t next) {
    if (!hooks.visibleSlots) return;
    size_t first = 0, end = 0;
    hooks.visibleSlots(first, end);
    const auto nameOf = [&](size_t slot) { return slot < filled ? next : next + (slot - filled); };
    pool.setVisible(nameOf(first), nameOf(end));
}

// Waits for name i of the pass: pumps (afterFile with `done`) and passes the view on at
// least every kWaitSliceMs. Returns the stop request that ended the wait, or None with
// state NameDone (data and source filled) or NameFailed.
LoadStop waitForName(DecodePool& pool, size_t i, size_t done, bool secondPass, const FolderLoadHooks& hooks,
                     const std::atomic<LoadStop>* stop, const std::function<void()>& whileWaiting,
                     NameState& state, ThumbnailData& data, ThumbnailSource& source) {
    for (;;) {
        state = pool.collect(i, data, source);
        if (state == NameDone || state == NameFailed) return LoadStop::None;
        if (!pool.threaded()) {
            pool.makeHere(i);
            continue;
        }
        pool.waitSlice(hooks);
        whileWaiting();
        const LoadStop stopped = afterFile(hooks, done, secondPass, stop);
        if (stopped != LoadStop::None) return stopped;
    }
}

// Opening a folder's data file (index lookup and the walk over its records), on a thread of
// its own while the loading thread lists the folder.
// On that thread it takes the image lock itself (a thread that shows no window may wait for it
// plainly); on the loading thread the caller holds it.
struct CacheOpening {
    const CacheLocation* location = nullptr;
    const std::wstring* folder = nullptr;
    FolderCache* table = nullptr;
    FolderDataLookup lookup;
    double milliseconds = 0;
    WorkerSemaphore done;

    void open() {
        const Clock::time_point start = Clock::now();
        table->release();
        if (findFolderData(*location, *folder, lookup)) table->openFile(lookup.dataPath);
        milliseconds = millisecondsSince(start);
    }
    static void runAside(void* argument) {
        auto& job = *static_cast<CacheOpening*>(argument);
        {
            ImageLockGuard lock;
            job.open();
        }
        job.done.release();
    }
};

// Loading thread, image lock released: waits for a helper thread's semaphore, pumping through
// afterFile meanwhile. Returns the first stop asked for (the helper is waited for all the same).
LoadStop waitPumping(WorkerSemaphore& done, const FolderLoadHooks& hooks, const std::atomic<LoadStop>* stop) {
    LoadStop stopped = LoadStop::None;
    for (;;) {
        const bool ended =
            hooks.waitForThreads ? hooks.waitForThreads(done.nativeHandle(), kWaitSliceMs) : done.wait(kWaitSliceMs);
        if (ended) return stopped;
        if (stopped == LoadStop::None) stopped = afterFile(hooks, 0, false, stop);
    }
}

// Listing the folder, on a thread of its own while the loading thread shows the first records
// of the folder's data file.
struct FolderListing {
    const std::wstring* folder = nullptr;
    const FolderLoadSettings* settings = nullptr;
    const std::vector<std::wstring>* pluginExtensions = nullptr;
    std::vector<DirectoryEntry> files;
    WorkerSemaphore done;

    static void run(void* argument) {
        auto& job = *static_cast<FolderListing*>(argument);
        job.files = listImageFiles(*job.folder, job.settings->filter, job.settings->hiddenMask, *job.pluginExtensions);
        job.done.release();
    }
};

// Records of the data file read ahead of the listing: at most this many, with streams of at
// most this many bytes in all (a few cells of the largest size).
constexpr size_t kLeadingRecords = 128;
constexpr size_t kLeadingStreamBytes = size_t(4) << 20;

// A screen shown from the data file's first records before the folder is listed: the item
// count it was shown with, the names of the records whose files were current, and the slots
// given copies through itemPreview.
struct EarlyScreen {
    bool listed = false;  // hooks.listed was called with count
    uint32_t count = 0;
    std::vector<std::wstring> names;
    std::vector<size_t> previewed;
};

// A record's stream decoded and fitted as a decoding thread makes a cached name in view.
bool thumbnailFromLeadingRecord(ImageDecoder& decoder, const LeadingRecord& record, int32_t cellWidth,
                                int32_t cellHeight, ThumbnailData& out) {
    LoadInfo info;
    if (!decodeStoredStream(record.stream.data(), record.stream.size(), record.thumbWidth, record.thumbHeight,
                            cellWidth, cellHeight, decoder, info, nullptr))
        return false;
    info.facts = record.facts;
    DisplaySize display;
    if (!makeThumbnail(info, cellWidth, cellHeight, false, display)) return false;
    takeLoadedThumbnail(info, display, true, out);
    return true;
}

// Lock held, the listing running on its own thread: the cells in view are shown from the data
// file's first records whose files are unchanged (a warm visit in list order of the last one).
void showLeadingRecords(const CacheLocation& location, const std::wstring& folder, const FolderLoadHooks& hooks,
                        EarlyScreen& early) {
    std::vector<LeadingRecord> records;
    uint32_t count = 0;
    if (readLeadingRecords(location, folder, kLeadingRecords, kLeadingStreamBytes, records, count) && count <= kMaxFolderItems) {
        size_t current = 0;
        for (; current < records.size(); ++current) {
            FileTime now;
            if (!getLastWriteTime(joinPath(folder, records[current].name).c_str(), now) ||
                !(now == records[current].facts.lastWriteTime))
                break;
        }
        if (current > 0 && hooks.listed(count)) {
            early.listed = true;
            early.count = count;
            size_t first = 0, end = 0;
            if (hooks.visibleSlots) hooks.visibleSlots(first, end);
            ImageDecoder decoder;
            for (size_t j = first; j < end && j < current; ++j) {
                ThumbnailData data;
                if (!thumbnailFromLeadingRecord(decoder, records[j], location.cellWidth, location.cellHeight, data)) break;
                hooks.itemPreview(j, records[j].name, data);
                pageFree(data.pixels);  // when the receiver did not take it
                early.previewed.push_back(j);
            }
            for (size_t k = 0; k < current; ++k) early.names.push_back(std::move(records[k].name));
        }
    }
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
    std::vector<uint32_t> recordOf;  // each view's record index + 1 in the new file
    std::atomic<bool> giveUp{false};
    bool made = false;
    WorkerSemaphore done;

    static void run(void* argument) {
        auto& job = *static_cast<CacheWriteJob*>(argument);
        job.made = prepareFolderData(*job.location, job.views->data(), job.views->size(), job.prepared,
                                     [&job] { return !job.giveUp.load(); }, &job.recordOf);
        job.done.release();
    }
};

// committed runs right after the commit, the lock still held, with each view's record in the
// new data file.
bool writeCacheOffThread(const CacheLocation& location, const std::wstring& folder,
                         const std::vector<CacheItemView>& views, const FolderLoadHooks& hooks,
                         const std::function<bool()>& ask, FolderLoadStats& stats,
                         const std::function<void(const std::vector<uint32_t>&)>& committed) {
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
        job.made = prepareFolderData(location, views.data(), views.size(), job.prepared, proceed, &job.recordOf);
    }
    if (!job.made) return false;
    if (job.giveUp.load()) {
        discardFolderData(job.prepared);
        return false;
    }
    records = job.prepared.records;
    const Clock::time_point locked = Clock::now();
    LockScope lock(hooks);
    const bool done = commitFolderData(location, folder, job.prepared);
    if (done && committed) committed(job.recordOf);
    stats.writeLockMs = millisecondsSince(locked);
    return done;
}

}  // namespace

int decodingThreadsRunning() { return g_liveDecodingThreads.load(); }

bool waitForDecodingThreads(int milliseconds) {
    WorkerSemaphore pause;  // never released: its timed wait is the pause between looks
    const Clock::time_point start = Clock::now();
    while (g_liveDecodingThreads.load() > 0) {
        if (millisecondsSince(start) >= milliseconds || !pause.valid()) return false;
        pause.wait(5);
    }
    return true;
}

void setAutomaticLoadWorkers(int32_t workers) { g_automaticWorkers.store(workers > 0 ? workers : 0); }

LoadStop loadFolderThumbnails(const std::wstring& folder, const FolderLoadSettings& settings,
                              const FolderLoadHooks& hooks, FolderLoadStats& stats,
                              const std::atomic<LoadStop>* stop) {
    stats = FolderLoadStats{};
    const Clock::time_point start = Clock::now();
    const double cpuStart = threadCpuMilliseconds();
    if (folder.empty()) return LoadStop::None;

    const CacheLocation location{settings.cacheFolder, settings.cellWidth, settings.cellHeight};
    // Shared with the decoding threads (a thread of a stopped load may still read it) and with
    // the receiver of recordsIn, whose items may name its records after the load.
    auto tableKept = std::make_shared<FolderCache>();
    FolderCache& table = *tableKept;
    CacheOpening opening;
    opening.location = &location;
    opening.folder = &folder;
    opening.table = &table;

    Clock::time_point phase = Clock::now();
    const auto namesKept = std::make_shared<std::vector<std::wstring>>();
    std::vector<std::wstring>& names = *namesKept;
    std::vector<FileTime> times;  // each name's last-write time as listed
    const bool pluginsUsable = pluginFolderUsable(settings.pluginFolder.c_str());
    EarlyScreen early;
    LoadStop earlyStop = LoadStop::None;
    std::vector<std::wstring> pluginExtensions = settings.pluginExtensions;
    if ((settings.filter < 1 || settings.filter > 5) && pluginsUsable) {
        LockScope lock(hooks);  // the plug-ins are loaded to be asked
        for (std::wstring& pattern : listPlugins(settings.pluginFolder.c_str(), PluginListMode::Patterns))
            pluginExtensions.push_back(std::move(pattern));
    }
    {
        // The folder's cache is opened on a thread of its own while the folder is listed (both
        // take a while for a large folder). The loading thread never waits for either while it
        // holds the image lock: its pump may send to a window of a thread that waits for it.
        WorkerThread opener;
        bool openingTried = false, openingAside = false;
        const auto startOpening = [&] {
            if (!settings.useCache || openingTried) return;
            openingTried = true;
            openingAside = opening.done.valid() && opener.start(&CacheOpening::runAside, &opening);
        };
        FolderListing listing;
        listing.folder = &folder;
        listing.settings = &settings;
        listing.pluginExtensions = &pluginExtensions;
        // A warm visit of a large folder shows its first screen from the data file while the
        // folder is listed, which alone takes longer than the user should wait for it.
        WorkerThread lister;
        if (settings.useCache && settings.warmPixelsInViewOnly && hooks.listed && hooks.itemPreview &&
            listing.done.valid() && lister.start(&FolderListing::run, &listing)) {
            {
                LockScope lock(hooks);
                showLeadingRecords(location, folder, hooks, early);
            }
            // The data file is walked once the early screen is out, not beside it.
            startOpening();
            earlyStop = waitPumping(listing.done, hooks, stop);
            lister.join();
        } else {
            startOpening();
            FolderListing::run(&listing);
        }
        std::vector<DirectoryEntry>& files = listing.files;
        names.reserve(files.size());
        times.reserve(files.size());
        for (DirectoryEntry& e : files) {
            names.push_back(std::move(e.name));
            times.push_back(e.lastWriteTime);
        }
        stats.enumerateMs = millisecondsSince(phase);
        if (openingAside) {
            const LoadStop stopped = waitPumping(opening.done, hooks, stop);
            if (earlyStop == LoadStop::None) earlyStop = stopped;
            opener.join();
        } else if (settings.useCache) {
            LockScope lock(hooks);
            opening.open();
        }
    }
    stats.listed = names.size();
    if (names.size() > kMaxFolderItems) {
        names.resize(kMaxFolderItems);
        times.resize(kMaxFolderItems);
    }
    stats.kept = names.size();
    stats.earlyScreen = early.listed;
    if (earlyStop != LoadStop::None) {
        stats.totalMs = millisecondsSince(start);
        return earlyStop;
    }
    // The early screen stands when the folder still holds the records' names first (and the
    // items can take the folder's count); otherwise it goes and the items are made again.
    bool earlyKept = early.listed && !names.empty() && early.names.size() <= names.size();
    for (size_t k = 0; earlyKept && k < early.names.size(); ++k) earlyKept = names[k] == early.names[k];
    if (earlyKept && names.size() != early.count) earlyKept = hooks.relisted && hooks.relisted(names.size());
    if (early.listed && !earlyKept && !early.previewed.empty() && hooks.previewsDropped) {
        LockScope lock(hooks);
        hooks.previewsDropped();
    }
    if (names.empty()) {
        stats.totalMs = millisecondsSince(start);
        return LoadStop::None;
    }
    if (!earlyKept && hooks.listed && !hooks.listed(names.size())) {
        stats.totalMs = millisecondsSince(start);
        return LoadStop::None;
    }

    // A cache made for a larger cell is rewritten at the new size.
    bool cacheNeedsRewrite = opening.lookup.cacheTooLarge;
    // Leaving thumbnails unresampled only pays when a second pass will replace them, and that
    // pass runs over items that came with a cache: without a usable table every file is
    // decoded now and must be made at its final size.
    const bool cacheTooSmall = opening.lookup.cacheTooSmall && table.isOpen();
    const std::wstring openedDataPath = table.isOpen() ? opening.lookup.dataPath : std::wstring();  // the data file that table reads
    if (table.isOpen() && hooks.recordsIn) {
        LockScope lock(hooks);
        hooks.recordsIn(tableKept);
    }
    const bool hadTable = table.isOpen();
    stats.cacheOpened = hadTable;
    stats.cacheTooSmall = cacheTooSmall;
    stats.openCacheMs = opening.milliseconds;

    // First pass: every name in list order, made on the decoding threads (the names in view
    // first); filled items are packed at the front.
    phase = Clock::now();
    const int wanted = workerCount(settings.workers);
    const bool plugins = g_pluginLoader || pluginsUsable;
    DecodePool::Setup setup;
    setup.folder = &folder;
    setup.names = namesKept;
    setup.cellWidth = settings.cellWidth;
    setup.cellHeight = settings.cellHeight;
    setup.cacheTooSmall = cacheTooSmall;
    setup.cacheAvailable = hadTable;
    setup.pluginFolder = settings.pluginFolder;
    setup.plugins = plugins;
    setup.pixelsInViewOnly = settings.warmPixelsInViewOnly;
    setup.times = &times;
    std::unique_ptr<DecodePool, DecodePool::Release> pool(
        new DecodePool(setup, hadTable ? std::shared_ptr<const FolderCache>(tableKept) : nullptr));
    askVisible(hooks, *pool, 0, 0);
    stats.workers = pool->start(wanted < int(names.size()) ? wanted : int(names.size()));

    std::vector<size_t> slotName;  // slot -> index into names
    slotName.reserve(names.size());
    // Thumbnails in view that the threads finished before the load reached them are shown
    // at once, as copies at the slot each will take if every name before it loads.
    std::vector<uint8_t> previewed(hooks.itemPreview && (pool->threaded() || earlyKept) ? names.size() : 0, 0);
    size_t previewsOut = 0;  // shown copies whose names the load has not reached yet
    if (earlyKept) {
        for (size_t j : early.previewed) previewed[j] = 1;
        previewsOut = early.previewed.size();
        stats.previews = early.previewed.size();
    }
    const auto previewAhead = [&](size_t next) {
        if (previewed.empty()) return;
        size_t first = 0, end = 0;
        pool->visible(first, end);
        for (size_t j = first > next ? first : next + 1; j < end; ++j) {
            if (previewed[j]) continue;
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
        ThumbnailData data;
        ThumbnailSource source = ThumbnailSource::Failed;
        NameState state = NameFailed;
        pool->lookAhead(i);
        stopped = waitForName(
            *pool, i, i, false, hooks, stop,
            [&] {
                askVisible(hooks, *pool, slotName.size(), i);
                previewAhead(i);
            },
            state, data, source);
        if (stopped != LoadStop::None) break;
        {
            LockScope lock(hooks);
            if (state == NameFailed) {
                ++stats.failed;
                // Every copy shown ahead now stands one slot too far.
                if (previewsOut > 0) {
                    if (hooks.previewsDropped) hooks.previewsDropped();
                    std::fill(previewed.begin() + std::ptrdiff_t(i) + 1, previewed.end(), uint8_t(0));
                    previewsOut = 0;
                }
            } else {
                if (source == ThumbnailSource::Cache) {
                    ++stats.fromCache;
                    if (!data.pixels) ++stats.withoutPixels;
                } else {
                    ++stats.decoded;
                    if (pool->threaded()) ++stats.decodedByWorkers;
                }
                if (!previewed.empty() && previewed[i]) --previewsOut;
                const size_t slot = slotName.size();
                slotName.push_back(i);
                if (hooks.itemReady)
                    hooks.itemReady(slot, names[i], data, false);
                else
                    releaseThumbnailData(data);
            }
        }
        askVisible(hooks, *pool, slotName.size(), i + 1);
        previewAhead(i + 1);
        stopped = afterFile(hooks, i + 1, false, stop);
        if (stopped != LoadStop::None) break;
    }
    // Ends the threads and releases what was made ahead and never delivered. After a stop a
    // thread busy with a file is not waited for: it ends by itself.
    pool->shutDown();
    if (pool->decodedAny()) cacheNeedsRewrite = true;
    stats.outOfMemory += pool->outOfMemory();
    stats.workerCpuMsMax = pool->cpuMsMax();
    stats.workerCpuMsTotal = pool->cpuMsTotal();
    pool.reset();
    // Without a receiver nothing refers to the records any more; after a stop a thread left
    // to finish its file may still read them, and the last reference closes the table.
    if (!hooks.recordsIn && stopped == LoadStop::None) table.release();
    stats.shown = slotName.size();
    stats.firstPassMs = millisecondsSince(phase);

    // Second pass: the cache was made for a smaller cell, so its thumbnails (shown stretched
    // meanwhile) are replaced by fresh decodes at the current size, on the decoding threads
    // again, the cells in view first; items are replaced in slot order.
    phase = Clock::now();
    if (stopped == LoadStop::None && cacheTooSmall && hadTable && !slotName.empty()) {
        stats.secondPass = true;
        const auto shownKept = std::make_shared<std::vector<std::wstring>>();
        std::vector<std::wstring>& shown = *shownKept;
        shown.reserve(slotName.size());
        for (size_t slot : slotName) shown.push_back(names[slot]);
        setup.names = shownKept;
        setup.cacheTooSmall = false;
        setup.cacheAvailable = true;
        setup.times = nullptr;  // the files are asked again: the first pass may have taken long
        pool.reset(new DecodePool(setup, nullptr));
        const auto passView = [&] {
            if (!hooks.visibleSlots) return;
            size_t first = 0, end = 0;
            hooks.visibleSlots(first, end);
            pool->setVisible(first, end);
        };
        passView();
        pool->start(wanted < int(shown.size()) ? wanted : int(shown.size()));
        for (size_t slot = 0; slot < shown.size(); ++slot) {
            ThumbnailData data;
            ThumbnailSource source = ThumbnailSource::Failed;
            NameState state = NameFailed;
            stopped = waitForName(*pool, slot, slot, true, hooks, stop, passView, state, data, source);
            if (stopped != LoadStop::None) break;
            if (state == NameDone) {
                LockScope lock(hooks);
                ++stats.refreshed;
                if (hooks.itemReady)
                    hooks.itemReady(slot, shown[slot], data, true);
                else
                    releaseThumbnailData(data);
            }
            passView();
            stopped = afterFile(hooks, slot + 1, true, stop);
            if (stopped != LoadStop::None) break;
        }
        pool->shutDown();
        if (pool->decodedAny()) cacheNeedsRewrite = true;
        stats.outOfMemory += pool->outOfMemory();
        stats.workerCpuMsMax = pool->cpuMsMax() > stats.workerCpuMsMax ? pool->cpuMsMax() : stats.workerCpuMsMax;
        stats.workerCpuMsTotal += pool->cpuMsTotal();
        pool.reset();
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
            if (views[slot].tableRecord) views[slot].table = table.isOpen() ? &table : nullptr;
        }
        stats.cacheWriteAttempted = true;
        const auto proceed = [&] {
            const bool go = (!hooks.duringWrite || hooks.duringWrite()) && !(stop && stop->load() != LoadStop::None);
            if (!go) stats.cacheWriteGivenUp = true;
            return go;
        };
        // Once the new file is in place the items may name its records instead of holding
        // their streams: the old file (mapped for as long as the items refer to it) is let go
        // and removed when the index no longer lists it.
        const auto moveRecords = [&](const std::vector<uint32_t>& recordOf) {
            if (!hooks.recordsIn || !hooks.recordMoved) return;
            auto fresh = std::make_shared<FolderCache>();
            bool larger = false, smaller = false;
            if (!openFolderCache(location, folder, *fresh, larger, smaller) ||
                fresh->count() != stats.cacheRecords)
                return;
            hooks.recordsIn(fresh);
            for (size_t slot = 0; slot < recordOf.size(); ++slot)
                if (recordOf[slot]) hooks.recordMoved(slot, recordOf[slot]);
            stats.recordsMoved = true;
            tableKept.reset();  // the last reference to the old file, unless another pane reads it
            if (!openedDataPath.empty()) removeUnlistedDataFile(location, openedDataPath);
        };
        stats.cacheWritten = writeCacheOffThread(location, folder, views, hooks, proceed, stats, moveRecords);
        if (stats.cacheWriteGivenUp && stop) stopped = stop->load();
        stats.stop = stopped;
    }
    stats.writeCacheMs = millisecondsSince(phase);
    stats.totalMs = millisecondsSince(start);
    stats.loaderCpuMs = threadCpuMilliseconds() - cpuStart;
    return stopped;
}
