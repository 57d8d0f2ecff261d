/* The test plug-in: a trivial picture format of Pravel's own, so that the host can be
 * tried on every case it must handle. Built in three variants:
 *   tpic   (TPIC_MAIN)   import filter for "TPIC" files, patterns "*.JPG;*.PIC" and "*.tpi",
 *                        with a settings dialog
 *   tpic2  (TPIC_SECOND) import filter for "TPI2" files, pattern "*.pic", no settings dialog
 *   tpicam (TPIC_EXPORT) an export filter ("00AM") that claims every file: must be ignored
 *
 * File layout (little-endian): magic (4 bytes), width (2), height (2), bit count (1), flags (1),
 * colour count (2), colour table (4 bytes each: blue, green, red, 0), then the rows as a
 * bottom-up Windows bitmap stores them (padded to 4 bytes). Flags: 1 report the bitmap as
 * compressed, 2 hand over only half of the bits, 4 report a negative (top-down) height,
 * 8 use a 108-byte (version 4) header, the colour table after it, 16 sleep 10 s in GetPicture
 * before decoding (a call that outlasts any wait of the host).
 * Every call is appended to the file named by PRAVEL_TPIC_LOG when that is set. */
#include "spi.h"

#if defined(TPIC_MAIN)
static const char* const g_info[] = {"00IN", "Pravel test plug-in", "*.JPG;*.PIC", "Test pictures", "*.tpi",
                                     "Test pictures (second kind)", NULL};
static const char g_magic[4] = {'T', 'P', 'I', 'C'};
#define TPIC_NAME "tpic"
#elif defined(TPIC_SECOND)
static const char* const g_info[] = {"00IN", "Pravel test plug-in 2", "*.pic", "Second test pictures", NULL};
static const char g_magic[4] = {'T', 'P', 'I', '2'};
#define TPIC_NAME "tpic2"
#else
static const char* const g_info[] = {"00AM", "Pravel test export filter", "*.xam", "Export test pictures", NULL};
#define TPIC_NAME "tpicam"
#endif

static void logCall(const char* what, LONG_PTR value) {
    char path[MAX_PATH], line[160];
    HANDLE file;
    DWORD n, written;
    if (!GetEnvironmentVariableA("PRAVEL_TPIC_LOG", path, MAX_PATH)) return;
    file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) return;
    n = (DWORD)wsprintfA(line, "%s %s %ld\r\n", TPIC_NAME, what, (long)value);
    WriteFile(file, line, n, &written, NULL);
    CloseHandle(file);
}

static unsigned readU16(const unsigned char* p) { return p[0] | (p[1] << 8); }

static int matches(const unsigned char* p) {
#ifdef TPIC_EXPORT
    (void)p;
    return 1;
#else
    return p[0] == (unsigned char)g_magic[0] && p[1] == (unsigned char)g_magic[1] &&
           p[2] == (unsigned char)g_magic[2] && p[3] == (unsigned char)g_magic[3];
#endif
}

int WINAPI GetPluginInfo(int index, LPSTR buffer, int bufferSize) {
    return spiInfoEntry(g_info, index, buffer, bufferSize);
}

int WINAPI IsSupported(LPCSTR fileName, DWORD_PTR data) {
    (void)fileName;
    logCall("IsSupported", 0);
    if ((data & ~(DWORD_PTR)0xFFFF) == 0) return 0; /* a file handle: not offered by Pravel */
    return matches((const unsigned char*)data);
}

int WINAPI GetPictureInfo(LPCSTR fileName, LONG_PTR offset, unsigned int flag, PictureInfo* info) {
    DWORD length;
    unsigned char* input = spiReadInput(fileName, offset, flag, &length);
    logCall("GetPictureInfo", offset);
    if (!input) return SPI_FILE_READ_ERROR;
    if (length < 12 || !matches(input)) {
        spiFree(input);
        return SPI_UNKNOWN_FORMAT;
    }
    ZeroMemory(info, sizeof *info);
    info->width = (LONG)readU16(input + 4);
    info->height = (LONG)readU16(input + 6);
    info->colorDepth = input[8];
    spiFree(input);
    return SPI_OK;
}

