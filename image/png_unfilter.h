// Reconstruction of PNG filtered rows (None, Sub, Up, Average, Paeth), specialised by the
// filter distance (bytes per pixel, 1 for packed depths) so that every inner loop has a
// constant stride. Works in place on the current row; 'prev' is the reconstructed row
// above (all zero for the first row of an image or pass).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace pngfilter {

inline uint8_t paeth(int a, int b, int c) {
    const int pa = std::abs(b - c);          // |p - a|
    const int pb = std::abs(a - c);          // |p - b|
    const int pc = std::abs(a + b - 2 * c);  // |p - c|
    if (pa <= pb && pa <= pc) return uint8_t(a);
    return uint8_t(pb <= pc ? b : c);
}

template <int Bpp>
void unfilterSub(uint8_t* cur, size_t n) {
    for (size_t i = Bpp; i < n; ++i) cur[i] = uint8_t(cur[i] + cur[i - Bpp]);
}

inline void unfilterUp(uint8_t* cur, const uint8_t* prev, size_t n) {
    for (size_t i = 0; i < n; ++i) cur[i] = uint8_t(cur[i] + prev[i]);
}

template <int Bpp>
void unfilterAverage(uint8_t* cur, const uint8_t* prev, size_t n) {
    const size_t head = n < size_t(Bpp) ? n : size_t(Bpp);
    for (size_t i = 0; i < head; ++i) cur[i] = uint8_t(cur[i] + (prev[i] >> 1));
    for (size_t i = Bpp; i < n; ++i) cur[i] = uint8_t(cur[i] + ((unsigned(cur[i - Bpp]) + prev[i]) >> 1));
}

template <int Bpp>
void unfilterPaeth(uint8_t* cur, const uint8_t* prev, size_t n) {
    const size_t head = n < size_t(Bpp) ? n : size_t(Bpp);
    for (size_t i = 0; i < head; ++i) cur[i] = uint8_t(cur[i] + prev[i]);
    for (size_t i = Bpp; i < n; ++i) cur[i] = uint8_t(cur[i] + paeth(cur[i - Bpp], prev[i], prev[i - Bpp]));
}

template <int Filter, int Bpp>
inline void unfilter(uint8_t* cur, const uint8_t* prev, size_t n) {
    if constexpr (Filter == 1) unfilterSub<Bpp>(cur, n);
    else if constexpr (Filter == 2) unfilterUp(cur, prev, n);
    else if constexpr (Filter == 3) unfilterAverage<Bpp>(cur, prev, n);
    else if constexpr (Filter == 4) unfilterPaeth<Bpp>(cur, prev, n);
}

}  // namespace pngfilter
