// The headless folder load (see folder_loader.h).
#include "thumbs/folder_loader.h"

#include <algorithm>
#include <chrono>

#include "base/directory_list.h"
#include "base/platform.h"
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
                                  int32_t cellWidth, int32_t cellHeight, bool cacheTooSmall, uint8_t* decodedFlag,
                                  ThumbnailData& out) {
    ThumbnailSource source = ThumbnailSource::Failed;
    if (table && table->isOpen() && takeFromCache(*table, name, path, cellWidth, cellHeight))
        source = ThumbnailSource::Cache;
    else if (loadImage(path.c_str(), cellWidth, cellHeight, decodedFlag))
        source = ThumbnailSource::Decoded;
    else
        return ThumbnailSource::Failed;

    DisplaySize display;
    if (!makeThumbnail(g_loadInfo, cellWidth, cellHeight, cacheTooSmall, display)) return ThumbnailSource::Failed;
    takeLoadedThumbnail(display, table && table->isOpen(), out);
    return source;
}

void takeLoadedThumbnail(const DisplaySize& display, bool cacheAvailable, ThumbnailData& out) {
    DecodedImage* image = g_loadInfo.current;
    out = ThumbnailData{};
    out.header = image->header;
    out.palette0 = image->palette[0];
    out.pixels = image->pixels;
    image->pixels = nullptr;  // handed over
    out.facts = factsOf(g_loadInfo);
    out.thumbWidth = g_loadInfo.width;
    out.thumbHeight = g_loadInfo.height;
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
    item.lastWriteTime = data.facts.lastWriteTime;
    item.fileWidth = data.facts.fileWidth;
    item.fileHeight = data.facts.fileHeight;
    item.fileSize = data.facts.fileSize;
    item.format = data.facts.format;
    item.sourceDepth = data.facts.sourceDepth;
    item.commentCount = data.facts.commentCount;
    item.metaCount = data.facts.metaCount;
    item.interlaced = data.facts.interlaced;
    item.thumbWidth = data.thumbWidth;
    item.thumbHeight = data.thumbHeight;
    item.displayWidth = data.displayWidth;
    item.displayHeight = data.displayHeight;
    item.cacheAvailable = data.cacheAvailable ? 1 : 0;
}

CacheItemView cacheViewOf(const ThumbnailItem& item) {
    CacheItemView view;
    view.name = item.name;
    view.facts.lastWriteTime = item.lastWriteTime;
    view.facts.fileWidth = item.fileWidth;
    view.facts.fileHeight = item.fileHeight;
    view.facts.fileSize = item.fileSize;
    view.facts.format = item.format;
    view.facts.sourceDepth = item.sourceDepth;
    view.facts.commentCount = item.commentCount;
    view.facts.metaCount = item.metaCount;
    view.facts.interlaced = item.interlaced;
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

int afterFile(const FolderLoadHooks& hooks, size_t done, bool secondPass, const std::atomic<int>* stop) {
    int code = hooks.afterFile ? hooks.afterFile(done, secondPass) : 0;
    if (code == 0 && stop) code = stop->load();
    return code;
}

}  // namespace

