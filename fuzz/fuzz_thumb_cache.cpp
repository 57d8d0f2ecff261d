// Thumbnail cache data files: the record walk, the name lookup and the read of the first
// records ahead of the walk, on arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "thumbs/thumbnail_cache.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The first records as a warm visit reads them ahead of the walk: whatever the bytes, and
    // for a file the walk accepts, exactly the walk's first records.
    std::vector<LeadingRecord> leading;
    uint32_t leadingCount = 0;
    parseLeadingRecords(data, size, 16, size_t(1) << 16, leading, leadingCount);
    FolderCache table;
    if (!readFolderCacheBytes(data, size, table)) return 0;
    if (leadingCount != table.count()) std::abort();
    for (size_t i = 0; i < leading.size(); ++i) {
        const LeadingRecord& r = leading[i];
        const uint8_t* header = table.recordHeader(uint32_t(i));
        if (r.name != decodeCacheName(header) || r.stream.size() != table.recordStreamSize(uint32_t(i))) std::abort();
        if (!r.stream.empty() && std::memcmp(r.stream.data(), table.recordStream(uint32_t(i)), r.stream.size()) != 0)
            std::abort();
    }
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