int WINAPI GetPicture(LPCSTR fileName, LONG_PTR offset, unsigned int flag, HANDLE* infoOut, HANDLE* bitsOut,
                      SpiProgress progress, LONG_PTR data) {
    DWORD length, colours, stride, bitsSize, available, paletteBytes, headerBytes;
    LONG width, height;
    unsigned depth, flags;
    HLOCAL info, bits;
    BITMAPINFOHEADER* header;
    unsigned char* input = spiReadInput(fileName, offset, flag, &length);
    logCall("GetPicture", offset);
    if (!input) return SPI_FILE_READ_ERROR;
    if (length < 12 || !matches(input)) {
        spiFree(input);
        return SPI_UNKNOWN_FORMAT;
    }
    if (input[9] & 16) Sleep(10000);
    if (progress && progress(0, 1, data)) {
        spiFree(input);
        return SPI_ABORTED;
    }
    width = (LONG)readU16(input + 4);
    height = (LONG)readU16(input + 6);
    depth = input[8];
    flags = input[9];
    colours = readU16(input + 10);
    if (colours > 256) colours = 256;
    paletteBytes = colours * 4;
    if (length < 12 + paletteBytes) {
        spiFree(input);
        return SPI_BROKEN_DATA;
    }
    stride = (((DWORD)width * depth + 31) / 32) * 4;
    bitsSize = stride * (DWORD)height;
    if (flags & 2) bitsSize /= 2;
    if (bitsSize == 0) bitsSize = 1;
    headerBytes = (flags & 8) ? sizeof(BITMAPV4HEADER) : sizeof(BITMAPINFOHEADER);
    info = LocalAlloc(LMEM_MOVEABLE | LMEM_ZEROINIT, headerBytes + paletteBytes);
    bits = LocalAlloc(LMEM_MOVEABLE | LMEM_ZEROINIT, bitsSize);
    if (!info || !bits) {
        if (info) LocalFree(info);
        if (bits) LocalFree(bits);
        spiFree(input);
        return SPI_NO_MEMORY;
    }
    header = (BITMAPINFOHEADER*)LocalLock(info);
    header->biSize = headerBytes;
    header->biWidth = width;
    header->biHeight = (flags & 4) ? -height : height;
    header->biPlanes = 1;
    header->biBitCount = (WORD)depth;
    header->biCompression = (flags & 1) ? BI_RLE8 : BI_RGB;
    header->biClrUsed = colours;
    CopyMemory((unsigned char*)header + headerBytes, input + 12, paletteBytes);
    LocalUnlock(info);
    available = length - 12 - paletteBytes;
    CopyMemory(LocalLock(bits), input + 12 + paletteBytes, available < bitsSize ? available : bitsSize);
    LocalUnlock(bits);
    spiFree(input);
    *infoOut = info;
    *bitsOut = bits;
    return SPI_OK;
}

int WINAPI GetPreview(LPCSTR fileName, LONG_PTR offset, unsigned int flag, HANDLE* info, HANDLE* bits,
                      SpiProgress progress, LONG_PTR data) {
    (void)fileName, (void)offset, (void)flag, (void)info, (void)bits, (void)progress, (void)data;
    return SPI_NOT_IMPLEMENTED;
}

#ifdef TPIC_MAIN
int WINAPI ConfigurationDlg(HWND parent, int request) {
    logCall("ConfigurationDlg", request);
    if (GetEnvironmentVariableA("PRAVEL_TPIC_LOG", NULL, 0)) return 0;
    MessageBoxW(parent, L"テスト用プラグインです。設定項目はありません。", L"tpic", MB_OK | MB_ICONINFORMATION);
    return 0;
}
#endif
