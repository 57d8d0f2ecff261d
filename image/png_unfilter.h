// Reconstruction of PNG filtered rows (None, Sub, Up, Average, Paeth), specialised by the
// filter distance (bytes per pixel, 1 for packed depths) so that every inner loop has a
// constant stride. Works in place on the current row; 'prev' is the reconstructed row
// above (all zero for the first row of an image or pass).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace pngfilter {

// Branch-free: on photographs the choice between a, b and c is close to random, and a
// mispredicted branch per byte costs more than the selection itself.
inline uint8_t paeth(int a, int b, int c) {
    const int pa = std::abs(b - c);          // |p - a|
    const int pb = std::abs(a - c);          // |p - b|
    const int pc = std::abs(a + b - 2 * c);  // |p - c|
    const int bc = pb <= pc ? b : c;
    const int minBc = pb <= pc ? pb : pc;
    return uint8_t(pa <= minBc ? a : bc);
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
void unfilterPaethScalar(uint8_t* cur, const uint8_t* prev, size_t n) {
    const size_t head = n < size_t(Bpp) ? n : size_t(Bpp);
    for (size_t i = 0; i < head; ++i) cur[i] = uint8_t(cur[i] + prev[i]);
    for (size_t i = Bpp; i < n; ++i) cur[i] = uint8_t(cur[i] + paeth(cur[i - Bpp], prev[i], prev[i - Bpp]));
}

#if defined(__SSE2__)
// The serial filters (Sub, Average, Paeth) one pixel per step, the pixel's bytes in 16-bit
// lanes so that every channel's predictor is computed at once. 'step' maps (x, a, b, c) to
// the reconstructed pixel, all as 16-bit lanes holding byte values. Reads (never writes)
// up to 2 bytes past the row's end, which the row buffers provide.
template <int Bpp, class Step>
inline void walkPixelsSse2(uint8_t* cur, const uint8_t* prev, size_t n, Step step) {
    static_assert(Bpp == 3 || Bpp == 4 || Bpp == 6 || Bpp == 8);
    const __m128i zero = _mm_setzero_si128();
    __m128i a = zero, c = zero;
    for (size_t i = 0; i + Bpp <= n; i += Bpp) {
        __m128i x, b;
        if constexpr (Bpp <= 4) {
            uint32_t xw, bw;
            std::memcpy(&xw, cur + i, 4);
            std::memcpy(&bw, prev + i, 4);
            x = _mm_unpacklo_epi8(_mm_cvtsi32_si128(int(xw)), zero);
            b = _mm_unpacklo_epi8(_mm_cvtsi32_si128(int(bw)), zero);
        } else {
            x = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(cur + i)), zero);
            b = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(prev + i)), zero);
        }
        a = step(x, a, b, c);
        c = b;
        const __m128i packed = _mm_packus_epi16(a, a);
        // Store exactly the pixel's bytes: a wider store would overlap the next pixel's
        // load and defeat store-to-load forwarding, stalling every step.
        if constexpr (Bpp == 3) {
            const uint32_t out = uint32_t(_mm_cvtsi128_si32(packed));
            std::memcpy(cur + i, &out, 2);
            cur[i + 2] = uint8_t(out >> 16);
        } else if constexpr (Bpp == 4) {
            const uint32_t out = uint32_t(_mm_cvtsi128_si32(packed));
            std::memcpy(cur + i, &out, 4);
        } else if constexpr (Bpp == 6) {
            uint64_t out;
            _mm_storel_epi64(reinterpret_cast<__m128i*>(&out), packed);
            std::memcpy(cur + i, &out, 6);
        } else {
            _mm_storel_epi64(reinterpret_cast<__m128i*>(cur + i), packed);
        }
    }
}

inline __m128i lowBytesOf(__m128i v) { return _mm_and_si128(v, _mm_set1_epi16(0x00FF)); }

inline __m128i abs16(__m128i v) { return _mm_max_epi16(v, _mm_sub_epi16(_mm_setzero_si128(), v)); }

template <int Bpp>
void unfilterSubSse2(uint8_t* cur, const uint8_t* prev, size_t n) {
    walkPixelsSse2<Bpp>(cur, prev, n, [](__m128i x, __m128i a, __m128i, __m128i) { return lowBytesOf(_mm_add_epi16(x, a)); });
}

template <int Bpp>
void unfilterAverageSse2(uint8_t* cur, const uint8_t* prev, size_t n) {
    walkPixelsSse2<Bpp>(cur, prev, n, [](__m128i x, __m128i a, __m128i b, __m128i) {
        return lowBytesOf(_mm_add_epi16(x, _mm_srli_epi16(_mm_add_epi16(a, b), 1)));
    });
}

template <int Bpp>
void unfilterPaethSse2(uint8_t* cur, const uint8_t* prev, size_t n) {
    walkPixelsSse2<Bpp>(cur, prev, n, [](__m128i x, __m128i a, __m128i b, __m128i c) {
        const __m128i paRaw = _mm_sub_epi16(b, c);  // p - a
        const __m128i pbRaw = _mm_sub_epi16(a, c);  // p - b
        const __m128i pa = abs16(paRaw);
        const __m128i pb = abs16(pbRaw);
        const __m128i pc = abs16(_mm_add_epi16(paRaw, pbRaw));
        const __m128i takeC = _mm_cmpgt_epi16(pb, pc);
        const __m128i bc = _mm_or_si128(_mm_and_si128(takeC, c), _mm_andnot_si128(takeC, b));
        const __m128i notA = _mm_cmpgt_epi16(pa, _mm_min_epi16(pb, pc));
        const __m128i pred = _mm_or_si128(_mm_and_si128(notA, bc), _mm_andnot_si128(notA, a));
        return lowBytesOf(_mm_add_epi16(x, pred));
    });
}
#endif

template <int Bpp>
void unfilterPaeth(uint8_t* cur, const uint8_t* prev, size_t n) {
#if defined(__SSE2__)
    if constexpr (Bpp >= 3) {
        unfilterPaethSse2<Bpp>(cur, prev, n);
        return;
    }
#endif
    unfilterPaethScalar<Bpp>(cur, prev, n);
}

template <int Filter, int Bpp>
inline void unfilter(uint8_t* cur, const uint8_t* prev, size_t n) {
#if defined(__SSE2__)
    if constexpr (Bpp >= 3 && Filter == 1) {
        unfilterSubSse2<Bpp>(cur, prev, n);
        return;
    }
    if constexpr (Bpp >= 3 && Filter == 3) {
        unfilterAverageSse2<Bpp>(cur, prev, n);
        return;
    }
#endif
    if constexpr (Filter == 1) unfilterSub<Bpp>(cur, n);
    else if constexpr (Filter == 2) unfilterUp(cur, prev, n);
    else if constexpr (Filter == 3) unfilterAverage<Bpp>(cur, prev, n);
    else if constexpr (Filter == 4) unfilterPaeth<Bpp>(cur, prev, n);
}

}  // namespace pngfilter
