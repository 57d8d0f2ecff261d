/* HEIF import filter through libheif: HEIC / HEIF stills (HEVC, by libde265) and AVIF (AV1,
 * by dav1d). The primary image with its rotation, mirroring and crop applied, 10- and 12-bit
 * images reduced to 8 bits by libheif, alpha composited onto white as Pravel's PNG decoder
 * composites (or, for premultiplied alpha, colour plus the white that shows through). */
#include <string.h>

#include <libheif/heif.h>

#include "spi.h"

static const char* const g_info[] = {"00IN", "Pravel HEIF plug-in (libheif)", "*.heic;*.heif;*.avif", "HEIF / AVIF",
                                     NULL};

#define MAX_SIDE 25000

/* The brands of an "ftyp" box that name a still image this plug-in can decode. */
static int isHeif(const unsigned char* p, DWORD length) {
    static const char* const brands[] = {"heic", "heix", "heim", "heis", "hevc", "hevx", "mif1", "msf1", "avif", "avis"};
    DWORD box, at;
    size_t i;
    if (length < 16 || memcmp(p + 4, "ftyp", 4) != 0) return 0;
    box = (DWORD)p[0] << 24 | (DWORD)p[1] << 16 | (DWORD)p[2] << 8 | p[3];
    if (box < 16) return 0;
    if (box > length) box = length;
    /* the major brand, then the compatible brands after the minor version */
    for (at = 8; at + 4 <= box; at += at == 8 ? 8 : 4)
        for (i = 0; i < sizeof brands / sizeof brands[0]; ++i)
            if (memcmp(p + at, brands[i], 4) == 0) return 1;
    return 0;
}

int WINAPI GetPluginInfo(int index, LPSTR buffer, int bufferSize) {
    return spiInfoEntry(g_info, index, buffer, bufferSize);
}

int WINAPI IsSupported(LPCSTR fileName, DWORD_PTR data) {
    (void)fileName;
    if ((data & ~(DWORD_PTR)0xFFFF) == 0) return 0; /* a file handle */
    return isHeif((const unsigned char*)data, 2048);
}

/* The file parsed and its primary image's handle, or an error code of the convention. */
typedef struct Opened {
    unsigned char* input;
    struct heif_context* context;
    struct heif_image_handle* handle;
} Opened;

static void closeOpened(Opened* o) {
    if (o->handle) heif_image_handle_release(o->handle);
    if (o->context) heif_context_free(o->context);
    spiFree(o->input);
    ZeroMemory(o, sizeof *o);
}

static int openPrimary(LPCSTR fileName, LONG_PTR offset, unsigned int flag, Opened* o) {
    DWORD length;
    struct heif_error error;
    ZeroMemory(o, sizeof *o);
    o->input = spiReadInput(fileName, offset, flag, &length);
    if (!o->input) return SPI_FILE_READ_ERROR;
    if (!isHeif(o->input, length)) {
        closeOpened(o);
        return SPI_UNKNOWN_FORMAT;
    }
    o->context = heif_context_alloc();
    if (!o->context) {
        closeOpened(o);
        return SPI_NO_MEMORY;
    }
    error = heif_context_read_from_memory_without_copy(o->context, o->input, length, NULL);
    if (error.code == heif_error_Ok) error = heif_context_get_primary_image_handle(o->context, &o->handle);
    if (error.code != heif_error_Ok) {
        const int unsupported = error.code == heif_error_Unsupported_filetype || error.code == heif_error_Unsupported_feature;
        closeOpened(o);
        return error.code == heif_error_Memory_allocation_error ? SPI_NO_MEMORY
               : unsupported                                    ? SPI_UNKNOWN_FORMAT
                                                                : SPI_BROKEN_DATA;
    }
    return SPI_OK;
}

static int sizeAllowed(int width, int height) {
    return width > 0 && height > 0 && width <= MAX_SIDE && height <= MAX_SIDE;
}

