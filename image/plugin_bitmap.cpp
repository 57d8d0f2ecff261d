// The plug-in hand-back: two blocks that an outside module filled, read only within the sizes
// their memory handles report. Filters differ widely in what they return (most current ones
// give 32-bit pixels, some top-down, some with colour masks), so every kind that a Windows
// bitmap can describe without compression is taken, within the limits of the record.
#include "image/plugin_bitmap.h"

#include <cstring>

#include "base/byte_order.h"

namespace {

constexpr size_t kHeaderBytes = sizeof(BitmapInfoHeader);  // 40
constexpr size_t kMasksEnd = kHeaderBytes + 12;            // red, green, blue masks follow the 40 bytes
constexpr size_t kAlphaMaskAt = kMasksEnd;                 // inside a header of 56 bytes or more
constexpr uint32_t kBiRgb = 0;
constexpr uint32_t kBiBitfields = 3;

uint64_t paddedRow(uint64_t bytes) { return (bytes + 3) & ~uint64_t(3); }

// How a 16- or 32-bit pixel becomes blue, green and red: each channel a contiguous field,
// scaled to 0..255 with the BMP reader's rounding (value * 255 / largest value), so a plug-in
// picture matches the same pixels read from a BMP file.
struct PixelLayout {
    int bytes = 0;             // 2 or 4
    uint32_t mask[3] = {};     // blue, green, red
    int shift[3] = {};
    uint32_t largest[3] = {};
    int alphaShift = -1;       // 32 bits: where the alpha byte is, or -1 for none
};

bool oneByteField(uint32_t mask) {
    return mask == 0xFFu || mask == 0xFF00u || mask == 0xFF0000u || mask == 0xFF000000u;
}

int lowestBit(uint32_t mask) {
    int bit = 0;
    while (bit < 31 && !(mask & (uint32_t(1) << bit))) ++bit;
    return bit;
}

// The masks a bitmap states (or the ones BI_RGB implies) as a layout; false for masks other
// than 5-5-5 or 5-6-5 at 16 bits and one byte per channel at 32 bits.
bool makeLayout(int depth, uint32_t compression, const uint8_t* info, size_t headerSize, PixelLayout& layout) {
    layout = PixelLayout{};
    layout.bytes = depth / 8;
    uint32_t red, green, blue;
    bool alphaStated = false;
    uint32_t alpha = 0;
    if (compression == kBiRgb) {
        red = depth == 16 ? 0x7C00u : 0xFF0000u;
        green = depth == 16 ? 0x03E0u : 0xFF00u;
        blue = depth == 16 ? 0x001Fu : 0xFFu;
    } else {
        red = readLe32(info + kHeaderBytes);
        green = readLe32(info + kHeaderBytes + 4);
        blue = readLe32(info + kHeaderBytes + 8);
        if (headerSize >= kAlphaMaskAt + 4) {
            alphaStated = true;
            alpha = readLe32(info + kAlphaMaskAt);
        }
    }
    if (depth == 16) {
        const bool five55 = red == 0x7C00u && green == 0x03E0u && blue == 0x001Fu;
        const bool five65 = red == 0xF800u && green == 0x07E0u && blue == 0x001Fu;
        if (!five55 && !five65) return false;
    } else {
        if (!oneByteField(red) || !oneByteField(green) || !oneByteField(blue) || red == green || red == blue ||
            green == blue)
            return false;
        // The byte no colour uses is alpha: a 40-byte header cannot say otherwise, a larger one
        // may name it or state that there is none.
        const uint32_t spare = ~(red | green | blue);
        if (alphaStated && alpha != 0 && alpha != spare) return false;
        if (!alphaStated || alpha != 0) layout.alphaShift = lowestBit(spare);
    }
    const uint32_t masks[3] = {blue, green, red};
    for (int c = 0; c < 3; ++c) {
        layout.mask[c] = masks[c];
        layout.shift[c] = lowestBit(masks[c]);
        layout.largest[c] = masks[c] >> layout.shift[c];
    }
    return true;
}

// Where source row r (in the order the bits hold them) goes in the bottom-up record.
struct RowMap {
    uint64_t height;
    bool topDown;
    uint64_t target(uint64_t r) const { return topDown ? height - 1 - r : r; }
};

// Many filters leave the 4th byte of a 32-bit pixel unset: a bitmap whose alpha bytes are
// all 0 is opaque, not invisible.
bool alphaAllZero(const uint8_t* bits, size_t bitsSize, const PixelLayout& layout, uint64_t width, uint64_t height,
                  uint64_t sourceStride) {
    for (uint64_t r = 0; r < height; ++r) {
        const uint64_t at = r * sourceStride;
        if (at >= bitsSize) break;
        const uint64_t available = bitsSize - at;
        const uint64_t pixels = available / 4 < width ? available / 4 : width;
        const uint8_t* in = bits + at + layout.alphaShift / 8;
        for (uint64_t x = 0; x < pixels; ++x, in += 4)
            if (*in) return false;
    }
    return true;
}

void convertMaskedRows(const uint8_t* bits, size_t bitsSize, const PixelLayout& layout, uint64_t width,
                       const RowMap& rows, uint64_t sourceStride, uint8_t* target, uint64_t targetStride) {
    const uint8_t* blend = blendTable();
    for (uint64_t r = 0; r < rows.height; ++r) {
        const uint64_t at = r * sourceStride;
        if (at >= bitsSize) break;  // short bits: the remaining rows stay black
        const uint64_t available = bitsSize - at;
        const uint64_t bytes = uint64_t(layout.bytes);
        const uint64_t pixels = available / bytes < width ? available / bytes : width;
        const uint8_t* in = bits + at;
        uint8_t* out = target + rows.target(r) * targetStride;
        for (uint64_t x = 0; x < pixels; ++x, in += bytes, out += 3) {
            const uint32_t pixel = layout.bytes == 2 ? readLe16(in) : readLe32(in);
            unsigned channel[3];
            for (int c = 0; c < 3; ++c)
                channel[c] = unsigned(((pixel & layout.mask[c]) >> layout.shift[c]) * 255u / layout.largest[c]);
            if (layout.alphaShift >= 0) {
                // Onto white exactly as the PNG decoder composites: T[a][v] + T[255 - a][255].
                const unsigned a = (pixel >> layout.alphaShift) & 0xFFu;
                const unsigned white = blend[(255 - a) * 256 + 255];
                for (int c = 0; c < 3; ++c) channel[c] = blend[a * 256 + channel[c]] + white;
            }
            out[0] = uint8_t(channel[0]);
            out[1] = uint8_t(channel[1]);
            out[2] = uint8_t(channel[2]);
        }
    }
}

}  // namespace

