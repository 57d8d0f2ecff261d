// The loader dispatch: sniff the file, run its decoder (or the image plug-ins), bring the
// result to 24 bits per pixel and leave the facts of the load in the caller's LoadInfo.
#include "base/platform_threads.h"
#include "image/decoded_image.h"
#include "image/plugin_host.h"

#include "image/jpeg_codec.h"

PluginLoader g_pluginLoader = nullptr;

ImageDecoder::ImageDecoder() : jpeg_(createJpegDecoder()) {}
ImageDecoder::~ImageDecoder() { destroyJpegDecoder(jpeg_); }

namespace {

DecodedImage* runDecoder(ImageDecoder& decoder, ImageFormat format, const wchar_t* path, int32_t targetWidth,
                         int32_t targetHeight, DecodeCounters& counters) {
    DecodedImage& record = decoder.record;
    switch (format) {
        case FormatBmp: return decodeBmp(path, record, counters);
        case FormatPng: {
            PngOptions options;  // composite onto white, display gamma 2.2
            options.blendTable = blendTable();
            options.stop = decoder.stopFlag();
            return decodePng(path, options, record, counters);
        }
        case FormatJpeg: {
            // A reduced-scale decode only when the caller names a complete target size.
            if (targetWidth == 0 || targetHeight == 0) targetWidth = targetHeight = 0;
            record = DecodedImage{};
            if (!decoder.jpeg()) {
                record.errorCode = ErrMemory;
                return nullptr;
            }
            DecodedImage* image = decodeJpegWith(decoder.jpeg(), path, targetWidth, targetHeight, counters);
            // The JPEG decoder fills a record of its own; the load's result is always the
            // context's record, so the pixels (or the error) move over.
            DecodedImage& own = jpegDecoderRecord(decoder.jpeg());
            record = own;
            own.pixels = nullptr;
            return image ? &record : nullptr;
        }
        case FormatTiff: return decodeTiff(path, record, counters, decoder.stopFlag());
        case FormatGif: return decodeGif(path, record, counters);
        default: return nullptr;
    }
}

// The plug-in host keeps one static state for the whole process: one call at a time.
WorkerLock& pluginLock() {
    static WorkerLock lock;
    return lock;
}

void releasePixels(DecodedImage& image) {
    pageFree(image.pixels);
    image.pixels = nullptr;
}

// Brings the record's pixels to 24 bits. On failure no pixel buffer is left behind.
bool convertTo24(DecodedImage& image) {
    if (image.header.biBitCount == 24) return true;
    DepthConversion conversion;
    conversion.width = image.header.biWidth;
    conversion.height = image.header.biHeight;
    conversion.sourceDepth = image.header.biBitCount;
    conversion.targetDepth = 24;
    computeLayout(conversion);
    uint8_t* target = conversion.width > 0 && conversion.height > 0
                          ? static_cast<uint8_t*>(pageAlloc(conversion.targetImageSize))
                          : nullptr;
    if (!target) {
        releasePixels(image);
        return false;
    }
    conversion.sourcePalette = image.palette;
    conversion.sourcePixels = image.pixels;
    conversion.targetPixels = target;
    if (!convertDepth(conversion)) {
        pageFree(target);
        releasePixels(image);
        return false;
    }
    pageFree(image.pixels);
    image.pixels = target;
    image.header.biBitCount = 24;
    return true;
}

// Everything is committed only at the end, so a failed load leaves the counters at 0.
// written is the file's last write time (0 when it could not be read).
void commitLoad(LoadInfo& info, DecodedImage* image, const DecodeCounters& counters, const FileTime& written) {
    info.current = image;
    info.facts = FileFacts{.lastWriteTime = written,
                           .fileWidth = counters.fileWidth,
                           .fileHeight = counters.fileHeight,
                           .fileSize = image->fileSize,
                           .format = image->format,
                           .sourceDepth = image->sourceDepth,
                           .commentCount = counters.commentCount,
                           .metaCount = counters.metaCount,
                           .interlaced = counters.interlaced};
    info.width = image->header.biWidth;
    info.height = image->header.biHeight;
}

}  // namespace

BuiltInLoad loadBuiltInImage(ImageDecoder& decoder, const wchar_t* path, int32_t targetWidth, int32_t targetHeight,
                             LoadInfo& info) {
    info.facts.commentCount = 0;
    info.facts.metaCount = 0;
    info.facts.interlaced = 0;
    decoder.record = DecodedImage{};
    if (!path || !pathExists(path)) return BuiltInLoad::Failed;

    const ImageFormat format = sniffImageFormat(path);
    if (format == FormatEmpty) return BuiltInLoad::Failed;

    DecodeCounters counters;
    DecodedImage* image = nullptr;
    if (format != FormatUnknown) image = runDecoder(decoder, format, path, targetWidth, targetHeight, counters);
    // A decode given up on its owner's request is no file for the plug-ins.
    if (!image) return decoder.stopRequested() ? BuiltInLoad::Failed : BuiltInLoad::ForPlugins;
    if (!image->pixels || !convertTo24(*image)) {
        releasePixels(*image);
        return BuiltInLoad::Failed;
    }
    FileTime written;
    if (!getLastWriteTime(path, written)) written = FileTime{};
    commitLoad(info, image, counters, written);
    return BuiltInLoad::Loaded;
}

bool loadPluginFallback(ImageDecoder& decoder, const wchar_t* path, const wchar_t* pluginFolder, LoadInfo& info) {
    info.facts.commentCount = 0;
    info.facts.metaCount = 0;
    info.facts.interlaced = 0;
    if (!path) return false;
    const wchar_t* folder = pluginFolder ? pluginFolder : L"";
    // Only when the plug-in folder setting names an existing folder.
    if (!g_pluginLoader && !pluginFolderUsable(folder)) return false;
    DecodeCounters counters;
    {
        WorkerLockScope hold(pluginLock());
        DecodedImage* image = g_pluginLoader ? g_pluginLoader(path, counters) : loadPluginImage(folder, path, counters);
        if (!image) return false;
        // The host's record is rewritten by the next call: the result moves to the caller's.
        decoder.record = *image;
        image->pixels = nullptr;
    }
    // Only the size counts for a plug-in image; it reports no comments or text.
    counters.interlaced = counters.metaCount = counters.commentCount = 0;
    DecodedImage& image = decoder.record;
    if (!image.pixels || !convertTo24(image)) {
        releasePixels(image);
        return false;
    }
    FileTime written;
    if (!getLastWriteTime(path, written)) written = FileTime{};
    commitLoad(info, &image, counters, written);
    return true;
}

bool loadImage(ImageDecoder& decoder, const wchar_t* path, int32_t targetWidth, int32_t targetHeight,
               const wchar_t* pluginFolder, LoadInfo& info) {
    const BuiltInLoad built = loadBuiltInImage(decoder, path, targetWidth, targetHeight, info);
    if (built == BuiltInLoad::Loaded) return true;
    return built == BuiltInLoad::ForPlugins && loadPluginFallback(decoder, path, pluginFolder, info);
}
