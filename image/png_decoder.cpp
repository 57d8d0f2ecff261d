// The program's own PNG decoder.
//
// The file is mapped, never read: the chunk walk checks lengths against the end of the
// view before touching anything, and the IDAT data is inflated straight from the view, one
// row per inflate call, so only two rows of filtered data are ever held. Each row is
// unfiltered and converted to the output format (8-bit palette/grey or 24-bit BGR, bottom
// row first) in one pass by a handler chosen once per image. Gamma and compositing onto
// the background are folded into that pass where they touch pixels, and applied to the
// palette afterwards where they do not.
#include <zlib.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "base/byte_order.h"
#include "base/private_heap.h"
#include "image/decoded_image.h"
#include "image/png_unfilter.h"

namespace {

constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

constexpr uint32_t chunkType(char a, char b, char c, char d) {
    return (uint32_t(uint8_t(a)) << 24) | (uint32_t(uint8_t(b)) << 16) | (uint32_t(uint8_t(c)) << 8) | uint32_t(uint8_t(d));
}
constexpr uint32_t kIHDR = chunkType('I', 'H', 'D', 'R');
constexpr uint32_t kPLTE = chunkType('P', 'L', 'T', 'E');
constexpr uint32_t kIDAT = chunkType('I', 'D', 'A', 'T');
constexpr uint32_t kIEND = chunkType('I', 'E', 'N', 'D');
constexpr uint32_t ktRNS = chunkType('t', 'R', 'N', 'S');
constexpr uint32_t kgAMA = chunkType('g', 'A', 'M', 'A');
constexpr uint32_t kpHYs = chunkType('p', 'H', 'Y', 's');
constexpr uint32_t ktEXt = chunkType('t', 'E', 'X', 't');

// Checks the CRC of the chunk whose length field starts at p (type + data, then the CRC).
inline bool chunkCrcMatches(const uint8_t* p, uint32_t length) {
    return crc32Of(p + 4, size_t(length) + 4) == readBe32(p + 8 + length);
}

// ------------------------------------------------------------------ row conversion

// Everything a row handler needs besides the row itself. Set up once per image.
struct ConvertContext {
    const uint8_t* gamma;       // 256 entries; identity when no gamma correction applies
    const uint8_t* blend;       // the 256 x 256 alpha-product table
    uint8_t background[3];      // blue, green, red
    uint8_t backgroundTerm[3][256];  // [channel][a] = T[255 - a][background channel]
    uint8_t key[3];             // tRNS colour key: red, green, blue (8-bit or high bytes)
};

// Where a reconstructed row goes: 'count' pixels starting at 'out', 'step' bytes apart
// (the output pixel size, times the Adam7 column step for interlaced passes).
struct RowTarget {
    uint8_t* out;
    ptrdiff_t step;
    uint32_t count;
};

using RowHandler = void (*)(uint8_t* cur, const uint8_t* prev, size_t rowBytes, const RowTarget& target,
                            const ConvertContext& ctx);

// Packed 1/2/4-bit grey or palette: one output byte per pixel holding the sample, most
// significant bits first; the last byte yields only the pixels that remain.
template <int Depth>
struct PackedFamily {
    static constexpr int kBpp = 1;
    static void convert(const uint8_t* in, const RowTarget& t, const ConvertContext&) {
        constexpr int perByte = 8 / Depth;
        constexpr unsigned mask = (1u << Depth) - 1;
        uint8_t* out = t.out;
        uint32_t left = t.count;
        while (left >= uint32_t(perByte)) {
            const unsigned byte = *in++;
            for (int k = 0; k < perByte; ++k) {
                *out = uint8_t((byte >> (8 - Depth * (k + 1))) & mask);
                out += t.step;
            }
            left -= perByte;
        }
        if (left) {
            const unsigned byte = *in;
            for (uint32_t k = 0; k < left; ++k) {
                *out = uint8_t((byte >> (8 - Depth * (k + 1))) & mask);
                out += t.step;
            }
        }
    }
};

// 8-bit grey or palette index (SampleBytes 1), or 16-bit grey keeping the high byte.
template <int SampleBytes>
struct GreyFamily {
    static constexpr int kBpp = SampleBytes;
    static void convert(const uint8_t* in, const RowTarget& t, const ConvertContext&) {
        if (SampleBytes == 1 && t.step == 1) {
            std::memcpy(t.out, in, t.count);
            return;
        }
        uint8_t* out = t.out;
        for (uint32_t x = 0; x < t.count; ++x, in += SampleBytes, out += t.step) *out = in[0];
    }
};

// Grey + alpha: the grey value blended onto the red component of the background, or the
// alpha simply dropped when compositing is off.
template <int SampleBytes, bool Blend>
struct GreyAlphaFamily {
    static constexpr int kBpp = 2 * SampleBytes;
    static void convert(const uint8_t* in, const RowTarget& t, const ConvertContext& ctx) {
        uint8_t* out = t.out;
        for (uint32_t x = 0; x < t.count; ++x, in += 2 * SampleBytes, out += t.step) {
            const unsigned v = in[0];
            if constexpr (Blend) {
                const unsigned a = in[SampleBytes];
                *out = uint8_t(ctx.blend[a * 256 + v] + ctx.backgroundTerm[2][a]);
            } else {
                *out = uint8_t(v);
            }
        }
    }
};

// RGB and RGBA, 8 or 16 bits per sample, written blue, green, red.
//   Gamma: each colour byte goes through the gamma table.
//   Special: for RGB, pixels equal to the tRNS key become the background colour (the key
//            is compared with the file's values, before gamma); for RGBA, compositing
//            onto the background. Without Special the alpha is dropped.
template <int SampleBytes, bool Alpha, bool Gamma, bool Special>
struct ColourFamily {
    static constexpr int kInPixel = (Alpha ? 4 : 3) * SampleBytes;
    static constexpr int kBpp = kInPixel;

