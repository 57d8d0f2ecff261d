// GIF decoder: the first image of a GIF file drawn on its logical screen as an 8-bit
// palette image. Animation is not played; transparency is resolved into the palette.
//
// Every read of file data is checked against the end of the mapped bytes, and the LZW
// decompressor writes only inside its index buffer: hostile files end the decode, they
// never make it read or write elsewhere.
#include "image/gif_decoder.h"

#include <bit>
#include <cstring>

namespace {

constexpr int32_t kMaxScreenSide = 25000;
constexpr uint32_t kDictionarySize = 4096;
// Extra bytes behind the LZW input and the index buffer, so the bit reader can load
// 8 bytes at a time and string copies can move 8 bytes at a time without a bounds test
// per byte.
constexpr size_t kSlack = 16;

enum : int32_t { kErrMemory = 1, kErrScreenSize = 2, kErrUnknownBlock = 4, kErrMalformed = 6 };

struct Rgb {
    uint8_t r, g, b;
};

// The decoder's state; one static instance, reset before every decode.
struct GifState {
    const uint8_t* cursor = nullptr;
    const uint8_t* end = nullptr;
    int32_t screenWidth = 0, screenHeight = 0;
    bool hasGlobalTable = false;
    int32_t globalBits = 0;
    Rgb globalTable[256];
    uint8_t backgroundIndex = 0;
    bool hasLocalTable = false;
    int32_t localBits = 0;
    Rgb localTable[256];
    int32_t left = 0, top = 0, width = 0, height = 0;
    bool interlaced = false;
    bool transparent = false;
    uint8_t transparentIndex = 0;
    int32_t disposal = 0;
    int32_t delay = 0;
    bool commentSeen = false;
    uint8_t* lzwData = nullptr;  // concatenated sub-blocks (+ kSlack zero bytes)
    size_t lzwSize = 0;
    uint8_t* indices = nullptr;  // width * height (+ kSlack)
    int32_t error = 0;
};

DecodedImage g_gif;
GifState g_state;
// The LZW dictionary: every entry's string already sits in the index buffer, where it
// was first produced, so an entry is an offset and a length there.
uint32_t g_entryOffset[kDictionarySize];
uint16_t g_entryLength[kDictionarySize];

uint16_t le16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }

size_t remaining(const GifState& s) { return size_t(s.end - s.cursor); }

uint64_t load64le(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
    return v;
}

// Copies n >= 1 bytes in 8-byte steps, possibly writing up to 7 bytes past dst + n.
// Every source byte needed lies below dst, so the chunks never read what they wrote.
inline void copyString(uint8_t* dst, const uint8_t* src, uint32_t n) {
    for (;;) {
        uint64_t v;
        std::memcpy(&v, src, 8);
        std::memcpy(dst, &v, 8);
        if (n <= 8) return;
        n -= 8;
        src += 8;
        dst += 8;
    }
}

// Skips data sub-blocks up to and including the zero-length terminator.
bool skipSubBlocks(GifState& s) {
    for (;;) {
        if (s.cursor >= s.end) return false;
        uint8_t length = *s.cursor++;
        if (length == 0) return true;
        if (length > remaining(s)) return false;
        s.cursor += length;
    }
}

bool readExtension(GifState& s) {
    if (s.cursor >= s.end) {
        s.error = kErrMalformed;
        return false;
    }
    uint8_t label = *s.cursor++;
    switch (label) {
    case 0xF9: {  // graphic control
        // Read from the first sub-block when it is long enough, then skip the rest as
        // sub-blocks, so an odd block size cannot desynchronise the block walk.
        if (s.cursor >= s.end) break;
        uint8_t length = s.cursor[0];
        if (length >= 4 && remaining(s) >= 5u) {
            uint8_t packed = s.cursor[1];
            s.transparent = (packed & 1) != 0;
            s.disposal = (packed >> 2) & 7;
            s.delay = le16(s.cursor + 2);
            s.transparentIndex = s.cursor[4];
        }
        if (skipSubBlocks(s)) return true;
        break;
    }
    case 0xFE:  // comment
        if (skipSubBlocks(s)) {
            s.commentSeen = true;
            return true;
        }
        break;
    case 0x01:  // plain text: a 12-byte header block, then text sub-blocks
    case 0xFF:  // application: an 11-byte identifier block, then data sub-blocks
        if (skipSubBlocks(s)) return true;
        break;
    default:
        s.error = kErrUnknownBlock;
        return false;
    }
    s.error = kErrMalformed;
    return false;
}

