/* The test plug-in: a trivial picture format of Pravel's own, so that the host can be
 * tried on every case it must handle. Built in four variants:
 *   tpic   (TPIC_MAIN)   import filter for "TPIC" files, patterns "*.JPG;*.PIC" and "*.tpi",
 *                        with a settings dialog
 *   tpic2  (TPIC_SECOND) import filter for "TPI2" files, pattern "*.pic", no settings dialog
 *   tpicw  (TPIC_WIDE)   import filter for "TPIW" files, pattern "*.tpw", that also exports the
 *                        wide-character entry points: a filter that has them must be called
 *                        through them, with the file's real name (its narrow ones log "narrow")
 *   tpicam (TPIC_EXPORT) an export filter ("00AM") that claims every file: must be ignored
 *
 * File layout (little-endian): magic (4 bytes), width (2), height (2), bit count (1), flags (1),
 * colour count (2), a fault byte when flag 128 is set, the colour table (4 bytes each: blue,
 * green, red, 0; with flag 32 the colour masks), then the rows as the bitmap stores them
 * (padded to 4 bytes; top row first with flag 4). Flags: 1 report the bitmap as compressed,
 * 2 hand over only half of the bits, 4 report a negative (top-down) height, 8 use a 108-byte
 * (version 4) header, the colour table after it, 16 sleep 10 s in GetPicture before decoding
 * (a call that outlasts any wait of the host), 32 report colour masks (BI_BITFIELDS), 128 a
 * fault byte follows the colour count.
 * Faults, each a hand-back the host must survive without a crash, a double free or a read past
 * a block: 1 the same handle for header and bits; 2 both handles freed, then a failure returned
 * with them; 4 both handles kept, a failure returned with them (logged as "kept", so the test
 * sees that the host left them alone); 8 a header block of 20 bytes; 16 a header claiming 124
 * bytes in a block of 40 and the colour table; 32 success with no bits handle.
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
#elif defined(TPIC_WIDE)
static const char* const g_info[] = {"00IN", "Pravel wide test plug-in", "*.tpw", "Wide test pictures", NULL};
static const char g_magic[4] = {'T', 'P', 'I', 'W'};
#define TPIC_NAME "tpicw"
#else
static const char* const g_info[] = {"00AM", "Pravel test export filter", "*.xam", "Export test pictures", NULL};
#define TPIC_NAME "tpicam"
#endif

#ifdef TPIC_WIDE
#define NARROW "narrow "
#else
#define NARROW ""
#endif

static void logLine(const char* line, int n) {
    char path[MAX_PATH];
    HANDLE file;
    DWORD written;
    if (n <= 0 || !GetEnvironmentVariableA("PRAVEL_TPIC_LOG", path, MAX_PATH)) return;
    file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) return;
    WriteFile(file, line, (DWORD)n, &written, NULL);
    CloseHandle(file);
}

static void logCall(const char* what, LONG_PTR value) {
    char line[160];
    logLine(line, wsprintfA(line, "%s %s %ld\r\n", TPIC_NAME, what, (long)value));
}

#ifdef TPIC_WIDE
/* The file name as the plug-in received it, in UTF-8. */
static void logName(const char* what, LPCWSTR name) {
    char line[1200];
    int n = wsprintfA(line, "%s %s ", TPIC_NAME, what);
    int m = WideCharToMultiByte(CP_UTF8, 0, name, -1, line + n, (int)sizeof line - n - 3, NULL, NULL);
    if (m <= 0) m = 1;
    n += m - 1;
    line[n++] = '\r';
    line[n++] = '\n';
    logLine(line, n);
}
#endif

/* Two handle values in hexadecimal ("tpic kept 1a2b 3c4d"): wsprintf has no pointer-sized
 * format. */
static void logHandles(const char* what, HANDLE a, HANDLE b) {
    char line[120];
    int n = wsprintfA(line, "%s %s", TPIC_NAME, what), k;
    HANDLE h[2];
    h[0] = a;
    h[1] = b;
    for (k = 0; k < 2; ++k) {
        ULONG_PTR v = (ULONG_PTR)h[k];
        char digits[20];
        int d = 0;
        do {
            digits[d++] = "0123456789abcdef"[v & 15];
            v >>= 4;
        } while (v);
        line[n++] = ' ';
        while (d) line[n++] = digits[--d];
    }
    line[n++] = '\r';
    line[n++] = '\n';
    logLine(line, n);
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
    logCall(NARROW "IsSupported", 0);
    if ((data & ~(DWORD_PTR)0xFFFF) == 0) return 0; /* a file handle: not offered by Pravel */
    return matches((const unsigned char*)data);
}