    template <bool Dense>
    static void run(const uint8_t* in, const RowTarget& t, const ConvertContext& ctx) {
        const ptrdiff_t step = Dense ? 3 : t.step;
        uint8_t* out = t.out;
        const uint8_t* g = ctx.gamma;
        for (uint32_t x = 0; x < t.count; ++x, in += kInPixel, out += step) {
            unsigned r = in[0], gr = in[SampleBytes], b = in[2 * SampleBytes];
            if constexpr (!Alpha && Special) {
                if (r == ctx.key[0] && gr == ctx.key[1] && b == ctx.key[2]) {
                    out[0] = ctx.background[0];
                    out[1] = ctx.background[1];
                    out[2] = ctx.background[2];
                    continue;
                }
            }
            if constexpr (Gamma) {
                r = g[r];
                gr = g[gr];
                b = g[b];
            }
            if constexpr (Alpha && Special) {
                const unsigned a = in[3 * SampleBytes];
                if (a != 255) {
                    const uint8_t* ta = ctx.blend + a * 256;
                    b = ta[b] + ctx.backgroundTerm[0][a];
                    gr = ta[gr] + ctx.backgroundTerm[1][a];
                    r = ta[r] + ctx.backgroundTerm[2][a];
                }
            }
            out[0] = uint8_t(b);
            out[1] = uint8_t(gr);
            out[2] = uint8_t(r);
        }
    }

    // The common case, 8-bit RGB straight into a dense row: one 4-byte load, byte swap and
    // 4-byte store per pixel. The store's fourth byte lands on the next pixel, which is
    // written right after; the last pixel is done bytewise so nothing past it is touched.
    static void swapDense(const uint8_t* in, const RowTarget& t) {
        uint8_t* out = t.out;
        uint32_t x = 0;
        for (; x + 1 < t.count; ++x, in += 3, out += 3) {
            uint32_t v;
            std::memcpy(&v, in, 4);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
            v = __builtin_bswap32(v) << 8;
#else
            v = __builtin_bswap32(v) >> 8;
#endif
            std::memcpy(out, &v, 4);
        }
        out[0] = in[2];
        out[1] = in[1];
        out[2] = in[0];
    }

    static void convert(const uint8_t* in, const RowTarget& t, const ConvertContext& ctx) {
        if constexpr (SampleBytes == 1 && !Alpha && !Gamma && !Special) {
            if (t.step == 3) {
                swapDense(in, t);
                return;
            }
        }
        if (t.step == 3) run<true>(in, t, ctx);
        else run<false>(in, t, ctx);
    }
};

template <class Family, int Filter>
void handleRow(uint8_t* cur, const uint8_t* prev, size_t rowBytes, const RowTarget& target, const ConvertContext& ctx) {
    pngfilter::unfilter<Filter, Family::kBpp>(cur, prev, rowBytes);
    Family::convert(cur, target, ctx);
}

template <class Family>
struct HandlerTable {
    static constexpr RowHandler handlers[5] = {
        handleRow<Family, 0>, handleRow<Family, 1>, handleRow<Family, 2>, handleRow<Family, 3>, handleRow<Family, 4>,
    };
};

template <int SampleBytes, bool Alpha>
const RowHandler* colourHandlers(bool gamma, bool special) {
    if (gamma) {
        return special ? HandlerTable<ColourFamily<SampleBytes, Alpha, true, true>>::handlers
                       : HandlerTable<ColourFamily<SampleBytes, Alpha, true, false>>::handlers;
    }
    return special ? HandlerTable<ColourFamily<SampleBytes, Alpha, false, true>>::handlers
                   : HandlerTable<ColourFamily<SampleBytes, Alpha, false, false>>::handlers;
}

// ------------------------------------------------------------------ decoder state

struct PngDecoder {
    DecodedImage record;
    DecoderInput input;
    PngOptions options;

