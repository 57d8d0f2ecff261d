// A pane's load of one folder without any window: list the folder's image files, open its
// cache, take each thumbnail from the cache or decode and fit it, run the second pass when
// the cache was made for a smaller cell, and rewrite the cache when anything was decoded.
// The thumbnail panes and `pravel-probe thumbs` run the same code; the pane supplies the
// image lock, keeps the thumbnails and pumps its messages between files through the hooks.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/directory_list.h"
#include "image/decoded_image.h"
#include "thumbs/thumbnail_cache.h"
#include "thumbs/thumbnail_item.h"
#include "thumbs/thumbnail_scaling.h"

constexpr size_t kMaxFolderItems = 50000;

// File-type filter: 0 all types (and any unknown value), 1 BMP, 2 PNG, 3 JPEG, 4 TIFF, 5 GIF.
// The extensions it lists, each with its dot (".jpg").
std::vector<std::wstring> filterExtensions(int32_t filter);

// Lists folder's image files: the files whose extension from the last dot is one of the
// filter's (then, for filter 0 and unknown values, a plug-in extension, given as ".ext" or
// "*.ext"), case ignored, '?' in a plug-in's standing for any one character: what a
// "*<ext>" listing per extension keeps when only extensions exactly as long as the
// pattern's count (the short-name match of ".jpe" must not bring in "a.jpeg"). Folders and
// files whose attributes share a bit with hiddenMask are skipped. Returns all names in
// list-box order (compareListNames); the caller keeps at most kMaxFolderItems.
std::vector<std::wstring> enumerateImages(const std::wstring& folder, int32_t filter, uint32_t hiddenMask,
                                          const std::vector<std::wstring>& pluginExtensions = {});
// The same files with their attributes and last-write times as the listing saw them. A name
// that two patterns match is listed once.
std::vector<DirectoryEntry> listImageFiles(const std::wstring& folder, int32_t filter, uint32_t hiddenMask,
                                           const std::vector<std::wstring>& pluginExtensions = {});

// One finished thumbnail as a pane item holds it.
struct ThumbnailData {
    BitmapInfoHeader header;        // with palette0: the item's 44-byte bitmap information
    PaletteEntry palette0;
    uint8_t* pixels = nullptr;      // page block (pageFree); belongs to whoever holds the data
    FileFacts facts;
    int32_t thumbWidth = 0;         // size of the pixels
    int32_t thumbHeight = 0;
    int32_t displayWidth = 0;       // drawing size in the cell
    int32_t displayHeight = 0;
    bool cacheAvailable = false;    // the folder had a usable cache when it was loaded
    // The thumbnail compressed as the cache stores it: a stream made with it (page block,
    // belongs to whoever holds the data), or the record index + 1 of the data file it came
    // from, when the pixels are that record's stream decoded (0: neither). A thumbnail taken
    // from the cache without decoding has only the record and no pixels.
    uint8_t* stream = nullptr;
    uint32_t streamSize = 0;
    uint32_t cacheRecord = 0;
};

// Releases what data holds (pixels and stream).
void releaseThumbnailData(ThumbnailData& data);
// Releases an item's pixels and stream and forgets its record; the rest stays.
void releaseItemThumbnail(ThumbnailItem& item);

enum class ThumbnailSource { Failed, Cache, Decoded, ForPlugins };

// One file, on whichever thread calls it with its own decoder: from table (when given, open
// and current for the file), otherwise through the built-in decoders with the cell as decode
// target (setting *decoded, when given, as soon as a decode succeeded); then makeThumbnail
// with cacheTooSmall. On success out receives the pixels and facts (out.cacheAvailable =
// cacheAvailable). ForPlugins: no built-in decoder made it and the plug-ins may be offered
// it (makePluginThumbnail). Anything but success leaves nothing allocated.
// Every thumbnail made comes with its stream (as the cache write would compress it) unless
// its pixels are a current record's stream decoded, when it keeps the record instead.
// wantPixels false: a current record whose stream would be shown as it decodes is taken
// without decoding (facts, sizes and the record only). *outOfMemory is set when memory
// for the file's pixels or stream could not be had. listedTime, when given, is the file's
// last-write time as the folder listing read it (otherwise the file is asked).
ThumbnailSource makeItemThumbnail(ImageDecoder& decoder, const FolderCache* table, const std::wstring& name,
                                  const std::wstring& path, int32_t cellWidth, int32_t cellHeight, bool cacheTooSmall,
                                  bool cacheAvailable, ThumbnailData& out, bool* decoded = nullptr,
                                  bool wantPixels = true, bool* outOfMemory = nullptr,
                                  const FileTime* listedTime = nullptr);
// The thumbnail of a current record that would be shown as it is stored, taken without
// decoding (facts, sizes and the record only), as makeItemThumbnail does with wantPixels
// false; lastWriteTime is the file's as the folder listing read it. False when the record is
// missing, not current or would be decoded and fitted.
bool takeCachedRecord(const FolderCache& table, const std::wstring& name, const FileTime& lastWriteTime,
                      int32_t cellWidth, int32_t cellHeight, bool cacheTooSmall, bool cacheAvailable,
                      ThumbnailData& out);
