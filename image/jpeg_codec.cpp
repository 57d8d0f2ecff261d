#include "image/jpeg_codec.h"

namespace {
DecodedImage g_jpeg;
wchar_t g_message[200];
}

DecodedImage& jpegRecord() { return g_jpeg; }
const wchar_t* jpegLibraryMessage() { return g_message; }

int jpegScaleDenominator(int32_t imageWidth, int32_t imageHeight, int32_t targetWidth, int32_t targetHeight) {
    return 1;
}

DecodedImage* decodeJpeg(const wchar_t* path, int32_t targetWidth, int32_t targetHeight, DecodeCounters& counters) {
    g_jpeg = DecodedImage{};
    g_jpeg.errorCode = 4;
    return nullptr;
}

DecodedImage* decodeJpegMemory(const uint8_t* data, size_t size, int32_t targetWidth, int32_t targetHeight,
                               DecodeCounters& counters) {
    g_jpeg = DecodedImage{};
    g_jpeg.errorCode = 4;
    return nullptr;
}

bool encodeJpegThumbnail(uint8_t* output, uint32_t* capacity, const uint8_t* pixels, const DepthConversion& conversion) {
    return false;
}
