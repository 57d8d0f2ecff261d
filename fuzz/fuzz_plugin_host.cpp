// Fuzz target: what an import filter hands back, through the host's own reading of it
// (takePluginPicture, convertPluginBitmap) and on into the dispatch's 24-bit conversion. A fake
// filter answers from the input's bytes:
//   byte 0      GetPicture's result (taken as 0 when even, so most inputs are successes)
//   byte 1      hand-back faults: 1 the same handle twice, 2 no header handle, 4 no bits handle,
//               8 the header block does not lock, 16 the bits block does not lock
//   bytes 2..3  the header block's size (little-endian, clipped to what follows)
//   then        the header block, and the rest is the bits block
// Every block is its own allocation of exactly its size, so a read past one is an
// AddressSanitizer report. The host must release each handle it was given exactly once after
// a success, none after a failure, and leave nothing locked.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

#include "base/byte_order.h"
#include "image/plugin_bitmap.h"

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

struct Block {
    std::unique_ptr<uint8_t[]> bytes;
    size_t size = 0;
    bool lockFails = false;
    int locks = 0;
    int releases = 0;
};

class FakeFilterMemory final : public PluginMemory {
public:
    std::map<void*, Block> blocks;
    void* add(const uint8_t* data, size_t size, bool lockFails) {
        Block block;
        block.bytes.reset(new uint8_t[size ? size : 1]);
        if (size) std::memcpy(block.bytes.get(), data, size);
        block.size = size;
        block.lockFails = lockFails;
        void* handle = block.bytes.get();
        blocks[handle] = std::move(block);
        return handle;
    }
    Block& of(void* handle) {
        const auto it = blocks.find(handle);
        check(it != blocks.end());  // never a handle the filter did not hand over
        check(it->second.releases == 0);  // nor one already released
        return it->second;
    }
    size_t size(void* handle) override { return of(handle).size; }
    const void* lock(void* handle) override {
        Block& block = of(handle);
        if (block.lockFails) return nullptr;
        ++block.locks;
        return block.bytes.get();
    }
    void unlock(void* handle) override {
        Block& block = of(handle);
        check(block.locks > 0);
        --block.locks;
    }
    void release(void* handle) override {
        Block& block = of(handle);
        check(block.locks == 0);
        ++block.releases;
    }
};

// Keeps memory and time sane: the host takes up to 25000 x 25000.
bool tooLarge(const uint8_t* info, size_t infoSize) {
    if (infoSize < 12) return false;
    const int64_t width = int32_t(readLe32(info + 4));
    int64_t height = int32_t(readLe32(info + 8));
    if (height < 0) height = -height;
    return width > 0 && width * height > 4'000'000;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    const int result = data[0] % 2 ? data[0] : 0;
    const uint8_t faults = data[1];
    size_t infoSize = readLe16(data + 2);
    const uint8_t* rest = data + 4;
    const size_t restSize = size - 4;
    if (infoSize > restSize) infoSize = restSize;
    if (tooLarge(rest, infoSize)) return 0;

    FakeFilterMemory memory;
    void* info = faults & 2 ? nullptr : memory.add(rest, infoSize, faults & 8);
    void* bits = faults & 1   ? info
                 : faults & 4 ? nullptr
                              : memory.add(rest + infoSize, restSize - infoSize, faults & 16);

    DecodedImage record;
    const int32_t code = takePluginPicture(memory, result, info, bits, record);
    for (auto& [handle, block] : memory.blocks) {
        check(block.locks == 0);
        check(block.releases == (result == 0 ? 1 : 0));
    }
    if (code != ErrNone) {
        check(!record.pixels && record.errorCode == code);
        return 0;
    }
    const BitmapInfoHeader& header = record.header;
    check(record.pixels && header.biSize == 40 && header.biWidth > 0 && header.biHeight > 0);
    check(header.biBitCount == 1 || header.biBitCount == 4 || header.biBitCount == 8 || header.biBitCount == 24);
    check(header.biWidth <= kMaxImageSide && header.biHeight <= kMaxImageSide);

    // On as the dispatch goes: palette bitmaps become 24 bits.
    DepthConversion conversion;
    conversion.width = header.biWidth;
    conversion.height = header.biHeight;
    conversion.sourceDepth = header.biBitCount;
    conversion.targetDepth = 24;
    computeLayout(conversion);
    check(conversion.targetImageSize == uint32_t(header.biHeight) * ((uint32_t(header.biWidth) * 3 + 3) & ~3u));
    if (header.biBitCount != 24) {
        uint8_t* target = static_cast<uint8_t*>(pageAlloc(conversion.targetImageSize));
        check(target != nullptr);
        conversion.sourcePalette = record.palette;
        conversion.sourcePixels = record.pixels;
        conversion.targetPixels = target;
        check(convertDepth(conversion));
        pageFree(record.pixels);
        record.pixels = target;
    }
    volatile uint8_t sink = record.pixels[conversion.targetImageSize - 1];
    (void)sink;
    pageFree(record.pixels);
    return 0;
}