// The same through the plug-ins of pluginFolder (loadPluginFallback: one plug-in call at a
// time in the process).
bool makePluginThumbnail(ImageDecoder& decoder, const std::wstring& path, const std::wstring& pluginFolder,
                         int32_t cellWidth, int32_t cellHeight, bool cacheTooSmall, bool cacheAvailable,
                         ThumbnailData& out, bool* decoded = nullptr, bool* outOfMemory = nullptr);

// Moves info's current thumbnail (after makeThumbnail) into out.
void takeLoadedThumbnail(LoadInfo& info, const DisplaySize& display, bool cacheAvailable, ThumbnailData& out);

// A pane item from a finished thumbnail: bitmap information, pixels and stream (the item
// takes them), record, facts, sizes and cacheAvailable; the name is set when name is given
// (the second pass keeps it). The item's old pixels and stream are not touched: release them
// first when replacing.
void fillThumbnailItem(ThumbnailItem& item, ThumbnailData& data, const wchar_t* name);
// What the cache write needs of a pane item.
CacheItemView cacheViewOf(const ThumbnailItem& item);

struct FolderLoadSettings {
    int32_t cellWidth = 148;   // "ThImgW"
    int32_t cellHeight = 111;  // "ThImgH"
    bool useCache = true;      // "UseCache"
    std::wstring cacheFolder;  // the cache folder beside the settings file
    int32_t filter = 0;
    uint32_t hiddenMask = 2;   // "Hidden"
    std::vector<std::wstring> pluginExtensions;
    // Decoding threads, which make every thumbnail (cache entries and every built-in
    // format; the loading thread only schedules and fills items): 0 one per processor (at
    // most 8), n exactly n (1: one file after another). Files only a plug-in decodes go to
    // one more thread of their own. The results are the same whichever number is used.
    int32_t workers = 0;
    // A thumbnail of the cache outside the cells in view is taken without decoding its
    // stream (the item keeps only its record; the pane decodes it when the cell comes into
    // view). Off, every cached stream is decoded during the load.
    bool warmPixelsInViewOnly = false;
    // "Path" "SPI", the load's own copy: when it names an existing folder, the patterns of
    // its image plug-ins join pluginExtensions for filter 0 (listed under the image lock, as
    // it loads them), and files no built-in decoder makes are offered to its plug-ins.
    std::wstring pluginFolder;
};

// Why a load ended before its end: the pane was told to stop and clear itself, or its
// thread to end.
enum class LoadStop : int32_t { None = 0, Clear, EndThread };

// Every hook may be left empty.
struct FolderLoadHooks {
    // The image lock around enumeration, cache opening, each item delivered, and the end of
    // the cache write (putting its data file in place and updating the index). The decoding
    // threads never take it.
    std::function<void()> lock;
    std::function<void()> unlock;
    // After the enumeration (lock released), with the number of names kept (at most
    // kMaxFolderItems, never 0). Return false to give up (the pane could not allocate its
    // items); the load then ends with LoadStop::None and nothing else happens.
    std::function<bool(size_t names)> listed;
    // A warm visit may call listed before the listing, with the data file's count of records,
    // and show the cells in view through itemPreview from its first records (lock held). When
    // the listing starts with the same names that screen stands: if the folder now holds
    // another number of names, relisted (lock released) resizes the items, keeping what they
    // show; false, or no receiver, and previewsDropped and listed follow as for any other
    // listing that disagrees.
    std::function<bool(size_t names)> relisted;
    // A thumbnail is ready (lock held). First pass: slot is the next free item (filled items
    // are packed at the front in list order); second pass (replaced = true): the slot whose
    // old pixels it replaces (the receiver frees them). The receiver takes data.pixels;
    // name is the file's name without its folder.
    std::function<void(size_t slot, const std::wstring& name, ThumbnailData& data, bool replaced)> itemReady;
    // After every file of either pass, lock released: the pane pumps its messages here.
    // filesDone counts the files of the current pass. Any result but None stops the load
    // and becomes its result.
    std::function<LoadStop(size_t filesDone, bool secondPass)> afterFile;
    // Before the cache write (lock released), when one will happen: the pane shows "Save".
    std::function<void()> beforeWrite;
    // The cache write reads the items through this (lock released): fill view for slot. The
    // pixels it names are read by the write's own thread until the write ends, so the items
    // must stay as they are until then.
    std::function<void(size_t slot, CacheItemView& view)> itemForCache;
    // Asked at least every 20 ms while the cache write compresses its records on a thread of
    // its own (lock released): the pane answers what other threads send it meanwhile. Return
    // false to give the write up; the old data file and the index stay as they were.
    std::function<bool()> duringWrite;
    // The slots in view, [first, end) (lock released, asked whenever the loader waits or
    // after a file). The names they will hold are decoded before the others, and what the
    // decoding threads finished of them is shown ahead of its turn through itemPreview.
    // Items are still filled in list order through itemReady.
    std::function<void(size_t& first, size_t& end)> visibleSlots;
    // How the loader waits (at most milliseconds, lock released) for a decoding thread to
    // finish a file: on `finished`, a semaphore of the platform layer (its native handle),
    // of which it takes one count when it returns true. The pane returns early when a
    // message arrives for its thread as well (false), so that it is pumped at once instead
    // of at the end of the slice. Empty: a plain wait on the semaphore.
    std::function<bool(void* finished, int milliseconds)> waitForThreads;
    // A copy of a thumbnail in view that a decoding thread finished before the load reached
    // its name (lock held): slot is the one it takes if every name before it loads, beyond
    // the filled items. The receiver takes data.pixels and frees what the slot showed. The
    // name comes again through itemReady, to the same slot, when the load reaches it.
    std::function<void(size_t slot, const std::wstring& name, ThumbnailData& data)> itemPreview;
    // A name before the shown copies failed, so they stand one slot too far (lock held): the
    // receiver frees every item beyond the filled ones. The copies come again at their slots.
    std::function<void()> previewsDropped;
    // The data file whose records the items' cacheRecord name (lock held): given once the
    // folder's cache is open, and again after a cache write with the file it put in place,
    // right before recordMoved tells every slot its record there (the receiver then frees
    // the slot's stream: the file holds it). The receiver keeps the table for as long as
    // its items refer to it, and may read it from any thread through its copy functions.
    std::function<void(const std::shared_ptr<FolderCache>& table)> recordsIn;
    std::function<void(size_t slot, uint32_t cacheRecord)> recordMoved;
};

