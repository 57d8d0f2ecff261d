// pravel-probe thumbs: a pane's load of one folder without windows (enumeration, cache,
// decode and fit, second pass, cache write), printed as a JSON summary.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/platform.h"
#include "thumbs/folder_loader.h"
#include "tools/probe/probe.h"

namespace {

std::string milliseconds(double ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", ms);
    return text;
}

bool parseCell(const std::string& text, int32_t& width, int32_t& height) {
    int w = 0, h = 0;
    char tail = 0;
    if (std::sscanf(text.c_str(), "%dx%d%c", &w, &h, &tail) != 2 || w < 1 || h < 1 || w > 65535 || h > 65535)
        return false;
    width = w;
    height = h;
    return true;
}

int runThumbs(const probe::Args& args) {
    const probe::Args positional =
        probe::positionals(args, {"--cell", "--cache", "--filter", "--hidden", "--plugins", "--workers", "--in-view"});
    if (positional.size() != 1) {
        probe::err("usage: pravel-probe thumbs FOLDER --cell WxH --cache DIR [--filter N] [--hidden MASK] [--no-cache] [--plugins DIR] [--workers N] [--in-view N]\n");
        return 2;
    }
    FolderLoadSettings settings;
    std::string value;
    if (probe::optionValue(args, "--cell", value) && !parseCell(value, settings.cellWidth, settings.cellHeight)) {
        probe::err("pravel-probe thumbs: --cell wants WxH, e.g. 148x111\n");
        return 2;
    }
    if (probe::optionValue(args, "--cache", value)) settings.cacheFolder = probe::toPath(value);
    settings.useCache = !settings.cacheFolder.empty() && !probe::hasFlag(args, "--no-cache");
    if (probe::optionValue(args, "--filter", value)) settings.filter = std::atoi(value.c_str());
    if (probe::optionValue(args, "--hidden", value)) settings.hiddenMask = uint32_t(std::strtoul(value.c_str(), nullptr, 0));
    // Decoding threads: 0 (the default) one per processor as in the panes, 1 none.
    if (probe::optionValue(args, "--workers", value)) settings.workers = std::atoi(value.c_str());
    if (probe::optionValue(args, "--plugins", value)) {
        // The listing takes the folder from its settings, the dispatch from the program's.
        settings.pluginFolder = probe::toPath(value);
        probe::copyPluginFolderSetting(settings.pluginFolder);
    }
    // As a pane does: only the first N slots are in view, and only their cached thumbnails
    // are decoded (the others keep their records).
    size_t inView = 0;
    if (probe::optionValue(args, "--in-view", value)) {
        inView = size_t(std::strtoul(value.c_str(), nullptr, 10));
        settings.warmPixelsInViewOnly = true;
    }
    const std::wstring folder = probe::toPath(positional[0]);

    // The probe plays the pane: it keeps the thumbnails and hands them back for the write.
    std::vector<ThumbnailItem> items;
    FolderLoadHooks hooks;
    hooks.listed = [&items](size_t count) {
        items.assign(count, ThumbnailItem{});
        return true;
    };
    hooks.itemReady = [&items](size_t slot, const std::wstring& name, ThumbnailData& data, bool replaced) {
        ThumbnailItem& item = items[slot];
        if (replaced) releaseItemThumbnail(item);
        fillThumbnailItem(item, data, name.c_str());
    };
    if (settings.warmPixelsInViewOnly) {
        hooks.visibleSlots = [inView](size_t& first, size_t& end) {
            first = 0;
            end = inView;
        };
    }
    hooks.itemForCache = [&items](size_t slot, CacheItemView& view) { view = cacheViewOf(items[slot]); };
    FolderLoadStats stats;
    const LoadStop stopped = loadFolderThumbnails(folder, settings, hooks, stats);
    for (ThumbnailItem& item : items) releaseItemThumbnail(item);

    std::string json = "{";
    json += "\"folder\":" + probe::jsonString(probe::toUtf8(folder));
    json += ",\"cell\":[" + std::to_string(settings.cellWidth) + "," + std::to_string(settings.cellHeight) + "]";
    json += ",\"listed\":" + std::to_string(stats.listed);
    json += ",\"kept\":" + std::to_string(stats.kept);
    json += ",\"shown\":" + std::to_string(stats.shown);
    json += ",\"fromCache\":" + std::to_string(stats.fromCache);
    json += ",\"decoded\":" + std::to_string(stats.decoded);
    json += ",\"failed\":" + std::to_string(stats.failed);
    json += ",\"workers\":" + std::to_string(stats.workers);
    json += ",\"decodedByWorkers\":" + std::to_string(stats.decodedByWorkers);
    json += ",\"cacheOpened\":" + std::string(stats.cacheOpened ? "true" : "false");
    json += ",\"cacheTooSmall\":" + std::string(stats.cacheTooSmall ? "true" : "false");
    json += ",\"secondPass\":" + std::string(stats.secondPass ? "true" : "false");
    json += ",\"refreshed\":" + std::to_string(stats.refreshed);
    json += ",\"cacheWriteAttempted\":" + std::string(stats.cacheWriteAttempted ? "true" : "false");
    json += ",\"cacheWritten\":" + std::string(stats.cacheWritten ? "true" : "false");
    json += ",\"cacheRecords\":" + std::to_string(stats.cacheRecords);
    json += ",\"stopCode\":" + std::to_string(int(stopped));
    json += ",\"ms\":{\"enumerate\":" + milliseconds(stats.enumerateMs);
    json += ",\"openCache\":" + milliseconds(stats.openCacheMs);
    json += ",\"firstPass\":" + milliseconds(stats.firstPassMs);
    json += ",\"secondPass\":" + milliseconds(stats.secondPassMs);
    json += ",\"writeCache\":" + milliseconds(stats.writeCacheMs);
    json += ",\"writeLock\":" + milliseconds(stats.writeLockMs);
    json += ",\"writeLongestGap\":" + milliseconds(stats.writeLongestGapMs);
    json += ",\"total\":" + milliseconds(stats.totalMs);
    json += ",\"loaderCpu\":" + milliseconds(stats.loaderCpuMs);
    json += ",\"workerCpuTotal\":" + milliseconds(stats.workerCpuMsTotal) + "}";
    json += ",\"withoutPixels\":" + std::to_string(stats.withoutPixels);
    json += "}\n";
    probe::out(json);
    return stats.cacheWriteAttempted && !stats.cacheWritten ? 1 : 0;
}

}  // namespace

PROBE_COMMAND(thumbs, "thumbs FOLDER --cell WxH --cache DIR [--filter N] [--hidden MASK] [--no-cache] [--plugins DIR] [--workers N] [--in-view N]",
              "load a folder's thumbnails as a pane does (cache, decode, fit, second pass, cache write); JSON summary",
              runThumbs);