int WINAPI GetPictureInfo(LPCSTR fileName, LONG_PTR offset, unsigned int flag, PictureInfo* info) {
    Opened o;
    int width, height, alpha;
    const int rc = openPrimary(fileName, offset, flag, &o);
    if (rc != SPI_OK) return rc;
    width = heif_image_handle_get_width(o.handle);
    height = heif_image_handle_get_height(o.handle);
    alpha = heif_image_handle_has_alpha_channel(o.handle);
    closeOpened(&o);
    if (!sizeAllowed(width, height)) return SPI_BROKEN_DATA;
    ZeroMemory(info, sizeof *info);
    info->width = width;
    info->height = height;
    info->colorDepth = (SHORT)(alpha ? 32 : 24);
    return SPI_OK;
}

/* Interleaved RGB or RGBA rows (top row first) into the bottom-up BGR bitmap. */
static void copyRows(SpiBitmap* bitmap, const unsigned char* rgb, int stride, int alpha, int premultiplied) {
    LONG x, y;
    for (y = 0; y < bitmap->height; ++y) {
        const unsigned char* s = rgb + (size_t)y * (size_t)stride;
        unsigned char* d = spiRow(bitmap, y);
        if (!alpha) {
            for (x = 0; x < bitmap->width; ++x, s += 3, d += 3) d[0] = s[2], d[1] = s[1], d[2] = s[0];
            continue;
        }
        for (x = 0; x < bitmap->width; ++x, s += 4, d += 3) {
            const unsigned a = s[3];
            int c;
            for (c = 0; c < 3; ++c) {
                const unsigned v = s[2 - c];
                if (!premultiplied) d[c] = spiOverWhite(v, a);
                else d[c] = (unsigned char)(v + 255u - a > 255u ? 255u : v + 255u - a);
            }
        }
    }
}

int WINAPI GetPicture(LPCSTR fileName, LONG_PTR offset, unsigned int flag, HANDLE* info, HANDLE* bits,
                      SpiProgress progress, LONG_PTR data) {
    Opened o;
    SpiBitmap bitmap;
    struct heif_decoding_options* options;
    struct heif_image* image = NULL;
    struct heif_error error;
    const unsigned char* plane;
    int alpha, premultiplied, width, height, stride = 0, result;
    int rc = openPrimary(fileName, offset, flag, &o);
    if (rc != SPI_OK) return rc;
    if (progress && progress(0, 1, data)) {
        closeOpened(&o);
        return SPI_ABORTED;
    }
    if (!sizeAllowed(heif_image_handle_get_width(o.handle), heif_image_handle_get_height(o.handle))) {
        closeOpened(&o);
        return SPI_BROKEN_DATA;
    }
    alpha = heif_image_handle_has_alpha_channel(o.handle);
    premultiplied = alpha && heif_image_handle_is_premultiplied_alpha(o.handle);
    options = heif_decoding_options_alloc();
    if (!options) {
        closeOpened(&o);
        return SPI_NO_MEMORY;
    }
    options->convert_hdr_to_8bit = 1;
    error = heif_decode_image(o.handle, &image, heif_colorspace_RGB,
                              alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, options);
    heif_decoding_options_free(options);
    if (error.code != heif_error_Ok || !image) {
        if (image) heif_image_release(image);
        closeOpened(&o);
        return error.code == heif_error_Memory_allocation_error ? SPI_NO_MEMORY : SPI_BROKEN_DATA;
    }
    width = heif_image_get_width(image, heif_channel_interleaved);
    height = heif_image_get_height(image, heif_channel_interleaved);
    plane = heif_image_get_plane_readonly(image, heif_channel_interleaved, &stride);
    ZeroMemory(&bitmap, sizeof bitmap);
    result = SPI_BROKEN_DATA;
    if (plane && sizeAllowed(width, height) && heif_image_get_bits_per_pixel_range(image, heif_channel_interleaved) == 8 &&
        stride >= width * (alpha ? 4 : 3)) {
        result = spiCreate24(&bitmap, width, height) ? SPI_OK : SPI_NO_MEMORY;
        if (result == SPI_OK) copyRows(&bitmap, plane, stride, alpha, premultiplied);
    }
    heif_image_release(image);
    closeOpened(&o);
    return spiFinish(&bitmap, result, info, bits);
}

int WINAPI GetPreview(LPCSTR fileName, LONG_PTR offset, unsigned int flag, HANDLE* info, HANDLE* bits,
                      SpiProgress progress, LONG_PTR data) {
    (void)fileName, (void)offset, (void)flag, (void)info, (void)bits, (void)progress, (void)data;
    return SPI_NOT_IMPLEMENTED;
}
