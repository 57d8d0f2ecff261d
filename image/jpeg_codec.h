// JPEG decoding and thumbnail encoding over the IJG-interface library (libjpeg-turbo).
// The path decoder (decodeJpeg / jpegRecord) is declared with the other decoders in
// decoded_image.h; this header adds the memory decoder used by the thumbnail cache, the
// thumbnail encoder, the scale rule and the library message text.
//
// Unlike the other decoders, the JPEG code also keeps one static record and context for
// decodeJpeg and decodeJpegMemory: their callers hold the image lock. A successful decode
// hands the record's pixel buffer (pageAlloc'd) to the caller, who releases it with
// pageFree. A thread that decodes without the lock owns a JpegDecoder instead (below).
#pragma once

#include <cstddef>
#include <cstdint>

#include "image/decoded_image.h"

// Denominator (1, 2, 4 or 8) of the reduced-scale decode aimed at target, from
// r = min(imageHeight / targetHeight, imageWidth / targetWidth) (integer divisions).
// Returns 1 when either target dimension is 0 or below.
int jpegScaleDenominator(int32_t imageWidth, int32_t imageHeight, int32_t targetWidth, int32_t targetHeight);

// Decodes a JPEG stream held in memory (a cached thumbnail). The block is read in place and
// must stay valid during the call. targetWidth/targetHeight both nonzero: reduced-scale decode
// aimed at that size (the cache passes the cell size), otherwise full size. Output: an 8-bit
// grey (identity palette) or 24-bit image, bottom row first, rows padded to 4 bytes,
// format 3, fileSize = size. Returns &jpegRecord() or nullptr with jpegRecord().errorCode set
// (1 memory, 2 unusable size/components, 4 library error; the message is jpegLibraryMessage()).
// counters receives the stated size, progressive flag, COM count and APP1 indicator.
DecodedImage* decodeJpegMemory(const uint8_t* data, size_t size, int32_t targetWidth, int32_t targetHeight,
                               DecodeCounters& counters);

// Compresses a 24-bit bottom-up image (rows padded to 4 bytes, as a 24-bit DecodedImage
// stores them) into output: baseline, quality 80, 4:4:4, optimised Huffman tables, JFIF.
// conversion supplies width and height (nothing else is used). *capacity is the size of
// output on entry and the number of compressed bytes on success. Returns false on a library
// error, unusable size, or when the stream does not fit in capacity; nothing is ever written
// past output + capacity.
bool encodeJpegThumbnail(uint8_t* output, uint32_t* capacity, const uint8_t* pixels, const DepthConversion& conversion);

// A decoder of its own for a thread that decodes without the image lock (the thumbnail
// workers): the same decode as decodeJpeg, from a private context. The returned record
// belongs to the decoder and is reused by its next decode; its pixels go to the caller.
// createJpegDecoder returns null when out of memory. An ImageDecoder (decoded_image.h)
// holds one for the loader dispatch.
struct JpegDecoder;
JpegDecoder* createJpegDecoder();
void destroyJpegDecoder(JpegDecoder* decoder);
// The decoder's own record: the result of its last decode, or the error of a failed one.
DecodedImage& jpegDecoderRecord(JpegDecoder* decoder);
DecodedImage* decodeJpegWith(JpegDecoder* decoder, const wchar_t* path, int32_t targetWidth, int32_t targetHeight,
                             DecodeCounters& counters);
// decodeJpegMemory from the decoder's private context.
DecodedImage* decodeJpegMemoryWith(JpegDecoder* decoder, const uint8_t* data, size_t size, int32_t targetWidth,
                                   int32_t targetHeight, DecodeCounters& counters);

// The library's message for the last failed decode or encode (at most 199 characters),
// empty when there is none. Shared by decoder and encoder, emptied before each use.
const wchar_t* jpegLibraryMessage();

// Windows only (jpeg_error_win.cpp): shows the error of a JPEG operation to the user.
// Codes 1, 3, 4, 5, 7 show the shared image error message; otherwise a non-empty library
// message is shown titled "JPEG Library Error". ownerWindow is an HWND.
void showJpegError(void* ownerWindow, int32_t errorCode);
