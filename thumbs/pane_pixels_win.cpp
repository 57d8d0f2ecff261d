// A pane's decoded pixels: kept for the cells in view and a margin, within kPanePixelBudget;
// every other item holds its thumbnail compressed, and a cell coming into view gets its
// pixels back from the restorer's threads. All on the pane's own thread.
#include <windows.h>

#include "base/directory_list.h"
#include "base/messages.h"
#include "base/platform.h"
#include "base/thread_messages.h"
#include "base/win_state.h"
#include "thumbs/pane.h"
#include "thumbs/pane_pixels.h"

namespace {

// A ticket that is never handed out: the item's pixels could not be made again, and it is
// not asked for until its thumbnail changes.
constexpr uint32_t kPixelsFailed = 0xFFFFFFFFu;

// Items beyond the filled ones during a load are copies shown ahead of their turn: they
// keep what they show until the load fills them.
int settledCount(const ThumbnailPane& pane) {
    if (!pane.items) return 0;
    return pane.loading ? (pane.filledCount < pane.itemCount ? pane.filledCount : pane.itemCount) : pane.itemCount;
}

PixelRestorer& restorerOf(ThumbnailPane& pane) {
    if (!pane.restorer) {
        HWND outer = pane.outerWindow;
        pane.restorer = std::make_unique<PixelRestorer>(
            [outer] { PostMessageW(outer, kPanePixelsMessage, 0, 0); }, 2);
    }
    return *pane.restorer;
}

void reportMemoryOnce(ThumbnailPane& pane) {
    if (pane.memoryReported) return;
    pane.memoryReported = true;
    PostMessageW(g_mainWindow, kCrossThreadMessage, CodeShowMessage, MsgThumbnailMemory);
}

// The job that decodes item i's compressed thumbnail back, false when it has none to copy.
bool jobFor(ThumbnailPane& pane, int i, PixelJob& job) {
    const ThumbnailItem& item = pane.items[i];
    job.slot = i;
    job.width = item.thumbWidth;
    job.height = item.thumbHeight;
    job.path = joinPath(pane.folder, item.name);
    job.cellWidth = paneSettings().thumbWidth;
    job.cellHeight = paneSettings().thumbHeight;
    if (item.stream) {
        try {
            job.stream.assign(item.stream, item.stream + item.streamSize);
        } catch (const std::bad_alloc&) {
            return false;
        }
        return true;
    }
    // A record that cannot be read any more leaves the image file to decode.
    if (!(item.cacheRecord && pane.records && pane.records->copyRecordStream(item.cacheRecord - 1, job.stream)))
        job.stream.clear();
    return true;
}

}  // namespace

void forgetPixelRequests(ThumbnailPane& pane) {
    if (pane.restorer) {
        pane.restorer->cancelWaiting();
        PixelResult r;
        while (pane.restorer->take(r)) pageFree(r.pixels);
    }
    if (!pane.items) return;
    for (int i = 0; i < pane.itemCount; ++i)
        if (pane.items[i].pixelTicket != kPixelsFailed) pane.items[i].pixelTicket = 0;
}

bool keepsPixelsNear(const ThumbnailPane& pane, int slot) {
    const int span = pane.cellEnd - pane.cellFirst;
    return slot >= pane.cellFirst - span && slot < pane.cellEnd + span;
}

void planPanePixels(ThumbnailPane& pane) {
    const int count = settledCount(pane);
    if (count == 0) return;
    int end = pane.cellEnd < count ? pane.cellEnd : count;
    int first = pane.cellFirst < end ? pane.cellFirst : end;
    int lo = 0, hi = 0;
    std::vector<int> order;
    pixelKeepRange(pane.items, count, first, end, kPanePixelBudget, &lo, &hi, &order);

    // Jobs not started yet are given again in the new order (the view first).
    if (pane.restorer) {
        for (const PixelJob& job : pane.restorer->cancelWaiting())
            if (job.slot < pane.itemCount && pane.items[job.slot].pixelTicket == job.ticket)
                pane.items[job.slot].pixelTicket = 0;
    }
    for (int i = 0; i < count; ++i) {
        ThumbnailItem& item = pane.items[i];
        if ((i < lo || i >= hi) && item.pixels && item.pixelsRestorable()) {
            pageFree(item.pixels);
            item.pixels = nullptr;
        }
    }
    std::vector<PixelJob> jobs;
    for (int i : order) {
        ThumbnailItem& item = pane.items[i];
        if (item.pixels || !item.pixelsRestorable() || item.pixelTicket != 0) continue;
        PixelJob job;
        if (!jobFor(pane, i, job)) {
            item.pixelTicket = kPixelsFailed;
            continue;
        }
        if (++pane.nextPixelTicket == kPixelsFailed || pane.nextPixelTicket == 0) pane.nextPixelTicket = 1;
        job.ticket = pane.nextPixelTicket;
        item.pixelTicket = job.ticket;
        jobs.push_back(std::move(job));
    }
    if (!jobs.empty()) restorerOf(pane).submit(jobs);
    // Between two looks the data file stays closed: the maintenance dialog may delete it and
    // a cache write replace it meanwhile (the loads read it themselves while they run).
    if (pane.records && !pane.loading) pane.records->letGo();
}

void collectPanePixels(ThumbnailPane& pane) {
    if (!pane.restorer) return;
    PixelResult r;
    while (pane.restorer->take(r)) {
        ThumbnailItem* item = pane.items && r.slot >= 0 && r.slot < pane.itemCount ? &pane.items[r.slot] : nullptr;
        if (!item || item->pixelTicket != r.ticket) {
            pageFree(r.pixels);  // the item changed or went meanwhile
            continue;
        }
        if (!r.pixels) {
            item->pixelTicket = kPixelsFailed;
            if (r.outOfMemory) reportMemoryOnce(pane);
            continue;
        }
        item->pixelTicket = 0;
        // Pixels made from a file that changed meanwhile may not fit the item's sizes.
        if (item->pixels || r.header.biWidth != item->thumbWidth || r.header.biHeight != item->thumbHeight) {
            pageFree(r.pixels);
            continue;
        }
        item->pixels = r.pixels;
        item->bitmapInfo = r.header;
        item->bitmapPalette = r.palette0;
        repaintItem(pane, r.slot);
    }
}

void endPanePixels(ThumbnailPane& pane) {
    if (pane.restorer) pane.restorer->shutDown();
    pane.restorer.reset();
}

void notePaneMemoryShort(ThumbnailPane& pane) { reportMemoryOnce(pane); }
