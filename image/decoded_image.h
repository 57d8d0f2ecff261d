// The decoded-image record every decoder fills, the facts of the last load (LoadInfo),
// format codes, the depth-conversion context, and the entry points of the decoders and
// the loader dispatch. Portable: no Windows headers here.
#pragma once

#include <atomic>
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

// The facts of one load and the image it made; each caller keeps its own.
struct LoadInfo {
    FileFacts facts;
    int32_t width = 0;   // size of the current pixel buffer
    int32_t height = 0;
    DecodedImage* current = nullptr;
};

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

// One caller's decoding context for the loader dispatch: the record the decoders fill and
// a JPEG decoder of its own. Every thread that loads images owns one; nothing in it is
// shared, so any number of threads load any built-in format at the same time.
struct JpegDecoder;
class ImageDecoder {
public:
    ImageDecoder();
    ~ImageDecoder();
    ImageDecoder(const ImageDecoder&) = delete;
    ImageDecoder& operator=(const ImageDecoder&) = delete;
    // The record of the last load: its errorCode tells why a load failed; after a load that
    // succeeded, LoadInfo::current points here.
    DecodedImage record;
    JpegDecoder* jpeg() const { return jpeg_; }
    // A flag its owner sets to have the decode under way give up (PNG and TIFF look at it
    // every few rows; the load then fails); null, the start value: never.
    void setStopFlag(const std::atomic<bool>* flag) { stop_ = flag; }
    const std::atomic<bool>* stopFlag() const { return stop_; }
    bool stopRequested() const { return stop_ && stop_->load(std::memory_order_relaxed); }

private:
    JpegDecoder* jpeg_ = nullptr;  // null when it could not be allocated (JPEG loads then fail)
    const std::atomic<bool>* stop_ = nullptr;
};

enum class BuiltInLoad { Loaded, Failed, ForPlugins };

// The loader dispatch without the plug-ins: sniff the file, run its decoder and bring the
// result to 24 bits. Loaded: info is filled and the caller owns info.current->pixels
// (release with pageFree). ForPlugins: an existing, non-empty file no built-in decoder
// made, which the plug-ins are offered next (loadPluginFallback). Failed: nothing to offer.
// Nothing is left allocated unless it returns Loaded; a failed load leaves info's counters 0.
BuiltInLoad loadBuiltInImage(ImageDecoder& decoder, const wchar_t* path, int32_t targetWidth, int32_t targetHeight,
                             LoadInfo& info);

// The plug-ins' part of the dispatch: when pluginFolder is usable (or g_pluginLoader is set)
// the file is offered to them, one plug-in call at a time in the whole process (their host
// keeps one static state), and the image is brought to 24 bits into decoder.record.
bool loadPluginFallback(ImageDecoder& decoder, const wchar_t* path, const wchar_t* pluginFolder, LoadInfo& info);

// Both of the above, in that order: the whole dispatch. targetWidth/targetHeight both
// nonzero: a JPEG is decoded at reduced scale aimed at that size. pluginFolder is the
// caller's copy of the plug-in folder setting (may be null or empty: no plug-ins).
bool loadImage(ImageDecoder& decoder, const wchar_t* path, int32_t targetWidth, int32_t targetHeight,
               const wchar_t* pluginFolder, LoadInfo& info);

// Stands in for the plug-in host when set (tests); null, the normal case, means the real
// host with the plug-in folder setting.
using PluginLoader = DecodedImage* (*)(const wchar_t* path, DecodeCounters& counters);
extern PluginLoader g_pluginLoader;

// Per-format decoders. The working state of a decode lives for that call only; the result
// goes to the caller's record, so any number of them run at once. On success they return
// &record (pixels in plain memory, handed to the caller), on failure null with
// record.errorCode set. JPEG alone also has the lock-holding form with one static record
// (decodeJpeg / jpegRecord); threads use a JpegDecoder (jpeg_codec.h).
struct PngOptions {
    bool compositeTransparency = true;
    uint8_t backgroundRed = 255, backgroundGreen = 255, backgroundBlue = 255;
    int32_t displayGammaX1000 = 2200;
    const uint8_t* blendTable = nullptr;  // 256*256; built on first use when null
    // Looked at every few rows of the image data: once set, the decode gives up (null pixels,
    // error 1). Unset or null, the result is the same as without it.
    const std::atomic<bool>* stop = nullptr;
};
DecodedImage* decodeBmp(const wchar_t* path, DecodedImage& record, DecodeCounters& counters);
DecodedImage* decodePng(const wchar_t* path, const PngOptions& options, DecodedImage& record, DecodeCounters& counters);
// targetWidth/targetHeight both nonzero: reduced-scale decode aimed at that size.
DecodedImage* decodeJpeg(const wchar_t* path, int32_t targetWidth, int32_t targetHeight, DecodeCounters& counters);
// stop as in PngOptions.
DecodedImage* decodeTiff(const wchar_t* path, DecodedImage& record, DecodeCounters& counters,
                         const std::atomic<bool>* stop = nullptr);
DecodedImage* decodeGif(const wchar_t* path, DecodedImage& record, DecodeCounters& counters);
DecodedImage& jpegRecord();

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