int32_t convertPluginBitmap(const uint8_t* info, size_t infoSize, const uint8_t* bits, size_t bitsSize,
                            DecodedImage& record) {
    record = DecodedImage{};
    // Anything shorter than a bitmap header cannot be read as one.
    if (!info || !bits || infoSize < kHeaderBytes || bitsSize == 0) return ErrMalformed;
    BitmapInfoHeader header;
    std::memcpy(&header, info, sizeof header);
    // A header size below 40 is taken as 40 (some filters leave it unset); one beyond the
    // block means the block is shorter than its header says.
    const size_t headerSize = header.biSize > kHeaderBytes ? header.biSize : kHeaderBytes;
    if (header.biSize > infoSize) return ErrMalformed;

    const int depth = header.biBitCount;
    const bool masked = depth == 16 || depth == 32;
    if (header.biCompression != kBiRgb && !(header.biCompression == kBiBitfields && masked)) return ErrUnsupported;
    if (header.biWidth <= 0 || header.biHeight == 0 || header.biWidth > kMaxImageSide) return ErrUnsupported;
    const bool topDown = header.biHeight < 0;
    const int64_t signedHeight = header.biHeight;
    const uint64_t height = uint64_t(topDown ? -signedHeight : signedHeight);
    if (height > uint64_t(kMaxImageSide)) return ErrUnsupported;
    const uint64_t width = uint64_t(header.biWidth);

    uint64_t packed = 0;
    switch (depth) {
        case 1: packed = (width + 7) / 8; break;
        case 4: packed = (width + 1) / 2; break;
        case 8: packed = width; break;
        case 16: packed = width * 2; break;
        case 24: packed = width * 3; break;
        case 32: packed = width * 4; break;
        default: return ErrUnsupported;
    }
    PixelLayout layout;
    if (masked) {
        if (header.biCompression == kBiBitfields && infoSize < kMasksEnd) return ErrMalformed;
        if (!makeLayout(depth, header.biCompression, info, headerSize, layout)) return ErrUnsupported;
    }
    const uint64_t sourceStride = paddedRow(packed);
    const uint64_t targetStride = masked ? paddedRow(width * 3) : sourceStride;
    const uint64_t imageSize = height * targetStride;
    if (imageSize > 0xFFFFFFFFull || imageSize > uint64_t(SIZE_MAX)) return ErrUnsupported;

    // The full image size, zero-filled: a plug-in that hands over fewer bits than the image
    // needs leaves the rest black instead of letting readers run past the buffer.
    uint8_t* pixels = static_cast<uint8_t*>(pageAlloc(size_t(imageSize)));
    if (!pixels) return ErrMemory;
    const RowMap rows{height, topDown};
    if (masked) {
        if (layout.alphaShift >= 0 && alphaAllZero(bits, bitsSize, layout, width, height, sourceStride))
            layout.alphaShift = -1;
        convertMaskedRows(bits, bitsSize, layout, width, rows, sourceStride, pixels, targetStride);
    } else if (!topDown) {
        std::memcpy(pixels, bits, size_t(imageSize < bitsSize ? imageSize : bitsSize));
    } else {
        for (uint64_t r = 0; r < height; ++r) {
            const uint64_t at = r * sourceStride;
            if (at >= bitsSize) break;
            const uint64_t available = bitsSize - at;
            std::memcpy(pixels + rows.target(r) * targetStride, bits + at,
                        size_t(available < sourceStride ? available : sourceStride));
        }
    }

    record.header = header;
    record.header.biSize = kHeaderBytes;
    record.header.biHeight = int32_t(height);
    if (masked) {
        record.header.biBitCount = 24;
        record.header.biCompression = kBiRgb;
        record.header.biSizeImage = uint32_t(imageSize);
        record.header.biClrUsed = record.header.biClrImportant = 0;
    } else {
        // The colour table as the plug-in supplied it, after a header of any size (the record
        // keeps the 40-byte form its palette follows); entries the block lacks stay zero.
        const size_t available = infoSize - headerSize;
        std::memcpy(record.palette, info + headerSize,
                    available < sizeof record.palette ? available : sizeof record.palette);
    }
    record.pixels = pixels;
    record.sourceDepth = depth;
    return ErrNone;
}

int32_t takePluginPicture(PluginMemory& memory, int result, void* info, void* bits, DecodedImage& record) {
    record = DecodedImage{};
    auto refuse = [&](int32_t code) {
        record.errorCode = code;
        return code;
    };
    if (result != 0) return refuse(ErrUnsupported);
    if (info == bits) {
        if (info) memory.release(info);
        return refuse(ErrMalformed);
    }
    struct Held {
        PluginMemory& memory;
        void* handle;
        const void* block = nullptr;
        ~Held() {
            if (block) memory.unlock(handle);
            if (handle) memory.release(handle);
        }
    };
    Held heldInfo{memory, info};
    Held heldBits{memory, bits};
    if (!info || !bits) return refuse(ErrMalformed);
    const size_t infoSize = memory.size(info);
    heldInfo.block = memory.lock(info);
    const size_t bitsSize = memory.size(bits);
    heldBits.block = memory.lock(bits);
    if (!heldInfo.block || !heldBits.block) return refuse(ErrMalformed);
    const int32_t code = convertPluginBitmap(static_cast<const uint8_t*>(heldInfo.block), infoSize,
                                             static_cast<const uint8_t*>(heldBits.block), bitsSize, record);
    return code == ErrNone ? code : refuse(code);
}