/* The picture information of a whole input (freed here). */
static int pictureInfo(unsigned char* input, DWORD length, PictureInfo* info) {
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

int WINAPI GetPictureInfo(LPCSTR fileName, LONG_PTR offset, unsigned int flag, PictureInfo* info) {
    DWORD length;
    unsigned char* input = spiReadInput(fileName, offset, flag, &length);
    logCall(NARROW "GetPictureInfo", offset);
    return pictureInfo(input, length, info);
}

/* Decodes a whole input (freed here) into the two handles, with the fault its file asks for. */
static int picture(unsigned char* input, DWORD length, HANDLE* infoOut, HANDLE* bitsOut, SpiProgress progress,
                   LONG_PTR data) {
    DWORD colours, stride, bitsSize, available, paletteBytes, headerBytes, infoBytes, start;
    LONG width, height;
    unsigned depth, flags, faults = 0;
    HLOCAL info, bits;
    unsigned char* block;
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
    start = 12;
    if ((flags & 128) && length > start) faults = input[start++];
    if (colours > 256) colours = 256;
    paletteBytes = colours * 4;
    if (length < start + paletteBytes) {
        spiFree(input);
        return SPI_BROKEN_DATA;
    }
    stride = (((DWORD)width * depth + 31) / 32) * 4;
    bitsSize = stride * (DWORD)height;
    if (flags & 2) bitsSize /= 2;
    if (bitsSize == 0) bitsSize = 1;
    headerBytes = (flags & 8) ? sizeof(BITMAPV4HEADER) : sizeof(BITMAPINFOHEADER);
    infoBytes = (faults & 8) ? 20 : headerBytes + paletteBytes;
    info = LocalAlloc(LMEM_MOVEABLE | LMEM_ZEROINIT, infoBytes);
    bits = LocalAlloc(LMEM_MOVEABLE | LMEM_ZEROINIT, bitsSize);
    if (!info || !bits) {
        if (info) LocalFree(info);
        if (bits) LocalFree(bits);
        spiFree(input);
        return SPI_NO_MEMORY;
    }
    block = (unsigned char*)LocalLock(info);
    if (infoBytes >= sizeof(BITMAPINFOHEADER)) {
        BITMAPINFOHEADER* header = (BITMAPINFOHEADER*)block;
        header->biSize = (faults & 16) ? sizeof(BITMAPV5HEADER) : headerBytes;
        header->biWidth = width;
        header->biHeight = (flags & 4) ? -height : height;
        header->biPlanes = 1;
        header->biBitCount = (WORD)depth;
        header->biCompression = (flags & 1) ? BI_RLE8 : (flags & 32) ? BI_BITFIELDS : BI_RGB;
        header->biClrUsed = (flags & 32) ? 0 : colours;
        CopyMemory(block + headerBytes, input + start, paletteBytes);
    } else {
        CopyMemory(block, input, infoBytes); /* too short for a header: just the file's bytes */
    }
    LocalUnlock(info);
    available = length - start - paletteBytes;
    CopyMemory(LocalLock(bits), input + start + paletteBytes, available < bitsSize ? available : bitsSize);
    LocalUnlock(bits);
    spiFree(input);
    if (faults & 1) {
        LocalFree(bits);
        bits = info;
    }
    if (faults & 2) {
        LocalFree(info);
        if (bits != info) LocalFree(bits);
        *infoOut = info;
        *bitsOut = bits;
        return SPI_MEMORY_ERROR;
    }
    if (faults & 4) {
        logHandles("kept", info, bits);
        *infoOut = info;
        *bitsOut = bits;
        return SPI_MEMORY_ERROR;
    }
    if (faults & 32) {
        LocalFree(bits);
        bits = NULL;
    }
    *infoOut = info;
    *bitsOut = bits;
    return SPI_OK;
}

int WINAPI GetPicture(LPCSTR fileName, LONG_PTR offset, unsigned int flag, HANDLE* infoOut, HANDLE* bitsOut,
                      SpiProgress progress, LONG_PTR data) {
    DWORD length;
    unsigned char* input = spiReadInput(fileName, offset, flag, &length);
    logCall(NARROW "GetPicture", offset);
    return picture(input, length, infoOut, bitsOut, progress, data);
}

#ifdef TPIC_WIDE
/* The file from offset on, read by its UTF-16 name. */
static unsigned char* readWide(LPCWSTR name, LONG_PTR offset, DWORD* length) {
    HANDLE file = CreateFileW(name, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    DWORD size, got = 0;
    unsigned char* block;
    *length = 0;
    if (file == INVALID_HANDLE_VALUE) return NULL;
    size = GetFileSize(file, NULL);
    if (size == INVALID_FILE_SIZE || offset < 0 || (DWORD)offset >= size) {
        CloseHandle(file);
        return NULL;
    }
    size -= (DWORD)offset;
    block = (unsigned char*)HeapAlloc(GetProcessHeap(), 0, size);
    if (!block || SetFilePointer(file, (LONG)offset, NULL, FILE_BEGIN) == INVALID_SET_FILE_POINTER ||
        !ReadFile(file, block, size, &got, NULL) || got != size) {
        spiFree(block);
        CloseHandle(file);
        return NULL;
    }
    CloseHandle(file);
    *length = size;
    return block;
}

int WINAPI IsSupportedW(LPCWSTR fileName, DWORD_PTR data) {
    logName("IsSupportedW", fileName);
    if ((data & ~(DWORD_PTR)0xFFFF) == 0) return 0;
    return matches((const unsigned char*)data);
}

int WINAPI GetPictureInfoW(LPCWSTR fileName, LONG_PTR offset, unsigned int flag, PictureInfo* info) {
    DWORD length;
    unsigned char* input;
    logName("GetPictureInfoW", fileName);
    if (flag & 7) return SPI_NOT_IMPLEMENTED;
    input = readWide(fileName, offset, &length);
    return pictureInfo(input, length, info);
}

int WINAPI GetPictureW(LPCWSTR fileName, LONG_PTR offset, unsigned int flag, HANDLE* infoOut, HANDLE* bitsOut,
                       SpiProgress progress, LONG_PTR data) {
    DWORD length;
    unsigned char* input;
    logName("GetPictureW", fileName);
    if (flag & 7) return SPI_NOT_IMPLEMENTED;
    input = readWide(fileName, offset, &length);
    return picture(input, length, infoOut, bitsOut, progress, data);
}
#endif

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
