// HEIF import filter through libheif: HEIC / HEIF stills (HEVC, by libde265) and AVIF (AV1,
// by dav1d). The primary image with its rotation, mirroring and crop applied, 10- and 12-bit
// images reduced to 8 bits by libheif, alpha composited onto white as Pravel's PNG decoder
// composites (or, for premultiplied alpha, colour plus the white that shows through).
// libheif is C++ and may throw (an allocation it does not check): no exception leaves an
// entry point, and everything taken is released on the way out.
#include <cstring>
#include <memory>
#include <new>

#include <libheif/heif.h>

#include "spi.h"

namespace {

const char* const g_info[] = {"00IN", "Pravel HEIF plug-in (libheif)", "*.heic;*.heif;*.avif", "HEIF / AVIF", nullptr};

constexpr int kMaxSide = 25000;

// The brands of an "ftyp" box that name a still image this plug-in can decode.
bool isHeif(const unsigned char* p, DWORD length) {
    static const char* const brands[] = {"heic", "heix", "heim", "heis", "hevc", "hevx", "mif1", "msf1", "avif", "avis"};
    if (length < 16 || std::memcmp(p + 4, "ftyp", 4) != 0) return false;
    DWORD box = DWORD(p[0]) << 24 | DWORD(p[1]) << 16 | DWORD(p[2]) << 8 | p[3];
    if (box < 16) return false;
    if (box > length) box = length;
    // the major brand, then the compatible brands after the minor version
    for (DWORD at = 8; at + 4 <= box; at += at == 8 ? 8 : 4)
        for (const char* brand : brands)
            if (std::memcmp(p + at, brand, 4) == 0) return true;
    return false;
}

bool sizeAllowed(int width, int height) {
    return width > 0 && height > 0 && width <= kMaxSide && height <= kMaxSide;
}

struct FreeInput {
    void operator()(unsigned char* p) const { spiFree(p); }
};
struct FreeContext {
    void operator()(heif_context* p) const { heif_context_free(p); }
};
struct FreeHandle {
    void operator()(heif_image_handle* p) const { heif_image_handle_release(p); }
};
struct FreeImage {
    void operator()(heif_image* p) const { heif_image_release(p); }
};
struct FreeOptions {
    void operator()(heif_decoding_options* p) const { heif_decoding_options_free(p); }
};

// The file parsed and its primary image's handle.
struct Opened {
    std::unique_ptr<unsigned char, FreeInput> input;
    std::unique_ptr<heif_context, FreeContext> context;
    std::unique_ptr<heif_image_handle, FreeHandle> handle;
};

int errorCode(const heif_error& error) {
    if (error.code == heif_error_Memory_allocation_error) return SPI_NO_MEMORY;
    if (error.code == heif_error_Unsupported_filetype || error.code == heif_error_Unsupported_feature)
        return SPI_UNKNOWN_FORMAT;
    return SPI_BROKEN_DATA;
}

int openPrimary(LPCSTR fileName, LONG_PTR offset, unsigned int flag, Opened& o) {
    DWORD length = 0;
    o.input.reset(spiReadInput(fileName, offset, flag, &length));
    if (!o.input) return SPI_FILE_READ_ERROR;
    if (!isHeif(o.input.get(), length)) return SPI_UNKNOWN_FORMAT;
    o.context.reset(heif_context_alloc());
    if (!o.context) return SPI_NO_MEMORY;
    heif_error error = heif_context_read_from_memory_without_copy(o.context.get(), o.input.get(), length, nullptr);
    if (error.code != heif_error_Ok) return errorCode(error);
    heif_image_handle* handle = nullptr;
    error = heif_context_get_primary_image_handle(o.context.get(), &handle);
    o.handle.reset(handle);
    if (error.code != heif_error_Ok || !handle) return errorCode(error);
    if (!sizeAllowed(heif_image_handle_get_width(handle), heif_image_handle_get_height(handle))) return SPI_BROKEN_DATA;
    return SPI_OK;
}

// Interleaved RGB or RGBA rows (top row first) into the bottom-up BGR bitmap.
void copyRows(SpiBitmap* bitmap, const unsigned char* rgb, int stride, bool alpha, bool premultiplied) {
    for (LONG y = 0; y < bitmap->height; ++y) {
        const unsigned char* s = rgb + size_t(y) * size_t(stride);
        unsigned char* d = spiRow(bitmap, y);
        if (!alpha) {
            for (LONG x = 0; x < bitmap->width; ++x, s += 3, d += 3) d[0] = s[2], d[1] = s[1], d[2] = s[0];
            continue;
        }
        for (LONG x = 0; x < bitmap->width; ++x, s += 4, d += 3) {
            const unsigned a = s[3];
            for (int c = 0; c < 3; ++c) {
                const unsigned v = s[2 - c];
                d[c] = !premultiplied ? spiOverWhite(v, a) : (unsigned char)(v + 255u - a > 255u ? 255u : v + 255u - a);
            }
        }
    }
}

int pictureInfo(LPCSTR fileName, LONG_PTR offset, unsigned int flag, PictureInfo* info) {
    Opened o;
    const int rc = openPrimary(fileName, offset, flag, o);
    if (rc != SPI_OK) return rc;
    ZeroMemory(info, sizeof *info);
    info->width = heif_image_handle_get_width(o.handle.get());
    info->height = heif_image_handle_get_height(o.handle.get());
    info->colorDepth = SHORT(heif_image_handle_has_alpha_channel(o.handle.get()) ? 32 : 24);
    return SPI_OK;
}

int picture(LPCSTR fileName, LONG_PTR offset, unsigned int flag, HANDLE* info, HANDLE* bits, SpiProgress progress,
            LONG_PTR data, SpiBitmap& bitmap) {
    Opened o;
    const int rc = openPrimary(fileName, offset, flag, o);
    if (rc != SPI_OK) return rc;
    if (progress && progress(0, 1, data)) return SPI_ABORTED;
    const bool alpha = heif_image_handle_has_alpha_channel(o.handle.get()) != 0;
    const bool premultiplied = alpha && heif_image_handle_is_premultiplied_alpha(o.handle.get());
    std::unique_ptr<heif_decoding_options, FreeOptions> options(heif_decoding_options_alloc());
    if (!options) return SPI_NO_MEMORY;
    options->convert_hdr_to_8bit = 1;
    heif_image* decoded = nullptr;
    const heif_error error = heif_decode_image(o.handle.get(), &decoded, heif_colorspace_RGB,
                                               alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB,
                                               options.get());
    std::unique_ptr<heif_image, FreeImage> image(decoded);
    if (error.code != heif_error_Ok || !image) return errorCode(error);
    const int width = heif_image_get_width(image.get(), heif_channel_interleaved);
    const int height = heif_image_get_height(image.get(), heif_channel_interleaved);
    int stride = 0;
    const unsigned char* plane = heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
    if (!plane || !sizeAllowed(width, height) ||
        heif_image_get_bits_per_pixel_range(image.get(), heif_channel_interleaved) != 8 ||
        stride < width * (alpha ? 4 : 3))
        return SPI_BROKEN_DATA;
    if (!spiCreate24(&bitmap, width, height)) return SPI_NO_MEMORY;
    copyRows(&bitmap, plane, stride, alpha, premultiplied);
    return spiFinish(&bitmap, SPI_OK, info, bits);
}

}  // namespace

