// Read PNG texts over arbitrary bytes; every entry must respect its slot.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "image/png_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    PngTextList list;
    const bool ok = readPngTextsFromMemory(data, size, list);
    const int count = list.count();
    if (ok != (count > 0)) std::abort();
    for (int i = 0; i < count; ++i) {
        const PngTextEntry& e = list.entries[i];
        if (e.keyword[kPngKeywordMax] != 0 || e.text[kPngTextMax] != 0) std::abort();
        if (std::memchr(e.keyword, 0x1B, sizeof e.keyword) || std::memchr(e.text, 0x1B, sizeof e.text)) std::abort();
    }
    return 0;
}
