// Fuzz target: the loader dispatch on arbitrary files (sniffing, every built-in decoder, the
// 24-bit conversion). Success must give a 24-bit buffer of the stated size; failure must
// leave the counters at 0.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/byte_order.h"
#include "image/decoded_image.h"

namespace {

std::string tempPath() {
    const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    return std::string(dir) + "/pravel-fuzz-dispatch-" + std::to_string(getpid()) + ".img";
}

// Keeps memory and time sane: decoders accept up to 25000 x 25000.
bool tooLarge(const uint8_t* d, size_t n) {
    if (n >= 24 && d[0] == 0x89 && uint64_t(readBe32(d + 16)) * readBe32(d + 20) > 4'000'000) return true;
    if (n >= 26 && d[0] == 'B' && d[1] == 'M') {
        const int64_t w = int32_t(readLe32(d + 18)), h = int32_t(readLe32(d + 22));
        if (w > 0 && h > 0 && w * h > 4'000'000) return true;
    }
    if (n >= 10 && d[0] == 'G' && uint64_t(readLe16(d + 6)) * readLe16(d + 8) > 4'000'000) return true;
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (tooLarge(data, size)) return 0;
    static const std::wstring path = utf8ToWide(tempPath());
    if (!writeWholeFile(path.c_str(), data, size)) return 0;
    static ImageDecoder decoder;
    LoadInfo info;
    // A small decode target, as a thumbnail pane passes, so JPEG takes its scaled path.
    const bool ok = loadImage(decoder, path.c_str(), size % 2 ? 160 : 0, size % 2 ? 120 : 0, nullptr, info);
    if (!ok) {
        const FileFacts& facts = info.facts;
        if (facts.commentCount || facts.metaCount || facts.interlaced) std::abort();
        return 0;
    }
    DecodedImage* image = info.current;
    if (image != &decoder.record || !image || !image->pixels || image->header.biBitCount != 24) std::abort();
    if (info.width != image->header.biWidth || info.height != image->header.biHeight) std::abort();
    const size_t stride = (size_t(info.width) * 3 + 3) & ~size_t(3);
    volatile uint8_t sink = image->pixels[stride * size_t(info.height) - 1];
    (void)sink;
    pageFree(image->pixels);
    image->pixels = nullptr;
    return 0;
}
