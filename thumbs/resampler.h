// The thumbnail resampler: area averaging of 24-bit bitmaps. Every output pixel is the
// mean of the source pixels under it, each weighted by the part of it that the output
// pixel covers, so fine detail turns into its average colour instead of aliasing.
#pragma once

#include <cstddef>
#include <cstdint>

// Bytes per row of a 24-bit bitmap: 3 x width rounded up to a multiple of 4.
inline size_t rowStride24(int32_t width) { return (size_t(width) * 3u + 3u) & ~size_t(3); }

// Resamples source (sourceWidth x sourceHeight) into target (targetWidth x targetHeight).
// Both are 24-bit, rows bottom first and padded to 4 bytes; target must hold
// rowStride24(targetWidth) x targetHeight bytes. Meant for reduction, but any sizes of at
// least 1 x 1 work. Returns false (target untouched) for empty sizes or when the working
// rows cannot be allocated.
bool resampleArea24(const uint8_t* source, int32_t sourceWidth, int32_t sourceHeight, uint8_t* target,
                    int32_t targetWidth, int32_t targetHeight);
