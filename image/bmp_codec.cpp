// Windows bitmap reader and writer, with plain sequential file I/O (no mapping).
//
// The reader accepts uncompressed 1, 4, 8, 24-bit files and 16/32-bit files with or without
// colour masks, and gives an 8-bit (palette) or 24-bit bottom-up image. Every read is clipped
// to the file: a short pixel area leaves the rest of the image zero (black), and a colour
// table is never read beyond the 256 entries the palette holds.
#include "image/bmp_codec.h"

#include <cstring>

#include "base/byte_order.h"

namespace {

// Reads up to size bytes at offset, clipped to the file's end; returns the bytes read.
size_t readClipped(BinaryFile& file, uint64_t fileSize, uint64_t offset, void* buffer, size_t size) {
    if (offset >= fileSize || size == 0) return 0;
    const uint64_t available = fileSize - offset;
    const size_t count = available < size ? size_t(available) : size;
    if (!file.seek(offset) || !file.read(buffer, count)) return 0;
    return count;
}

uint32_t paddedRow(uint64_t bytes) { return uint32_t((bytes + 3) & ~uint64_t(3)); }

// Highest set bit index + 1; 0 and 1 both count as width 1.
int maskWidth(uint32_t mask) {
    int width = 1;
    for (int bit = 31; bit > 0; --bit) {
        if (mask & (uint32_t(1) << bit)) {
            width = bit + 1;
            break;
        }
    }
    return width;
}

// 16 and 32 bits: masks taken as contiguous fields stacked blue lowest, green above blue,
// red above green, each scaled to 0..255.
bool convertMasked(const uint8_t* source, size_t sourceBytes, int depth, uint32_t redMask, uint32_t greenMask,
                   uint32_t blueMask, int32_t width, int32_t height, uint8_t* target, uint32_t targetStride) {
    const int wb = maskWidth(blueMask);
    if (wb == 32) return false;
    const int wg = maskWidth(greenMask >> wb);
    const int shiftRed = wb + wg;
    const int wr = maskWidth(shiftRed < 32 ? redMask >> shiftRed : 0);
    if (wg == 32 || wr == 32) return false;
    const uint64_t maxBlue = (uint64_t(1) << wb) - 1;
    const uint64_t maxGreen = (uint64_t(1) << wg) - 1;
    const uint64_t maxRed = (uint64_t(1) << wr) - 1;

    const size_t sourceStride = depth == 16 ? size_t((width + 1) & ~1) * 2 : size_t(width) * 4;
    const int bytesPerPixel = depth / 8;
    for (int32_t y = 0; y < height; ++y) {
        const size_t rowStart = size_t(y) * sourceStride;
        if (rowStart >= sourceBytes) break;  // short pixel area: remaining rows stay zero
        const size_t rowAvailable = sourceBytes - rowStart;
        int32_t pixels = width;
        if (size_t(width) * bytesPerPixel > rowAvailable) pixels = int32_t(rowAvailable / bytesPerPixel);
        const uint8_t* in = source + rowStart;
        uint8_t* out = target + size_t(y) * targetStride;
        for (int32_t x = 0; x < pixels; ++x, in += bytesPerPixel, out += 3) {
            const uint32_t pixel = depth == 16 ? readLe16(in) : readLe32(in);
            const uint64_t blue = pixel & blueMask;
            const uint64_t green = (pixel & greenMask) >> wb;
            const uint64_t red = shiftRed < 32 ? (pixel & redMask) >> shiftRed : 0;
            out[0] = uint8_t(blue * 255 / maxBlue);
            out[1] = uint8_t(green * 255 / maxGreen);
            out[2] = uint8_t(red * 255 / maxRed);
        }
    }
    return true;
}

// The decode proper; the caller frees whatever pixel buffer a failure leaves in the record.
bool readBitmap(DecodedImage& rec, BinaryFile& file, uint64_t fileSize) {
    uint8_t head[54] = {};
    readClipped(file, fileSize, 0, head, sizeof head);
    const uint32_t pixelOffset = readLe32(head + 10);
    const int32_t width = int32_t(readLe32(head + 18));
    const int32_t height = int32_t(readLe32(head + 22));
    const int depth = readLe16(head + 28);
    const uint32_t compression = readLe32(head + 30);
    const int32_t xPels = int32_t(readLe32(head + 38));
    const int32_t yPels = int32_t(readLe32(head + 42));
    const uint32_t coloursUsed = readLe32(head + 46);

    if (width < 1 || height < 1 || width > kMaxImageSide || height > kMaxImageSide) {
        rec.errorCode = ErrUnsupported;
        return false;
    }
    rec.sourceDepth = depth;
    switch (depth) {
    case 1: case 4: case 8: case 24:
        if (compression != 0) {
            rec.errorCode = ErrUnsupported;
            return false;
        }
        break;
    case 16: case 32:
        if (compression != 0 && compression != 3) {
            rec.errorCode = ErrUnsupported;
            return false;
        }
        break;
    default:
        rec.errorCode = ErrUnsupported;
        return false;
    }

    rec.header = BitmapInfoHeader{};
    rec.header.biWidth = width;
    rec.header.biHeight = height;
    rec.header.biXPelsPerMeter = xPels;
    rec.header.biYPelsPerMeter = yPels;

    // Colour table bytes: 4 per colour used, or the full table for the depth when 0; never
    // more than the 256 entries the palette holds.
    size_t tableBytes = 0;
    if (depth <= 8) {
        const uint64_t stated = coloursUsed ? uint64_t(coloursUsed) * 4 : (uint64_t(4) << depth);
        tableBytes = stated > 1024 ? 1024 : size_t(stated);
    }

    if (depth == 8 || depth == 24) {
        rec.header.biBitCount = uint16_t(depth);
        if (depth == 8) readClipped(file, fileSize, 54, rec.palette, tableBytes);
        const uint32_t rowSize = paddedRow(uint64_t(width) * (depth / 8));
        const size_t imageSize = size_t(rowSize) * size_t(height);
        rec.pixels = static_cast<uint8_t*>(pageAlloc(imageSize));
        if (!rec.pixels) {
            rec.errorCode = ErrMemory;
            return false;
        }
        readClipped(file, fileSize, pixelOffset, rec.pixels, imageSize);
        return true;
    }

    if (depth == 1 || depth == 4) {
        PaletteEntry table[256] = {};
        readClipped(file, fileSize, 54, table, tableBytes);
        const uint32_t packed = depth == 1 ? uint32_t((width + 7) / 8) : uint32_t((width + 1) / 2);
        const size_t sourceSize = size_t(paddedRow(packed)) * size_t(height);
        uint8_t* source = static_cast<uint8_t*>(pageAlloc(sourceSize));
        if (!source) {
            rec.errorCode = ErrMemory;
            return false;
        }
        readClipped(file, fileSize, pixelOffset, source, sourceSize);

        DepthConversion conversion;
        conversion.width = width;
        conversion.height = height;
        conversion.sourceDepth = depth;
        conversion.targetDepth = 8;
        computeLayout(conversion);
        rec.pixels = static_cast<uint8_t*>(pageAlloc(conversion.targetImageSize));
        if (!rec.pixels) {
            pageFree(source);
            rec.errorCode = ErrMemory;
            return false;
        }
        conversion.sourcePalette = table;
        conversion.targetPalette = rec.palette;
        conversion.sourcePixels = source;
        conversion.targetPixels = rec.pixels;
        const bool converted = convertDepth(conversion);
        pageFree(source);
        if (!converted) {
            rec.errorCode = ErrRead;
            return false;
        }
        rec.header.biBitCount = 8;
        return true;
    }

    // 16 and 32 bits.
    uint32_t redMask = depth == 16 ? 0x7C00u : 0xFF0000u;
    uint32_t greenMask = depth == 16 ? 0x03E0u : 0xFF00u;
    uint32_t blueMask = depth == 16 ? 0x001Fu : 0xFFu;
    if (compression == 3) {
        uint8_t masks[12] = {};
        readClipped(file, fileSize, 54, masks, sizeof masks);
        redMask = readLe32(masks);
        greenMask = readLe32(masks + 4);
        blueMask = readLe32(masks + 8);
    }
    const uint32_t rowSize = paddedRow(uint64_t(width) * 3);
    rec.pixels = static_cast<uint8_t*>(pageAlloc(size_t(rowSize) * size_t(height)));
    if (!rec.pixels) {
        rec.errorCode = ErrMemory;
        return false;
    }
    rec.header.biBitCount = 24;
    // Only the bytes that the rows can use are read, however long the file is.
    const size_t sourceStride = depth == 16 ? size_t((width + 1) & ~1) * 2 : size_t(width) * 4;
    const uint64_t wanted = uint64_t(sourceStride) * uint64_t(height);
    const uint64_t available = pixelOffset < fileSize ? fileSize - pixelOffset : 0;
    const size_t sourceBytes = size_t(available < wanted ? available : wanted);
    uint8_t* source = static_cast<uint8_t*>(pageAlloc(sourceBytes));
    if (sourceBytes && !source) {
        rec.errorCode = ErrMemory;
        return false;
    }
    const size_t got = readClipped(file, fileSize, pixelOffset, source, sourceBytes);
    const bool converted =
        convertMasked(source, got, depth, redMask, greenMask, blueMask, width, height, rec.pixels, rowSize);
    pageFree(source);
    if (!converted) {
        rec.errorCode = ErrRead;
        return false;
    }
    return true;
}

}  // namespace

