// Windows bitmap reader and writer. The reader (decodeBmp) is declared with
// the other decoders in decoded_image.h; this header adds the writer.
#pragma once

#include <cstdint>

#include "image/decoded_image.h"

// Writes an uncompressed bottom-up bitmap file. conversion carries width, height, source
// and target depth and the pixels per metre; the caller need not call computeLayout (the
// writer does). When the depths differ the source is converted with convertDepth (a palette
// source, if any, is conversion.sourcePalette); when both are below 24 and equal, the palette
// written is conversion.sourcePalette, or zeros when it is absent. sourcePixels rows are
// bottom row first with the usual 4-byte padding (48-bit rows unpadded).
// Returns true on success; on failure conversion.errorCode is 1 (memory), 5 (create) or
// 7 (conversion or write failed) and a partly written file is deleted.
bool writeBmp(const wchar_t* path, DepthConversion& conversion, const uint8_t* sourcePixels);
