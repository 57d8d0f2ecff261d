// Exit-time compaction of "index.dat". Layout (little-endian): an 8-byte header (format
// mark 0x00C80000, record count), then 532-byte records: folder path as 260 UTF-16 units,
// the data-file number at byte 520, cell width and height at 524 and 528.
#include "thumbs/cache_compaction.h"

#include <cstdint>
#include <cstring>
#include <string>

#include "base/platform.h"
#include "base/private_heap.h"
#include "base/text_utils.h"
#include "thumbs/thumbnail_cache.h"

namespace {

// The index layout is the cache module's; compaction only needs these few facts of it.
constexpr uint32_t kFormatMark = kCacheFormatMark;
constexpr uint32_t kMaxRecords = kCacheMaxCount;
constexpr size_t kRecordSize = kIndexRecordSize;
constexpr size_t kPathUnits = kCacheNameBytes / 2;
constexpr size_t kNumberOffset = kIndexNumberOffset;

// The record's folder path; false when the field holds no terminator (then it names no
// folder at all).
bool recordPath(const uint8_t* record, std::wstring& path) {
    path.clear();
    for (size_t i = 0; i < kPathUnits; ++i) {
        uint32_t unit = uint32_t(record[2 * i]) | (uint32_t(record[2 * i + 1]) << 8);
        if (unit == 0) return true;
        if constexpr (sizeof(wchar_t) == 2) {
            path.push_back(wchar_t(unit));
        } else {
            // Join surrogate pairs into code points for the native build.
            if (unit >= 0xD800 && unit < 0xDC00 && i + 1 < kPathUnits) {
                uint32_t low = uint32_t(record[2 * i + 2]) | (uint32_t(record[2 * i + 3]) << 8);
                if (low >= 0xDC00 && low < 0xE000) {
                    path.push_back(wchar_t(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00)));
                    ++i;
                    continue;
                }
            }
            path.push_back(wchar_t(unit));
        }
    }
    return false;
}

}  // namespace

bool optimiseCacheIndex(const wchar_t* cacheFolder) {
    std::wstring folder = cacheFolder ? cacheFolder : L"";
    std::wstring indexPath = folder + L"index.dat";
    if (!pathExists(indexPath.c_str()) || isDirectory(indexPath.c_str())) return false;

    BinaryFile index;
    if (!index.open(indexPath.c_str(), BinaryFile::ReadWriteExisting)) return false;
    uint8_t header[8];
    if (!index.read(header, sizeof header) || readLe32(header) != kFormatMark) return false;
    uint32_t count = readLe32(header + 4);
    if (count > kMaxRecords || index.size() < 8 + uint64_t(count) * kRecordSize) return false;

    size_t bytes = size_t(count) * kRecordSize;
    uint8_t* records = static_cast<uint8_t*>(privateHeapAlloc(bytes));
    if (!records) return false;
    if (bytes > 0 && !index.read(records, bytes)) {
        privateHeapFree(records);
        return false;
    }

    // From here on the index is rewritten in place: live records move forward.
    index.seek(8);
    uint32_t kept = 0;
    std::wstring path;
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* record = records + size_t(i) * kRecordSize;
        if (recordPath(record, path) && !path.empty() && isDirectory(path.c_str())) {
            index.write(record, kRecordSize);
            ++kept;
        } else {
            wchar_t number[kNumberBufferSize];
            formatNumber(int32_t(readLe32(record + kNumberOffset)), number);
            std::wstring dataPath = folder + number + L".dat";
            deleteFileAt(dataPath.c_str());
        }
    }
    privateHeapFree(records);

    index.truncateHere();
    index.seek(0);
    writeLe32(header + 4, kept);
    index.write(header, sizeof header);
    return true;
}
