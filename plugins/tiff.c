/* TIFF import filter through libtiff: every compression the set-up builds in (LZW, Deflate,
 * PackBits, JPEG, CCITT and the other built-in codecs), read through libtiff's RGBA
 * interface, alpha composited onto white. Pravel decodes
 * uncompressed TIFF itself; this plug-in gets the files its own decoder refuses. */
#include <string.h>

#include <tiffio.h>

#include "spi.h"

static const char* const g_info[] = {"00IN", "Pravel TIFF plug-in (libtiff)", "*.tif;*.tiff", "TIFF", NULL};

#define MAX_SIDE 25000

typedef struct MemoryFile {
    const unsigned char* data;
    toff_t size;
    toff_t position;
} MemoryFile;

static tmsize_t memoryRead(thandle_t handle, void* buffer, tmsize_t size) {
    MemoryFile* m = (MemoryFile*)handle;
    toff_t left = m->position < m->size ? m->size - m->position : 0;
    if (size < 0) return 0;
    if ((toff_t)size > left) size = (tmsize_t)left;
    memcpy(buffer, m->data + m->position, (size_t)size);
    m->position += (toff_t)size;
    return size;
}

static tmsize_t memoryWrite(thandle_t handle, void* buffer, tmsize_t size) {
    (void)handle, (void)buffer, (void)size;
    return 0;
}

static toff_t memorySeek(thandle_t handle, toff_t offset, int whence) {
    MemoryFile* m = (MemoryFile*)handle;
    toff_t base = whence == SEEK_CUR ? m->position : whence == SEEK_END ? m->size : 0;
    m->position = base + offset;
    return m->position;
}

static int memoryClose(thandle_t handle) {
    (void)handle;
    return 0;
}

static toff_t memorySize(thandle_t handle) { return ((MemoryFile*)handle)->size; }

static int memoryMap(thandle_t handle, void** base, toff_t* size) {
    MemoryFile* m = (MemoryFile*)handle;
    *base = (void*)m->data;
    *size = m->size;
    return 1;
}

static void memoryUnmap(thandle_t handle, void* base, toff_t size) { (void)handle, (void)base, (void)size; }

/* libtiff's RGBA raster carries premultiplied colour: over white it is colour + (255 - alpha). */
static unsigned char overWhite(unsigned premultiplied, unsigned white) {
    const unsigned v = premultiplied + white;
    return (unsigned char)(v > 255u ? 255u : v);
}

static int isTiff(const unsigned char* p) {
    return (p[0] == 'I' && p[1] == 'I' && (p[2] == 42 || p[2] == 43) && p[3] == 0) ||
           (p[0] == 'M' && p[1] == 'M' && p[2] == 0 && (p[3] == 42 || p[3] == 43));
}

/* Opens the input (whole file from offset, or the memory block) as a TIFF and reads its
 * size. NULL (the block freed) when it is not one. */
static TIFF* openInput(LPCSTR source, LONG_PTR offset, unsigned int flag, MemoryFile* memory,
                       unsigned char** block, uint32_t* width, uint32_t* height) {
    DWORD length;
    TIFF* tif = NULL;
    TIFFSetErrorHandler(NULL);
    TIFFSetWarningHandler(NULL);
    *block = spiReadInput(source, offset, flag, &length);
    if (*block && length >= 8 && isTiff(*block)) {
        memory->data = *block;
        memory->size = length;
        memory->position = 0;
        tif = TIFFClientOpen("input", "rm", (thandle_t)memory, memoryRead, memoryWrite, memorySeek, memoryClose,
                             memorySize, memoryMap, memoryUnmap);
    }
    if (!tif) {
        spiFree(*block);
        return NULL;
    }
    *width = *height = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, height);
    return tif;
}

/* Whether decoding stays in proportion to the picture. libtiff decodes a strip or tile of every
 * sample at a time before the RGBA reader keeps four bytes a pixel, so a few hundred bytes
 * that claim thousands of samples a pixel, or tiles far larger than the picture, would have it
 * allocate and clear gigabytes. More than 32 bytes of samples a pixel (64-bit floating-point
 * RGBA is 32) is no picture; a strip or tile may exceed the picture's samples by 16 MiB. */
