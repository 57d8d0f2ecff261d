// GIF decoder: the first image of a GIF file drawn on its logical screen as an 8-bit
// palette image. Animation is not played; transparency is resolved into the palette.
//
// Every read of file data is checked against the end of the mapped bytes, and the LZW
// decompressor writes only inside its index buffer: hostile files end the decode, they
// never make it read or write elsewhere.
#include "image/gif_decoder.h"

#include <bit>
#include <cstring>

#include "base/byte_order.h"

namespace {

constexpr uint32_t kDictionarySize = 4096;
// Extra bytes behind the index buffer, so string copies can move 8 bytes at a time
// without a bounds test per byte.
constexpr size_t kSlack = 16;

struct Rgb {
    uint8_t r, g, b;
};

// The decoder's state for one decode, with the record it fills.
struct GifState {
    const uint8_t* cursor = nullptr;
    const uint8_t* end = nullptr;
    int32_t screenWidth = 0, screenHeight = 0;
    bool hasGlobalTable = false;
    int32_t globalBits = 0;
    Rgb globalTable[256] = {};  // entries past a short table stay black
    uint8_t backgroundIndex = 0;
    bool hasLocalTable = false;
    int32_t localBits = 0;
    Rgb localTable[256] = {};
    int32_t left = 0, top = 0, width = 0, height = 0;
    bool interlaced = false;
    bool transparent = false;
    uint8_t transparentIndex = 0;
    int32_t disposal = 0;
    int32_t delay = 0;
    bool commentSeen = false;
    const uint8_t* lzwBlocks = nullptr;  // the image data sub-blocks, in the file
    int32_t error = 0;
    DecodedImage* record = nullptr;
};

// The LZW dictionary: every entry's string already sits in the index buffer, where it
// was first produced, so an entry is an offset and a length there.
struct LzwDictionary {
    uint32_t entryOffset[kDictionarySize];
    uint16_t entryLength[kDictionarySize];
};

size_t remaining(const GifState& s) { return size_t(s.end - s.cursor); }

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
        s.error = ErrMalformed;
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
            s.delay = readLe16(s.cursor + 2);
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
        s.error = ErrRead;
        return false;
    }
    s.error = ErrMalformed;
    return false;
}

// Walks the image data sub-blocks up to the zero-length terminator; false when one runs
// past the end of the file or there are no data at all.
bool checkImageData(GifState& s) {
    s.lzwBlocks = s.cursor;
    size_t total = 0;
    for (;;) {
        if (s.cursor >= s.end) return false;
        const uint8_t length = *s.cursor++;
        if (length == 0) break;
        if (length > remaining(s)) return false;
        total += length;
        s.cursor += length;
    }
    return total != 0;
}

// LSB-first bit reader over the data sub-blocks in place (already checked to lie within
// the file and to end with a terminator).
struct BlockBits {
    const uint8_t* in;
    size_t blockLeft = 0;
    bool ended = false;
    uint64_t buffer = 0;
    uint32_t count = 0;

    explicit BlockBits(const uint8_t* blocks) : in(blocks) {}

    void refill() {
        if (blockLeft >= 8) {
            // Eight bytes of the current block: take as many whole bytes as fit. The bits
            // of the partly taken byte are ORed in again, identically, next time.
            buffer |= readLe64(in) << count;
            const uint32_t taken = (63 - count) >> 3;
            in += taken;
            blockLeft -= taken;
            count |= 56;
            return;
        }
        while (count <= 56) {
            if (blockLeft == 0) {
                if (ended) return;
                const uint8_t length = *in++;
                if (length == 0) {
                    ended = true;
                    return;
                }
                blockLeft = length;
            }
            buffer |= uint64_t(*in++) << count;
            count += 8;
            --blockLeft;
        }
    }
};