// Concatenates the image data sub-blocks into s.lzwData.
bool gatherImageData(GifState& s) {
    size_t total = 0;
    const uint8_t* p = s.cursor;
    for (;;) {
        if (p >= s.end) return false;
        uint8_t length = *p++;
        if (length == 0) break;
        if (length > size_t(s.end - p)) return false;
        total += length;
        p += length;
    }
    if (total == 0) return false;
    s.lzwData = static_cast<uint8_t*>(pageAlloc(total + kSlack));
    if (!s.lzwData) {
        s.error = kErrMemory;
        return false;
    }
    uint8_t* out = s.lzwData;
    for (;;) {
        uint8_t length = *s.cursor++;
        if (length == 0) break;
        std::memcpy(out, s.cursor, length);
        out += length;
        s.cursor += length;
    }
    s.lzwSize = total;
    return true;
}

// Decodes s.lzwData into out[0..total). Stops at the end code, when the data are used
// up, when a string would not fit, or at a code beyond the next free entry (invalid
// data); indices not produced stay 0. out has kSlack writable bytes behind total.
void decodeLzw(const uint8_t* data, size_t dataSize, int minCodeSize, uint8_t* out, uint32_t total) {
    const uint32_t clearCode = 1u << minCodeSize;
    const uint32_t endCode = clearCode + 1;
    uint32_t nextFree = clearCode + 2;
    uint32_t codeSize = minCodeSize + 1;
    uint32_t mask = (1u << codeSize) - 1;

    const uint64_t totalBits = uint64_t(dataSize) * 8;
    uint64_t consumedBits = 0;
    const uint8_t* in = data;
    uint64_t bitBuffer = 0;
    uint32_t bitCount = 0;

    uint32_t pos = 0;
    bool havePrevious = false;
    uint32_t previousPos = 0, previousLength = 0;

    for (;;) {
        if (consumedBits + codeSize > totalBits) break;
        if (bitCount < codeSize) {
            // in never passes data + dataSize + 8: at most 8 bytes are taken beyond the
            // bits already consumed, and the total-bits test above stops first.
            bitBuffer |= load64le(in) << bitCount;
            in += (63 - bitCount) >> 3;
            bitCount |= 56;
        }
        uint32_t code = uint32_t(bitBuffer) & mask;
        bitBuffer >>= codeSize;
        bitCount -= codeSize;
        consumedBits += codeSize;

        if (code == clearCode) {
            codeSize = minCodeSize + 1;
            mask = (1u << codeSize) - 1;
            nextFree = clearCode + 2;
            havePrevious = false;
            continue;
        }
        if (code == endCode) break;

        uint32_t length;
        if (code < clearCode) {
            if (pos >= total) break;
            out[pos] = uint8_t(code);
            length = 1;
        } else if (code < nextFree) {
            length = g_entryLength[code];
            if (length > total - pos) break;
            copyString(out + pos, out + g_entryOffset[code], length);
        } else if (code == nextFree && havePrevious) {
            // The code being defined: the previous string and its own first byte.
            length = previousLength + 1;
            if (length > total - pos) break;
            copyString(out + pos, out + previousPos, previousLength);
            out[pos + previousLength] = out[previousPos];
        } else {
            break;  // beyond the next free entry, or no string to extend: invalid data
        }

        if (havePrevious && nextFree < kDictionarySize) {
            // previous string + first byte of this one: found in the output where the
            // previous string starts, one byte longer.
            g_entryOffset[nextFree] = previousPos;
            g_entryLength[nextFree] = uint16_t(previousLength + 1);
            ++nextFree;
            if (nextFree > mask && codeSize < 12) {
                ++codeSize;
                mask = (1u << codeSize) - 1;
            }
        }
        havePrevious = true;
        previousPos = pos;
        previousLength = length;
        pos += length;
    }
    // The last 8-byte copy may have run past pos; indices not produced stay 0.
    std::memset(out + pos, 0, kSlack);
}

