// Fitting a decoded image into the thumbnail cell and turning it into the thumbnail's own
// 24-bit pixel buffer. Only the LoadInfo given (and the image it points to) is touched, so
// every decoding thread works on its own.
#pragma once

#include <cstdint>

#include "image/decoded_image.h"

struct DisplaySize {
    int32_t width = 0;
    int32_t height = 0;
};

// The fit rule, in integer arithmetic with 14 fraction bits: the binding side gets the
// cell's size and the other one is scaled by the same factor, truncated; on a tie the
// height binds; a dimension below 1 becomes 1. Never larger than the cell, never rounded
// up (640 x 480 in a 148 x 111 cell gives 147 x 111).
DisplaySize fitToCell(int32_t width, int32_t height, int32_t cellWidth, int32_t cellHeight);

// Makes the thumbnail of info.current (info.width x info.height pixels) for a
// cellWidth x cellHeight cell and returns in display the size at which it is drawn.
//  - cacheTooSmall (a second pass will decode everything again): nothing is resampled; an
//    image whose file size fits the cell is drawn at that size, anything else at the fit of
//    its current pixels.
//  - otherwise an image that fits the cell keeps its pixels and size (never enlarged); a
//    larger one is reduced to the fitted size by area averaging into a new page block that
//    replaces info.current->pixels, with a fresh 44-byte header block (the 40-byte header
//    for displayWidth x displayHeight at 24 bits, then one zero palette entry), and
//    info.width/height become the display size.
// On failure (no memory, an image that is not 24-bit or has no size) the decoded pixels
// are released and info.current->pixels is null.
bool makeThumbnail(LoadInfo& info, int32_t cellWidth, int32_t cellHeight, bool cacheTooSmall, DisplaySize& display);
