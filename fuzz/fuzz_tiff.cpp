// Fuzz target: the TIFF decoder on arbitrary files. A decode either fails with one of the
// decoder's codes and no buffer left behind, or gives an 8- or 24-bit image.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "image/tiff_decoder.h"

// The record the decodes in this file fill.
static DecodedImage tiffOut;


namespace {

std::string tempPath(const char* suffix) {
    const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    return std::string(dir) + "/pravel-fuzz-" + std::to_string(getpid()) + suffix;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::wstring in = utf8ToWide(tempPath(".tif"));
    if (!writeWholeFile(in.c_str(), data, size)) return 0;
    DecodeCounters counters;
    DecodedImage* image = decodeTiff(in.c_str(), tiffOut, counters);
    if (!image) {
        const int32_t code = tiffOut.errorCode;
        if (tiffOut.pixels || !(code == 1 || code == 2 || code == 4 || code == 6)) std::abort();
        return 0;
    }
    const int depth = image->header.biBitCount;
    if ((depth != 8 && depth != 24) || image->header.biWidth < 1 || image->header.biWidth > 25000 ||
        image->header.biHeight < 1 || image->header.biHeight > 25000 || image->fileSize != size || !image->pixels) {
        std::abort();
    }
    pageFree(image->pixels);
    image->pixels = nullptr;
    return 0;
}
