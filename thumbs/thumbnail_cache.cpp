// The thumbnail cache files (see thumbnail_cache.h).
#include "thumbs/thumbnail_cache.h"

#include <cstring>
#include <new>

#include "base/directory_list.h"
#include "base/platform.h"
#include "image/jpeg_codec.h"
#include "thumbs/resampler.h"

// ---------------------------------------------------------------- names and facts

std::string utf16leBytes(const std::wstring& text) { return utf16leBytes(text.c_str()); }

std::string utf16leBytes(const wchar_t* text) {
    std::string bytes;
    auto put = [&bytes](uint32_t unit) {
        bytes += char(unit & 0xFF);
        bytes += char(unit >> 8);
    };
    for (const wchar_t* p = text; *p; ++p) {
        const uint32_t c = uint32_t(*p);
        if (c > 0xFFFF && c <= 0x10FFFF) {  // only where wchar_t is 32-bit
            put(0xD800 + ((c - 0x10000) >> 10));
            put(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            put(c & 0xFFFF);
        }
    }
    return bytes;
}

bool encodeCacheName(const std::wstring& text, uint8_t* field) { return encodeCacheName(text.c_str(), field); }

bool encodeCacheName(const wchar_t* text, uint8_t* field) {
    std::memset(field, 0, kCacheNameBytes);
    const std::string bytes = utf16leBytes(text);
    if (bytes.size() > kCacheNameMaxUnits * 2) return false;
    std::memcpy(field, bytes.data(), bytes.size());
    return true;
}

std::wstring decodeCacheName(const uint8_t* field) {
    std::wstring text;
    for (size_t i = 0; i < kCacheNameBytes / 2; ++i) {
        uint32_t unit = field[2 * i] | (uint32_t(field[2 * i + 1]) << 8);
        if (unit == 0) break;
        if (sizeof(wchar_t) == 4 && unit >= 0xD800 && unit < 0xDC00 && i + 1 < kCacheNameBytes / 2) {
            const uint32_t low = field[2 * i + 2] | (uint32_t(field[2 * i + 3]) << 8);
            if (low >= 0xDC00 && low < 0xE000) {
                unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        text += wchar_t(unit);
    }
    return text;
}

namespace {

// Units before the terminator, or -1 when the field has none.
int nameUnits(const uint8_t* field) {
    for (size_t i = 0; i < kCacheNameBytes / 2; ++i)
        if (field[2 * i] == 0 && field[2 * i + 1] == 0) return int(i);
    return -1;
}

bool nameEquals(const uint8_t* field, const std::string& wanted) {
    if (wanted.size() >= kCacheNameBytes) return false;
    return std::memcmp(field, wanted.data(), wanted.size()) == 0 && field[wanted.size()] == 0 &&
           field[wanted.size() + 1] == 0;
}

uint32_t hashName(const uint8_t* bytes, size_t size) {
    uint32_t h = 2166136261u;
    for (size_t i = 0; i < size; ++i) h = (h ^ bytes[i]) * 16777619u;
    return h;
}

}  // namespace

void encodeFacts(const FileFacts& f, uint8_t* out) {
    writeLe32(out + 0, f.lastWriteTime.low);
    writeLe32(out + 4, f.lastWriteTime.high);
    writeLe32(out + 8, uint32_t(f.fileWidth));
    writeLe32(out + 12, uint32_t(f.fileHeight));
    writeLe32(out + 16, f.fileSize);
    writeLe32(out + 20, uint32_t(f.format));
    writeLe32(out + 24, uint32_t(f.sourceDepth));
    writeLe32(out + 28, uint32_t(f.commentCount));
    writeLe32(out + 32, uint32_t(f.metaCount));
    writeLe32(out + 36, uint32_t(f.interlaced));
}

FileFacts decodeFacts(const uint8_t* in) {
    FileFacts f;
    f.lastWriteTime.low = readLe32(in + 0);
    f.lastWriteTime.high = readLe32(in + 4);
    f.fileWidth = int32_t(readLe32(in + 8));
    f.fileHeight = int32_t(readLe32(in + 12));
    f.fileSize = readLe32(in + 16);
    f.format = int32_t(readLe32(in + 20));
    f.sourceDepth = int32_t(readLe32(in + 24));
    f.commentCount = int32_t(readLe32(in + 28));
    f.metaCount = int32_t(readLe32(in + 32));
    f.interlaced = int32_t(readLe32(in + 36));
    return f;
}

std::wstring cacheIndexPath(const CacheLocation& location) { return joinPath(location.folder, L"index.dat"); }

std::wstring cacheDataPath(const CacheLocation& location, uint32_t number) {
    return joinPath(location.folder, std::to_wstring(number) + L".dat");
}

// ---------------------------------------------------------------- reading

bool findFolderData(const CacheLocation& location, const std::wstring& folderPath, FolderDataLookup& lookup) {
    lookup = FolderDataLookup{};
    const std::string wanted = utf16leBytes(folderPath);
    if (wanted.size() > kCacheNameMaxUnits * 2) return false;
    BinaryFile index;
    if (!index.open(cacheIndexPath(location).c_str(), BinaryFile::ReadOnly)) return false;
    uint8_t header[kCacheHeaderSize];
    if (!index.read(header, sizeof header) || readLe32(header) != kCacheFormatMark) return false;
    const uint32_t count = readLe32(header + 4);
    if (count > kCacheMaxCount) return false;
    // Record by record until the folder turns up; a short index simply ends the search.
    // Read in batches: the same order and result as one record at a time.
    constexpr uint32_t kBatch = 256;
    std::vector<uint8_t> records(size_t(kBatch) * kIndexRecordSize);
    const uint64_t available = (index.size() - kCacheHeaderSize) / kIndexRecordSize;
    const uint32_t usable = available < count ? uint32_t(available) : count;
    for (uint32_t done = 0; done < usable;) {
        const uint32_t n = usable - done < kBatch ? usable - done : kBatch;
        if (!index.read(records.data(), size_t(n) * kIndexRecordSize)) return false;
        for (uint32_t i = 0; i < n; ++i) {
            const uint8_t* r = records.data() + size_t(i) * kIndexRecordSize;
            if (!nameEquals(r, wanted)) continue;
            const int32_t cellWidth = int32_t(readLe32(r + kIndexCellWidthOffset));
            const int32_t cellHeight = int32_t(readLe32(r + kIndexCellHeightOffset));
            lookup.cacheTooLarge = cellWidth > location.cellWidth || cellHeight > location.cellHeight;
            lookup.cacheTooSmall = cellWidth < location.cellWidth || cellHeight < location.cellHeight;
            const std::wstring path = cacheDataPath(location, readLe32(r + kIndexNumberOffset));
            if (!pathExists(path.c_str()) || isDirectory(path.c_str())) return false;
            lookup.dataPath = path;
            return true;
        }
        done += n;
    }
    return false;
}

FolderCache::FolderCache(FolderCache&& other) noexcept { *this = std::move(other); }

FolderCache& FolderCache::operator=(FolderCache&& other) noexcept {
    if (this != &other) {
        release();
        block_ = other.block_;
        data_ = other.data_;
        offsets_ = other.offsets_;
        size_ = other.size_;
        count_ = other.count_;
        buckets_ = std::move(other.buckets_);
        other.block_ = nullptr;
        other.data_ = nullptr;
        other.offsets_ = nullptr;
        other.size_ = 0;
        other.count_ = 0;
    }
    return *this;
}

void FolderCache::release() {
    pageFree(block_);
    block_ = nullptr;
    data_ = nullptr;
    offsets_ = nullptr;
    size_ = 0;
    count_ = 0;
    buckets_.clear();
}

bool FolderCache::adopt(uint8_t* block, size_t size, uint32_t count) {
    release();
    auto* offsets = reinterpret_cast<uint32_t*>(block);
    const uint8_t* data = block + size_t(count) * 4u;
    // Walk the records: each must lie wholly inside the contents, carry a terminated
    // name, and the last must end exactly where the file does. Anything else is a
    // truncated or damaged file, which is better treated as no cache at all.
    size_t at = 0;
    for (uint32_t i = 0; i < count; ++i) {
        if (size - at < kDataRecordHeaderSize) return false;
        const uint8_t* header = data + at;
        if (nameUnits(header) < 0) return false;
        const uint32_t stream = readLe32(header + kDataStreamSizeOffset);
        if (stream > size - at - kDataRecordHeaderSize) return false;
        offsets[i] = uint32_t(at);
        at += kDataRecordHeaderSize + stream;
    }
    if (at != size) return false;

    // Lookups by name: a hash table that keeps the first record of every name, which
    // answers exactly what a search of the table in order would.
    try {
        size_t buckets = 16;
        while (buckets < size_t(count) * 2) buckets <<= 1;
        buckets_.assign(buckets, 0);
    } catch (const std::bad_alloc&) {
        buckets_.clear();
        return false;
    }
    const size_t mask = buckets_.size() - 1;
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* name = data + offsets[i];
        const size_t bytes = size_t(nameUnits(name)) * 2;
        size_t slot = hashName(name, bytes) & mask;
        for (;; slot = (slot + 1) & mask) {
            const uint32_t other = buckets_[slot];
            if (other == 0) {
                buckets_[slot] = i + 1;
                break;
            }
            const uint8_t* otherName = data + offsets[other - 1];
            if (size_t(nameUnits(otherName)) * 2 == bytes && std::memcmp(otherName, name, bytes) == 0) break;
        }
    }
    block_ = block;
    data_ = data;
    offsets_ = offsets;
    size_ = size;
    count_ = count;
    return true;
}

int64_t FolderCache::find(const std::wstring& name) const {
    if (!block_ || buckets_.empty()) return -1;
    const std::string wanted = utf16leBytes(name);
    if (wanted.size() > kCacheNameMaxUnits * 2) return -1;
    const size_t mask = buckets_.size() - 1;
    size_t slot = hashName(reinterpret_cast<const uint8_t*>(wanted.data()), wanted.size()) & mask;
    for (;; slot = (slot + 1) & mask) {
        const uint32_t entry = buckets_[slot];
        if (entry == 0) return -1;
        if (nameEquals(data_ + offsets_[entry - 1], wanted)) return int64_t(entry - 1);
    }
}

bool openFolderCache(const CacheLocation& location, const std::wstring& folderPath, FolderCache& table,
                     bool& cacheTooLarge, bool& cacheTooSmall) {
    table.release();
    FolderDataLookup lookup;
    const bool found = findFolderData(location, folderPath, lookup);
    if (lookup.cacheTooLarge) cacheTooLarge = true;
    if (lookup.cacheTooSmall) cacheTooSmall = true;
    if (!found) return false;

    BinaryFile file;
    if (!file.open(lookup.dataPath.c_str(), BinaryFile::ReadOnly)) return false;
    const uint64_t fileSize = file.size();
    uint8_t header[kCacheHeaderSize];
    if (fileSize < kCacheHeaderSize || fileSize > 0x7FFFFFFFu || !file.read(header, sizeof header) ||
        readLe32(header) != kCacheFormatMark)
        return false;
    const uint32_t count = readLe32(header + 4);
    const size_t contents = size_t(fileSize - kCacheHeaderSize);
    // Every record takes at least its header; a larger count cannot be right.
    if (count > contents / kDataRecordHeaderSize) return false;
    const size_t total = size_t(count) * 4u + contents;
    auto* block = static_cast<uint8_t*>(pageAlloc(total ? total : 1));
    if (!block) return false;
    if (contents != 0 && !file.read(block + size_t(count) * 4u, contents)) {
        pageFree(block);
        return false;
    }
    if (!table.adopt(block, contents, count)) {
        pageFree(block);
        return false;
    }
    return true;
}

bool readFolderCacheBytes(const uint8_t* bytes, size_t size, FolderCache& table) {
    table.release();
    if (!bytes || size < kCacheHeaderSize || size > 0x7FFFFFFFu || readLe32(bytes) != kCacheFormatMark) return false;
    const uint32_t count = readLe32(bytes + 4);
    const size_t contents = size - kCacheHeaderSize;
    if (count > contents / kDataRecordHeaderSize) return false;
    const size_t total = size_t(count) * 4u + contents;
    auto* block = static_cast<uint8_t*>(pageAlloc(total ? total : 1));
    if (!block) return false;
    if (contents) std::memcpy(block + size_t(count) * 4u, bytes + kCacheHeaderSize, contents);
    if (!table.adopt(block, contents, count)) {
        pageFree(block);
        return false;
    }
    return true;
}

bool takeFromCache(const FolderCache& table, const std::wstring& fileName, const std::wstring& filePath,
                   int32_t cellWidth, int32_t cellHeight, ImageDecoder& decoder, LoadInfo& info) {
    const int64_t found = table.find(fileName);
    if (found < 0) return false;
    const uint32_t i = uint32_t(found);
    const uint8_t* header = table.recordHeader(i);
    const FileFacts facts = decodeFacts(header + kDataFactsOffset);

    FileTime now;
    if (!getLastWriteTime(filePath.c_str(), now) || !(now == facts.lastWriteTime)) return false;

    DecodeCounters counters;
    if (!decoder.jpeg()) return false;
    DecodedImage* image = decodeJpegMemoryWith(decoder.jpeg(), table.recordStream(i), table.recordStreamSize(i),
                                               cellWidth, cellHeight, counters);
    if (!image) return false;
    // Only a colour stream of the stored size is this file's thumbnail; anything else
    // means a damaged record, and the file is decoded instead.
    const int32_t storedWidth = int32_t(readLe32(header + kDataThumbWidthOffset));
    const int32_t storedHeight = int32_t(readLe32(header + kDataThumbHeightOffset));
    if (image->header.biBitCount != 24 || counters.fileWidth != storedWidth || counters.fileHeight != storedHeight) {
        pageFree(image->pixels);
        image->pixels = nullptr;
        return false;
    }

    decoder.record = *image;  // the pixels move to the context's record
    image->pixels = nullptr;
    info.facts = facts;
    info.width = decoder.record.header.biWidth;
    info.height = decoder.record.header.biHeight;
    info.current = &decoder.record;
    return true;
}

// ---------------------------------------------------------------- writing

namespace {

bool createIndex(const CacheLocation& location, const std::string& folderBytes, std::wstring& dataPath) {
    if (!isDirectory(location.folder.c_str())) createDirectoryAt(location.folder.c_str());
    uint8_t bytes[kCacheHeaderSize + kIndexRecordSize] = {};
    writeLe32(bytes, kCacheFormatMark);
    writeLe32(bytes + 4, 1);
    uint8_t* record = bytes + kCacheHeaderSize;
    std::memcpy(record, folderBytes.data(), folderBytes.size());
    writeLe32(record + kIndexNumberOffset, kFirstDataFileNumber);
    writeLe32(record + kIndexCellWidthOffset, uint32_t(location.cellWidth));
    writeLe32(record + kIndexCellHeightOffset, uint32_t(location.cellHeight));
    BinaryFile index;
    if (!index.open(cacheIndexPath(location).c_str(), BinaryFile::CreateTruncate) || !index.write(bytes, sizeof bytes))
        return false;
    dataPath = cacheDataPath(location, kFirstDataFileNumber);
    return true;
}

}  // namespace

bool registerFolder(const CacheLocation& location, const std::wstring& folderPath, std::wstring& dataPath) {
    const std::string folderBytes = utf16leBytes(folderPath);
    if (folderBytes.size() > kCacheNameMaxUnits * 2) return false;
    const std::wstring indexPath = cacheIndexPath(location);
    if (!pathExists(indexPath.c_str())) return createIndex(location, folderBytes, dataPath);

    BinaryFile index;
    if (!index.open(indexPath.c_str(), BinaryFile::ReadWriteExisting)) return false;
    const uint64_t fileSize = index.size();
    uint8_t header[kCacheHeaderSize];
    if (fileSize < kCacheHeaderSize || !index.read(header, sizeof header) || readLe32(header) != kCacheFormatMark) {
        index.close();
        return createIndex(location, folderBytes, dataPath);
    }
    const uint32_t count = readLe32(header + 4);
    if (count > kCacheMaxCount) return false;
    // Records cut off at the end of the file are not records: keep the complete ones.
    const uint64_t complete = (fileSize - kCacheHeaderSize) / kIndexRecordSize;
    const uint32_t n = complete < count ? uint32_t(complete) : count;
    const size_t bytes = size_t(n) * kIndexRecordSize;
    auto* records = static_cast<uint8_t*>(pageAlloc(bytes ? bytes : 1));
    if (!records) return false;
    if (bytes && !index.read(records, bytes)) {
        pageFree(records);
        return false;
    }

    for (uint32_t i = 0; i < n; ++i) {
        const uint8_t* r = records + size_t(i) * kIndexRecordSize;
        if (!nameEquals(r, folderBytes)) continue;
        uint8_t cell[8];
        writeLe32(cell, uint32_t(location.cellWidth));
        writeLe32(cell + 4, uint32_t(location.cellHeight));
        const uint32_t number = readLe32(r + kIndexNumberOffset);
        pageFree(records);
        if (!index.seek(kCacheHeaderSize + uint64_t(i) * kIndexRecordSize + kIndexCellWidthOffset) ||
            !index.write(cell, sizeof cell))
            return false;
        dataPath = cacheDataPath(location, number);
        return true;
    }

    // The smallest number from the first one up that no record uses.
    std::vector<bool> used;
    try {
        used.assign(size_t(n) + 1, false);
    } catch (const std::bad_alloc&) {
        pageFree(records);
        return false;
    }
    for (uint32_t i = 0; i < n; ++i) {
        const uint32_t number = readLe32(records + size_t(i) * kIndexRecordSize + kIndexNumberOffset);
        if (number >= kFirstDataFileNumber && number - kFirstDataFileNumber <= n) used[number - kFirstDataFileNumber] = true;
    }
    pageFree(records);
    uint32_t number = kFirstDataFileNumber;
    while (used[number - kFirstDataFileNumber]) ++number;

    uint8_t record[kIndexRecordSize] = {};
    std::memcpy(record, folderBytes.data(), folderBytes.size());
    writeLe32(record + kIndexNumberOffset, number);
    writeLe32(record + kIndexCellWidthOffset, uint32_t(location.cellWidth));
    writeLe32(record + kIndexCellHeightOffset, uint32_t(location.cellHeight));
    // The record first and the count last, so that an interrupted update leaves a
    // consistent index behind.
    uint8_t newCount[4];
    writeLe32(newCount, n + 1);
    if (!index.seek(kCacheHeaderSize + uint64_t(n) * kIndexRecordSize) || !index.write(record, sizeof record) ||
        !index.truncateHere() || !index.seek(4) || !index.write(newCount, sizeof newCount))
        return false;
    dataPath = cacheDataPath(location, number);
    return true;
}

bool writeFolderCache(const CacheLocation& location, const std::wstring& folderPath, const CacheItemView* items,
                      size_t count, uint32_t* written, const std::function<bool()>& proceed) {
    if (written) *written = 0;
    std::wstring dataPath;
    if (!registerFolder(location, folderPath, dataPath)) return false;
    // The records go to a file of their own that takes the data file's place only when it is
    // complete: a write that fails or is given up half-way leaves the old data file as it was.
    const std::wstring partPath = dataPath + L".new";
    BinaryFile file;
    if (!file.open(partPath.c_str(), BinaryFile::CreateTruncate)) return false;
    auto giveUp = [&] {
        file.close();
        deleteFileAt(partPath.c_str());
        return false;
    };

    // The header goes last, with the number of records actually written.
    uint8_t zeros[kCacheHeaderSize] = {};
    if (!file.write(zeros, sizeof zeros)) return giveUp();
    uint64_t at = kCacheHeaderSize;
    uint32_t records = 0;
    std::vector<uint8_t> buffer;
    for (size_t k = 0; k < count; ++k) {
        if (proceed && !proceed()) return giveUp();
        const CacheItemView& item = items[k];
        if (!item.name || !item.pixels || item.thumbWidth <= 0 || item.thumbHeight <= 0) continue;
        const uint64_t raw = uint64_t(rowStride24(item.thumbWidth)) * uint64_t(item.thumbHeight);
        if (raw > 0x7FFFFFFFu - kDataRecordHeaderSize) continue;
        try {
            if (buffer.size() < kDataRecordHeaderSize + size_t(raw)) buffer.resize(kDataRecordHeaderSize + size_t(raw));
        } catch (const std::bad_alloc&) {
            continue;
        }
        uint8_t* header = buffer.data();
        std::memset(header, 0, kDataRecordHeaderSize);
        if (!encodeCacheName(item.name, header)) continue;
        // The encoder gets exactly the raw size; a stream that would not fit leaves the
        // item out and never writes past the buffer.
        uint32_t streamSize = uint32_t(raw);
        DepthConversion conversion;
        conversion.width = item.thumbWidth;
        conversion.height = item.thumbHeight;
        conversion.sourceDepth = 24;
        conversion.targetDepth = 24;
        if (!encodeJpegThumbnail(header + kDataRecordHeaderSize, &streamSize, item.pixels, conversion)) continue;
        encodeFacts(item.facts, header + kDataFactsOffset);
        writeLe32(header + kDataThumbWidthOffset, uint32_t(item.thumbWidth));
        writeLe32(header + kDataThumbHeightOffset, uint32_t(item.thumbHeight));
        writeLe32(header + kDataStreamSizeOffset, streamSize);
        const size_t recordSize = kDataRecordHeaderSize + streamSize;
        // A failed write is not reported, but it must not leave half a record behind.
        if (file.write(header, recordSize)) {
            at += recordSize;
            ++records;
        } else {
            file.seek(at);
        }
    }
    uint8_t head[kCacheHeaderSize];
    writeLe32(head, kCacheFormatMark);
    writeLe32(head + 4, records);
    if (!file.seek(at) || !file.truncateHere() || !file.seek(0) || !file.write(head, sizeof head)) return giveUp();
    file.close();
    if (!replaceFileWith(partPath.c_str(), dataPath.c_str())) {
        deleteFileAt(partPath.c_str());
        return false;
    }
    if (written) *written = records;
    return true;
}
