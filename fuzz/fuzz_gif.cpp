// Fuzz target: the GIF decoder on arbitrary files. A decode either fails with one of the
// decoder's codes and no buffer left behind, or gives an 8-bit image of the logical
// screen's size.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "image/gif_decoder.h"

// The record the decodes in this file fill.
static DecodedImage gifOut;


namespace {

std::string tempPath(const char* suffix) {
    const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    return std::string(dir) + "/pravel-fuzz-" + std::to_string(getpid()) + suffix;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Screens may be 25000 x 25000; keep the fuzzer's memory to sane sizes.
    if (size >= 10) {
        const uint32_t w = data[6] | (data[7] << 8), h = data[8] | (data[9] << 8);
        if (uint64_t(w) * h > 4'000'000) return 0;
    }
    static const std::wstring in = utf8ToWide(tempPath(".gif"));
    if (!writeWholeFile(in.c_str(), data, size)) return 0;
    DecodeCounters counters;
    DecodedImage* image = decodeGif(in.c_str(), gifOut, counters);
    if (!image) {
        const int32_t code = gifOut.errorCode;
        if (gifOut.pixels || !(code == 1 || code == 2 || code == 4 || code == 6)) std::abort();
        return 0;
    }
    const int32_t w = data[6] | (data[7] << 8), h = data[8] | (data[9] << 8);
    if (image->header.biWidth != w || image->header.biHeight != h || image->header.biBitCount != 8 ||
        image->fileSize != size || !image->pixels) {
        std::abort();
    }
    pageFree(image->pixels);
    image->pixels = nullptr;
    return 0;
}