// Decoded row of display row i in an interlaced image of height h (the four passes).
int32_t interlacedSourceRow(int32_t i, int32_t h) {
    const int32_t pass2 = (h + 7) / 8;
    const int32_t pass3 = pass2 + (h + 3) / 8;
    const int32_t pass4 = pass3 + (h + 1) / 4;
    switch (i & 7) {
    case 0: return i / 8;
    case 4: return pass2 + i / 8;
    case 2:
    case 6: return pass3 + i / 4;
    default: return pass4 + i / 2;
    }
}

bool renderScreen(GifState& s) {
    Rgb* active = s.hasLocalTable ? s.localTable : s.globalTable;
    if (s.transparent) {
        active[s.transparentIndex] = s.hasGlobalTable ? s.globalTable[s.backgroundIndex] : Rgb{255, 255, 255};
    }
    for (int k = 0; k < 256; ++k) {
        g_gif.palette[k].blue = active[k].b;
        g_gif.palette[k].green = active[k].g;
        g_gif.palette[k].red = active[k].r;
        g_gif.palette[k].reserved = 0;
    }

    const size_t stride = (size_t(s.screenWidth) + 3) & ~size_t(3);
    uint8_t* pixels = static_cast<uint8_t*>(pageAlloc(stride * size_t(s.screenHeight)));
    if (!pixels) {
        s.error = kErrMemory;
        return false;
    }
    const uint8_t bg = s.backgroundIndex;
    const size_t right = size_t(s.left) + size_t(s.width);
    for (int32_t y = 0; y < s.screenHeight; ++y) {
        // Screen row y (from the top) is buffer row screenHeight - 1 - y.
        uint8_t* row = pixels + stride * size_t(s.screenHeight - 1 - y);
        const int32_t imageRow = y - s.top;
        if (imageRow < 0 || imageRow >= s.height || s.width == 0) {
            if (bg) std::memset(row, bg, size_t(s.screenWidth));
            continue;
        }
        const int32_t sourceRow = s.interlaced ? interlacedSourceRow(imageRow, s.height) : imageRow;
        if (bg) {
            std::memset(row, bg, size_t(s.left));
            std::memset(row + right, bg, size_t(s.screenWidth) - right);
        }
        std::memcpy(row + s.left, s.indices + size_t(sourceRow) * size_t(s.width), size_t(s.width));
    }
    g_gif.pixels = pixels;
    return true;
}

bool readImage(GifState& s) {
    if (remaining(s) < 9) {
        s.error = kErrMalformed;
        return false;
    }
    s.left = le16(s.cursor);
    s.top = le16(s.cursor + 2);
    s.width = le16(s.cursor + 4);
    s.height = le16(s.cursor + 6);
    const uint8_t packed = s.cursor[8];
    s.cursor += 9;
    s.error = kErrMalformed;
    if (s.left + s.width > s.screenWidth || s.top + s.height > s.screenHeight) return false;
    if (packed & 0x80) {
        s.hasLocalTable = true;
        s.localBits = (packed & 7) + 1;
        const size_t bytes = size_t(3) << s.localBits;
        if (bytes > remaining(s)) return false;
        std::memcpy(s.localTable, s.cursor, bytes);
        s.cursor += bytes;
    }
    if (!s.hasLocalTable && !s.hasGlobalTable) return false;
    s.interlaced = (packed & 0x40) != 0;

    if (s.cursor >= s.end) return false;
    const int minCodeSize = *s.cursor++;
    if (minCodeSize < 2 || minCodeSize > 8) return false;
    if (!gatherImageData(s)) return false;

    const size_t count = size_t(s.width) * size_t(s.height);
    s.indices = static_cast<uint8_t*>(pageAlloc(count + kSlack));
    if (!s.indices) {
        s.error = kErrMemory;
        return false;
    }
    decodeLzw(s.lzwData, s.lzwSize, minCodeSize, s.indices, uint32_t(count));
    s.error = 0;
    return renderScreen(s);
}