    // IHDR
    uint32_t width = 0, height = 0;
    uint8_t bitDepth = 0, colourType = 0, interlace = 0;
    bool grey = false, alpha = false;
    uint32_t bytesPerPixel = 0;  // of the filtered data (1 below 8 bits)
    uint32_t outBits = 0, outStride = 0;

    // chunk flags
    bool plteSeen = false;     // the palette of a colour type 3 image was read
    bool anyPlteSeen = false;  // any PLTE chunk, used or not (gAMA must come before it)
    bool idatSeen = false, iendSeen = false, trnsSeen = false, gamaSeen = false;
    bool trnsUsed = false, gamaUsed = false;

    uint32_t paletteCount = 0;
    uint32_t gammaValue = 0;
    uint8_t greyKey = 0;
    uint8_t rgbKey[3] = {};
    uint8_t alphaTable[256] = {};
    int32_t xPelsPerMeter = 0, yPelsPerMeter = 0;

    uint8_t* pixels = nullptr;
    int32_t textCount = 0, commentCount = 0;
    const RowHandler* handlers = nullptr;
    uint8_t gammaTable[256] = {};
    ConvertContext ctx{};

    // inflate
    z_stream zs{};
    bool zsOpen = false;
    const uint8_t* nextIdat = nullptr;  // length field of the next IDAT chunk of the run
    const uint8_t* runEnd = nullptr;    // first byte after the run
    uint8_t* rowMemory = nullptr;