extern "C" {

int WINAPI GetPluginInfo(int index, LPSTR buffer, int bufferSize) {
    return spiInfoEntry(g_info, index, buffer, bufferSize);
}

int WINAPI IsSupported(LPCSTR fileName, DWORD_PTR data) {
    (void)fileName;
    if ((data & ~DWORD_PTR(0xFFFF)) == 0) return 0;  // a file handle
    return isHeif(reinterpret_cast<const unsigned char*>(data), 2048);
}

int WINAPI GetPictureInfo(LPCSTR fileName, LONG_PTR offset, unsigned int flag, PictureInfo* info) {
    try {
        return pictureInfo(fileName, offset, flag, info);
    } catch (const std::bad_alloc&) {
        return SPI_NO_MEMORY;
    } catch (...) {
        return SPI_BROKEN_DATA;
    }
}

int WINAPI GetPicture(LPCSTR fileName, LONG_PTR offset, unsigned int flag, HANDLE* info, HANDLE* bits,
                      SpiProgress progress, LONG_PTR data) {
    SpiBitmap bitmap;
    ZeroMemory(&bitmap, sizeof bitmap);
    int rc;
    try {
        rc = picture(fileName, offset, flag, info, bits, progress, data, bitmap);
    } catch (const std::bad_alloc&) {
        rc = SPI_NO_MEMORY;
    } catch (...) {
        rc = SPI_BROKEN_DATA;
    }
    // Handed over on success; freed on every other way out.
    return rc == SPI_OK ? rc : spiFinish(&bitmap, rc, nullptr, nullptr);
}

int WINAPI GetPreview(LPCSTR fileName, LONG_PTR offset, unsigned int flag, HANDLE* info, HANDLE* bits,
                      SpiProgress progress, LONG_PTR data) {
    (void)fileName, (void)offset, (void)flag, (void)info, (void)bits, (void)progress, (void)data;
    return SPI_NOT_IMPLEMENTED;
}

}  // extern "C"
