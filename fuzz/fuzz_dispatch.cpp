// Fuzz target: the loader dispatch on arbitrary files (sniffing, every built-in decoder, the
// 24-bit conversion). Success must give a 24-bit buffer of the stated size; failure must
// leave the counters at 0 and the caller's flag untouched.
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
    bool flag = false;
    // A small decode target, as a thumbnail pane passes, so JPEG takes its scaled path.
    const bool ok = loadImage(path.c_str(), size % 2 ? 160 : 0, size % 2 ? 120 : 0, &flag);
    if (!ok) {
        const FileFacts& facts = g_loadInfo.facts;
        if (flag || facts.commentCount || facts.metaCount || facts.interlaced) std::abort();
        return 0;
    }
    DecodedImage* image = g_loadInfo.current;
    if (!flag || !image || !image->pixels || image->header.biBitCount != 24) std::abort();
    if (g_loadInfo.width != image->header.biWidth || g_loadInfo.height != image->header.biHeight) std::abort();
    const size_t stride = (size_t(g_loadInfo.width) * 3 + 3) & ~size_t(3);
    volatile uint8_t sink = image->pixels[stride * size_t(g_loadInfo.height) - 1];
    (void)sink;
    pageFree(image->pixels);
    image->pixels = nullptr;
    return 0;
}
