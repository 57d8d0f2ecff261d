// The decoded-image record every decoder fills, the facts of the last load (LoadInfo),
// format codes, the depth-conversion context, and the entry points of the decoders and
// the loader dispatch. Portable: no Windows headers here.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/platform.h"

// Image error codes; their messages are the table in image_errors.cpp (codes 1..24, the numbers
// are what the user and the tests see).
enum ImageError : int32_t {
    ErrNone = 0,
    ErrMemory = 1,                 // memory could not be allocated
    ErrUnsupported = 2,            // a format or variant that is not supported (or too large)
    ErrCommentNotEditable = 3,
    ErrRead = 4,                   // reading the file failed (or data lies outside it)
    ErrCreateFile = 5,
    ErrMalformed = 6,              // the file's information is not valid
    ErrSaveImage = 7,
    ErrPngSignature = 8,
    ErrPngCrc = 9,
    ErrPngChunkLength = 10,
    ErrPngIhdrLength = 11,
    ErrPngIhdrType = 12,
    ErrPngIhdrSize = 13,
    ErrPngColourType = 14,
    ErrPngBitDepth = 15,
    ErrPngCompressionMethod = 16,
    ErrPngFilterMethod = 17,
    ErrPngInterlaceMethod = 18,
    ErrPngPlteLength = 19,
    ErrPngChunkOrder = 20,
    ErrPngCriticalChunk = 21,
    ErrPngIdatLength = 22,
    ErrInflate = 23,               // zlib failed while decoding
    ErrDeflate = 24,               // zlib failed while saving
    ImageErrorLast = ErrDeflate,
};

// The largest width or height any decoder accepts; a larger image is refused as an error of
// its format rather than decoded.
constexpr int32_t kMaxImageSide = 25000;

// Byte-for-byte the Win32 BITMAPINFOHEADER, so that header + palette can be handed to GDI
// unchanged as a BITMAPINFO (checked against the real structure in the Windows build).
#pragma pack(push, 2)
struct BitmapInfoHeader {
    uint32_t biSize = 40;
    int32_t biWidth = 0;
    int32_t biHeight = 0;  // positive: rows stored bottom row first
    uint16_t biPlanes = 1;
    uint16_t biBitCount = 0;
    uint32_t biCompression = 0;
    uint32_t biSizeImage = 0;
    int32_t biXPelsPerMeter = 0;
    int32_t biYPelsPerMeter = 0;
    uint32_t biClrUsed = 0;
    uint32_t biClrImportant = 0;
};
#pragma pack(pop)
static_assert(sizeof(BitmapInfoHeader) == 40, "BitmapInfoHeader must match BITMAPINFOHEADER");

// Same layout as RGBQUAD.
struct PaletteEntry {
    uint8_t blue = 0;
    uint8_t green = 0;
    uint8_t red = 0;
    uint8_t reserved = 0;
};
static_assert(sizeof(PaletteEntry) == 4, "PaletteEntry must match RGBQUAD");

enum ImageFormat : int32_t {
    FormatUnknown = 0,  // not recognised / cannot open; in a record: decoded by a plug-in
    FormatBmp = 1,
    FormatPng = 2,
    FormatJpeg = 3,
    FormatTiff = 4,
    FormatGif = 5,
    FormatEmpty = 6,  // opened, but the first read returned no bytes
};

// One decoder's output. header and palette are contiguous so &header is a BITMAPINFO.
struct DecodedImage {
    BitmapInfoHeader header;
    PaletteEntry palette[256];
    int32_t format = 0;
    uint8_t* pixels = nullptr;  // pageAlloc'd; bottom row first; rows padded to 4 bytes except 48-bit
    void* bitmap = nullptr;     // DIB section owning the pixels when one was asked for; the dispatch never asks
    uint32_t fileSize = 0;
    int32_t sourceDepth = 0;
    FileTime lastWriteTime;
    int32_t errorCode = 0;  // image error code (1..24) of the last failure, or 0
};

// The facts of one image file that a load reports and that travel with its thumbnail into
// a pane item and a cache record (which stores them field by field, 40 bytes, in this order).
struct FileFacts {
    FileTime lastWriteTime;
    int32_t fileWidth = 0;   // the image's size as the file states it
    int32_t fileHeight = 0;
    uint32_t fileSize = 0;
    int32_t format = 0;      // ImageFormat, 0 for an image a plug-in decoded
    int32_t sourceDepth = 0;
    int32_t commentCount = 0;
    int32_t metaCount = 0;
    int32_t interlaced = 0;
};
static_assert(sizeof(FileFacts) == 40, "the file facts are 40 bytes");

struct LoadInfo {
    FileFacts facts;
    int32_t width = 0;   // size of the current pixel buffer
    int32_t height = 0;
    DecodedImage* current = nullptr;
};
// The process-wide record of the last load; only touched while holding the image lock.
extern LoadInfo g_loadInfo;

