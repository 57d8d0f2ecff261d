// Fuzz target: the JPEG glue on arbitrary data, through the file path (mapped) at full size and
// from memory at thumbnail scale, then the thumbnail encoder on the decoded pixels with a
// roomy and a cramped destination.
#include <unistd.h>

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" {
#include <jpeglib.h>
}

#include "image/jpeg_codec.h"

namespace {

std::string tempPath(const char* suffix) {
    const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    return std::string(dir) + "/pravel-fuzz-" + std::to_string(getpid()) + suffix;
}

struct Bail {
    jpeg_error_mgr pub;
    jmp_buf jump;
};
void bail(j_common_ptr c) { longjmp(reinterpret_cast<Bail*>(c->err)->jump, 1); }
void quiet(j_common_ptr, int) {}

// The stated image size, or 0 when the header does not read. The glue accepts sizes whose
// whole-image buffers the fuzzer's memory limit cannot hold, so those inputs are skipped.
uint64_t statedPixels(const uint8_t* data, size_t size) {
    static jpeg_decompress_struct d;
    static Bail err;
    d.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = bail;
    err.pub.emit_message = quiet;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&d);
        return 0;
    }
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, data, static_cast<unsigned long>(size));
    jpeg_read_header(&d, TRUE);
    const uint64_t pixels = uint64_t(d.image_width) * d.image_height;
    jpeg_destroy_decompress(&d);
    return pixels;
}

void encodeBack(const DecodedImage* img) {
    if (!img || img->header.biBitCount != 24) return;
    DepthConversion conversion;
    conversion.width = img->header.biWidth;
    conversion.height = img->header.biHeight;
    const size_t raw = ((size_t(conversion.width) * 3 + 3) & ~size_t(3)) * conversion.height;
    std::vector<uint8_t> out(raw);
    uint32_t capacity = uint32_t(raw);
    encodeJpegThumbnail(out.data(), &capacity, img->pixels, conversion);
    std::vector<uint8_t> tight(64);
    capacity = uint32_t(tight.size());
    if (encodeJpegThumbnail(tight.data(), &capacity, img->pixels, conversion) && capacity > tight.size()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    if (statedPixels(data, size) > 2'000'000) return 0;
    static const std::wstring path = utf8ToWide(tempPath(".jpg"));
    if (!writeWholeFile(path.c_str(), data, size)) return 0;

    DecodeCounters counters;
    DecodedImage* img = decodeJpeg(path.c_str(), 0, 0, counters);
    if (!img && jpegRecord().pixels) std::abort();
    if (img) {
        if (img->header.biWidth <= 0 || img->header.biHeight <= 0 || img->header.biWidth > counters.fileWidth)
            std::abort();
        pageFree(img->pixels);
        img->pixels = nullptr;
    }
    img = decodeJpegMemory(data, size, 40, 30, counters);
    if (img) {
        encodeBack(img);
        pageFree(img->pixels);
        img->pixels = nullptr;
    }
    return 0;
}
