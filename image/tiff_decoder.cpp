// TIFF decoder: the first directory of an uncompressed TIFF in strips, of the simple kinds
// (bilevel, greyscale, palette, RGB with 8 or 16 bits per sample), either byte order.
// Anything compressed, tiled, planar or otherwise unusual is refused, so the loader can
// offer the file to the image plug-ins instead.
//
// Offsets and counts in the file are 32-bit and hostile files choose them freely, so every
// range test is written as "count <= size - offset" after "offset <= size" (or in 64-bit),
// never as "offset + count <= size", which wraps in the 32-bit build.
#include "image/tiff_decoder.h"

#include <bit>
#include <cmath>
#include <cstring>

#include "base/byte_order.h"

namespace {

enum : uint16_t {
    kTypeShort = 3,
    kTypeLong = 4,
};

enum : uint16_t {
    kTagImageWidth = 256,
    kTagImageLength = 257,
    kTagBitsPerSample = 258,
    kTagCompression = 259,
    kTagPhotometric = 262,
    kTagFillOrder = 266,
    kTagImageDescription = 270,
    kTagStripOffsets = 273,
    kTagSamplesPerPixel = 277,
    kTagStripByteCounts = 279,
    kTagXResolution = 282,
    kTagYResolution = 283,
    kTagPlanarConfiguration = 284,
    kTagResolutionUnit = 296,
    kTagColorMap = 320,
    kTagTileWidth = 322,
    kTagTileLength = 323,
    kTagTileOffsets = 324,
    kTagTileByteCounts = 325,
    kTagSampleFormat = 339,
};

// An array of SHORT or LONG values somewhere inside the file.
struct ValueArray {
    const uint8_t* base = nullptr;
    uint32_t count = 0;
    uint16_t type = 0;
};

// The decoder's state for one decode, with the record it fills.
struct TiffState {
    const uint8_t* data = nullptr;
    size_t size = 0;
    bool bigEndian = false;
    uint32_t width = 0, height = 0;
    uint32_t bitsPerSample = 1;
    uint32_t bitsPerSampleCount = 0;
    uint32_t compression = 1;
    uint32_t photometric = 4;  // no accepted kind uses 4: a file without the tag is refused
    uint32_t resolutionUnit = 2;
    uint32_t xResolutionOffset = 0, yResolutionOffset = 0;
    bool hasColorMap = false;
    uint32_t colorMapOffset = 0;
    ValueArray stripOffsets, stripByteCounts;
    bool hasDescription = false;
    // Layouts this decoder does not read; refused after the directory walk.
    bool tiled = false;
    uint32_t samplesPerPixel = 0;  // 0: tag absent
    uint32_t planarConfiguration = 1;
    uint32_t fillOrder = 1;
    uint32_t sampleFormat = 1;
    int32_t error = 0;
    DecodedImage* record = nullptr;
    const std::atomic<bool>* stop = nullptr;
};

uint16_t read16(const TiffState& s, const uint8_t* p) { return ::read16(!s.bigEndian, p); }
uint32_t read32(const TiffState& s, const uint8_t* p) { return ::read32(!s.bigEndian, p); }

bool rangeInFile(const TiffState& s, uint64_t offset, uint64_t count) {
    return offset <= s.size && count <= s.size - offset;
}

uint32_t arrayValue(const TiffState& s, const ValueArray& a, uint32_t index) {
    return a.type == kTypeShort ? read16(s, a.base + size_t(index) * 2) : read32(s, a.base + size_t(index) * 4);
}

// The first value of a SHORT or LONG entry, which the entry holds itself.
uint32_t inlineValue(const TiffState& s, uint16_t type, const uint8_t* field) {
    return type == kTypeLong ? read32(s, field) : read16(s, field);
}

// The values of an entry lie in its own 4-byte field when they fit there, as the format
// stores them (two SHORT strip offsets are inline too), otherwise at the offset it holds.
bool readArray(TiffState& s, const uint8_t* entry, ValueArray& out) {
    const uint16_t type = read16(s, entry + 2);
    const uint32_t count = read32(s, entry + 4);
    if ((type != kTypeShort && type != kTypeLong) || count == 0 || out.base) return false;
    const uint64_t bytes = uint64_t(count) * (type == kTypeShort ? 2 : 4);
    const uint8_t* base = entry + 8;
    if (bytes > 4) {
        const uint32_t offset = read32(s, entry + 8);
        if (!rangeInFile(s, offset, bytes)) return false;
        base = s.data + offset;
    }
    out = ValueArray{base, count, type};
    return true;
}

bool readDimension(TiffState& s, const uint8_t* entry, uint32_t& value) {
    const uint16_t type = read16(s, entry + 2);
    if (type != kTypeShort && type != kTypeLong) {
        s.error = ErrMalformed;
        return false;
    }
    value = inlineValue(s, type, entry + 8);
    if (value == 0) {
        s.error = ErrMalformed;
        return false;
    }
    if (value > uint32_t(kMaxImageSide)) {
        s.error = ErrUnsupported;
        return false;
    }
    return true;
}

bool readEntry(TiffState& s, const uint8_t* entry) {
    const uint16_t tag = read16(s, entry);
    const uint16_t type = read16(s, entry + 2);
    const uint32_t count = read32(s, entry + 4);
    const uint8_t* field = entry + 8;
    switch (tag) {
    case kTagImageWidth:
        return readDimension(s, entry, s.width);
    case kTagImageLength:
        return readDimension(s, entry, s.height);
    case kTagBitsPerSample:
        s.bitsPerSampleCount = count;
        if (count == 1) {
            s.bitsPerSample = inlineValue(s, type, field);
        } else if (count == 3) {
            const uint32_t offset = read32(s, field);
            if (!rangeInFile(s, offset, 6)) {
                s.error = ErrMalformed;
                return false;
            }
            const uint8_t* p = s.data + offset;
            const uint32_t r = read16(s, p), g = read16(s, p + 2), b = read16(s, p + 4);
            if (r != g || g != b || (r != 8 && r != 16)) {
                s.error = ErrMalformed;
                return false;
            }
            s.bitsPerSample = r;
        }
        return true;
    case kTagCompression:
        s.compression = inlineValue(s, type, field);
        if (s.compression != 1) {
            s.error = ErrUnsupported;
            return false;
        }
        return true;
    case kTagPhotometric:
        s.photometric = inlineValue(s, type, field);
        return true;
    case kTagImageDescription:
        s.hasDescription = true;
        return true;
    case kTagStripOffsets:
        if (!readArray(s, entry, s.stripOffsets)) {
            s.error = ErrMalformed;
            return false;
        }
        return true;
    case kTagStripByteCounts:
        if (!readArray(s, entry, s.stripByteCounts)) {
            s.error = ErrMalformed;
            return false;
        }
        return true;
    case kTagXResolution:
        s.xResolutionOffset = read32(s, field);
        return true;
    case kTagYResolution:
        s.yResolutionOffset = read32(s, field);
        return true;
    case kTagResolutionUnit:
        s.resolutionUnit = inlineValue(s, type, field);
        return true;
    case kTagColorMap:
        s.hasColorMap = true;
        s.colorMapOffset = read32(s, field);
        return true;
    case kTagFillOrder:
        s.fillOrder = inlineValue(s, type, field);
        return true;
    case kTagSamplesPerPixel:
        s.samplesPerPixel = inlineValue(s, type, field);
        return true;
    case kTagPlanarConfiguration:
        s.planarConfiguration = inlineValue(s, type, field);
        return true;
    case kTagSampleFormat:
        // One value per sample; when they sit at an offset, the first is enough to tell
        // unsigned integers from anything else.
        if (uint64_t(count) * 2 <= 4 || type != kTypeShort) {
            s.sampleFormat = inlineValue(s, type, field);
        } else {
            const uint32_t offset = read32(s, field);
            s.sampleFormat = rangeInFile(s, offset, 2) ? read16(s, s.data + offset) : 0;
        }
        return true;
    case kTagTileWidth:
    case kTagTileLength:
    case kTagTileOffsets:
    case kTagTileByteCounts:
        s.tiled = true;
        return true;
    default:
        return true;
    }
}

bool readDirectory(TiffState& s) {
    if (s.size < 8 || !((s.data[0] == 'I' && s.data[1] == 'I') || (s.data[0] == 'M' && s.data[1] == 'M'))) {
        s.error = ErrMalformed;
        return false;
    }
    s.bigEndian = s.data[0] == 'M';
    if (read16(s, s.data + 2) != 42) {
        s.error = ErrMalformed;
        return false;
    }
    const uint32_t directory = read32(s, s.data + 4);
    if (!rangeInFile(s, directory, 2)) {
        s.error = ErrMalformed;
        return false;
    }
    const uint32_t entries = read16(s, s.data + directory);
    if (!rangeInFile(s, uint64_t(directory) + 2, uint64_t(entries) * 12)) {
        s.error = ErrMalformed;
        return false;
    }
    const uint8_t* entry = s.data + directory + 2;
    for (uint32_t i = 0; i < entries; ++i, entry += 12) {
        if (!readEntry(s, entry)) return false;
    }
    // A directory without size or strips has no image this decoder could read.
    if (s.width == 0 || s.height == 0) {
        s.error = ErrMalformed;
        return false;
    }
    if (s.stripOffsets.count != s.stripByteCounts.count || (s.stripOffsets.count == 0 && !s.tiled)) {
        s.error = ErrMalformed;
        return false;
    }
    return true;
}

// Output depth 8 or 24 for an accepted kind, 0 otherwise.
int32_t outputDepth(const TiffState& s) {
    if (s.tiled || s.fillOrder != 1 || s.sampleFormat != 1) return 0;
    const bool oneSample = s.bitsPerSampleCount <= 1 && (s.samplesPerPixel == 0 || s.samplesPerPixel == 1);
    const bool smallBits = s.bitsPerSample == 1 || s.bitsPerSample == 4 || s.bitsPerSample == 8;
    switch (s.photometric) {
    case 0:
    case 1:
        return oneSample && smallBits ? 8 : 0;
    case 3:
        return oneSample && smallBits && s.hasColorMap ? 8 : 0;
    case 2:
        if (s.bitsPerSampleCount != 3 || (s.bitsPerSample != 8 && s.bitsPerSample != 16)) return 0;
        if (s.samplesPerPixel != 0 && s.samplesPerPixel != 3) return 0;
        if (s.planarConfiguration != 1) return 0;
        return 24;
    default:
        return 0;
    }
}

bool buildPalette(TiffState& s) {
    const uint32_t entries = 1u << s.bitsPerSample;
    if (s.photometric == 3) {
        if (!rangeInFile(s, s.colorMapOffset, uint64_t(entries) * 6)) {
            s.error = ErrRead;
            return false;
        }
        const uint8_t* map = s.data + s.colorMapOffset;
        const uint8_t* green = map + size_t(entries) * 2;
        const uint8_t* blue = green + size_t(entries) * 2;
        for (uint32_t k = 0; k < entries; ++k) {
            s.record->palette[k].red = uint8_t(read16(s, map + k * 2) >> 8);
            s.record->palette[k].green = uint8_t(read16(s, green + k * 2) >> 8);
            s.record->palette[k].blue = uint8_t(read16(s, blue + k * 2) >> 8);
        }
        return true;
    }
    const uint32_t step = s.bitsPerSample == 1 ? 255 : s.bitsPerSample == 4 ? 17 : 1;
    for (uint32_t k = 0; k < entries; ++k) {
        const uint8_t grey = uint8_t(s.photometric == 0 ? 255 - k * step : k * step);
        s.record->palette[k] = PaletteEntry{grey, grey, grey, 0};
    }
    return true;
}

// Row converters: one source row of the file's layout to one output row.
struct BitTables {
    uint8_t bits[256][8];
    uint8_t nibbles[256][2];
    BitTables() {
        for (int v = 0; v < 256; ++v) {
            for (int b = 0; b < 8; ++b) bits[v][b] = uint8_t((v >> (7 - b)) & 1);
            nibbles[v][0] = uint8_t(v >> 4);
            nibbles[v][1] = uint8_t(v & 15);
        }
    }
};
const BitTables& bitTables() {
    static const BitTables tables;
    return tables;
}

void convertRow1(const uint8_t* src, uint8_t* dst, uint32_t width) {
    const BitTables& t = bitTables();
    const uint32_t whole = width / 8;
    for (uint32_t i = 0; i < whole; ++i) std::memcpy(dst + i * 8, t.bits[src[i]], 8);
    const uint32_t rest = width % 8;
    if (rest) std::memcpy(dst + whole * 8, t.bits[src[whole]], rest);
}

void convertRow4(const uint8_t* src, uint8_t* dst, uint32_t width) {
    const BitTables& t = bitTables();
    const uint32_t whole = width / 2;
    for (uint32_t i = 0; i < whole; ++i) std::memcpy(dst + i * 2, t.nibbles[src[i]], 2);
    if (width & 1) dst[width - 1] = uint8_t(src[whole] >> 4);
}

void convertRowRgb8(const uint8_t* __restrict src, uint8_t* __restrict dst, uint32_t width) {
    // Four pixels (12 bytes) per step through three 32-bit words: the samples move within
    // the words with shifts and masks instead of twelve byte loads and stores.
    uint32_t x = 0;
    for (; x + 4 <= width; x += 4, src += 12, dst += 12) {
        uint32_t a, b, c;  // r0 g0 b0 r1 | g1 b1 r2 g2 | b2 r3 g3 b3 (little-endian words)
        std::memcpy(&a, src, 4);
        std::memcpy(&b, src + 4, 4);
        std::memcpy(&c, src + 8, 4);
        if constexpr (std::endian::native == std::endian::big) {
            a = __builtin_bswap32(a);
            b = __builtin_bswap32(b);
            c = __builtin_bswap32(c);
        }
        // b0 g0 r0 b1 | g1 r1 b2 g2 | r2 b3 g3 r3
        uint32_t p = ((a >> 16) & 0xFF) | (a & 0xFF00) | ((a & 0xFF) << 16) | ((b & 0xFF00) << 16);
        uint32_t q = (b & 0xFF) | ((a >> 16) & 0xFF00) | ((c & 0xFF) << 16) | (b & 0xFF000000);
        uint32_t r = ((b >> 16) & 0xFF) | ((c >> 16) & 0xFF00) | (c & 0xFF0000) | ((c & 0xFF00) << 16);
        if constexpr (std::endian::native == std::endian::big) {
            p = __builtin_bswap32(p);
            q = __builtin_bswap32(q);
            r = __builtin_bswap32(r);
        }
        std::memcpy(dst, &p, 4);
        std::memcpy(dst + 4, &q, 4);
        std::memcpy(dst + 8, &r, 4);
    }
    for (; x < width; ++x, src += 3, dst += 3) {
        dst[0] = src[2];
        dst[1] = src[1];
        dst[2] = src[0];
    }
}

template <int High>
void convertRowRgb16(const uint8_t* __restrict src, uint8_t* __restrict dst, uint32_t width) {
    for (uint32_t x = 0; x < width; ++x, src += 6, dst += 3) {
        dst[0] = src[4 + High];
        dst[1] = src[2 + High];
        dst[2] = src[High];
    }
}

// Reads the strips as one stream of rows, straight from the mapped file; a row that spans
// two strips is gathered first. Stops when the strip data run out (rows not produced stay
// zero), so a file whose byte counts are short is never read past them.
// The stop flag is looked at every 64 rows: often enough to end a huge image within
// milliseconds, rarely enough to cost nothing.
constexpr uint32_t kStopCheckRows = 63;

bool convertStrips(TiffState& s, uint8_t* pixels, size_t stride, int32_t depth) {
    const uint32_t width = s.width;
    size_t rowBytes;
    if (depth == 24) {
        rowBytes = size_t(width) * (s.bitsPerSample == 16 ? 6 : 3);
    } else {
        rowBytes = s.bitsPerSample == 1 ? (width + 7) / 8 : s.bitsPerSample == 4 ? (width + 1) / 2 : width;
    }

    // Every strip must lie within the file.
    for (uint32_t i = 0; i < s.stripOffsets.count; ++i) {
        const uint32_t count = arrayValue(s, s.stripByteCounts, i);
        if (count && !rangeInFile(s, arrayValue(s, s.stripOffsets, i), count)) {
            s.error = ErrRead;
            return false;
        }
    }

    uint8_t* gathered = nullptr;
    uint32_t strip = 0;
    const uint8_t* cursor = nullptr;
    size_t left = 0;
    auto nextStrip = [&]() {
        while (left == 0) {
            if (strip >= s.stripOffsets.count) return false;
            cursor = s.data + arrayValue(s, s.stripOffsets, strip);
            left = arrayValue(s, s.stripByteCounts, strip);
            ++strip;
        }
        return true;
    };

    bool ok = true;
    for (uint32_t y = 0; y < s.height; ++y) {
        if ((y & kStopCheckRows) == 0 && s.stop && s.stop->load(std::memory_order_relaxed)) {
            s.error = ErrMemory;
            ok = false;
            break;
        }
        if (!nextStrip()) break;
        const uint8_t* src;
        bool complete = true;
        if (left >= rowBytes) {
            src = cursor;
            cursor += rowBytes;
            left -= rowBytes;
        } else {
            if (!gathered) {
                gathered = static_cast<uint8_t*>(pageAlloc(rowBytes));
                if (!gathered) {
                    s.error = ErrMemory;
                    ok = false;
                    break;
                }
            }
            size_t have = 0;
            while (have < rowBytes && nextStrip()) {
                const size_t take = left < rowBytes - have ? left : rowBytes - have;
                std::memcpy(gathered + have, cursor, take);
                have += take;
                cursor += take;
                left -= take;
            }
            if (have < rowBytes) {
                std::memset(gathered + have, 0, rowBytes - have);
                complete = false;
            }
            src = gathered;
        }
        uint8_t* dst = pixels + stride * (s.height - 1 - y);
        if (depth == 24) {
            if (s.bitsPerSample == 8) {
                convertRowRgb8(src, dst, width);
            } else if (s.bigEndian) {
                convertRowRgb16<0>(src, dst, width);
            } else {
                convertRowRgb16<1>(src, dst, width);
            }
        } else if (s.bitsPerSample == 1) {
            convertRow1(src, dst, width);
        } else if (s.bitsPerSample == 4) {
            convertRow4(src, dst, width);
        } else {
            std::memcpy(dst, src, width);
        }
        if (!complete) break;
    }
    pageFree(gathered);
    return ok;
}

int32_t pixelsPerMetre(uint32_t numerator, uint32_t denominator, uint32_t unit) {
    double value;
    if (unit == 2) {
        value = std::floor(double(numerator) / 0.0254 / double(denominator) + 0.5);
    } else if (unit == 3) {
        value = std::floor(double(numerator) * 100.0 / double(denominator) + 0.5);
    } else {
        return 0;
    }
    // Absurd resolutions must not overflow the header's signed field.
    return value >= 2147483647.0 ? 2147483647 : int32_t(value);
}

void readResolution(const TiffState& s) {
    if (!s.xResolutionOffset || !s.yResolutionOffset) return;
    if (!rangeInFile(s, s.xResolutionOffset, 8) || !rangeInFile(s, s.yResolutionOffset, 8)) return;
    const uint8_t* x = s.data + s.xResolutionOffset;
    const uint8_t* y = s.data + s.yResolutionOffset;
    const uint32_t xDen = read32(s, x + 4), yDen = read32(s, y + 4);
    if (xDen == 0 || yDen == 0) return;
    s.record->header.biXPelsPerMeter = pixelsPerMetre(read32(s, x), xDen, s.resolutionUnit);
    s.record->header.biYPelsPerMeter = pixelsPerMetre(read32(s, y), yDen, s.resolutionUnit);
}

bool decodeState(TiffState& s) {
    if (!readDirectory(s)) return false;
    const int32_t depth = outputDepth(s);
    if (depth == 0) {
        s.error = ErrUnsupported;
        return false;
    }
    const uint64_t stride = depth == 24 ? (uint64_t(s.width) * 3 + 3) & ~uint64_t(3) : (uint64_t(s.width) + 3) & ~uint64_t(3);
    const uint64_t imageSize = stride * s.height;
    if (imageSize > 0xFFFFFFFFu || imageSize > SIZE_MAX) {
        s.error = ErrUnsupported;
        return false;
    }
    if (depth == 8 && !buildPalette(s)) return false;

    s.record->header = BitmapInfoHeader{};
    s.record->header.biWidth = int32_t(s.width);
    s.record->header.biHeight = int32_t(s.height);
    s.record->header.biBitCount = uint16_t(depth);
    uint8_t* pixels = static_cast<uint8_t*>(pageAlloc(size_t(imageSize)));
    if (!pixels) {
        s.error = ErrMemory;
        return false;
    }
    if (!convertStrips(s, pixels, size_t(stride), depth)) {
        pageFree(pixels);
        return false;
    }
    s.record->pixels = pixels;
    readResolution(s);
    s.record->sourceDepth = int32_t(depth == 24 ? s.bitsPerSample * 3 : s.bitsPerSample);
    s.record->format = FormatTiff;
    return true;
}

}  // namespace

