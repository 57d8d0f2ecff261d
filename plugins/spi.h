/* What every Pravel image plug-in shares: the import-filter exports, the picture
 * information record, and the hand-over of a 24-bit (or palette) bitmap as two local
 * memory blocks. Plain C, no C runtime threads, Windows system DLLs only. */
#ifndef PRAVEL_SPI_H
#define PRAVEL_SPI_H

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

#pragma pack(push, 1)
typedef struct PictureInfo {
    LONG left, top;
    LONG width, height;
    WORD xDensity, yDensity;
    SHORT colorDepth;
    HLOCAL textInfo;
} PictureInfo;
#pragma pack(pop)

typedef int(WINAPI* SpiProgress)(int done, int total, LONG_PTR data);

/* Error codes of the plug-in convention. */
#define SPI_OK 0
#define SPI_NOT_IMPLEMENTED (-1)
#define SPI_ABORTED 1
#define SPI_UNKNOWN_FORMAT 2
#define SPI_BROKEN_DATA 3
#define SPI_NO_MEMORY 4
#define SPI_MEMORY_ERROR 5
#define SPI_FILE_READ_ERROR 6
#define SPI_INTERNAL_ERROR 8

int WINAPI GetPluginInfo(int index, LPSTR buffer, int bufferSize);
int WINAPI IsSupported(LPCSTR fileName, DWORD_PTR data);
int WINAPI GetPictureInfo(LPCSTR fileName, LONG_PTR offset, unsigned int flag, PictureInfo* info);
int WINAPI GetPicture(LPCSTR fileName, LONG_PTR offset, unsigned int flag, HANDLE* info, HANDLE* bits,
                      SpiProgress progress, LONG_PTR data);
int WINAPI GetPreview(LPCSTR fileName, LONG_PTR offset, unsigned int flag, HANDLE* info, HANDLE* bits,
                      SpiProgress progress, LONG_PTR data);

/* Copies entry `index` of the table (NULL-terminated list of strings) into buffer. */
int spiInfoEntry(const char* const* table, int index, LPSTR buffer, int bufferSize);

/* Reads a whole input into a HeapAlloc'd block: the file from offset on when (flag & 7) is 0,
 * otherwise `size` bytes of memory at `source`. NULL on failure; *length receives its size. */
unsigned char* spiReadInput(LPCSTR source, LONG_PTR offsetOrSize, unsigned int flag, DWORD* length);
/* The same, at most limit bytes of it. */
unsigned char* spiReadInputHead(LPCSTR source, LONG_PTR offsetOrSize, unsigned int flag, DWORD limit, DWORD* length);
void spiFree(void* block);

/* A bottom-up 24-bit bitmap as two local blocks: header, then rows padded to 4 bytes (the
 * padding zeroed; the caller writes every pixel). spiRow gives image row y (0 = top). */
typedef struct SpiBitmap {
    HLOCAL info;
    HLOCAL bits;
    unsigned char* pixels;
    LONG width, height;
    DWORD stride;
} SpiBitmap;
int spiCreate24(SpiBitmap* bitmap, LONG width, LONG height);
unsigned char* spiRow(SpiBitmap* bitmap, LONG y);
/* Hands both blocks to the caller (unlocked) when result is SPI_OK, otherwise frees them;
 * returns result. */
int spiFinish(SpiBitmap* bitmap, int result, HANDLE* info, HANDLE* bits);

/* Blends one colour channel over white exactly as Pravel's PNG decoder does (its alpha
 * product table: value scaled by alpha/255 with a 16-bit fixed-point factor, rounded). */
static __inline unsigned char spiOverWhite(unsigned value, unsigned alpha) {
    unsigned product;
    if (alpha == 0 || value == 0) product = 0;
    else if (alpha == 255) product = value;
    else if (value == 255) product = alpha;
    else product = (value * (alpha * 65536u / 255u) + 32768u) >> 16;
    return (unsigned char)(product + 255u - alpha);
}

#ifdef __cplusplus
}
#endif

#endif