int loadFolderThumbnails(const std::wstring& folder, const FolderLoadSettings& settings, const FolderLoadHooks& hooks,
                         FolderLoadStats& stats, const std::atomic<int>* stop) {
    stats = FolderLoadStats{};
    const Clock::time_point start = Clock::now();
    if (folder.empty()) return 0;

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
        return 0;
    }
    if (hooks.listed && !hooks.listed(names.size())) {
        stats.totalMs = millisecondsSince(start);
        return 0;
    }

    const CacheLocation location{settings.cacheFolder, settings.cellWidth, settings.cellHeight};
    uint8_t decodedFlag = 0;
    bool cacheTooSmall = false;
    FolderCache table;
    phase = Clock::now();
    if (settings.useCache) {
        LockScope lock(hooks);
        bool larger = false;
        openFolderCache(location, folder, table, larger, cacheTooSmall);
        if (larger) decodedFlag = 1;  // rewrite the cache at the new size
        // Leaving thumbnails unresampled only pays when a second pass will replace them, and
        // that pass runs over items that came with a cache: without a usable table every file
        // is decoded now and must be made at its final size.
        if (!table.isOpen()) cacheTooSmall = false;
    }
    stats.cacheOpened = table.isOpen();
    stats.cacheTooSmall = cacheTooSmall;
    stats.openCacheMs = millisecondsSince(phase);

    // First pass: every name in list order; filled items are packed at the front.
    phase = Clock::now();
    std::vector<size_t> slotName;  // slot -> index into names
    slotName.reserve(names.size());
    int code = 0;
    for (size_t i = 0; i < names.size(); ++i) {
        {
            LockScope lock(hooks);
            ThumbnailData data;
            const ThumbnailSource source =
                makeItemThumbnail(table.isOpen() ? &table : nullptr, names[i], joinPath(folder, names[i]),
                                  settings.cellWidth, settings.cellHeight, cacheTooSmall, &decodedFlag, data);
            if (source == ThumbnailSource::Failed) {
                ++stats.failed;
            } else {
                (source == ThumbnailSource::Cache ? stats.fromCache : stats.decoded)++;
                const size_t slot = slotName.size();
                slotName.push_back(i);
                if (hooks.itemReady)
                    hooks.itemReady(slot, names[i], data, false);
                else
                    pageFree(data.pixels);
            }
        }
        code = afterFile(hooks, i + 1, false, stop);
        if (code != 0) break;
    }
    const bool hadTable = table.isOpen();
    table.release();
    stats.shown = slotName.size();
    stats.firstPassMs = millisecondsSince(phase);

    // Second pass: the cache was made for a smaller cell, so its thumbnails (shown stretched
    // meanwhile) are replaced by fresh decodes at the current size.
    phase = Clock::now();
    if (code == 0 && cacheTooSmall && hadTable) {
        stats.secondPass = true;
        for (size_t slot = 0; slot < slotName.size(); ++slot) {
            {
                LockScope lock(hooks);
                const std::wstring& name = names[slotName[slot]];
                const std::wstring path = joinPath(folder, name);
                if (loadImage(path.c_str(), settings.cellWidth, settings.cellHeight, &decodedFlag)) {
                    DisplaySize display;
                    if (makeThumbnail(g_loadInfo, settings.cellWidth, settings.cellHeight, false, display)) {
                        ThumbnailData data;
                        takeLoadedThumbnail(display, true, data);
                        ++stats.refreshed;
                        if (hooks.itemReady)
                            hooks.itemReady(slot, name, data, true);
                        else
                            pageFree(data.pixels);
                    }
                }
            }
            code = afterFile(hooks, slot + 1, true, stop);
            if (code != 0) break;
        }
    }
    stats.secondPassMs = millisecondsSince(phase);
    stats.stopCode = code;

    // The cache is rewritten whole when anything was decoded (or it was made for a larger cell).
    phase = Clock::now();
    if (code == 0 && settings.useCache && decodedFlag) {
        if (hooks.beforeWrite) hooks.beforeWrite();
        LockScope lock(hooks);
        std::vector<CacheItemView> views(slotName.size());
        for (size_t slot = 0; slot < slotName.size(); ++slot) {
            if (hooks.itemForCache) hooks.itemForCache(slot, views[slot]);
        }
        stats.cacheWriteAttempted = true;
        const auto proceed = [&] {
            const bool go = (!hooks.duringWrite || hooks.duringWrite()) && !(stop && stop->load() != 0);
            if (!go) stats.cacheWriteGivenUp = true;
            return go;
        };
        stats.cacheWritten =
            writeFolderCache(location, folder, views.data(), views.size(), &stats.cacheRecords, proceed);
        if (stats.cacheWriteGivenUp && stop) code = stop->load();
        stats.stopCode = code;
    }
    stats.writeCacheMs = millisecondsSince(phase);
    stats.totalMs = millisecondsSince(start);
    return code;
}
