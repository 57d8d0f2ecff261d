// A pane's pixel budget and the threads that decode thumbnails back (see pane_pixels.h).
#include "thumbs/pane_pixels.h"

#include <new>
#include <utility>

#include "thumbs/folder_loader.h"
#include "thumbs/resampler.h"
#include "thumbs/thumbnail_cache.h"

size_t itemPixelBytes(const ThumbnailItem& item) {
    if (item.thumbWidth <= 0 || item.thumbHeight <= 0) return 0;
    return rowStride24(item.thumbWidth) * size_t(item.thumbHeight);
}

void pixelKeepRange(const ThumbnailItem* items, int count, int first, int end, size_t budget, int* keepFirst,
                    int* keepEnd, std::vector<int>* order) {
    if (first < 0) first = 0;
    if (end > count) end = count;
    if (end < first) end = first;
    if (order) order->clear();
    size_t bytes = 0;
    for (int i = first; i < end; ++i) {
        bytes += itemPixelBytes(items[i]);
        if (order) order->push_back(i);
    }
    const int span = end - first;
    const int lowest = first - span > 0 ? first - span : 0;
    const int highest = end + span < count ? end + span : count;
    int lo = first, hi = end;
    // Outwards, one item after the view and one before it in turn, while the budget lasts.
    for (bool after = true; lo > lowest || hi < highest; after = !after) {
        int next = -1;
        if (after && hi < highest) {
            next = hi;
        } else if (!after && lo > lowest) {
            next = lo - 1;
        } else {
            continue;
        }
        const size_t more = itemPixelBytes(items[next]);
        if (bytes + more > budget) break;
        bytes += more;
        if (next == hi) ++hi; else --lo;
        if (order) order->push_back(next);
    }
    *keepFirst = lo;
    *keepEnd = hi;
}

bool decodePixelJob(ImageDecoder& decoder, const PixelJob& job, PixelResult& result) {
    result = PixelResult{};
    result.slot = job.slot;
    result.ticket = job.ticket;
    LoadInfo info;
    // The cell is given as the stored size itself: the stream fits its cell, so a visit from
    // the cache decodes it at full scale too.
    if (!decodeStoredStream(job.stream.data(), job.stream.size(), job.width, job.height, job.width, job.height,
                            decoder, info, &result.outOfMemory)) {
        if (job.path.empty() || result.outOfMemory) return false;
        ThumbnailData data;
        if (makeItemThumbnail(decoder, nullptr, std::wstring(), job.path, job.cellWidth, job.cellHeight, false, false,
                              data, nullptr, true, &result.outOfMemory) != ThumbnailSource::Decoded)
            return false;
        result.pixels = data.pixels;
        result.header = data.header;
        result.palette0 = data.palette0;
        data.pixels = nullptr;
        releaseThumbnailData(data);
        return true;
    }
    result.pixels = info.current->pixels;
    info.current->pixels = nullptr;
    result.header = info.current->header;
    result.palette0 = info.current->palette[0];
    return true;
}

PixelRestorer::PixelRestorer(std::function<void()> notify, int threads)
    : notify_(std::move(notify)), threadCount_(threads < 1 ? 1 : threads > 4 ? 4 : threads) {}

PixelRestorer::~PixelRestorer() { shutDown(); }

bool PixelRestorer::submit(std::vector<PixelJob>& jobs) {
    {
        WorkerLockScope hold(lock_);
        for (PixelJob& j : jobs) queue_.push_back(std::move(j));
        if (idle_ > 0) {
            wake_.release(idle_);
            idle_ = 0;
        }
    }
    jobs.clear();
    if (!startTried_) {
        startTried_ = true;
        if (wake_.valid())
            for (int i = 0; i < threadCount_; ++i)
                if (threads_[i].start(&PixelRestorer::run, this)) ++started_;
    }
    return started_ > 0;
}

std::vector<PixelJob> PixelRestorer::cancelWaiting() {
    WorkerLockScope hold(lock_);
    std::vector<PixelJob> cancelled;
    for (size_t i = queueFront_; i < queue_.size(); ++i) cancelled.push_back(std::move(queue_[i]));
    queue_.clear();
    queueFront_ = 0;
    return cancelled;
}

size_t PixelRestorer::waiting() {
    WorkerLockScope hold(lock_);
    return queue_.size() - queueFront_;
}

bool PixelRestorer::take(PixelResult& result) {
    PixelJob job;
    {
        WorkerLockScope hold(lock_);
        if (!done_.empty()) {
            result = done_.back();
            done_.pop_back();
            if (done_.empty()) notified_ = false;
            return true;
        }
        notified_ = false;
        if (started_ > 0 || queueFront_ >= queue_.size()) return false;
        job = std::move(queue_[queueFront_++]);
        if (queueFront_ == queue_.size()) {
            queue_.clear();
            queueFront_ = 0;
        }
    }
    decodePixelJob(here_, job, result);
    return true;
}

void PixelRestorer::shutDown() {
    {
        WorkerLockScope hold(lock_);
        quit_ = true;
        if (idle_ > 0) wake_.release(idle_);
        idle_ = 0;
    }
    for (int i = 0; i < started_; ++i) threads_[i].join();
    started_ = 0;
    WorkerLockScope hold(lock_);
    queue_.clear();
    queueFront_ = 0;
    for (PixelResult& r : done_) pageFree(r.pixels);
    done_.clear();
}

void PixelRestorer::run(void* argument) { static_cast<PixelRestorer*>(argument)->loop(); }

void PixelRestorer::loop() {
    ImageDecoder decoder;  // the thread's own
    for (;;) {
        PixelJob job;
        {
            WorkerLockScope hold(lock_);
            if (quit_) return;
            if (queueFront_ >= queue_.size()) {
                ++idle_;
            } else {
                job = std::move(queue_[queueFront_++]);
                if (queueFront_ == queue_.size()) {
                    queue_.clear();
                    queueFront_ = 0;
                }
            }
        }
        if (job.stream.empty() && job.width == 0) {
            wake_.wait(-1);
            continue;
        }
        PixelResult result;
        decodePixelJob(decoder, job, result);
        bool tell = false;
        {
            WorkerLockScope hold(lock_);
            if (quit_) {
                pageFree(result.pixels);
                return;
            }
            try {
                done_.push_back(result);
            } catch (const std::bad_alloc&) {
                pageFree(result.pixels);
                continue;
            }
            tell = !notified_;
            notified_ = true;
        }
        if (tell && notify_) notify_();
    }
}