    void fail(int32_t code) { record.errorCode = code; }
};

// zlib's working memory comes zero-filled from the program's private heap.
voidpf zlibAlloc(voidpf, uInt items, uInt size) {
    if (size != 0 && items > SIZE_MAX / size) return Z_NULL;
    return privateHeapAlloc(size_t(items) * size);
}
void zlibFree(voidpf, voidpf block) { privateHeapFree(block); }

void buildGammaTable(PngDecoder& d) {
    const double exponent = 1.0 / ((double(d.gammaValue) / 100000000.0) * double(d.options.displayGammaX1000));
    d.gammaTable[0] = 0;
    for (int i = 1; i < 256; ++i) {
        double v = std::floor(std::pow(double(i) / 255.0, exponent) * 255.0 + 0.5);
        d.gammaTable[i] = uint8_t(v < 0 ? 0 : v > 255 ? 255 : v);
    }
}

bool gammaApplies(const PngDecoder& d) { return d.gamaUsed && d.options.displayGammaX1000 != 0; }

bool gammaIsIdentity(const PngDecoder& d) {
    for (int i = 0; i < 256; ++i)
        if (d.gammaTable[i] != i) return false;
    return true;
}

// Chooses the row handler table and prepares the conversion context; called at the first
// IDAT, when every chunk that may influence the pixels has been seen.
struct IdentityTable {
    uint8_t t[256];
    constexpr IdentityTable() : t() {
        for (int i = 0; i < 256; ++i) t[i] = uint8_t(i);
    }
};
constexpr IdentityTable kIdentity;

void prepareConversion(PngDecoder& d) {
    const uint8_t* identity = kIdentity.t;
    bool gamma = false;
    if (gammaApplies(d)) {
        buildGammaTable(d);
        gamma = !gammaIsIdentity(d);
    }
    ConvertContext& c = d.ctx;
    c.gamma = gamma ? d.gammaTable : identity;
    c.blend = d.options.blendTable ? d.options.blendTable : blendTable();
    c.background[0] = d.options.backgroundBlue;
    c.background[1] = d.options.backgroundGreen;
    c.background[2] = d.options.backgroundRed;
    for (int ch = 0; ch < 3; ++ch)
        for (int a = 0; a < 256; ++a) c.backgroundTerm[ch][a] = c.blend[(255 - a) * 256 + c.background[ch]];
    std::memcpy(c.key, d.rgbKey, 3);

    const bool composite = d.options.compositeTransparency;
    const int sampleBytes = d.bitDepth == 16 ? 2 : 1;
    switch (d.colourType) {
        case 0:
        case 3:
            if (d.bitDepth == 1) d.handlers = HandlerTable<PackedFamily<1>>::handlers;
            else if (d.bitDepth == 2) d.handlers = HandlerTable<PackedFamily<2>>::handlers;
            else if (d.bitDepth == 4) d.handlers = HandlerTable<PackedFamily<4>>::handlers;
            else if (d.bitDepth == 8) d.handlers = HandlerTable<GreyFamily<1>>::handlers;
            else d.handlers = HandlerTable<GreyFamily<2>>::handlers;
            break;
        case 4:
            if (sampleBytes == 1)
                d.handlers = composite ? HandlerTable<GreyAlphaFamily<1, true>>::handlers
                                       : HandlerTable<GreyAlphaFamily<1, false>>::handlers;
            else
                d.handlers = composite ? HandlerTable<GreyAlphaFamily<2, true>>::handlers
                                       : HandlerTable<GreyAlphaFamily<2, false>>::handlers;
            break;
        case 2: {
            const bool key = composite && d.trnsUsed;
            d.handlers = sampleBytes == 1 ? colourHandlers<1, false>(gamma, key) : colourHandlers<2, false>(gamma, key);
            break;
        }
        default:  // 6
            d.handlers = sampleBytes == 1 ? colourHandlers<1, true>(gamma, composite)
                                          : colourHandlers<2, true>(gamma, composite);
            break;
    }
}

// Row bytes of 'pixels' pixels of the filtered data.
size_t rowBytesFor(const PngDecoder& d, uint32_t pixels) {
    switch (d.bitDepth) {
        case 1: return (size_t(pixels) + 7) / 8;
        case 2: return (size_t(pixels) + 3) / 4;
        case 4: return (size_t(pixels) + 1) / 2;
        default: return size_t(pixels) * d.bytesPerPixel;
    }
}

// Moves the inflate input to the next non-empty IDAT chunk of the run; false at its end.
bool feedNextIdat(PngDecoder& d) {
    while (d.nextIdat && d.nextIdat < d.runEnd) {
        const uint8_t* chunk = d.nextIdat;
        const uint32_t length = readBe32(chunk);
        d.nextIdat = chunk + 12 + length;
        if (length) {
            d.zs.next_in = const_cast<Bytef*>(chunk + 8);
            d.zs.avail_in = length;
            return true;
        }
    }
    return false;
}

enum class RowResult { Full, StreamEnd, Failed };

// Inflates exactly one filtered row (filter byte + row bytes) into 'row'. 'produced' tells
// how many bytes arrived, which is less than 'size' only at the end of the stream or on a
// failure.
RowResult inflateRow(PngDecoder& d, uint8_t* row, size_t size, size_t& produced) {
    d.zs.next_out = row;
    d.zs.avail_out = uInt(size);
    RowResult result = RowResult::Full;
    for (;;) {
        if (d.zs.avail_in == 0 && !feedNextIdat(d)) {
            result = RowResult::Failed;  // the data ran out before the stream's end
            break;
        }
        const int rc = inflate(&d.zs, Z_SYNC_FLUSH);
        if (rc == Z_STREAM_END) {
            result = RowResult::StreamEnd;
            break;
        }
        if (rc != Z_OK) {
            result = RowResult::Failed;
            break;
        }
        if (d.zs.avail_out == 0) break;
    }
    produced = size - d.zs.avail_out;
    return result;
}

// The stop flag is looked at every 64 rows of a pass (see PngOptions::stop).
constexpr uint32_t kStopCheckRows = 63;

// Inflates and reconstructs the image from the IDAT run. Problems of the compressed data
// end the decode with error 23 recorded, but the rows already produced are kept.
bool decodeImageData(PngDecoder& d) {
    d.zs = z_stream{};
    d.zs.zalloc = zlibAlloc;
    d.zs.zfree = zlibFree;
    if (inflateInit2(&d.zs, 15) != Z_OK) {
        d.fail(ErrMemory);
        return false;
    }
    d.zsOpen = true;
    // Every IDAT's CRC has been checked before inflating, which already guards the data
    // against corruption; the stream's own Adler-32 would cost a tenth of the decode time.
    inflateValidate(&d.zs, 0);

    const size_t maxRowBytes = rowBytesFor(d, d.width);
    // Two rows (filter byte + data) with slack so vectorised filters may read a little
    // past the end; the data of each row starts 16-byte aligned.
    const size_t rowSpan = (maxRowBytes + 1 + 15 + 32) & ~size_t(15);
    d.rowMemory = static_cast<uint8_t*>(privateHeapAlloc(2 * rowSpan + 32));
    if (!d.rowMemory) {
        d.fail(ErrMemory);
        return false;
    }
    uint8_t* base = reinterpret_cast<uint8_t*>((reinterpret_cast<uintptr_t>(d.rowMemory) + 15) & ~uintptr_t(15));
    // row[k] points at the filter byte; row[k] + 1 is aligned.
    uint8_t* rows[2] = {base + 15, base + rowSpan + 15};

    static const uint8_t kColumnStart[7] = {0, 4, 0, 2, 0, 1, 0};
    static const uint8_t kRowStart[7] = {0, 0, 4, 0, 2, 0, 1};
    static const uint8_t kColumnStep[7] = {8, 8, 4, 4, 2, 2, 1};
    static const uint8_t kRowStep[7] = {8, 8, 8, 4, 4, 2, 2};

    const uint32_t passes = d.interlace ? 7 : 1;
    const uint32_t outPixelBytes = d.outBits / 8;
    bool finished = false;
    bool stopped = false;
    for (uint32_t pass = 0; pass < passes && !finished && !stopped; ++pass) {
        const uint32_t colStart = d.interlace ? kColumnStart[pass] : 0;
        const uint32_t rowStart = d.interlace ? kRowStart[pass] : 0;
        const uint32_t colStep = d.interlace ? kColumnStep[pass] : 1;
        const uint32_t rowStep = d.interlace ? kRowStep[pass] : 1;
        const uint32_t passWidth = (d.width + colStep - colStart - 1) / colStep;
        const uint32_t passHeight = (d.height + rowStep - rowStart - 1) / rowStep;
        if (passWidth == 0 || passHeight == 0) continue;
        const size_t rowBytes = rowBytesFor(d, passWidth);
        std::memset(rows[0], 0, rowBytes + 1);
        std::memset(rows[1], 0, rowBytes + 1);
        uint8_t* prev = rows[0];
        uint8_t* cur = rows[1];
        RowTarget target;
        target.step = ptrdiff_t(outPixelBytes) * colStep;
        target.count = passWidth;
        for (uint32_t j = 0; j < passHeight; ++j) {
            if ((j & kStopCheckRows) == 0 && d.options.stop && d.options.stop->load(std::memory_order_relaxed)) {
                stopped = true;
                break;
            }
            size_t produced = 0;
            const RowResult result = inflateRow(d, cur, rowBytes + 1, produced);
            if (produced == 0 && result != RowResult::Full) {
                if (result == RowResult::Failed) d.fail(ErrInflate);
                finished = true;
                break;
            }
            if (produced < rowBytes + 1) {
                if (result == RowResult::Failed) {
                    // A row cut short by broken data is not shown.
                    d.fail(ErrInflate);
                    finished = true;
                    break;
                }
                // The stream ended inside this row: what arrived is shown, the rest is zero.
                std::memset(cur + produced, 0, rowBytes + 1 - produced);
            }
            const uint32_t y = rowStart + j * rowStep;
            target.out = d.pixels + size_t(d.height - 1 - y) * d.outStride + size_t(colStart) * outPixelBytes;
            const unsigned filter = cur[0] > 4 ? 0 : cur[0];
            d.handlers[filter](cur + 1, prev + 1, rowBytes, target, d.ctx);
            uint8_t* t = prev;
            prev = cur;
            cur = t;
            if (result != RowResult::Full) {
                if (result == RowResult::Failed) d.fail(ErrInflate);  // e.g. a bad check value after the last row
                finished = true;
                break;
            }
        }
    }
    inflateEnd(&d.zs);
    d.zsOpen = false;
    privateHeapFree(d.rowMemory);
    d.rowMemory = nullptr;
    if (stopped) d.fail(ErrMemory);
    return !stopped;
}

// The IDAT chunk at p (already known to fit, with length below 2^31): checks it, measures
// the run of IDAT chunks it starts and decodes them. On success returns the read position
// after the run.
const uint8_t* handleIdatRun(PngDecoder& d, const uint8_t* p) {
    const uint8_t* end = d.input.end;
    if (!chunkCrcMatches(p, readBe32(p))) {
        d.fail(ErrPngCrc);
        return nullptr;
    }
    const uint64_t bufferSize = uint64_t(d.outStride) * d.height;
    d.pixels = static_cast<uint8_t*>(pageAlloc(size_t(bufferSize)));
    if (!d.pixels) {
        d.fail(ErrMemory);
        return nullptr;
    }
    // Measure and check the run: it ends at the first chunk of another type (or where no
    // further chunk header fits, which the chunk loop then reports).
    const uint8_t* q = p + 12 + readBe32(p);
    while (size_t(end - q) >= 8 && readBe32(q + 4) == kIDAT) {
        const uint32_t length = readBe32(q);
        if (length >= 0x80000000u || size_t(end - q) < 12 || size_t(end - q) - 12 < length || !chunkCrcMatches(q, length)) {
            d.fail(ErrPngIdatLength);
            return nullptr;
        }
        q += 12 + size_t(length);
    }
    d.idatSeen = true;
    d.nextIdat = p;
    d.runEnd = q;
    prepareConversion(d);
    if (!decodeImageData(d)) return nullptr;
    return q;
}

// Applies gamma and transparency to the palette of an 8-bit output.
void finishPalette(PngDecoder& d) {
    PaletteEntry* pal = d.record.palette;
    if (gammaApplies(d)) {
        for (auto& e : d.record.palette) {
            e.blue = d.gammaTable[e.blue];
            e.green = d.gammaTable[e.green];
            e.red = d.gammaTable[e.red];
        }
    }
    if (!d.options.compositeTransparency || !d.trnsUsed) return;
    const uint8_t br = d.options.backgroundRed, bgc = d.options.backgroundGreen, bb = d.options.backgroundBlue;
    if (d.colourType == 0) {
        pal[d.greyKey].blue = bb;
        pal[d.greyKey].green = bgc;
        pal[d.greyKey].red = br;
    } else if (d.colourType == 3) {
        const uint8_t* t = d.ctx.blend;
        for (int i = 0; i < 256; ++i) {
            const unsigned a = d.alphaTable[i];
            pal[i].blue = uint8_t(t[a * 256 + pal[i].blue] + t[(255 - a) * 256 + bb]);
            pal[i].green = uint8_t(t[a * 256 + pal[i].green] + t[(255 - a) * 256 + bgc]);
            pal[i].red = uint8_t(t[a * 256 + pal[i].red] + t[(255 - a) * 256 + br]);
        }
    }
}

bool readHeader(PngDecoder& d) {
    const uint8_t* data = d.input.file.data;
    const size_t size = size_t(d.input.end - data);
    if (size < 33 || std::memcmp(data, kSignature, 8) != 0) {
        d.fail(ErrMalformed);
        return false;
    }
    const uint8_t* ihdr = data + 8;
    if (readBe32(ihdr) != 13) {
        d.fail(ErrPngIhdrLength);
        return false;
    }
    if (readBe32(ihdr + 4) != kIHDR) {
        d.fail(ErrPngIhdrType);
        return false;
    }
    if (!chunkCrcMatches(ihdr, 13)) {
        d.fail(ErrPngCrc);
        return false;
    }
    const uint8_t* f = ihdr + 8;
    const uint32_t width = readBe32(f), height = readBe32(f + 4);
    if (width < 1 || width > uint32_t(kMaxImageSide) || height < 1 || height > uint32_t(kMaxImageSide)) {
        d.fail(ErrUnsupported);
        return false;
    }
    const uint8_t depth = f[8], type = f[9];
    if (f[10] != 0) {
        d.fail(ErrPngCompressionMethod);
        return false;
    }
    if (f[11] != 0) {
        d.fail(ErrPngFilterMethod);
        return false;
    }
    if (f[12] > 1) {
        d.fail(ErrPngInterlaceMethod);
        return false;
    }
    bool typeOk;
    switch (depth) {
        case 1: case 2: case 4: typeOk = type == 0 || type == 3; break;
        case 8: typeOk = type == 0 || type == 2 || type == 3 || type == 4 || type == 6; break;
        case 16: typeOk = type == 0 || type == 2 || type == 4 || type == 6; break;
        default:
            d.fail(ErrPngBitDepth);
            return false;
    }
    if (!typeOk) {
        d.fail(ErrPngColourType);
        return false;
    }
    d.width = width;
    d.height = height;
    d.bitDepth = depth;
    d.colourType = type;
    d.interlace = f[12];
    d.grey = (type & 2) == 0;
    d.alpha = (type & 4) != 0;
    const uint32_t samples = type == 2 ? 3 : type == 4 ? 2 : type == 6 ? 4 : 1;
    d.bytesPerPixel = depth < 8 ? 1 : samples * (depth / 8);
    d.outBits = (type == 2 || type == 6) ? 24 : 8;
    const uint64_t packed = uint64_t(width) * (d.outBits / 8);
    const uint64_t stride = (packed + 3) & ~uint64_t(3);
    if (stride * height > 0xFFFFFFFFull || stride * height > uint64_t(SIZE_MAX)) {
        d.fail(ErrUnsupported);
        return false;
    }
    d.outStride = uint32_t(stride);
    if (d.grey) {
        const unsigned step = depth == 1 ? 255 : depth == 2 ? 85 : depth == 4 ? 17 : 1;
        for (unsigned k = 0; k * step <= 255; ++k) {
            const uint8_t v = uint8_t(k * step);
            d.record.palette[k] = PaletteEntry{v, v, v, 0};
        }
    }
    // The alpha of grey + alpha and RGBA images is consumed row by row while compositing,
    // so no separate alpha plane is needed.
    d.input.cursor = ihdr + 25;
    return true;
}

void readPalette(PngDecoder& d, const uint8_t* chunk, uint32_t length) {
    uint32_t count = length / 3;
    const uint32_t max = 1u << d.bitDepth;
    if (length > 3 * max) count = max;
    const uint8_t* e = chunk + 8;
    for (uint32_t i = 0; i < count; ++i, e += 3) d.record.palette[i] = PaletteEntry{e[2], e[1], e[0], 0};
    d.paletteCount = count;
}

void readTransparency(PngDecoder& d, const uint8_t* data, uint32_t length) {
    switch (d.colourType) {
        case 0:
            if (length != 2) return;
            d.greyKey = d.bitDepth == 16 ? data[0] : data[1];
            break;
        case 2:
            if (length != 6) return;
            for (int i = 0; i < 3; ++i) d.rgbKey[i] = d.bitDepth == 16 ? data[2 * i] : data[2 * i + 1];
            break;
        case 3:
            if (!d.plteSeen || length > d.paletteCount) return;
            std::memcpy(d.alphaTable, data, length);
            std::memset(d.alphaTable + length, 255, 256 - length);
            break;
        default:
            return;
    }
    d.trnsUsed = true;
}

void countText(PngDecoder& d, const uint8_t* chunk, uint32_t length) {
    const uint8_t* data = chunk + 8;
    if (length < 2 || data[0] == 0 || !chunkCrcMatches(chunk, length)) return;
    const uint32_t span = length - 1 < 79 ? length - 1 : 79;
    const void* zero = std::memchr(data + 1, 0, span);
    if (!zero) return;
    ++d.textCount;
    if (static_cast<const uint8_t*>(zero) == data + 7 && std::memcmp(data, "Comment", 7) == 0) ++d.commentCount;
}

// Walks the chunks after IHDR up to IEND. Returns false with the error code recorded.
bool walkChunks(PngDecoder& d) {
    const uint8_t* p = d.input.cursor;
    const uint8_t* end = d.input.end;
    for (;;) {
        if (size_t(end - p) < 4) {
            d.fail(ErrMalformed);
            return false;
        }
        const uint32_t length = readBe32(p);
        if (length >= 0x80000000u) {
            d.fail(ErrPngChunkLength);
            return false;
        }
        if (size_t(end - p) - 4 < 8 || size_t(end - p) - 12 < length) {
            d.fail(ErrMalformed);
            return false;
        }
        const uint32_t type = readBe32(p + 4);
        const uint8_t* data = p + 8;
        switch (type) {
            case kIHDR:
                d.fail(ErrPngChunkOrder);
                return false;
            case kPLTE:
                if (d.colourType == 3) {
                    if (d.plteSeen || d.idatSeen) {
                        d.fail(ErrPngChunkOrder);
                        return false;
                    }
                    if (!chunkCrcMatches(p, length)) {
                        d.fail(ErrPngCrc);
                        return false;
                    }
                    readPalette(d, p, length);
                    d.plteSeen = true;
                }
                d.anyPlteSeen = true;
                break;
            case ktRNS:
                if (!d.trnsSeen) {
                    d.trnsSeen = true;
                    if (!d.idatSeen && chunkCrcMatches(p, length)) readTransparency(d, data, length);
                }
                break;
            case kgAMA:
                if (!d.gamaSeen) {
                    d.gamaSeen = true;
                    if (!d.anyPlteSeen && !d.idatSeen && length == 4 && chunkCrcMatches(p, length) && readBe32(data) > 0) {
                        d.gammaValue = readBe32(data);
                        d.gamaUsed = true;
                    }
                }
                break;
            case kpHYs:
                if (!d.idatSeen && length == 9 && chunkCrcMatches(p, length) && data[8] == 1) {
                    const uint32_t x = readBe32(data), y = readBe32(data + 4);
                    if (x < 0x80000000u && y < 0x80000000u) {
                        d.xPelsPerMeter = int32_t(x);
                        d.yPelsPerMeter = int32_t(y);
                    }
                }
                break;
            case ktEXt:
                countText(d, p, length);
                break;
            case kIDAT: {
                if (d.idatSeen) {
                    d.fail(ErrPngChunkOrder);
                    return false;
                }
                const uint8_t* next = handleIdatRun(d, p);
                if (!next) return false;
                p = next;
                continue;
            }
            case kIEND:
                if (!chunkCrcMatches(p, length)) {
                    d.fail(ErrPngCrc);
                    return false;
                }
                if (!d.idatSeen || (d.colourType == 3 && !d.plteSeen)) {
                    d.fail(ErrPngCriticalChunk);
                    return false;
                }
                d.iendSeen = true;
                return true;
            default:
                break;  // unknown and unused chunks are skipped unchecked
        }
        p += 12 + size_t(length);
    }
}

void resetDecoder(PngDecoder& d, const PngOptions& options) {
    if (d.zsOpen) inflateEnd(&d.zs);
    privateHeapFree(d.rowMemory);
    d.record = DecodedImage{};
    d.input = DecoderInput{};
    d.options = options;
    d.width = d.height = 0;
    d.bitDepth = d.colourType = d.interlace = 0;
    d.grey = d.alpha = false;
    d.bytesPerPixel = d.outBits = d.outStride = 0;
    d.plteSeen = d.anyPlteSeen = d.idatSeen = d.iendSeen = d.trnsSeen = d.gamaSeen = false;
    d.trnsUsed = d.gamaUsed = false;
    d.paletteCount = 0;
    d.gammaValue = 0;
    d.greyKey = 0;
    std::memset(d.rgbKey, 0, sizeof d.rgbKey);
    std::memset(d.alphaTable, 255, sizeof d.alphaTable);
    d.xPelsPerMeter = d.yPelsPerMeter = 0;
    d.pixels = nullptr;
    d.textCount = d.commentCount = 0;
    d.handlers = nullptr;
    d.zs = z_stream{};
    d.zsOpen = false;
    d.nextIdat = d.runEnd = nullptr;
    d.rowMemory = nullptr;
}

}  // namespace

