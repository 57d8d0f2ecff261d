// ThumbnailItem: one shown file of a thumbnail pane. Portable, so that the cache code and
// the selection helpers can work on it outside Windows too.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/platform.h"
#include "image/decoded_image.h"

constexpr int kMaxPaneItems = 50000;

// An item's selection mark. A slot emptied while the selected items are removed is marked
// apart and never counts as selected.
enum class SelectionMark : int32_t { None = 0, Selected = 1, EmptiedWhileRemoving = 2 };

struct ThumbnailItem {
    void* imageWindow = nullptr;  // HWND of the image cell
    void* textWindow = nullptr;   // HWND of the text area inside it
    int32_t shown = 0;            // the cell is currently shown
    BitmapInfoHeader bitmapInfo;  // 40-byte header of the thumbnail pixels ...
    PaletteEntry bitmapPalette;   // ... followed by one palette entry (44 bytes in all)
    // 24-bit thumbnail pixels, owned by the item. A pane keeps them only for the cells in view
    // and a margin; elsewhere an item keeps its thumbnail compressed (stream or cacheRecord)
    // and gets the pixels back by decoding it. An item with none of the three is an empty slot.
    uint8_t* pixels = nullptr;
    wchar_t name[260] = {};       // file name without its folder

    FileFacts facts;              // as the load reported them, and as a cache record keeps them
    SelectionMark selected = SelectionMark::None;
    int32_t thumbWidth = 0;
    int32_t thumbHeight = 0;
    int32_t displayWidth = 0;
    int32_t displayHeight = 0;
    uint8_t cacheAvailable = 0;  // the folder had a usable cache when the item was loaded
    // The JPEG stream the cache stores for this thumbnail, made when the thumbnail was made
    // (page block owned by the item), or
    uint8_t* stream = nullptr;
    uint32_t streamSize = 0;
    // record index + 1 in the data file the pane keeps open, whose stream is this thumbnail's
    // (0: none). Items live in zero-filled pages, hence the + 1.
    uint32_t cacheRecord = 0;
    // The pixels being decoded back for this item: the ticket of the request (0: none).
    uint32_t pixelTicket = 0;

    bool hasThumbnail() const { return pixels || stream || cacheRecord; }
    // Its pixels can be dropped and made again from what the item keeps.
    bool pixelsRestorable() const { return stream || cacheRecord; }

    bool isSelected() const { return selected == SelectionMark::Selected; }
    void select(bool on) { selected = on ? SelectionMark::Selected : SelectionMark::None; }
};

static_assert(offsetof(ThumbnailItem, bitmapPalette) == offsetof(ThumbnailItem, bitmapInfo) + 40,
              "the palette entry follows the bitmap header directly");
