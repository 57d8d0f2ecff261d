// GIF decoder: the first image of a GIF (87a/89a) drawn on its logical screen as an 8-bit
// palette image, with its own LZW decompressor. decodeGif is declared in
// decoded_image.h; this header adds the in-memory entry used by tests, fuzzers and the
// benchmark.
#pragma once

#include <cstddef>
#include <cstdint>

#include "image/decoded_image.h"

// Decodes the GIF whose bytes are data[0..size) into record. Same result as
// decodeGif except that fileSize and lastWriteTime are left 0. Never reads outside the
// given bytes. On success the caller owns record.pixels (pageFree).
DecodedImage* decodeGifMemory(const uint8_t* data, size_t size, DecodedImage& record, DecodeCounters& counters);
