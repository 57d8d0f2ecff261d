#include "image/bmp_codec.h"

namespace {
DecodedImage g_bmp;
}

DecodedImage& bmpRecord() { return g_bmp; }

DecodedImage* decodeBmp(const wchar_t* path, DecodeCounters& counters) {
    g_bmp = DecodedImage{};
    g_bmp.errorCode = 4;
    return nullptr;
}

bool writeBmp(const wchar_t* path, DepthConversion& conversion, const uint8_t* sourcePixels) {
    conversion.errorCode = 5;
    return false;
}
