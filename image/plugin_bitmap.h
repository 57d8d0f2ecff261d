// What an import filter's "GetPicture" hands back, read into the plug-in record: the two
// memory blocks (a bitmap information block and the pixel bits) are checked against their
// real sizes and turned into the bottom-up bitmap the loader dispatch brings to 24 bits.
// Portable: the Windows host passes its local-memory functions, tests and fuzzers a fake.
#pragma once

#include <cstddef>
#include <cstdint>

#include "image/decoded_image.h"

// Fills record.header, record.palette and record.pixels (a zero-filled page block of the full
// image size, handed to the caller) from one hand-back; infoSize and bitsSize are the blocks'
// real sizes, nothing beyond them is read. Returns ErrNone, or the image error code of the
// refusal with no pixel buffer left behind.
//
// Palette bitmaps (1, 4, 8 bits) and 24-bit ones keep their depth and palette; 16- and 32-bit
// ones become 24 bits (the 4th byte of a 32-bit pixel is alpha composited onto white as the
// PNG decoder does, unless it is 0 throughout; 5- and 6-bit channels scale as the BMP reader
// scales them). Top-down rows are turned bottom-up. Accepted: BI_RGB at 1, 4, 8, 16 (5-5-5),
// 24 and 32 bits; BI_BITFIELDS at 16 bits (5-6-5, 5-5-5) and at 32 bits (8-bit channels).
// A block that is shorter than its header says, or a header of an unknown kind, is refused;
// a colour table is clipped to the block, bits shorter than the image leave the rest black.
int32_t convertPluginBitmap(const uint8_t* info, size_t infoSize, const uint8_t* bits, size_t bitsSize,
                            DecodedImage& record);

// The memory functions the hand-back is read with (LocalSize, LocalLock, LocalUnlock and
// LocalFree on Windows). lock may fail (null); size 0 means no usable block.
class PluginMemory {
public:
    virtual size_t size(void* handle) = 0;
    virtual const void* lock(void* handle) = 0;
    virtual void unlock(void* handle) = 0;
    virtual void release(void* handle) = 0;

protected:
    ~PluginMemory() = default;
};

// Takes over what "GetPicture" returned (its result and the two handles it wrote) and converts
// it with convertPluginBitmap. After a non-zero result the handles are not touched at all:
// the filter still owns them, and some free them before they return. Otherwise every handle
// handed over is released exactly once before this returns, also when both name one block
// (refused: a bitmap cannot be its own header) or one of them is null.
int32_t takePluginPicture(PluginMemory& memory, int result, void* info, void* bits, DecodedImage& record);
