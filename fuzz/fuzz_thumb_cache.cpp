// Thumbnail cache data files: the record walk and the name lookup on arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "thumbs/thumbnail_cache.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FolderCache table;
    if (!readFolderCacheBytes(data, size, table)) return 0;
    for (uint32_t i = 0; i < table.count(); ++i) {
        const std::wstring name = decodeCacheName(table.recordHeader(i));
        const int64_t found = table.find(name);
        // The first record of that name, never a later one.
        if (found < 0 || found > int64_t(i) || decodeCacheName(table.recordHeader(uint32_t(found))) != name) std::abort();
        // Every stream lies inside the block: touching its last byte must be safe.
        const uint32_t streamSize = table.recordStreamSize(i);
        volatile uint8_t last = streamSize ? table.recordStream(i)[streamSize - 1] : 0;
        (void)last;
    }
    return 0;
}