bool decodeBlocks(GifState& s) {
    const uint8_t* data = s.cursor;
    if (remaining(s) < 13 || std::memcmp(data, "GIF", 3) != 0 ||
        (std::memcmp(data + 3, "87a", 3) != 0 && std::memcmp(data + 3, "89a", 3) != 0)) {
        s.error = kErrMalformed;
        return false;
    }
    s.screenWidth = le16(data + 6);
    s.screenHeight = le16(data + 8);
    const uint8_t packed = data[10];
    s.cursor += 13;
    if (s.screenWidth == 0 || s.screenHeight == 0 || s.screenWidth > kMaxScreenSide ||
        s.screenHeight > kMaxScreenSide) {
        s.error = kErrScreenSize;
        return false;
    }
    if (packed & 0x80) {
        s.hasGlobalTable = true;
        s.backgroundIndex = data[11];
        s.globalBits = (packed & 7) + 1;
        const size_t bytes = size_t(3) << s.globalBits;
        if (bytes > remaining(s)) {
            s.error = kErrMalformed;
            return false;
        }
        std::memcpy(s.globalTable, s.cursor, bytes);
        s.cursor += bytes;
    }

    for (;;) {
        if (s.cursor >= s.end) {
            s.error = kErrMalformed;
            return false;
        }
        switch (*s.cursor++) {
        case ',':
            return readImage(s);
        case '!':
            if (!readExtension(s)) return false;
            break;
        case ';':  // trailer before any image
            s.error = kErrMalformed;
            return false;
        default:
            s.error = kErrUnknownBlock;
            return false;
        }
    }
}

void releaseScratch(GifState& s) {
    pageFree(s.lzwData);
    s.lzwData = nullptr;
    pageFree(s.indices);
    s.indices = nullptr;
}

}  // namespace

DecodedImage& gifRecord() { return g_gif; }

DecodedImage* decodeGifMemory(const uint8_t* data, size_t size, DecodeCounters& counters) {
    g_gif = DecodedImage{};
    g_state = GifState{};
    counters = DecodeCounters{};
    GifState& s = g_state;
    s.cursor = data;
    s.end = data + size;

    const bool ok = decodeBlocks(s);
    releaseScratch(s);
    if (!ok) {
        pageFree(g_gif.pixels);
        g_gif.pixels = nullptr;
        g_gif.errorCode = s.error ? s.error : kErrMalformed;
        return nullptr;
    }
    g_gif.header = BitmapInfoHeader{};
    g_gif.header.biWidth = s.screenWidth;
    g_gif.header.biHeight = s.screenHeight;
    g_gif.header.biBitCount = 8;
    g_gif.format = FormatGif;
    g_gif.sourceDepth = s.hasLocalTable ? s.localBits : s.globalBits;
    counters.fileWidth = s.screenWidth;
    counters.fileHeight = s.screenHeight;
    counters.interlaced = s.interlaced ? 1 : 0;
    counters.commentCount = s.commentSeen ? 1 : 0;
    return &g_gif;
}

DecodedImage* decodeGif(const wchar_t* path, DecodeCounters& counters) {
    DecoderInput input;
    int32_t error = 0;
    const uint32_t size = mapImageFile(path, input, error);
    if (size == 0) {
        g_gif = DecodedImage{};
        counters = DecodeCounters{};
        g_gif.errorCode = error ? error : kErrUnknownBlock;
        return nullptr;
    }
    DecodedImage* image = decodeGifMemory(input.cursor, size_t(input.end - input.cursor), counters);
    if (image) {
        image->fileSize = size;
        getLastWriteTime(path, image->lastWriteTime);
    }
    unmapImageFile(input);
    return image;
}