static int sizesInProportion(TIFF* tif, uint32_t height) {
    uint16_t bits = 1, samples = 1;
    uint64_t row, chunk;
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    if ((uint32_t)bits * samples > 256u) return 0;
    row = TIFFScanlineSize64(tif);
    chunk = TIFFIsTiled(tif) ? TIFFTileSize64(tif) : TIFFStripSize64(tif);
    return row != 0 && chunk != 0 && chunk <= row * height + ((uint64_t)16 << 20);
}

static void closeInput(TIFF* tif, unsigned char* block) {
    TIFFClose(tif);
    spiFree(block);
}

int WINAPI GetPluginInfo(int index, LPSTR buffer, int bufferSize) {
    return spiInfoEntry(g_info, index, buffer, bufferSize);
}

int WINAPI IsSupported(LPCSTR fileName, DWORD_PTR data) {
    (void)fileName;
    if ((data & ~(DWORD_PTR)0xFFFF) == 0) return 0; /* a file handle */
    return isTiff((const unsigned char*)data);
}

int WINAPI GetPictureInfo(LPCSTR fileName, LONG_PTR offset, unsigned int flag, PictureInfo* info) {
    MemoryFile memory;
    unsigned char* block;
    uint32_t width, height;
    uint16_t bits = 1, samples = 1;
    TIFF* tif = openInput(fileName, offset, flag, &memory, &block, &width, &height);
    if (!tif) return SPI_UNKNOWN_FORMAT;
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    closeInput(tif, block);
    ZeroMemory(info, sizeof *info);
    info->width = (LONG)width;
    info->height = (LONG)height;
    info->colorDepth = (SHORT)(bits * samples);
    return SPI_OK;
}

int WINAPI GetPicture(LPCSTR fileName, LONG_PTR offset, unsigned int flag, HANDLE* info, HANDLE* bits,
                      SpiProgress progress, LONG_PTR data) {
    MemoryFile memory;
    unsigned char* block;
    uint32_t width, height, *raster = NULL;
    SpiBitmap bitmap;
    char message[1024];
    LONG x, y;
    int ok;
    TIFF* tif = openInput(fileName, offset, flag, &memory, &block, &width, &height);
    if (!tif) return SPI_UNKNOWN_FORMAT;
    if (width == 0 || height == 0 || width > MAX_SIDE || height > MAX_SIDE || !TIFFRGBAImageOK(tif, message) ||
        !sizesInProportion(tif, height)) {
        closeInput(tif, block);
        return SPI_UNKNOWN_FORMAT;
    }
    if (progress && progress(0, 1, data)) {
        closeInput(tif, block);
        return SPI_ABORTED;
    }
    /* The bitmap first: spiFinish below must always see it set up, even when the raster
     * (four bytes a pixel, up to 2.5 GB) cannot be had. */
    if (!spiCreate24(&bitmap, (LONG)width, (LONG)height) ||
        !(raster = (uint32_t*)HeapAlloc(GetProcessHeap(), 0, (SIZE_T)width * height * sizeof(uint32_t)))) {
        closeInput(tif, block);
        return spiFinish(&bitmap, SPI_NO_MEMORY, NULL, NULL);
    }
    /* Bottom row first, as the bitmap stores it. */
    ok = TIFFReadRGBAImageOriented(tif, width, height, raster, ORIENTATION_BOTLEFT, 0);
    closeInput(tif, block);
    if (ok) {
        for (y = 0; y < (LONG)height; ++y) {
            const uint32_t* s = raster + (size_t)y * width;
            unsigned char* d = bitmap.pixels + (size_t)y * bitmap.stride;
            for (x = 0; x < (LONG)width; ++x, d += 3) {
                const uint32_t p = s[x];
                const unsigned white = 255u - TIFFGetA(p);
                d[0] = overWhite(TIFFGetB(p), white);
                d[1] = overWhite(TIFFGetG(p), white);
                d[2] = overWhite(TIFFGetR(p), white);
            }
        }
    }
    HeapFree(GetProcessHeap(), 0, raster);
    return spiFinish(&bitmap, ok ? SPI_OK : SPI_BROKEN_DATA, info, bits);
}

int WINAPI GetPreview(LPCSTR fileName, LONG_PTR offset, unsigned int flag, HANDLE* info, HANDLE* bits,
                      SpiProgress progress, LONG_PTR data) {
    (void)fileName, (void)offset, (void)flag, (void)info, (void)bits, (void)progress, (void)data;
    return SPI_NOT_IMPLEMENTED;
}
