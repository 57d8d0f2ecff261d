// TIFF decoder: uncompressed strip images of the simple kinds (bilevel, greyscale, palette,
// 8/16-bit RGB) in either byte order. decodeTiff is declared in
// decoded_image.h; this header adds the in-memory entry used by tests, fuzzers and the
// benchmark.
#pragma once

#include <cstddef>
#include <cstdint>

#include "image/decoded_image.h"

// Decodes the TIFF whose bytes are data[0..size) into record. Same result as
// decodeTiff except that fileSize and lastWriteTime are left 0. Never reads outside the
// given bytes. On success the caller owns record.pixels (pageFree).
// stop: once set (looked at every few rows), the decode gives up with error 1.
DecodedImage* decodeTiffMemory(const uint8_t* data, size_t size, DecodedImage& record, DecodeCounters& counters,
                               const std::atomic<bool>* stop = nullptr);
