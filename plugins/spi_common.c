/* Helpers shared by the plug-ins (see spi.h). */
#include "spi.h"

int spiInfoEntry(const char* const* table, int index, LPSTR buffer, int bufferSize) {
    int i, n = 0;
    const char* text;
    if (index < 0 || !buffer || bufferSize <= 0) return 0;
    for (i = 0; i < index; ++i)
        if (!table[i]) return 0;
    text = table[index];
    if (!text) return 0;
    while (text[n] && n < bufferSize - 1) {
        buffer[n] = text[n];
        ++n;
    }
    buffer[n] = 0;
    return n;
}

void spiFree(void* block) {
    if (block) HeapFree(GetProcessHeap(), 0, block);
}

unsigned char* spiReadInput(LPCSTR source, LONG_PTR offsetOrSize, unsigned int flag, DWORD* length) {
    return spiReadInputHead(source, offsetOrSize, flag, 0x7FFFFFFF, length);
}

unsigned char* spiReadInputHead(LPCSTR source, LONG_PTR offsetOrSize, unsigned int flag, DWORD limit, DWORD* length) {
    unsigned char* block;
    *length = 0;
    if ((flag & 7) != 0) {
        /* Memory input: source points at offsetOrSize bytes. */
        DWORD size;
        if (!source || offsetOrSize <= 0 || offsetOrSize > 0x7FFFFFFF) return NULL;
        size = (DWORD)offsetOrSize < limit ? (DWORD)offsetOrSize : limit;
        block = (unsigned char*)HeapAlloc(GetProcessHeap(), 0, size);
        if (!block) return NULL;
        CopyMemory(block, source, size);
        *length = size;
        return block;
    } else {
        HANDLE file = CreateFileA(source, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
        DWORD size, got = 0;
        if (file == INVALID_HANDLE_VALUE) return NULL;
        size = GetFileSize(file, NULL);
        if (size == INVALID_FILE_SIZE || offsetOrSize < 0 || (DWORD)offsetOrSize >= size || size > 0x7FFFFFFF) {
            CloseHandle(file);
            return NULL;
        }
        size -= (DWORD)offsetOrSize;
        if (size > limit) size = limit;
        block = (unsigned char*)HeapAlloc(GetProcessHeap(), 0, size);
        if (!block || SetFilePointer(file, (LONG)offsetOrSize, NULL, FILE_BEGIN) == INVALID_SET_FILE_POINTER ||
            !ReadFile(file, block, size, &got, NULL) || got != size) {
            spiFree(block);
            CloseHandle(file);
            return NULL;
        }
        CloseHandle(file);
        *length = size;
        return block;
    }
}

int spiCreate24(SpiBitmap* bitmap, LONG width, LONG height) {
    BITMAPINFOHEADER* header;
    ZeroMemory(bitmap, sizeof *bitmap);
    if (width <= 0 || height <= 0 || width > 65535 || height > 65535) return 0;
    bitmap->width = width;
    bitmap->height = height;
    bitmap->stride = ((DWORD)width * 3 + 3) & ~3u;
    if ((unsigned long long)bitmap->stride * (unsigned long long)height > 0x7FFFFFFFull) return 0;
    bitmap->info = LocalAlloc(LMEM_MOVEABLE | LMEM_ZEROINIT, sizeof(BITMAPINFOHEADER));
    bitmap->bits = LocalAlloc(LMEM_MOVEABLE, (SIZE_T)bitmap->stride * (SIZE_T)height);
    if (!bitmap->info || !bitmap->bits) return 0;
    header = (BITMAPINFOHEADER*)LocalLock(bitmap->info);
    if (!header) return 0;
    header->biSize = sizeof(BITMAPINFOHEADER);
    header->biWidth = width;
    header->biHeight = height;
    header->biPlanes = 1;
    header->biBitCount = 24;
    header->biCompression = BI_RGB;
    header->biSizeImage = bitmap->stride * (DWORD)height;
    LocalUnlock(bitmap->info);
    bitmap->pixels = (unsigned char*)LocalLock(bitmap->bits);
    if (!bitmap->pixels) return 0;
    /* The decoders write every pixel; only the row padding must not carry heap garbage. */
    if (bitmap->stride != (DWORD)width * 3) {
        LONG y;
        for (y = 0; y < height; ++y) {
            unsigned char* pad = bitmap->pixels + (SIZE_T)y * bitmap->stride + (SIZE_T)width * 3;
            ZeroMemory(pad, bitmap->stride - (DWORD)width * 3);
        }
    }
    return 1;
}

unsigned char* spiRow(SpiBitmap* bitmap, LONG y) {
    return bitmap->pixels + (SIZE_T)(bitmap->height - 1 - y) * bitmap->stride;
}

int spiFinish(SpiBitmap* bitmap, int result, HANDLE* info, HANDLE* bits) {
    if (bitmap->pixels) LocalUnlock(bitmap->bits);
    bitmap->pixels = NULL;
    if (result == SPI_OK && info && bits) {
        *info = bitmap->info;
        *bits = bitmap->bits;
        return SPI_OK;
    }
    if (bitmap->info) LocalFree(bitmap->info);
    if (bitmap->bits) LocalFree(bitmap->bits);
    bitmap->info = bitmap->bits = NULL;
    return result == SPI_OK ? SPI_INTERNAL_ERROR : result;
}
