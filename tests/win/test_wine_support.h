// File helpers shared by the Windows tests, over the platform layer's whole-file functions.
#pragma once

#include <string>

#include "base/platform.h"
#include "core/png_builder.h"

namespace winetest {

inline bool writeBytes(const std::wstring& path, const std::string& bytes) {
    return writeWholeFile(path.c_str(), bytes.data(), bytes.size());
}

// The whole file, or nothing when it cannot be read.
inline std::string readBytes(const std::wstring& path) {
    std::string out;
    if (!readWholeFile(path.c_str(), out)) out.clear();
    return out;
}

// A w x h 8-bit RGB PNG of smooth bands (rows unfiltered, deflated at level 1): large images
// that decode for a while but stay a few megabytes on disk.
inline std::string largePngBytes(int w, int h) {
    const size_t stride = size_t(w) * 3 + 1;
    std::string raw(stride * size_t(h), '\0');
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            char* p = &raw[stride * size_t(y) + 1 + size_t(x) * 3];
            p[0] = char(x / 24);
            p[1] = char(y / 16);
            p[2] = char((x + y) / 32);
        }
    using namespace pngtest;
    return kSignature + chunk("IHDR", ihdrData(uint32_t(w), uint32_t(h), 8, 2)) + chunk("IDAT", zlibCompress(raw, 1)) +
           chunk("IEND", "");
}

}  // namespace winetest
