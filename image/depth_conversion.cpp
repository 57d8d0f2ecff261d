// The row layout rule and the depth converter shared by the loader dispatch, the BMP
// reader and writer and the JPEG encoder.
#include <cstring>

#include "image/decoded_image.h"

namespace {

uint32_t roundUp4(uint64_t n) { return uint32_t((n + 3) & ~uint64_t(3)); }

// Stride of a source row as the decoders and plug-ins store it.
uint64_t sourceStride(int32_t depth, int32_t width) {
    const uint64_t w = uint64_t(width);
    switch (depth) {
        case 1: return (uint64_t(roundUp4((w + 7) / 8)));
        case 2: return (uint64_t(roundUp4((w + 3) / 4)));
        case 4: return (uint64_t(roundUp4((w + 1) / 2)));
        case 8: return uint64_t(roundUp4(w));
        case 24: return uint64_t(roundUp4(w * 3));
        case 48: return w * 6;
        default: return w * 4;
    }
}

template <int Depth>
void unpackToBytes(const DepthConversion& c, uint64_t srcStride) {
    constexpr int perByte = 8 / Depth;
    constexpr unsigned mask = (1u << Depth) - 1;
    for (int32_t y = 0; y < c.height; ++y) {
        const uint8_t* src = c.sourcePixels + uint64_t(y) * srcStride;
        uint8_t* dst = c.targetPixels + uint64_t(y) * c.targetRowStride;
        for (int32_t x = 0; x < c.width; ++x) {
            const int shift = 8 - Depth * (x % perByte + 1);
            dst[x] = uint8_t((src[x / perByte] >> shift) & mask);
        }
    }
}

template <int Depth>
void paletteTo24(const DepthConversion& c, uint64_t srcStride) {
    constexpr int perByte = 8 / Depth;
    constexpr unsigned mask = (1u << Depth) - 1;
    const PaletteEntry* pal = c.sourcePalette;
    for (int32_t y = 0; y < c.height; ++y) {
        const uint8_t* src = c.sourcePixels + uint64_t(y) * srcStride;
        uint8_t* dst = c.targetPixels + uint64_t(y) * c.targetRowStride;
        for (int32_t x = 0; x < c.width; ++x) {
            unsigned index;
            if constexpr (Depth == 8) {
                index = src[x];
            } else {
                const int shift = 8 - Depth * (x % perByte + 1);
                index = (src[x / perByte] >> shift) & mask;
            }
            const PaletteEntry& e = pal[index];
            dst[0] = e.blue;
            dst[1] = e.green;
            dst[2] = e.red;
            dst += 3;
        }
    }
}

void copyPalette(const DepthConversion& c, size_t entries) {
    if (c.targetPalette && c.sourcePalette) std::memcpy(c.targetPalette, c.sourcePalette, entries * sizeof(PaletteEntry));
}

}  // namespace

void computeLayout(DepthConversion& c) {
    const uint64_t w = c.width > 0 ? uint64_t(c.width) : 0;
    const uint64_t h = c.height > 0 ? uint64_t(c.height) : 0;
    uint64_t packed, stride, palette;
    switch (c.targetDepth) {
        case 1: packed = (w + 7) / 8; stride = roundUp4(packed); palette = 8; break;
        case 2: packed = (w + 3) / 4; stride = roundUp4(packed); palette = 16; break;
        case 4: packed = (w + 1) / 2; stride = roundUp4(packed); palette = 64; break;
        case 8: packed = w; stride = roundUp4(packed); palette = 1024; break;
        case 24: packed = w * 3; stride = roundUp4(packed); palette = 0; break;
        case 48: packed = w * 6; stride = packed; palette = 0; break;
        default: packed = w * 4; stride = packed; palette = 0; break;
    }
    const uint64_t size = stride * h;
    c.targetPackedRowBytes = uint32_t(packed);
    c.targetRowStride = uint32_t(stride);
    // A size that does not fit in 32 bits cannot be allocated anyway; 0 makes the caller's
    // allocation fail instead of allocating a wrapped-around, too small buffer.
    c.targetImageSize = size > 0xFFFFFFFFull ? 0 : uint32_t(size);
    c.targetPaletteBytes = uint32_t(palette);
}

bool convertDepth(DepthConversion& c) {
    if (!c.sourcePixels || !c.targetPixels || c.width <= 0 || c.height <= 0) return false;
    const uint64_t srcStride = sourceStride(c.sourceDepth, c.width);
    const int pair = c.sourceDepth * 100 + c.targetDepth;
    switch (pair) {
        case 108:
            copyPalette(c, 2);
            unpackToBytes<1>(c, srcStride);
            return true;
        case 208:
            unpackToBytes<2>(c, srcStride);
            return true;
        case 408:
            copyPalette(c, 16);
            unpackToBytes<4>(c, srcStride);
            return true;
        case 808:
            if (c.targetPalette && c.sourcePalette) std::memcpy(c.targetPalette, c.sourcePalette, c.targetPaletteBytes);
            std::memcpy(c.targetPixels, c.sourcePixels, c.targetImageSize);
            return true;
        case 124:
        case 424:
        case 824:
            if (!c.sourcePalette) return false;
            if (c.sourceDepth == 1) paletteTo24<1>(c, srcStride);
            else if (c.sourceDepth == 4) paletteTo24<4>(c, srcStride);
            else paletteTo24<8>(c, srcStride);
            return true;
        case 2424:
            std::memcpy(c.targetPixels, c.sourcePixels, c.targetImageSize);
            return true;
        case 4824:
            for (int32_t y = 0; y < c.height; ++y) {
                const uint8_t* src = c.sourcePixels + uint64_t(y) * srcStride;
                uint8_t* dst = c.targetPixels + uint64_t(y) * c.targetRowStride;
                for (int32_t x = 0; x < c.width * 3; ++x) dst[x] = src[2 * x + 1];
            }
            return true;
        default:
            return false;
    }
}