// Decodes the LZW data into out[0..total), the image rows one after the other. Stops at
// the end code, when the data are used up, when a string would not fit, or at a code
// beyond the next free entry (invalid data); indices not produced stay 0. out must have
// kSlack writable bytes behind total.
void decodeLzw(LzwDictionary& dictionary, const uint8_t* blocks, int minCodeSize, uint8_t* out, uint32_t total) {
    const uint32_t clearCode = 1u << minCodeSize;
    const uint32_t endCode = clearCode + 1;
    uint32_t nextFree = clearCode + 2;
    uint32_t codeSize = minCodeSize + 1;
    uint32_t mask = (1u << codeSize) - 1;
    BlockBits bits(blocks);

    uint32_t pos = 0;
    bool havePrevious = false;
    uint32_t previousPos = 0, previousLength = 0;

    for (;;) {
        if (bits.count < codeSize) {
            bits.refill();
            if (bits.count < codeSize) break;  // data used up
        }
        const uint32_t code = uint32_t(bits.buffer) & mask;
        bits.buffer >>= codeSize;
        bits.count -= codeSize;

        uint32_t length;
        if (code < clearCode) {
            if (pos >= total) break;
            out[pos] = uint8_t(code);
            length = 1;
        } else if (code > endCode && code < nextFree) {
            length = dictionary.entryLength[code];
            if (length > total - pos) break;
            copyString(out + pos, out + dictionary.entryOffset[code], length);
        } else if (code == clearCode) {
            codeSize = minCodeSize + 1;
            mask = (1u << codeSize) - 1;
            nextFree = clearCode + 2;
            havePrevious = false;
            continue;
        } else if (code == nextFree && havePrevious) {
            // The code being defined: the previous string and its own first byte.
            length = previousLength + 1;
            if (length > total - pos) break;
            copyString(out + pos, out + previousPos, previousLength);
            out[pos + previousLength] = out[previousPos];
        } else {
            break;  // end code, or beyond the next free entry / nothing to extend: invalid data
        }

        if (havePrevious && nextFree < kDictionarySize) {
            // previous string + first byte of this one: found in the output where the
            // previous string starts, one byte longer.
            dictionary.entryOffset[nextFree] = previousPos;
            dictionary.entryLength[nextFree] = uint16_t(previousLength + 1);
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

// Puts the rows of an interlaced image, decoded one after the other at the start of
// pixels, into display order in place by following the cycles of the row permutation.
bool deinterlaceInPlace(GifState& s, uint8_t* pixels) {
    const size_t w = size_t(s.width);
    const int32_t h = s.height;
    uint8_t* scratch = static_cast<uint8_t*>(pageAlloc(w + size_t(h)));
    if (!scratch) {
        s.error = ErrMemory;
        return false;
    }
    uint8_t* done = scratch + w;
    for (int32_t start = 0; start < h; ++start) {
        if (done[start]) continue;
        std::memcpy(scratch, pixels + w * size_t(start), w);
        int32_t row = start;
        for (;;) {
            done[row] = 1;
            const int32_t from = interlacedSourceRow(row, h);
            if (from == start) {
                std::memcpy(pixels + w * size_t(row), scratch, w);
                break;
            }
            std::memcpy(pixels + w * size_t(row), pixels + w * size_t(from), w);
            row = from;
        }
    }
    pageFree(scratch);
    return true;
}

// The image was decoded into the start of the screen buffer, its rows one after the other
// in display order. Moves them to their place on the screen, fills the background around
// them, and turns the buffer bottom-up.
bool layOutScreen(GifState& s, uint8_t* pixels, size_t stride) {
    const size_t w = size_t(s.width), sw = size_t(s.screenWidth);
    const int32_t sh = s.screenHeight;
    const uint8_t bg = s.backgroundIndex;
    const bool inPlace = stride == w && s.left == 0 && s.top == 0;
    if (!inPlace) {
        // Last row first: a row's place is never below where it was decoded, so no row is
        // overwritten before it has moved.
        for (int32_t y = s.height - 1; y >= 0; --y) {
            std::memmove(pixels + stride * size_t(s.top + y) + size_t(s.left), pixels + w * size_t(y), w);
        }
    }
    const size_t right = size_t(s.left) + w;
    for (int32_t y = 0; y < sh; ++y) {
        uint8_t* row = pixels + stride * size_t(y);
        if (y < s.top || y >= s.top + s.height || w == 0) {
            std::memset(row, bg, sw);
        } else if (!inPlace) {
            std::memset(row, bg, size_t(s.left));
            std::memset(row + right, bg, sw - right);
        }
        if (!inPlace) std::memset(row + sw, 0, stride - sw);
    }
    if (sh > 1) {
        uint8_t* swap = static_cast<uint8_t*>(pageAlloc(stride));
        if (!swap) {
            s.error = ErrMemory;
            return false;
        }
        for (int32_t y = 0; y < sh / 2; ++y) {
            uint8_t* a = pixels + stride * size_t(y);
            uint8_t* b = pixels + stride * size_t(sh - 1 - y);
            std::memcpy(swap, a, stride);
            std::memcpy(a, b, stride);
            std::memcpy(b, swap, stride);
        }
        pageFree(swap);
    }
    return true;
}

bool readImage(GifState& s) {
    if (remaining(s) < 9) {
        s.error = ErrMalformed;
        return false;
    }
    s.left = readLe16(s.cursor);
    s.top = readLe16(s.cursor + 2);
    s.width = readLe16(s.cursor + 4);
    s.height = readLe16(s.cursor + 6);
    const uint8_t packed = s.cursor[8];
    s.cursor += 9;
    s.error = ErrMalformed;
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
    if (!checkImageData(s)) return false;
    s.error = 0;

    Rgb* active = s.hasLocalTable ? s.localTable : s.globalTable;
    if (s.transparent) {
        active[s.transparentIndex] = s.hasGlobalTable ? s.globalTable[s.backgroundIndex] : Rgb{255, 255, 255};
    }
    for (int k = 0; k < 256; ++k) s.record->palette[k] = PaletteEntry{active[k].b, active[k].g, active[k].r, 0};

    // The screen buffer doubles as the index buffer: the image (never larger than the
    // screen) is decoded into its start and then laid out in place.
    const size_t stride = (size_t(s.screenWidth) + 3) & ~size_t(3);
    uint8_t* pixels = static_cast<uint8_t*>(pageAlloc(stride * size_t(s.screenHeight) + kSlack));
    if (!pixels) {
        s.error = ErrMemory;
        return false;
    }
    const size_t count = size_t(s.width) * size_t(s.height);
    LzwDictionary dictionary;  // 24 KB, on the stack of whichever thread decodes
    decodeLzw(dictionary, s.lzwBlocks, minCodeSize, pixels, uint32_t(count));
    if ((s.interlaced && s.height > 1 && !deinterlaceInPlace(s, pixels)) || !layOutScreen(s, pixels, stride)) {
        pageFree(pixels);
        return false;
    }
    s.record->pixels = pixels;
    return true;
}

bool decodeBlocks(GifState& s) {
    const uint8_t* data = s.cursor;
    if (remaining(s) < 13 || std::memcmp(data, "GIF", 3) != 0 ||
        (std::memcmp(data + 3, "87a", 3) != 0 && std::memcmp(data + 3, "89a", 3) != 0)) {
        s.error = ErrMalformed;
        return false;
    }
    s.screenWidth = readLe16(data + 6);
    s.screenHeight = readLe16(data + 8);
    const uint8_t packed = data[10];
    s.cursor += 13;
    if (s.screenWidth == 0 || s.screenHeight == 0 || s.screenWidth > kMaxImageSide ||
        s.screenHeight > kMaxImageSide) {
        s.error = ErrUnsupported;
        return false;
    }
    if (packed & 0x80) {
        s.hasGlobalTable = true;
        s.backgroundIndex = data[11];
        s.globalBits = (packed & 7) + 1;
        const size_t bytes = size_t(3) << s.globalBits;
        if (bytes > remaining(s)) {
            s.error = ErrMalformed;
            return false;
        }
        std::memcpy(s.globalTable, s.cursor, bytes);
        s.cursor += bytes;
    }

    for (;;) {
        if (s.cursor >= s.end) {
            s.error = ErrMalformed;
            return false;
        }
        switch (*s.cursor++) {
        case ',':
            return readImage(s);
        case '!':
            if (!readExtension(s)) return false;
            break;
        case ';':  // trailer before any image
            s.error = ErrMalformed;
            return false;
        default:
            s.error = ErrRead;
            return false;
        }
    }
}

}  // namespace

DecodedImage* decodeGifMemory(const uint8_t* data, size_t size, DecodedImage& record, DecodeCounters& counters) {
    record = DecodedImage{};
    counters = DecodeCounters{};
    GifState s;
    s.record = &record;
    s.cursor = data;
    s.end = data + size;

    if (!decodeBlocks(s)) {
        pageFree(record.pixels);
        record.pixels = nullptr;
        record.errorCode = s.error ? s.error : ErrMalformed;
        return nullptr;
    }
    record.header = BitmapInfoHeader{};
    record.header.biWidth = s.screenWidth;
    record.header.biHeight = s.screenHeight;
    record.header.biBitCount = 8;
    record.format = FormatGif;
    record.sourceDepth = s.hasLocalTable ? s.localBits : s.globalBits;
    counters.fileWidth = s.screenWidth;
    counters.fileHeight = s.screenHeight;
    counters.interlaced = s.interlaced ? 1 : 0;
    counters.commentCount = s.commentSeen ? 1 : 0;
    return &record;
}

DecodedImage* decodeGif(const wchar_t* path, DecodedImage& record, DecodeCounters& counters) {
    DecoderInput input;
    int32_t error = 0;
    const uint32_t size = mapImageFile(path, input, error);
    if (size == 0) {
        record = DecodedImage{};
        counters = DecodeCounters{};
        record.errorCode = error ? error : ErrRead;
        return nullptr;
    }
    DecodedImage* image = decodeGifMemory(input.cursor, size_t(input.end - input.cursor), record, counters);
    if (image) {
        image->fileSize = size;
        getLastWriteTime(path, image->lastWriteTime);
    }
    unmapImageFile(input);
    return image;
}
