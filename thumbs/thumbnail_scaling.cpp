// Thumbnail fitting and making (see thumbnail_scaling.h).
#include "thumbs/thumbnail_scaling.h"

#include "thumbs/resampler.h"

DisplaySize fitToCell(int32_t width, int32_t height, int32_t cellWidth, int32_t cellHeight) {
    if (width < 1) width = 1;
    if (height < 1) height = 1;
    const int64_t sx = (int64_t(cellWidth) << 14) / width;
    const int64_t sy = (int64_t(cellHeight) << 14) / height;
    DisplaySize size;
    if (sx < sy) {
        size.width = cellWidth;
        size.height = int32_t((int64_t(height) * sx) >> 14);
    } else {
        size.height = cellHeight;
        size.width = int32_t((int64_t(width) * sy) >> 14);
    }
    if (size.width < 1) size.width = 1;
    if (size.height < 1) size.height = 1;
    return size;
}

namespace {

bool failAndRelease(DecodedImage* image) {
    if (image) {
        pageFree(image->pixels);
        image->pixels = nullptr;
    }
    return false;
}

}  // namespace

bool makeThumbnail(LoadInfo& info, int32_t cellWidth, int32_t cellHeight, bool cacheTooSmall, DisplaySize& display) {
    DecodedImage* image = info.current;
    if (!image || !image->pixels || info.width <= 0 || info.height <= 0) return failAndRelease(image);

    if (cacheTooSmall) {
        // The second pass replaces these pixels; until then painting stretches them.
        const FileFacts& file = info.facts;
        if (file.fileWidth <= cellWidth && file.fileHeight <= cellHeight && file.fileWidth > 0 && file.fileHeight > 0)
            display = DisplaySize{file.fileWidth, file.fileHeight};
        else
            display = fitToCell(info.width, info.height, cellWidth, cellHeight);
        return true;
    }
    if (info.width <= cellWidth && info.height <= cellHeight) {
        display = DisplaySize{info.width, info.height};
        return true;
    }

    const DisplaySize fitted = fitToCell(info.width, info.height, cellWidth, cellHeight);
    // The resampler reads 24-bit rows; the dispatch and the cache reader only hand over
    // 24-bit images, so anything else is a caller's fault and is refused rather than misread.
    if (image->header.biBitCount != 24) return failAndRelease(image);
    auto* pixels = static_cast<uint8_t*>(pageAlloc(rowStride24(fitted.width) * size_t(fitted.height)));
    if (!pixels) return failAndRelease(image);
    if (!resampleArea24(image->pixels, info.width, info.height, pixels, fitted.width, fitted.height)) {
        pageFree(pixels);
        return failAndRelease(image);
    }

    pageFree(image->pixels);
    image->pixels = pixels;
    image->header = BitmapInfoHeader{};
    image->header.biWidth = fitted.width;
    image->header.biHeight = fitted.height;
    image->header.biBitCount = 24;
    image->palette[0] = PaletteEntry{};
    info.width = fitted.width;
    info.height = fitted.height;
    display = fitted;
    return true;
}
