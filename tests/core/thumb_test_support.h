// Helpers shared by the thumbnail tests: scratch folders, 24-bit images and BMP files, and the
// item list of a pane stand-in for folder loads.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "base/directory_list.h"
#include "base/platform.h"
#include "image/decoded_image.h"
#include "thumbs/folder_loader.h"
#include "thumbs/resampler.h"

namespace thumbtest {

// A fresh empty folder below the test's working folder.
inline std::wstring scratchFolder(const std::wstring& name) {
    const std::wstring path = L"thumbtest_" + name;
    if (isDirectory(path.c_str())) {
        std::vector<DirectoryEntry> entries;
        listDirectory(path.c_str(), L"*", entries);
        for (const DirectoryEntry& e : entries) {
            // Subfolders are left: the tests that make one want it again.
            if (!(e.attributes & kAttributeDirectory)) deleteFileAt(joinPath(path, e.name).c_str());
        }
    } else {
        createDirectoryAt(path.c_str());
    }
    return path;
}

// A 24-bit bottom-up page block filled by pixel(x, yFromTop) -> 0xRRGGBB.
template <typename F>
uint8_t* makePixels(int32_t width, int32_t height, F pixel) {
    const size_t stride = rowStride24(width);
    auto* p = static_cast<uint8_t*>(pageAlloc(stride * size_t(height)));
    for (int32_t y = 0; y < height; ++y) {
        uint8_t* row = p + stride * size_t(height - 1 - y);
        for (int32_t x = 0; x < width; ++x) {
            const uint32_t c = pixel(x, y);
            row[3 * x] = uint8_t(c);
            row[3 * x + 1] = uint8_t(c >> 8);
            row[3 * x + 2] = uint8_t(c >> 16);
        }
    }
    return p;
}

// Writes a plain 24-bit BMP file.
template <typename F>
bool writeTestBmp(const std::wstring& path, int32_t width, int32_t height, F pixel) {
    const size_t stride = rowStride24(width);
    std::vector<uint8_t> file(54 + stride * size_t(height));
    auto put32 = [&file](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) file[at + i] = uint8_t(v >> (8 * i));
    };
    file[0] = 'B';
    file[1] = 'M';
    put32(2, uint32_t(file.size()));
    put32(10, 54);
    put32(14, 40);
    put32(18, uint32_t(width));
    put32(22, uint32_t(height));
    file[26] = 1;
    file[28] = 24;
    put32(34, uint32_t(stride * size_t(height)));
    uint8_t* pixels = makePixels(width, height, pixel);
    std::memcpy(file.data() + 54, pixels, stride * size_t(height));
    pageFree(pixels);
    return writeWholeFile(path.c_str(), file.data(), file.size());
}

// A pane stand-in's items for a folder load: sized when the folder is listed, handed back for
// the cache write, and the load stopped with LoadStop::Clear after stopAfter files of the first
// pass (0: never). A test adds the hooks that fill the items.
struct PaneStandIn {
    std::vector<ThumbnailItem> items;
    FolderLoadHooks hooks;
    size_t stopAfter = 0;
    PaneStandIn() {
        hooks.listed = [this](size_t n) {
            release();
            items.assign(n, ThumbnailItem{});
            return true;
        };
        hooks.itemForCache = [this](size_t slot, CacheItemView& view) { view = cacheViewOf(items[slot]); };
        hooks.afterFile = [this](size_t done, bool second) {
            return !second && stopAfter && done >= stopAfter ? LoadStop::Clear : LoadStop::None;
        };
    }
    PaneStandIn(const PaneStandIn&) = delete;  // the hooks hold this object's address
    PaneStandIn& operator=(const PaneStandIn&) = delete;
    ~PaneStandIn() { release(); }
    void release() {
        for (auto& i : items) releaseItemThumbnail(i);
        items.clear();
    }
};

}  // namespace thumbtest
