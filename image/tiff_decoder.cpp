// TIFF decoder: uncompressed strip images of the simple kinds.
#include "image/tiff_decoder.h"

namespace {
DecodedImage g_tiff;
}

DecodedImage& tiffRecord() { return g_tiff; }

DecodedImage* decodeTiff(const wchar_t* path, DecodeCounters& counters) {
    g_tiff = DecodedImage{};
    g_tiff.errorCode = 4;
    return nullptr;
}