DecodedImage* decodeBmp(const wchar_t* path, DecodedImage& record, DecodeCounters& counters) {
    record = DecodedImage{};
    counters = DecodeCounters{};
    BinaryFile file;
    if (!file.open(path, BinaryFile::ReadOnly)) {
        record.errorCode = ErrRead;
        return nullptr;
    }
    const uint64_t fileSize = file.size();
    record.fileSize = fileSize > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(fileSize);
    if (!readBitmap(record, file, fileSize)) {
        pageFree(record.pixels);
        record.pixels = nullptr;
        return nullptr;
    }
    record.format = FormatBmp;
    getLastWriteTime(path, record.lastWriteTime);
    counters.fileWidth = record.header.biWidth;
    counters.fileHeight = record.header.biHeight;
    return &record;
}

bool writeBmp(const wchar_t* path, DepthConversion& conversion, const uint8_t* sourcePixels) {
    conversion.errorCode = 0;
    computeLayout(conversion);
    BinaryFile file;
    if (!file.open(path, BinaryFile::CreateTruncate)) {
        conversion.errorCode = ErrCreateFile;
        return false;
    }

    const int depth = conversion.targetDepth;
    const uint32_t paletteEntries = depth < 16 ? (uint32_t(1) << depth) : 0;
    PaletteEntry palette[256] = {};
    const uint8_t* pixels = sourcePixels;
    uint8_t* converted = nullptr;
    if (conversion.targetDepth == conversion.sourceDepth) {
        if (paletteEntries && conversion.sourcePalette)
            std::memcpy(palette, conversion.sourcePalette, paletteEntries * sizeof(PaletteEntry));
    } else {
        converted = static_cast<uint8_t*>(pageAlloc(conversion.targetImageSize));
        if (!converted) {
            file.close();
            deleteFileAt(path);
            conversion.errorCode = ErrMemory;
            return false;
        }
        conversion.sourcePixels = sourcePixels;
        conversion.targetPixels = converted;
        conversion.targetPalette = palette;
        if (!convertDepth(conversion)) {
            pageFree(converted);
            file.close();
            deleteFileAt(path);
            conversion.errorCode = ErrSaveImage;
            return false;
        }
        pixels = converted;
    }

    const uint32_t dataOffset = 54 + 4 * paletteEntries;
    uint8_t head[54] = {};
    head[0] = 'B';
    head[1] = 'M';
    writeLe32(head + 2, dataOffset + conversion.targetImageSize);
    writeLe32(head + 10, dataOffset);
    writeLe32(head + 14, 40);
    writeLe32(head + 18, uint32_t(conversion.width));
    writeLe32(head + 22, uint32_t(conversion.height));
    writeLe16(head + 26, 1);
    writeLe16(head + 28, uint16_t(depth));
    writeLe32(head + 38, uint32_t(conversion.xPelsPerMeter));
    writeLe32(head + 42, uint32_t(conversion.yPelsPerMeter));
    writeLe32(head + 46, paletteEntries);

    bool ok = file.write(head, sizeof head);
    if (ok && paletteEntries) ok = file.write(palette, paletteEntries * sizeof(PaletteEntry));
    if (ok && conversion.targetImageSize) ok = file.write(pixels, conversion.targetImageSize);
    pageFree(converted);
    file.close();
    if (!ok) {
        // A short bitmap must not pass for a good one.
        deleteFileAt(path);
        conversion.errorCode = ErrSaveImage;
        return false;
    }
    return true;
}