DecodedImage* decodeTiffMemory(const uint8_t* data, size_t size, DecodedImage& record, DecodeCounters& counters,
                               const std::atomic<bool>* stop) {
    record = DecodedImage{};
    counters = DecodeCounters{};
    TiffState s;
    s.stop = stop;
    s.record = &record;
    s.data = data;
    s.size = size;
    if (!decodeState(s)) {
        record.errorCode = s.error ? s.error : ErrMalformed;
        return nullptr;
    }
    counters.fileWidth = int32_t(s.width);
    counters.fileHeight = int32_t(s.height);
    counters.commentCount = s.hasDescription ? 1 : 0;
    return &record;
}

DecodedImage* decodeTiff(const wchar_t* path, DecodedImage& record, DecodeCounters& counters,
                         const std::atomic<bool>* stop) {
    DecoderInput input;
    int32_t error = 0;
    const uint32_t size = mapImageFile(path, input, error);
    if (size == 0) {
        record = DecodedImage{};
        counters = DecodeCounters{};
        record.errorCode = error ? error : ErrRead;
        return nullptr;
    }
    DecodedImage* image = decodeTiffMemory(input.cursor, size_t(input.end - input.cursor), record, counters, stop);
    if (image) {
        image->fileSize = size;
        getLastWriteTime(path, image->lastWriteTime);
    }
    unmapImageFile(input);
    return image;
}
