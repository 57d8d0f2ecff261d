// Fuzz target: the PNG decoder on arbitrary files. A successful decode must hand over a
// buffer of exactly the header's size (touched end to end here so the sanitizers see any
// short allocation); a failed one must leave no buffer behind and name a known code.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/byte_order.h"
#include "image/decoded_image.h"

// The record the decodes in this file fill.
static DecodedImage pngOut;


namespace {

std::string tempPath() {
    const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    return std::string(dir) + "/pravel-fuzz-png-" + std::to_string(getpid()) + ".png";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The decoder accepts 25000 x 25000; keep the fuzzer's memory and time to sane sizes.
    if (size >= 24 && uint64_t(readBe32(data + 16)) * readBe32(data + 20) > 4'000'000) return 0;
    static const std::wstring path = utf8ToWide(tempPath());
    if (!writeWholeFile(path.c_str(), data, size)) return 0;

    PngOptions options;
    // Let the input steer the rarely used settings too.
    if (size > 0 && (data[size - 1] & 3) == 1) options.compositeTransparency = false;
    if (size > 0 && (data[size - 1] & 3) == 2) options.displayGammaX1000 = 0;
    DecodeCounters counters;
    DecodedImage* image = decodePng(path.c_str(), options, pngOut, counters);
    if (!image) {
        const int32_t code = pngOut.errorCode;
        if (pngOut.pixels || code < 1 || code > 22) std::abort();
        return 0;
    }
    const auto& h = image->header;
    if (!image->pixels || (h.biBitCount != 8 && h.biBitCount != 24) || h.biWidth < 1 || h.biHeight < 1) std::abort();
    if (image->errorCode != 0 && image->errorCode != 23) std::abort();
    const size_t stride = (size_t(h.biWidth) * (h.biBitCount / 8) + 3) & ~size_t(3);
    volatile uint8_t sink = 0;
    for (size_t i = 0; i < stride * size_t(h.biHeight); i += 97) sink = sink + image->pixels[i];
    sink = sink + image->pixels[stride * size_t(h.biHeight) - 1];
    pageFree(image->pixels);
    image->pixels = nullptr;
    return 0;
}
