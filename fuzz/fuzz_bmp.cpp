// Fuzz target: the BMP reader on arbitrary files, then the writer on what it decoded, which
// must read back to the same pixels.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/byte_order.h"
#include "image/bmp_codec.h"

// The record the decodes in this file fill.
static DecodedImage bmpOut;


namespace {

std::string tempPath(const char* suffix) {
    const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    return std::string(dir) + "/pravel-fuzz-" + std::to_string(getpid()) + suffix;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Images the reader accepts can be 25000 x 25000; keep the fuzzer's memory to sane sizes.
    if (size >= 26) {
        const int64_t w = int32_t(readLe32(data + 18)), h = int32_t(readLe32(data + 22));
        if (w > 0 && h > 0 && w * h > 4'000'000) return 0;
    }
    static const std::wstring in = utf8ToWide(tempPath(".bmp"));
    static const std::wstring out = utf8ToWide(tempPath("-out.bmp"));
    if (!writeWholeFile(in.c_str(), data, size)) return 0;
    DecodeCounters counters;
    DecodedImage* img = decodeBmp(in.c_str(), bmpOut, counters);
    if (!img) {
        if (bmpOut.pixels) std::abort();  // a failed decode must not leave a buffer behind
        return 0;
    }
    // Keep the pixels: the next decode reuses the record.
    uint8_t* pixels = img->pixels;
    PaletteEntry palette[256];
    std::memcpy(palette, img->palette, sizeof palette);
    const int32_t width = img->header.biWidth, height = img->header.biHeight;
    const int depth = img->header.biBitCount;

    DepthConversion conversion;
    conversion.width = width;
    conversion.height = height;
    conversion.sourceDepth = depth;
    conversion.targetDepth = 24;
    conversion.sourcePalette = palette;
    if (writeBmp(out.c_str(), conversion, pixels)) {
        DecodedImage* again = decodeBmp(out.c_str(), bmpOut, counters);
        if (!again || again->header.biWidth != width || again->header.biHeight != height) std::abort();
        const size_t stride = (size_t(width) * 3 + 3) & ~size_t(3);
        for (int32_t y = 0; y < height; ++y) {
            const uint8_t* row = again->pixels + stride * y;
            for (int32_t x = 0; x < width; ++x) {
                const uint8_t* want;
                uint8_t fromPalette[3];
                if (depth == 8) {
                    const PaletteEntry& e = palette[pixels[((size_t(width) + 3) & ~size_t(3)) * y + x]];
                    fromPalette[0] = e.blue;
                    fromPalette[1] = e.green;
                    fromPalette[2] = e.red;
                    want = fromPalette;
                } else {
                    want = pixels + stride * y + size_t(x) * 3;
                }
                if (std::memcmp(row + size_t(x) * 3, want, 3) != 0) std::abort();
            }
        }
        pageFree(again->pixels);
        again->pixels = nullptr;
    }
    pageFree(pixels);
    return 0;
}