DecodedImage* decodePng(const wchar_t* path, const PngOptions& options, DecodedImage& record, DecodeCounters& counters) {
    // The working state lives for this call only; the result goes to the caller's record.
    PngDecoder d;
    resetDecoder(d, options);
    int32_t error = 0;
    const uint32_t fileSize = mapImageFile(path, d.input, error);
    if (fileSize == 0) {
        d.fail(error ? error : 4);
        record = d.record;
        return nullptr;
    }
    const bool ok = readHeader(d) && walkChunks(d);
    unmapImageFile(d.input);
    if (d.zsOpen) {
        inflateEnd(&d.zs);
        d.zsOpen = false;
    }
    privateHeapFree(d.rowMemory);
    d.rowMemory = nullptr;
    if (!ok) {
        pageFree(d.pixels);
        d.pixels = nullptr;
        record = d.record;
        return nullptr;
    }

    if (d.outBits == 8) finishPalette(d);
    DecodedImage& r = d.record;
    r.header = BitmapInfoHeader{};
    r.header.biWidth = int32_t(d.width);
    r.header.biHeight = int32_t(d.height);
    r.header.biBitCount = uint16_t(d.outBits);
    r.header.biXPelsPerMeter = d.xPelsPerMeter;
    r.header.biYPelsPerMeter = d.yPelsPerMeter;
    r.format = FormatPng;
    r.pixels = d.pixels;
    d.pixels = nullptr;  // handed over
    r.fileSize = fileSize;
    r.sourceDepth = (d.colourType == 2 || d.colourType == 6) ? d.bitDepth * 3 : d.bitDepth;

    counters.fileWidth = int32_t(d.width);
    counters.fileHeight = int32_t(d.height);
    counters.interlaced = d.interlace & 1;
    counters.metaCount = d.textCount;
    counters.commentCount = d.commentCount;
    record = r;
    return &record;
}