// Decoding threads of earlier loads that have not ended yet. A load that stops does not
// wait for a thread busy with one file: that thread ends by itself (a PNG or TIFF decode
// gives up within a few rows, other files when they are made, a plug-in call when it
// returns, which may be never). Such a thread uses only memory of its own, the files and
// the private heap; the process waits for them (bounded) before it tears those down.
int decodingThreadsRunning();
// Waits up to milliseconds for them to end; true when none is left.
bool waitForDecodingThreads(int milliseconds);

// What a `workers` setting of 0 means from now on: 0 (the start value) one thread per
// processor, n > 0 exactly n (1: the one-thread load). Measurements compare the two.
void setAutomaticLoadWorkers(int32_t workers);

struct FolderLoadStats {
    size_t listed = 0;      // names found by the enumeration
    size_t kept = 0;        // names loaded (at most kMaxFolderItems)
    size_t shown = 0;       // items filled
    size_t fromCache = 0;   // first-pass thumbnails taken from the cache
    size_t decoded = 0;     // first-pass thumbnails decoded
    size_t failed = 0;      // names left out
    size_t refreshed = 0;   // items replaced by the second pass
    bool cacheOpened = false;
    bool cacheTooSmall = false;
    bool secondPass = false;
    bool cacheWriteAttempted = false;
    bool cacheWritten = false;  // false after an attempt: the pane shows message row 10
    bool cacheWriteGivenUp = false;  // the write was stopped half-way (no message then)
    int workers = 0;            // decoding threads started (0: none could be, the loading thread made all)
    size_t decodedByWorkers = 0;  // first-pass thumbnails decoded on those threads
    size_t previews = 0;        // thumbnails shown ahead of their turn (itemPreview calls)
    size_t withoutPixels = 0;   // first-pass thumbnails taken from the cache without decoding
    size_t outOfMemory = 0;     // files not shown, or shown without a stream, for lack of memory
    bool recordsMoved = false;  // after the write, the items refer to the new data file
    bool earlyScreen = false;   // the first screen was shown from the data file before the listing (listed was called for it)
    // Processor time of the loading thread during the load, and the most and the sum any
    // decoding thread (the plug-in thread included) used, milliseconds (for measurements: on an idle machine the load
    // takes about the largest of the first two).
    double loaderCpuMs = 0, workerCpuMsMax = 0, workerCpuMsTotal = 0;
    uint32_t cacheRecords = 0;
    LoadStop stop = LoadStop::None;
    // The cache write: how long it held the image lock, and the longest the loading thread
    // went without asking duringWrite, milliseconds.
    double writeLockMs = 0, writeLongestGapMs = 0;
    // Wall time of each phase, milliseconds.
    double enumerateMs = 0, openCacheMs = 0, firstPassMs = 0, secondPassMs = 0, writeCacheMs = 0, totalMs = 0;
};

// Runs the whole load of folder. Returns LoadStop::None when it ran to its end (or found
// nothing, or `listed` gave up), otherwise what afterFile returned or the value of
// *stop (checked after every file, at least every 20 ms while waiting for the decoding
// threads, whose afterFile calls then repeat the last count, and with duringWrite while the
// cache write runs; a write stopped so is given up and the load returns *stop). The decoding
// threads run at most a fixed number of finished thumbnails ahead of the loading thread.
// When it returns, no cache-write thread runs, and no decoding thread either unless the
// load stopped while one was busy (decodingThreadsRunning). Items are delivered through the
// hooks; the summary
// goes to stats.
LoadStop loadFolderThumbnails(const std::wstring& folder, const FolderLoadSettings& settings,
                              const FolderLoadHooks& hooks, FolderLoadStats& stats,
                              const std::atomic<LoadStop>* stop = nullptr);
