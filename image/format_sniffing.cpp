// Picking a decoder: the header sniffing that the loader dispatch uses, the extension map
// the plug-in host uses, and the mapped-file reader every file decoder reads through.
#include <cstring>
#include <cwchar>

#include "image/decoded_image.h"

ImageFormat sniffImageFormat(const wchar_t* path) {
    BinaryFile file;
    if (!path || !file.open(path, BinaryFile::ReadOnly)) return FormatUnknown;
    // At most 8 bytes are ever looked at; 'available' stands for what successive reads of
    // the file would return, so a short file gives the same answers as reading it piecewise.
    uint8_t b[8] = {};
    const uint64_t size = file.size();
    const size_t available = size < sizeof b ? size_t(size) : sizeof b;
    if (available > 0 && !file.read(b, available)) return FormatUnknown;
    file.close();

    if (available == 0) return FormatEmpty;
    if (b[0] == 'G' && b[1] == 'I') {
        if (available < 3) return FormatEmpty;
        return b[2] == 'F' ? FormatGif : FormatUnknown;
    }
    if (b[0] == 'B' && b[1] == 'M') return FormatBmp;
    if (b[0] == 'I' && b[1] == 'I') {
        if (available < 3) return FormatEmpty;
        return b[2] == '*' ? FormatTiff : FormatUnknown;
    }
    if (b[0] == 'M' && b[1] == 'M') {
        // The byte after "MM" is skipped, so the '*' belongs at offset 3.
        if (available < 4) return FormatEmpty;
        return b[3] == '*' ? FormatTiff : FormatUnknown;
    }
    if (b[0] == 0x89 && b[1] == 'P') {
        if (available < 3) return FormatEmpty;  // the 2-byte read returned nothing
        if (available < 5) return FormatEmpty;  // the 4-byte read returned nothing
        static const uint8_t tail[6] = {'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
        return available == 8 && std::memcmp(b + 2, tail, 6) == 0 ? FormatPng : FormatUnknown;
    }
    if (b[0] == 0xFF && b[1] == 0xD8) return FormatJpeg;
    return FormatUnknown;
}

ImageFormat formatFromExtension(const wchar_t* path) {
    if (!path) return FormatUnknown;
    const wchar_t* dot = nullptr;
    for (const wchar_t* p = path; *p; ++p) {
        if (*p == L'.') dot = p;
        else if (*p == L'\\' || *p == L'/') dot = nullptr;
    }
    if (!dot) return FormatUnknown;
    wchar_t ext[6] = {};
    size_t n = 0;
    for (const wchar_t* p = dot + 1; *p; ++p) {
        if (n == 5) return FormatUnknown;  // longer than any known extension
        wchar_t c = *p;
        ext[n++] = (c >= L'A' && c <= L'Z') ? wchar_t(c - L'A' + L'a') : c;
    }
    struct Entry {
        const wchar_t* ext;
        ImageFormat format;
    };
    static const Entry kMap[] = {
        {L"jpg", FormatJpeg}, {L"jpe", FormatJpeg}, {L"jpeg", FormatJpeg}, {L"png", FormatPng},
        {L"gif", FormatGif},  {L"bmp", FormatBmp},  {L"tif", FormatTiff},  {L"tiff", FormatTiff},
    };
    for (const auto& e : kMap) {
        if (std::wcscmp(ext, e.ext) == 0) return e.format;
    }
    return FormatUnknown;
}

uint32_t mapImageFile(const wchar_t* path, DecoderInput& input, int32_t& errorCode) {
    input = DecoderInput{};
    if (!path || !mapFile(path, input.file)) {
        errorCode = ErrRead;
        return 0;
    }
    input.cursor = input.file.data;
    input.end = input.file.data + input.file.size;
    return input.file.size;
}

void unmapImageFile(DecoderInput& input) {
    unmapFile(input.file);
    input.cursor = nullptr;
    input.end = nullptr;
}
