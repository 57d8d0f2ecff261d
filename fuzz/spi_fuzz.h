// One image plug-in's entry points on arbitrary file bytes, called the way the plug-in host
// calls them: IsSupported on the zero-padded first 2176 bytes, as they are and after a 128-byte
// header, then GetPictureInfo and GetPicture on the input from the accepted offset. The input
// goes in as a memory block (the native build has no file input). A bitmap handed back must be
// what the host reads: a 24-bit bottom-up header of the picture's size and rows it can touch.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" {
#include "spi.h"
}

namespace spi_fuzz {

constexpr size_t kHeadBytes = 2176;
constexpr size_t kHeaderSkip = 128;

inline int noProgress(int, int, LONG_PTR) { return 0; }

inline void check(bool ok) {
    if (!ok) std::abort();
}

inline int drive(const uint8_t* data, size_t size) {
    char head[kHeadBytes] = {};
    std::memcpy(head, data, size < kHeadBytes ? size : kHeadBytes);
    size_t offset = 0;
    // A refused input is still decoded from 0: GetPicture must judge the bytes by itself.
    if (!IsSupported("input", reinterpret_cast<DWORD_PTR>(head)) &&
        IsSupported("input", reinterpret_cast<DWORD_PTR>(head + kHeaderSkip)))
        offset = kHeaderSkip;
    if (size <= offset) return 0;
    const LPCSTR input = reinterpret_cast<LPCSTR>(data + offset);
    const LONG_PTR length = LONG_PTR(size - offset);

    PictureInfo info;
    std::memset(&info, 0xA5, sizeof info);
    if (GetPictureInfo(input, length, 1, &info) == SPI_OK) check(!info.textInfo);

    HANDLE infoBlock = nullptr, bitsBlock = nullptr;
    const int rc = GetPicture(input, length, 1, &infoBlock, &bitsBlock, noProgress, 0);
    if (rc != SPI_OK) {
        check(!infoBlock && !bitsBlock);  // nothing handed over, nothing leaked (the leak check sees it)
        return 0;
    }
    check(infoBlock && bitsBlock);
    const BITMAPINFOHEADER* header = static_cast<const BITMAPINFOHEADER*>(LocalLock(infoBlock));
    check(header->biSize == sizeof(BITMAPINFOHEADER) && header->biWidth > 0 && header->biHeight > 0 &&
          header->biBitCount == 24 && header->biCompression == BI_RGB);
    const size_t stride = (size_t(header->biWidth) * 3 + 3) & ~size_t(3);
    check(header->biSizeImage == stride * size_t(header->biHeight));
    const uint8_t* bits = static_cast<const uint8_t*>(LocalLock(bitsBlock));
    // Every row the host copies lies inside the block.
    unsigned sum = 0;
    for (size_t y = 0; y < size_t(header->biHeight); y += 1 + size_t(header->biHeight) / 64)
        sum += bits[y * stride] + bits[y * stride + stride - 1];
    volatile unsigned keep = sum + bits[header->biSizeImage - 1];
    (void)keep;
    LocalUnlock(bitsBlock);
    LocalUnlock(infoBlock);
    LocalFree(bitsBlock);
    LocalFree(infoBlock);

    char text[8];
    for (int i = 0; i < 6; ++i) check(GetPluginInfo(i, text, int(sizeof text)) < int(sizeof text));
    return 0;
}

}  // namespace spi_fuzz
