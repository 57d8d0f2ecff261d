// The loader dispatch: sniff the file, run its decoder (or the image plug-ins), bring the
// result to 24 bits per pixel and leave the facts of the load in g_loadInfo.
#include "base/settings.h"
#include "image/decoded_image.h"
#include "image/plugin_host.h"

#include "image/jpeg_codec.h"

LoadInfo g_loadInfo;
PluginLoader g_pluginLoader = nullptr;

namespace {

DecodedImage* runDecoder(ImageFormat format, const wchar_t* path, int32_t targetWidth, int32_t targetHeight,
                         DecodeCounters& counters) {
    switch (format) {
        case FormatBmp: return decodeBmp(path, counters);
        case FormatPng: {
            PngOptions options;  // composite onto white, display gamma 2.2
            options.blendTable = blendTable();
            return decodePng(path, options, counters);
        }
        case FormatJpeg:
            // A reduced-scale decode only when the caller names a complete target size.
            if (targetWidth == 0 || targetHeight == 0) targetWidth = targetHeight = 0;
            return decodeJpeg(path, targetWidth, targetHeight, counters);
        case FormatTiff: return decodeTiff(path, counters);
        case FormatGif: return decodeGif(path, counters);
        default: return nullptr;
    }
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

bool loadImage(const wchar_t* path, int32_t targetWidth, int32_t targetHeight, bool* cacheNeedsRewrite) {
    g_loadInfo.facts.commentCount = 0;
    g_loadInfo.facts.metaCount = 0;
    g_loadInfo.facts.interlaced = 0;
    if (!path || !pathExists(path)) return false;

    const ImageFormat format = sniffImageFormat(path);
    if (format == FormatEmpty) return false;

    DecodeCounters counters;
    DecodedImage* image = nullptr;
    if (format != FormatUnknown) image = runDecoder(format, path, targetWidth, targetHeight, counters);
    // The plug-ins, only when the plug-in folder setting names an existing folder.
    if (!image && (g_pluginLoader || pluginFolderUsable(g_settings.pluginFolder))) {
        counters = DecodeCounters{};
        image = g_pluginLoader ? g_pluginLoader(path, counters)
                               : loadPluginImage(g_settings.pluginFolder, path, counters);
        // Only the size counts for a plug-in image; it reports no comments or text.
        counters.interlaced = counters.metaCount = counters.commentCount = 0;
    }
    if (!image) return false;
    if (!image->pixels || !convertTo24(*image)) {
        releasePixels(*image);
        return false;
    }

    FileTime written;
    if (!getLastWriteTime(path, written)) written = FileTime{};
    commitLoad(g_loadInfo, image, counters, written);
    if (cacheNeedsRewrite) *cacheNeedsRewrite = true;
    return true;
}

bool loadJpegImage(JpegDecoder* decoder, const wchar_t* path, int32_t targetWidth, int32_t targetHeight,
                   LoadInfo& info) {
    info.facts.commentCount = 0;
    info.facts.metaCount = 0;
    info.facts.interlaced = 0;
    // No look at the file beforehand: the decoder refuses a missing file and anything that
    // does not begin as a JPEG, which are the files the format sniffing would turn away.
    if (!decoder || !path) return false;
    if (targetWidth == 0 || targetHeight == 0) targetWidth = targetHeight = 0;
    DecodeCounters counters;
    DecodedImage* image = decodeJpegWith(decoder, path, targetWidth, targetHeight, counters);
    if (!image) return false;
    if (!image->pixels || !convertTo24(*image)) {
        releasePixels(*image);
        return false;
    }
    // The decoder read the write time with the file (0 when it could not).
    commitLoad(info, image, counters, image->lastWriteTime);
    return true;
}
