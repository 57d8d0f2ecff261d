/* The few Windows definitions the image plug-ins' entry points use, for building them natively
 * against the system's libwebp and libtiff under the fuzzers. Not a Windows layer: memory blocks
 * come from malloc (a moveable local block is its own pointer, locking it is a no-op) and file
 * input always fails, so the fuzz targets hand the plug-ins their input in memory. */
#ifndef PRAVEL_SPI_NATIVE_WINDOWS_H
#define PRAVEL_SPI_NATIVE_WINDOWS_H

#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#define WINAPI

typedef int BOOL;
typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef int16_t SHORT;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef intptr_t LONG_PTR;
typedef uintptr_t DWORD_PTR;
typedef size_t SIZE_T;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef void* HANDLE;
typedef void* HLOCAL;

typedef struct BITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight;
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
} BITMAPINFOHEADER;
#define BI_RGB 0u

#define INVALID_HANDLE_VALUE ((HANDLE)(LONG_PTR)-1)
#define INVALID_FILE_SIZE ((DWORD)0xFFFFFFFFu)
#define INVALID_SET_FILE_POINTER ((DWORD)-1)
#define GENERIC_READ 0x80000000u
#define FILE_SHARE_READ 1u
#define OPEN_EXISTING 3u
#define FILE_BEGIN 0u
#define LMEM_MOVEABLE 0x0002u
#define LMEM_ZEROINIT 0x0040u

/* A 32-bit process has no room for blocks of a gigabyte or more: refuse them as it would. */
#define PRAVEL_NATIVE_BLOCK_LIMIT ((SIZE_T)1 << 30)

static inline HANDLE GetProcessHeap(void) { return (HANDLE)1; }
static inline void* HeapAlloc(HANDLE heap, DWORD flags, SIZE_T size) {
    (void)heap, (void)flags;
    return size < PRAVEL_NATIVE_BLOCK_LIMIT ? malloc(size ? size : 1) : NULL;
}
static inline BOOL HeapFree(HANDLE heap, DWORD flags, void* block) {
    (void)heap, (void)flags;
    free(block);
    return 1;
}
static inline HLOCAL LocalAlloc(unsigned flags, SIZE_T size) {
    if (size >= PRAVEL_NATIVE_BLOCK_LIMIT) return NULL;
    return (flags & LMEM_ZEROINIT) ? calloc(1, size ? size : 1) : malloc(size ? size : 1);
}
static inline void* LocalLock(HLOCAL block) { return block; }
static inline BOOL LocalUnlock(HLOCAL block) {
    (void)block;
    return 0;
}
static inline HLOCAL LocalFree(HLOCAL block) {
    free(block);
    return NULL;
}
#define CopyMemory(d, s, n) memcpy((d), (s), (n))
#define ZeroMemory(d, n) memset((d), 0, (n))

static inline HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, void* security, DWORD disposition,
                                 DWORD attributes, HANDLE templateFile) {
    (void)name, (void)access, (void)share, (void)security, (void)disposition, (void)attributes, (void)templateFile;
    return INVALID_HANDLE_VALUE;
}
static inline DWORD GetFileSize(HANDLE file, DWORD* high) {
    (void)file, (void)high;
    return INVALID_FILE_SIZE;
}
static inline DWORD SetFilePointer(HANDLE file, LONG distance, LONG* high, DWORD method) {
    (void)file, (void)distance, (void)high, (void)method;
    return INVALID_SET_FILE_POINTER;
}
static inline BOOL ReadFile(HANDLE file, void* buffer, DWORD size, DWORD* got, void* overlapped) {
    (void)file, (void)buffer, (void)size, (void)overlapped;
    if (got) *got = 0;
    return 0;
}
static inline BOOL CloseHandle(HANDLE file) {
    (void)file;
    return 1;
}

#endif
