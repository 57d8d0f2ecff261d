// "index.dat" on arbitrary bytes, through every reader of the cache module: the portable
// parse, the file read a load does, the folder lookup, a folder's cache write, the
// maintenance dialog's delete and the exit-time compaction. Each step must leave an index
// the next reader accepts, and nothing outside the cache folder may be touched.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "base/platform.h"
#include "thumbs/thumbnail_cache.h"

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

const std::filesystem::path& cacheFolder() {
    static const std::filesystem::path folder = [] {
        std::filesystem::path p = std::filesystem::temp_directory_path() / ("pravel-fuzz-index-" + std::to_string(getpid()));
        std::filesystem::create_directories(p);
        return p;
    }();
    return folder;
}

std::wstring widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

void writeBytes(const std::filesystem::path& path, const uint8_t* data, size_t size) {
    FILE* f = std::fopen(path.c_str(), "wb");
    check(f != nullptr);
    if (size) check(std::fwrite(data, 1, size, f) == size);
    std::fclose(f);
}

bool terminated(const uint8_t* name) {
    for (size_t at = 0; at < kCacheNameBytes; at += 2)
        if (name[at] == 0 && name[at + 1] == 0) return true;
    return false;
}

// What a reader must be able to say about any index it accepted.
void checkIndex(const CacheIndex& index) {
    check(index.records.size() % kIndexRecordSize == 0);
    check(index.count() <= kCacheMaxCount);
    for (uint32_t i = 0; i < index.count() && i < 64; ++i) {
        // A path without its terminator names no folder: nothing can look it up.
        if (!terminated(index.record(i))) continue;
        const int64_t first = index.find(index.folder(i));
        check(first >= 0 && first <= int64_t(i) && index.folder(uint32_t(first)) == index.folder(i));
    }
    const uint32_t free = index.freeNumber();
    check(free >= kFirstDataFileNumber);
    for (uint32_t i = 0; i < index.count(); ++i) check(index.number(i) != free);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The portable parse and the file read must agree.
    CacheIndex parsed;
    bool parsedTruncated = false;
    const IndexState parsedState = parseCacheIndex(data, size, parsed, &parsedTruncated);
    if (parsedState == IndexState::Read) checkIndex(parsed);

    const std::filesystem::path& folder = cacheFolder();
    std::error_code ignored;
    for (const auto& e : std::filesystem::directory_iterator(folder, ignored)) std::filesystem::remove(e.path(), ignored);
    writeBytes(folder / "index.dat", data, size);
    // Data files for the first records, so that lookups find them and deletes remove them.
    for (uint32_t i = 0; parsedState == IndexState::Read && i < parsed.count() && i < 4; ++i) {
        static const uint8_t kEmptyData[8] = {0x00, 0x00, 0xC8, 0x00, 0, 0, 0, 0};
        writeBytes(folder / (std::to_string(parsed.number(i)) + ".dat"), kEmptyData, sizeof kEmptyData);
    }

    CacheLocation location;
    location.folder = widen(folder.string());
    CacheIndex read;
    bool readTruncated = false;
    check(readCacheIndex(location, read, &readTruncated) == parsedState);
    check(read.records == parsed.records && readTruncated == parsedTruncated);

    // A load's lookup, then its cache write for that folder: the index afterwards holds the
    // folder, or the write was refused and the index is as it was.
    const std::wstring target = parsed.count() ? parsed.folder(0) : std::wstring(L"/nonexistent/folder");
    FolderDataLookup lookup;
    findFolderData(location, target, lookup);
    if (writeFolderCache(location, target, nullptr, 0)) {
        CacheIndex after;
        check(readCacheIndex(location, after) == IndexState::Read);
        checkIndex(after);
        check(after.find(target) >= 0);
    } else {
        CacheIndex after;
        check(readCacheIndex(location, after) == parsedState && after.records == parsed.records);
    }

    // The maintenance dialog deletes the first two records it listed.
    CacheIndex listed;
    if (readCacheIndex(location, listed) == IndexState::Read) {
        std::vector<CacheRecordKey> doomed;
        for (uint32_t i = 0; i < listed.count() && i < 2; ++i) doomed.push_back({listed.number(i), listed.folder(i)});
        CacheIndex left;
        int notDeleted = 0;
        if (deleteFolderRecords(location, doomed, left, &notDeleted)) {
            checkIndex(left);
            for (const CacheRecordKey& key : doomed) {
                for (uint32_t i = 0; i < left.count(); ++i) check(left.number(i) != key.number || left.folder(i) != key.folder);
            }
        }
    }

    // Exit-time compaction: afterwards every record names an existing folder.
    if (optimiseCacheIndex(location)) {
        CacheIndex compacted;
        const IndexState state = readCacheIndex(location, compacted);
        check(state == IndexState::Read || state == IndexState::Missing);
        checkIndex(compacted);
        for (uint32_t i = 0; i < compacted.count(); ++i) check(isDirectory(compacted.folder(i).c_str()));
    }
    return 0;
}
