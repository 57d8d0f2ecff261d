// A pane's decoded pixels within a fixed budget: which items keep them (the cells in view and
// a margin around them), and the threads that decode an item's compressed thumbnail back to
// pixels when its cell comes into view. Portable: the pane (Windows) drives it, the tests
// run it natively.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "base/platform_threads.h"
#include "image/decoded_image.h"
#include "thumbs/thumbnail_item.h"

// Decoded pixels one pane keeps at most, beyond the cells in view (which always keep theirs):
// 64 MiB holds about 1,300 thumbnails of the default 148 x 111 cell, or 46 of 800 x 600.
constexpr size_t kPanePixelBudget = size_t(64) << 20;

// Bytes of an item's 24-bit pixels (what it holds, or would hold once decoded again).
size_t itemPixelBytes(const ThumbnailItem& item);

// The items that keep pixels: the view [first, end) always, then as much of one view's worth
// of items after and before it as fits the budget, growing outwards (after first, then
// before, one item at a time). *keepFirst / *keepEnd bound the range; order lists it in the
// order its pixels are wanted: the view from its start, then outwards.
void pixelKeepRange(const ThumbnailItem* items, int count, int first, int end, size_t budget, int* keepFirst,
                    int* keepEnd, std::vector<int>* order = nullptr);

// One compressed thumbnail to be decoded back: the stream as the cache holds it, copied (the
// item may go while it is decoded), and the size it was stored at.
struct PixelJob {
    int slot = 0;
    uint32_t ticket = 0;  // the item's pixelTicket while the job is out
    std::vector<uint8_t> stream;
    int32_t width = 0;
    int32_t height = 0;
    // When the stream cannot be had or decoded (the data file was deleted or replaced since):
    // the image file, made again for this cell.
    std::wstring path;
    int32_t cellWidth = 0;
    int32_t cellHeight = 0;
};
struct PixelResult {
    int slot = 0;
    uint32_t ticket = 0;
    uint8_t* pixels = nullptr;  // page block, the taker's; null: the stream did not decode
    BitmapInfoHeader header;
    PaletteEntry palette0;
    bool outOfMemory = false;  // no memory for the pixels
};

// Decodes a job's stream as a visit from the cache would show it: the stored size,
// 24 bits (the cell never asks for less, as the stream already fits it); failing that, the
// job's image file as a load makes it.
bool decodePixelJob(ImageDecoder& decoder, const PixelJob& job, PixelResult& result);

// The threads that decode jobs, in the order given (the caller gives the cells in view
// first). Finished results wait until taken; notify is called (on a decoding thread) when
// one is ready and none was waiting, so that the owner can look.
class PixelRestorer {
public:
    explicit PixelRestorer(std::function<void()> notify = {}, int threads = 2);
    ~PixelRestorer();  // ends the threads (each finishes the job it is on)
    PixelRestorer(const PixelRestorer&) = delete;
    PixelRestorer& operator=(const PixelRestorer&) = delete;

    // Adds jobs after those still waiting. Starts the threads on first use; false when none
    // could be started (the jobs are then decoded by take).
    bool submit(std::vector<PixelJob>& jobs);
    // Drops the jobs not started yet and returns them (slot and ticket) so that their items
    // can be asked for again.
    std::vector<PixelJob> cancelWaiting();
    // A finished result, if any. Without threads it decodes one waiting job here.
    bool take(PixelResult& result);
    // Stops the threads and releases waiting jobs and untaken results.
    void shutDown();
    size_t waiting();

private:
    static void run(void* argument);
    void loop();

    std::function<void()> notify_;
    int threadCount_;
    WorkerLock lock_;
    WorkerSemaphore wake_;
    std::vector<PixelJob> queue_;  // in order from queueFront_
    size_t queueFront_ = 0;
    std::vector<PixelResult> done_;
    bool quit_ = false;
    bool notified_ = false;
    int idle_ = 0;
    int started_ = 0;
    bool startTried_ = false;
    WorkerThread threads_[4];
    ImageDecoder here_;
};
