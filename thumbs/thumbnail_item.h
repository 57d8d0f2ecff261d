// ThumbnailItem: one shown file of a thumbnail pane. Portable, so that the cache code and
// the selection helpers can work on it outside Windows too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "base/platform.h"
#include "image/decoded_image.h"

constexpr int kMaxPaneItems = 50000;

struct ThumbnailItem {
    void* imageWindow = nullptr;  // HWND of the image cell
    void* textWindow = nullptr;   // HWND of the text area inside it
    int32_t shown = 0;            // the cell is currently shown
    BitmapInfoHeader bitmapInfo;  // 40-byte header of the thumbnail pixels ...
    PaletteEntry bitmapPalette;   // ... followed by one palette entry (44 bytes in all)
    uint8_t* pixels = nullptr;    // 24-bit thumbnail pixels, owned by the item; null = empty slot
    wchar_t name[260] = {};       // file name without its folder

    // One block in the same order as in LoadInfo and in a cache record; copied as a block.
    FileTime lastWriteTime;
    int32_t fileWidth = 0;
    int32_t fileHeight = 0;
    uint32_t fileSize = 0;
    int32_t format = 0;  // ImageFormat, 0 for a plug-in image
    int32_t sourceDepth = 0;
    int32_t commentCount = 0;
    int32_t metaCount = 0;
    int32_t interlaced = 0;

    int32_t selected = 0;  // 0 no, 1 yes, 2 slot emptied while selected items are removed
    int32_t thumbWidth = 0;
    int32_t thumbHeight = 0;
    int32_t displayWidth = 0;
    int32_t displayHeight = 0;
    uint8_t cacheAvailable = 0;  // the folder had a usable cache when the item was loaded
};

// Size of the block lastWriteTime .. interlaced (40 bytes, offsets 520..559 of a cache record).
constexpr size_t kLoadFactsSize = offsetof(LoadInfo, interlaced) + sizeof(int32_t) - offsetof(LoadInfo, lastWriteTime);
static_assert(kLoadFactsSize == 40, "the load facts block is 40 bytes");
static_assert(offsetof(ThumbnailItem, interlaced) + sizeof(int32_t) - offsetof(ThumbnailItem, lastWriteTime) == kLoadFactsSize,
              "ThumbnailItem's block lastWriteTime..interlaced must match LoadInfo's");
static_assert(offsetof(ThumbnailItem, bitmapPalette) == offsetof(ThumbnailItem, bitmapInfo) + 40,
              "the palette entry follows the bitmap header directly");

inline void copyLoadFacts(ThumbnailItem& item, const LoadInfo& info) {
    std::memcpy(&item.lastWriteTime, &info.lastWriteTime, kLoadFactsSize);
}
inline const void* loadFactsOf(const ThumbnailItem& item) { return &item.lastWriteTime; }
