/* WebP import filter through libwebp: lossy, lossless, with alpha (composited onto white as
 * Pravel's PNG decoder composites), and the first frame of an animation. */
#include <string.h>

#include <webp/decode.h>
#include <webp/demux.h>

#include "spi.h"

static const char* const g_info[] = {"00IN", "Pravel WebP plug-in (libwebp)", "*.webp", "WebP", NULL};

static int isWebp(const unsigned char* p, DWORD length) {
    return length >= 16 && memcmp(p, "RIFF", 4) == 0 && memcmp(p + 8, "WEBP", 4) == 0;
}

int WINAPI GetPluginInfo(int index, LPSTR buffer, int bufferSize) {
    return spiInfoEntry(g_info, index, buffer, bufferSize);
}

int WINAPI IsSupported(LPCSTR fileName, DWORD_PTR data) {
    (void)fileName;
    if ((data & ~(DWORD_PTR)0xFFFF) == 0) return 0; /* a file handle */
    return isWebp((const unsigned char*)data, 16);
}

int WINAPI GetPictureInfo(LPCSTR fileName, LONG_PTR offset, unsigned int flag, PictureInfo* info) {
    WebPBitstreamFeatures features;
    DWORD length;
    /* The headers are enough for the size and the alpha flag. */
    unsigned char* input = spiReadInputHead(fileName, offset, flag, 4096, &length);
    if (!input) return SPI_FILE_READ_ERROR;
    if (!isWebp(input, length) || WebPGetFeatures(input, length, &features) != VP8_STATUS_OK) {
        spiFree(input);
        return SPI_UNKNOWN_FORMAT;
    }
    spiFree(input);
    ZeroMemory(info, sizeof *info);
    info->width = features.width;
    info->height = features.height;
    info->colorDepth = (SHORT)(features.has_alpha ? 32 : 24);
    return SPI_OK;
}

/* BGRA rows (top row first) onto white into the bitmap. */
static void compositeRows(SpiBitmap* bitmap, const unsigned char* bgra, int stride) {
    LONG x, y;
    for (y = 0; y < bitmap->height; ++y) {
        const unsigned char* s = bgra + (size_t)y * (size_t)stride;
        unsigned char* d = spiRow(bitmap, y);
        for (x = 0; x < bitmap->width; ++x, s += 4, d += 3) {
            const unsigned a = s[3];
            if (a == 255) {
                d[0] = s[0], d[1] = s[1], d[2] = s[2];
            } else {
                d[0] = spiOverWhite(s[0], a);
                d[1] = spiOverWhite(s[1], a);
                d[2] = spiOverWhite(s[2], a);
            }
        }
    }
}

static int decodeStill(const unsigned char* input, DWORD length, const WebPBitstreamFeatures* features,
                       SpiBitmap* bitmap) {
    WebPDecoderConfig config;
    int ok;
    if (!WebPInitDecoderConfig(&config)) return 0;
    if (!features->has_alpha) {
        /* Straight into the bitmap: bottom-up rows are a flipped, padded BGR buffer. */
        config.options.flip = 1;
        config.output.colorspace = MODE_BGR;
        config.output.is_external_memory = 1;
        config.output.u.RGBA.rgba = bitmap->pixels;
        config.output.u.RGBA.stride = (int)bitmap->stride;
        config.output.u.RGBA.size = (size_t)bitmap->stride * (size_t)bitmap->height;
        return WebPDecode(input, length, &config) == VP8_STATUS_OK;
    }
    config.output.colorspace = MODE_BGRA;
    if (WebPDecode(input, length, &config) != VP8_STATUS_OK) return 0;
    ok = config.output.width == bitmap->width && config.output.height == bitmap->height;
    if (ok) compositeRows(bitmap, config.output.u.RGBA.rgba, config.output.u.RGBA.stride);
    WebPFreeDecBuffer(&config.output);
    return ok;
}

static int decodeFirstFrame(const unsigned char* input, DWORD length, SpiBitmap* bitmap) {
    WebPAnimDecoderOptions options;
    WebPAnimDecoder* decoder;
    WebPAnimInfo animation;
    WebPData data;
    uint8_t* canvas = NULL;
    int timestamp = 0, ok = 0;
    if (!WebPAnimDecoderOptionsInit(&options)) return 0;
    options.color_mode = MODE_BGRA;
    options.use_threads = 0;
    data.bytes = input;
    data.size = length;
    decoder = WebPAnimDecoderNew(&data, &options);
    if (!decoder) return 0;
    if (WebPAnimDecoderGetInfo(decoder, &animation) && (LONG)animation.canvas_width == bitmap->width &&
        (LONG)animation.canvas_height == bitmap->height && WebPAnimDecoderGetNext(decoder, &canvas, &timestamp)) {
        compositeRows(bitmap, canvas, (int)animation.canvas_width * 4);
        ok = 1;
    }
    WebPAnimDecoderDelete(decoder);
    return ok;
}

int WINAPI GetPicture(LPCSTR fileName, LONG_PTR offset, unsigned int flag, HANDLE* info, HANDLE* bits,
                      SpiProgress progress, LONG_PTR data) {
    WebPBitstreamFeatures features;
    SpiBitmap bitmap;
    DWORD length;
    int ok;
    unsigned char* input = spiReadInput(fileName, offset, flag, &length);
    if (!input) return SPI_FILE_READ_ERROR;
    if (!isWebp(input, length) || WebPGetFeatures(input, length, &features) != VP8_STATUS_OK) {
        spiFree(input);
        return SPI_UNKNOWN_FORMAT;
    }
    if (progress && progress(0, 1, data)) {
        spiFree(input);
        return SPI_ABORTED;
    }
    if (!spiCreate24(&bitmap, features.width, features.height)) {
        spiFree(input);
        return spiFinish(&bitmap, SPI_NO_MEMORY, NULL, NULL);
    }
    ok = features.has_animation ? decodeFirstFrame(input, length, &bitmap)
                                : decodeStill(input, length, &features, &bitmap);
    spiFree(input);
    return spiFinish(&bitmap, ok ? SPI_OK : SPI_BROKEN_DATA, info, bits);
}

int WINAPI GetPreview(LPCSTR fileName, LONG_PTR offset, unsigned int flag, HANDLE* info, HANDLE* bits,
                      SpiProgress progress, LONG_PTR data) {
    (void)fileName, (void)offset, (void)flag, (void)info, (void)bits, (void)progress, (void)data;
    return SPI_NOT_IMPLEMENTED;
}
