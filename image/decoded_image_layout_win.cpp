// GDI takes a DecodedImage's header and palette as one BITMAPINFO without copying, so the
// portable structures must match the Windows ones byte for byte in both builds.
#include <windows.h>

#include <cstddef>

#include "image/decoded_image.h"

static_assert(sizeof(BitmapInfoHeader) == sizeof(BITMAPINFOHEADER));
static_assert(offsetof(BitmapInfoHeader, biSize) == offsetof(BITMAPINFOHEADER, biSize));
static_assert(offsetof(BitmapInfoHeader, biWidth) == offsetof(BITMAPINFOHEADER, biWidth));
static_assert(offsetof(BitmapInfoHeader, biHeight) == offsetof(BITMAPINFOHEADER, biHeight));
static_assert(offsetof(BitmapInfoHeader, biPlanes) == offsetof(BITMAPINFOHEADER, biPlanes));
static_assert(offsetof(BitmapInfoHeader, biBitCount) == offsetof(BITMAPINFOHEADER, biBitCount));
static_assert(offsetof(BitmapInfoHeader, biCompression) == offsetof(BITMAPINFOHEADER, biCompression));
static_assert(offsetof(BitmapInfoHeader, biSizeImage) == offsetof(BITMAPINFOHEADER, biSizeImage));
static_assert(offsetof(BitmapInfoHeader, biXPelsPerMeter) == offsetof(BITMAPINFOHEADER, biXPelsPerMeter));
static_assert(offsetof(BitmapInfoHeader, biYPelsPerMeter) == offsetof(BITMAPINFOHEADER, biYPelsPerMeter));
static_assert(offsetof(BitmapInfoHeader, biClrUsed) == offsetof(BITMAPINFOHEADER, biClrUsed));
static_assert(offsetof(BitmapInfoHeader, biClrImportant) == offsetof(BITMAPINFOHEADER, biClrImportant));

static_assert(sizeof(PaletteEntry) == sizeof(RGBQUAD));
static_assert(offsetof(PaletteEntry, blue) == offsetof(RGBQUAD, rgbBlue));
static_assert(offsetof(PaletteEntry, green) == offsetof(RGBQUAD, rgbGreen));
static_assert(offsetof(PaletteEntry, red) == offsetof(RGBQUAD, rgbRed));
static_assert(offsetof(PaletteEntry, reserved) == offsetof(RGBQUAD, rgbReserved));

// header + palette must be contiguous, exactly like BITMAPINFO's bmiHeader + bmiColors.
static_assert(offsetof(DecodedImage, palette) == offsetof(BITMAPINFO, bmiColors));
static_assert(offsetof(DecodedImage, header) == offsetof(BITMAPINFO, bmiHeader));