// Conversion context shared by convertDepth, the BMP reader/writer and the JPEG encoder.
struct DepthConversion {
    const PaletteEntry* sourcePalette = nullptr;
    PaletteEntry* targetPalette = nullptr;  // may be absent
    const uint8_t* sourcePixels = nullptr;
    uint8_t* targetPixels = nullptr;
    // computed by computeLayout
    uint32_t targetPackedRowBytes = 0;
    uint32_t targetRowStride = 0;
    uint32_t targetImageSize = 0;
    uint32_t targetPaletteBytes = 0;
    // set by the caller
    int32_t width = 0;
    int32_t height = 0;
    int32_t sourceDepth = 0;
    int32_t targetDepth = 0;
    // BMP writer only
    int32_t xPelsPerMeter = 0;
    int32_t yPelsPerMeter = 0;
    int32_t errorCode = 0;
};

// Format-specific facts a decoder reports beside its record; the dispatch copies them
// into LoadInfo on success.
struct DecodeCounters {
    int32_t fileWidth = 0;
    int32_t fileHeight = 0;
    int32_t interlaced = 0;
    int32_t metaCount = 0;
    int32_t commentCount = 0;
};

// A decoder's view of its mapped input file.
struct DecoderInput {
    MappedFile file;
    const uint8_t* cursor = nullptr;
    const uint8_t* end = nullptr;
};

ImageFormat sniffImageFormat(const wchar_t* path);
ImageFormat formatFromExtension(const wchar_t* path);
void computeLayout(DepthConversion& conversion);
bool convertDepth(DepthConversion& conversion);
// Maps the whole file read-only into input; returns its size, or 0 with errorCode = 4.
uint32_t mapImageFile(const wchar_t* path, DecoderInput& input, int32_t& errorCode);
// Unmaps and closes what mapImageFile opened (safe on a cleared input).
void unmapImageFile(DecoderInput& input);

// The loader dispatch. Caller holds the image lock. On success fills g_loadInfo, sets
// *cacheNeedsRewrite (when given; never clears it: a decoded thumbnail must reach the
// folder's cache) and the caller owns g_loadInfo.current->pixels (release with pageFree).
bool loadImage(const wchar_t* path, int32_t targetWidth, int32_t targetHeight, bool* cacheNeedsRewrite);

// The same load for a thread that holds no lock, for JPEG files only: decoded with the
// caller's own decoder (jpeg_codec.h) into info, exactly as loadImage would fill
// g_loadInfo. Returns false, with nothing left allocated, for anything else (a file that
// is not a JPEG, or a JPEG that does not decode, which loadImage would offer to the
// plug-ins): the caller then runs loadImage under the lock.
struct JpegDecoder;
bool loadJpegImage(JpegDecoder* decoder, const wchar_t* path, int32_t targetWidth, int32_t targetHeight,
                   LoadInfo& info);

// Stands in for the plug-in host when set (tests); null, the normal case, means the real
// host with the plug-in folder setting.
using PluginLoader = DecodedImage* (*)(const wchar_t* path, DecodeCounters& counters);
extern PluginLoader g_pluginLoader;

// Per-format decoders. Each keeps one static record and state; on success it returns
// that record (pixels in plain memory, handed to the caller), on failure null with the
// record's errorCode set. xxxRecord() gives the record either way.
struct PngOptions {
    bool compositeTransparency = true;
    uint8_t backgroundRed = 255, backgroundGreen = 255, backgroundBlue = 255;
    int32_t displayGammaX1000 = 2200;
    const uint8_t* blendTable = nullptr;  // 256*256; built on first use when null
};
DecodedImage* decodeBmp(const wchar_t* path, DecodeCounters& counters);
DecodedImage* decodePng(const wchar_t* path, const PngOptions& options, DecodeCounters& counters);
// targetWidth/targetHeight both nonzero: reduced-scale decode aimed at that size.
DecodedImage* decodeJpeg(const wchar_t* path, int32_t targetWidth, int32_t targetHeight, DecodeCounters& counters);
DecodedImage* decodeTiff(const wchar_t* path, DecodeCounters& counters);
DecodedImage* decodeGif(const wchar_t* path, DecodeCounters& counters);
DecodedImage& bmpRecord();
DecodedImage& pngRecord();
DecodedImage& jpegRecord();
DecodedImage& tiffRecord();
DecodedImage& gifRecord();

// Shared tables, built once at start-up (or on first use).
const uint8_t* blendTable();  // 256 x 256 alpha products
uint32_t crc32Update(uint32_t crc, const uint8_t* data, size_t size);  // crc starts at 0xFFFFFFFF
inline uint32_t crc32Of(const uint8_t* data, size_t size) { return crc32Update(0xFFFFFFFFu, data, size) ^ 0xFFFFFFFFu; }

// Image error codes 1..24 and their Japanese messages (UTF-16); null outside 1..24.
const wchar_t* imageErrorMessage(int32_t code);
// Windows only (image_error_box_win.cpp): shows that message in a box titled "Error" with
// the error icon, brought to the foreground; codes outside 1..24 show nothing.
// ownerWindow is an HWND.
void showImageError(void* ownerWindow, int32_t code);
