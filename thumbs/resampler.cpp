// Area-averaging resampler (see resampler.h).
//
// Separable and in fixed point: the rows that fall under one output row are summed first,
// with weights that add up to exactly 1 << 14, into 16-bit values carrying 8 fraction bits;
// the columns of that intermediate row are then summed the same way. Because each set of
// weights sums exactly to one, a flat colour comes out unchanged. The row pass touches
// every source byte about once in a plain multiply-add loop over whole rows, which the
// compiler vectorises; the column pass only sees as many rows as the output has.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC optimize("O3")
#endif

#include "thumbs/resampler.h"

#include <cstring>
#include <new>
#include <vector>

namespace {

constexpr int kWeightBits = 14;
constexpr uint32_t kWeightOne = 1u << kWeightBits;

// For each output position: the first source position under it, how many follow, and
// where its weights start in the shared weight list.
struct AxisWeights {
    std::vector<int32_t> first;
    std::vector<int32_t> count;
    std::vector<size_t> start;
    std::vector<uint16_t> weights;
};

// Output position o covers source [o * src / dst, (o + 1) * src / dst). Measured in units
// of 1 / dst source pixel everything is an integer: the coverage of source pixel i is the
// overlap of [i * dst, (i + 1) * dst) with [o * src, (o + 1) * src), and the coverages of
// one output position add up to src. Cumulative rounding turns them into weights that add
// up to exactly kWeightOne without piling the rounding error onto one pixel.
bool buildAxis(int32_t src, int32_t dst, AxisWeights& axis) {
    try {
        axis.first.resize(size_t(dst));
        axis.count.resize(size_t(dst));
        axis.start.resize(size_t(dst));
        axis.weights.clear();
        axis.weights.reserve(size_t(src) + size_t(dst));
    } catch (const std::bad_alloc&) {
        return false;
    }
    const int64_t s = src, d = dst;
    for (int64_t o = 0; o < d; ++o) {
        const int64_t lo = o * s, hi = lo + s;
        const int64_t i0 = lo / d, i1 = (hi - 1) / d;
        axis.first[size_t(o)] = int32_t(i0);
        axis.count[size_t(o)] = int32_t(i1 - i0 + 1);
        axis.start[size_t(o)] = axis.weights.size();
        int64_t covered = 0, previous = 0;
        for (int64_t i = i0; i <= i1; ++i) {
            const int64_t a = i * d > lo ? i * d : lo;
            const int64_t b = (i + 1) * d < hi ? (i + 1) * d : hi;
            covered += b - a;
            const int64_t total = (covered * kWeightOne + s / 2) / s;
            axis.weights.push_back(uint16_t(total - previous));
            previous = total;
        }
    }
    return true;
}

void accumulateRow(uint32_t* __restrict acc, const uint8_t* __restrict row, uint32_t weight, size_t n) {
    for (size_t k = 0; k < n; ++k) acc[k] += weight * row[k];
}

void startRow(uint32_t* __restrict acc, const uint8_t* __restrict row, uint32_t weight, size_t n) {
    for (size_t k = 0; k < n; ++k) acc[k] = weight * row[k];
}

// 14 weight bits in, 8 fraction bits kept.
void narrowRow(uint16_t* __restrict mid, const uint32_t* __restrict acc, size_t n) {
    for (size_t k = 0; k < n; ++k) mid[k] = uint16_t((acc[k] + (1u << 5)) >> 6);
}

}  // namespace

bool resampleArea24(const uint8_t* source, int32_t sourceWidth, int32_t sourceHeight, uint8_t* target,
                    int32_t targetWidth, int32_t targetHeight) {
    if (!source || !target || sourceWidth <= 0 || sourceHeight <= 0 || targetWidth <= 0 || targetHeight <= 0)
        return false;
    AxisWeights columns, rows;
    if (!buildAxis(sourceWidth, targetWidth, columns) || !buildAxis(sourceHeight, targetHeight, rows)) return false;

    const size_t sourceStride = rowStride24(sourceWidth);
    const size_t targetStride = rowStride24(targetWidth);
    const size_t rowValues = size_t(sourceWidth) * 3u;
    std::vector<uint32_t> acc;
    std::vector<uint16_t> mid;
    try {
        acc.resize(rowValues);
        mid.resize(rowValues);
    } catch (const std::bad_alloc&) {
        return false;
    }

    for (int32_t y = 0; y < targetHeight; ++y) {
        // Rows under output row y.
        const int32_t firstRow = rows.first[size_t(y)];
        const int32_t rowCount = rows.count[size_t(y)];
        const uint16_t* rowWeights = rows.weights.data() + rows.start[size_t(y)];
        bool started = false;
        for (int32_t r = 0; r < rowCount; ++r) {
            const uint32_t w = rowWeights[r];
            if (w == 0) continue;
            const uint8_t* line = source + sourceStride * size_t(firstRow + r);
            if (started) {
                accumulateRow(acc.data(), line, w, rowValues);
            } else {
                startRow(acc.data(), line, w, rowValues);
                started = true;
            }
        }
        if (!started) std::memset(acc.data(), 0, rowValues * sizeof(uint32_t));
        narrowRow(mid.data(), acc.data(), rowValues);

        // Columns under each output pixel.
        uint8_t* out = target + targetStride * size_t(y);
        for (int32_t x = 0; x < targetWidth; ++x) {
            const int32_t firstColumn = columns.first[size_t(x)];
            const int32_t columnCount = columns.count[size_t(x)];
            const uint16_t* columnWeights = columns.weights.data() + columns.start[size_t(x)];
            const uint16_t* in = mid.data() + size_t(firstColumn) * 3u;
            uint32_t b = 0, g = 0, r = 0;
            for (int32_t c = 0; c < columnCount; ++c, in += 3) {
                const uint32_t w = columnWeights[c];
                b += w * in[0];
                g += w * in[1];
                r += w * in[2];
            }
            constexpr uint32_t kHalf = 1u << 21;
            out[0] = uint8_t((b + kHalf) >> 22);
            out[1] = uint8_t((g + kHalf) >> 22);
            out[2] = uint8_t((r + kHalf) >> 22);
            out += 3;
        }
        std::memset(out, 0, targetStride - size_t(targetWidth) * 3u);  // row padding
    }
    return true;
}
