// The thumbnail cache files (see thumbnail_cache.h).
#include "thumbs/thumbnail_cache.h"

#include <atomic>
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

// ---------------------------------------------------------------- data files

namespace {

std::atomic<size_t> g_viewBytes{size_t(16) << 20};

}  // namespace

void setCacheViewBytes(size_t bytes) { g_viewBytes.store(bytes ? bytes : 1); }

void FolderCache::dropViews() const {
    for (View& v : views_) {
        if (v.base) file_.unmapView(v.base, v.length);
        v = View{};
    }
}

void FolderCache::release() {
    dropViews();
    file_.close();
    pageFree(copy_);
    copy_ = nullptr;
    open_ = false;
    letGo_ = false;
    path_.clear();
    starts_.clear();
    buckets_.clear();
    hashes_.clear();
    viewsMapped_ = 0;
}

void FolderCache::letGo() const {
    WorkerLockScope hold(copyLock_);
    if (!open_ || copy_ || path_.empty()) return;
    dropViews();
    file_.close();
    letGo_ = true;
}

const uint8_t* FolderCache::bytesAt(uint64_t offset, size_t size) const {
    if (copy_) return copy_ + offset;
    if (letGo_) {
        FileTime now;
        if (!getLastWriteTime(path_.c_str(), now) || !(now == time_) || !file_.open(path_.c_str())) return nullptr;
        if (file_.size() != starts_.back()) {
            file_.close();
            return nullptr;
        }
        letGo_ = false;
    }
    View* oldest = &views_[0];
    for (View& v : views_) {
        if (v.data && offset >= v.start && offset - v.start <= v.size && size <= v.size - (offset - v.start)) {
            v.lastUse = ++useClock_;
            return v.data + (offset - v.start);
        }
        if (v.lastUse < oldest->lastUse) oldest = &v;
    }
    // A new view from the granularity step at or below offset, at least the set size and
    // always the whole request, but never past the file's end.
    const size_t step = FileViews::granularity();
    const uint64_t start = offset - offset % step;
    uint64_t span = g_viewBytes.load();
    span = (span + step - 1) / step * step;
    if (span < offset - start + size) span = offset - start + size;
    if (span > file_.size() - start) span = file_.size() - start;
    if (oldest->base) file_.unmapView(oldest->base, oldest->length);
    *oldest = View{};
    void* base = nullptr;
    size_t length = 0;
    const uint8_t* data = file_.mapView(start, size_t(span), base, length);
    if (!data) return nullptr;
    ++viewsMapped_;
    oldest->start = start;
    oldest->size = size_t(span);
    oldest->data = data;
    oldest->base = base;
    oldest->length = length;
    oldest->lastUse = ++useClock_;
    return data + (offset - start);
}

const uint8_t* FolderCache::record(uint32_t i) const {
    if (!open_ || i + 1 >= starts_.size()) return nullptr;
    return bytesAt(starts_[i], size_t(starts_[i + 1] - starts_[i]));
}

bool FolderCache::copyRecord(uint32_t i, std::vector<uint8_t>& out) const {
    if (!open_ || i + 1 >= starts_.size()) return false;
    const size_t size = size_t(starts_[i + 1] - starts_[i]);
    WorkerLockScope hold(copyLock_);
    const uint8_t* r = bytesAt(starts_[i], size);
    if (!r) return false;
    try {
        out.assign(r, r + size);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

const uint8_t* FolderCache::recordStream(uint32_t i) const {
    const uint8_t* r = record(i);
    return r ? r + kDataRecordHeaderSize : nullptr;
}

bool FolderCache::walk(uint64_t fileSize, uint32_t count) {
    // Every record takes at least its header; a larger count cannot be right.
    if (count > (fileSize - kCacheHeaderSize) / kDataRecordHeaderSize) return false;
    try {
        starts_.resize(size_t(count) + 1);
        hashes_.resize(count);
        size_t buckets = 16;
        while (buckets < size_t(count) * 2) buckets <<= 1;
        buckets_.assign(buckets, 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    // Walk the records: each must lie wholly inside the file, carry a terminated name, and
    // the last must end exactly where the file does. Anything else is a truncated or damaged
    // file, which is better treated as no cache at all. The names go into a hash table that
    // keeps the first record of every name, which answers exactly what a search of the
    // table in order would.
    const size_t mask = buckets_.size() - 1;
    uint64_t at = kCacheHeaderSize;
    for (uint32_t i = 0; i < count; ++i) {
        if (fileSize - at < kDataRecordHeaderSize) return false;
        const uint8_t* header = bytesAt(at, kDataRecordHeaderSize);
        if (!header) return false;
        const int units = nameUnits(header);
        if (units < 0) return false;
        const uint32_t stream = readLe32(header + kDataStreamSizeOffset);
        const size_t bytes = size_t(units) * 2;
        // The name is compared against the records of its probe chain, each of which may
        // need a view of its own: after a few of them the view holding this header is gone.
        uint8_t name[kCacheNameBytes];
        std::memcpy(name, header, bytes);
        const uint32_t hash = hashName(name, bytes);
        size_t slot = hash & mask;
        starts_[i] = at;
        hashes_[i] = hash;
        for (;; slot = (slot + 1) & mask) {
            const uint32_t other = buckets_[slot];
            if (other == 0) {
                buckets_[slot] = i + 1;
                break;
            }
            // Records of other names are passed over by their hash: reading their headers
            // would map a view wherever they lie in the file, for nearly every record.
            if (hashes_[other - 1] != hash) continue;
            const uint8_t* otherName = bytesAt(starts_[other - 1], kDataRecordHeaderSize);
            if (!otherName) return false;
            if (size_t(nameUnits(otherName)) * 2 == bytes && std::memcmp(otherName, name, bytes) == 0) break;
        }
        if (stream > fileSize - at - kDataRecordHeaderSize) return false;
        at += kDataRecordHeaderSize + stream;
    }
    if (at != fileSize) return false;
    starts_[count] = at;
    return true;
}

bool FolderCache::openFile(const std::wstring& path) {
    release();
    if (!getLastWriteTime(path.c_str(), time_) || !file_.open(path.c_str())) return false;
    const uint64_t size = file_.size();
    const uint8_t* header = size >= kCacheHeaderSize && size <= 0x7FFFFFFFu ? bytesAt(0, kCacheHeaderSize) : nullptr;
    if (!header || readLe32(header) != kCacheFormatMark || !walk(size, readLe32(header + 4))) {
        release();
        return false;
    }
    open_ = true;
    path_ = path;
    return true;
}

bool FolderCache::openBytes(const uint8_t* bytes, size_t size) {
    release();
    if (!bytes || size < kCacheHeaderSize || size > 0x7FFFFFFFu || readLe32(bytes) != kCacheFormatMark) return false;
    copy_ = static_cast<uint8_t*>(pageAlloc(size));
    if (!copy_) return false;
    std::memcpy(copy_, bytes, size);
    if (!walk(size, readLe32(bytes + 4))) {
        release();
        return false;
    }
    open_ = true;
    return true;
}

bool FolderCache::copyRecordHeader(uint32_t i, uint8_t* header) const {
    if (!open_ || size_t(i) + 1 >= starts_.size()) return false;
    WorkerLockScope hold(copyLock_);
    const uint8_t* at = bytesAt(starts_[i], kDataRecordHeaderSize);
    if (!at) return false;
    std::memcpy(header, at, kDataRecordHeaderSize);
    return true;
}

bool FolderCache::copyRecordStream(uint32_t i, std::vector<uint8_t>& stream) const {
    if (!open_ || size_t(i) + 1 >= starts_.size()) return false;
    const size_t size = recordStreamSize(i);
    try {
        stream.resize(size);
    } catch (const std::bad_alloc&) {
        return false;
    }
    WorkerLockScope hold(copyLock_);
    const uint8_t* at = bytesAt(starts_[i] + kDataRecordHeaderSize, size);
    if (!at) return false;
    if (size) std::memcpy(stream.data(), at, size);
    return true;
}

int64_t FolderCache::find(const std::wstring& name) const {
    if (!open_ || buckets_.empty()) return -1;
    WorkerLockScope hold(copyLock_);
    const std::string wanted = utf16leBytes(name);
    if (wanted.size() > kCacheNameMaxUnits * 2) return -1;
    const size_t mask = buckets_.size() - 1;
    const uint32_t hash = hashName(reinterpret_cast<const uint8_t*>(wanted.data()), wanted.size());
    for (size_t slot = hash & mask;; slot = (slot + 1) & mask) {
        const uint32_t entry = buckets_[slot];
        if (entry == 0) return -1;
        if (hashes_[entry - 1] != hash) continue;
        const uint8_t* header = bytesAt(starts_[entry - 1], kDataRecordHeaderSize);
        if (!header) return -1;
        if (nameEquals(header, wanted)) return int64_t(entry - 1);
    }
}

bool openFolderCache(const CacheLocation& location, const std::wstring& folderPath, FolderCache& table,
                     bool& cacheTooLarge, bool& cacheTooSmall) {
    table.release();
    FolderDataLookup lookup;
    const bool found = findFolderData(location, folderPath, lookup);
    if (lookup.cacheTooLarge) cacheTooLarge = true;
    if (lookup.cacheTooSmall) cacheTooSmall = true;
    return found && table.openFile(lookup.dataPath);
}

bool readFolderCacheBytes(const uint8_t* bytes, size_t size, FolderCache& table) { return table.openBytes(bytes, size); }

bool takeFromCache(const FolderCache& table, const std::wstring& fileName, const std::wstring& filePath,
                   int32_t cellWidth, int32_t cellHeight, ImageDecoder& decoder, LoadInfo& info) {
    const int64_t found = table.find(fileName);
    if (found < 0) return false;
    const uint32_t i = uint32_t(found);
    // A copy: another decoding thread may map a view over this one's while the stream decodes.
    std::vector<uint8_t> bytes;
    if (!table.copyRecord(i, bytes) || bytes.size() < kDataRecordHeaderSize) return false;
    const uint8_t* header = bytes.data();
    const FileFacts facts = decodeFacts(header + kDataFactsOffset);

    FileTime now;
    if (!getLastWriteTime(filePath.c_str(), now) || !(now == facts.lastWriteTime)) return false;

    DecodeCounters counters;
    if (!decoder.jpeg()) return false;
    DecodedImage* image = decodeJpegMemoryWith(decoder.jpeg(), header + kDataRecordHeaderSize,
                                               uint32_t(bytes.size() - kDataRecordHeaderSize), cellWidth, cellHeight, counters);
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

bool decodeStoredStream(const uint8_t* stream, size_t size, int32_t storedWidth, int32_t storedHeight,
                        int32_t cellWidth, int32_t cellHeight, ImageDecoder& decoder, LoadInfo& info,
                        bool* outOfMemory) {
    DecodeCounters counters;
    if (!decoder.jpeg() || !stream || !size) return false;
    DecodedImage* image = decodeJpegMemoryWith(decoder.jpeg(), stream, size, cellWidth, cellHeight, counters);
    if (!image) {
        if (outOfMemory && jpegDecoderRecord(decoder.jpeg()).errorCode == ErrMemory) *outOfMemory = true;
        return false;
    }
    if (image->header.biBitCount != 24 || counters.fileWidth != storedWidth || counters.fileHeight != storedHeight) {
        pageFree(image->pixels);
        image->pixels = nullptr;
        return false;
    }
    decoder.record = *image;
    image->pixels = nullptr;
    info.width = decoder.record.header.biWidth;
    info.height = decoder.record.header.biHeight;
    info.current = &decoder.record;
    return true;
}

bool parseLeadingRecords(const uint8_t* bytes, size_t size, size_t most, size_t streamBytes,
                         std::vector<LeadingRecord>& records, uint32_t& recordCount) {
    records.clear();
    recordCount = 0;
    if (!bytes || size < kCacheHeaderSize || readLe32(bytes) != kCacheFormatMark) return false;
    recordCount = readLe32(bytes + 4);
    size_t at = kCacheHeaderSize;
    for (uint32_t i = 0; i < recordCount && records.size() < most; ++i) {
        if (size - at < kDataRecordHeaderSize) break;
        const uint8_t* header = bytes + at;
        if (nameUnits(header) < 0) break;
        const uint32_t streamSize = readLe32(header + kDataStreamSizeOffset);
        if (streamSize > size - at - kDataRecordHeaderSize || streamSize > streamBytes) break;
        streamBytes -= streamSize;
        LeadingRecord r;
        r.name = decodeCacheName(header);
        r.facts = decodeFacts(header + kDataFactsOffset);
        r.thumbWidth = int32_t(readLe32(header + kDataThumbWidthOffset));
        r.thumbHeight = int32_t(readLe32(header + kDataThumbHeightOffset));
        const uint8_t* stream = header + kDataRecordHeaderSize;
        try {
            r.stream.assign(stream, stream + streamSize);
        } catch (const std::bad_alloc&) {
            break;
        }
        at += kDataRecordHeaderSize + streamSize;
        records.push_back(std::move(r));
    }
    return !records.empty();
}

bool readLeadingRecords(const CacheLocation& location, const std::wstring& folderPath, size_t most,
                        size_t streamBytes, std::vector<LeadingRecord>& records, uint32_t& recordCount) {
    records.clear();
    recordCount = 0;
    FolderDataLookup lookup;
    if (!findFolderData(location, folderPath, lookup) || lookup.cacheTooLarge || lookup.cacheTooSmall) return false;
    BinaryFile file;
    if (!file.open(lookup.dataPath.c_str(), BinaryFile::ReadOnly)) return false;
    // The file's head, as far as those records can reach: read from 256 KiB on, twice as much
    // each time the records asked for lie beyond it (small thumbnails fit the first read).
    const uint64_t reach = kCacheHeaderSize + uint64_t(most) * kDataRecordHeaderSize + streamBytes;
    const uint64_t whole = file.size() < reach ? file.size() : reach;
    std::vector<uint8_t> head;
    for (uint64_t size = whole < (256u << 10) ? whole : (256u << 10);; size = size * 2 < whole ? size * 2 : whole) {
        try {
            head.resize(size_t(size));
        } catch (const std::bad_alloc&) {
            return false;
        }
        if (size == 0 || !file.seek(0) || !file.read(head.data(), head.size())) return false;
        const bool any = parseLeadingRecords(head.data(), head.size(), most, streamBytes, records, recordCount);
        if (size == whole || records.size() >= most || records.size() >= recordCount) return any;
    }
}

bool findCurrentRecord(const FolderCache& table, const std::wstring& fileName, const FileTime& lastWriteTime,
                       CurrentRecord& out) {
    const int64_t found = table.find(fileName);
    if (found < 0) return false;
    uint8_t header[kDataRecordHeaderSize];
    if (!table.copyRecordHeader(uint32_t(found), header)) return false;
    const FileFacts facts = decodeFacts(header + kDataFactsOffset);
    if (!(lastWriteTime == facts.lastWriteTime)) return false;
    out.index = uint32_t(found);
    out.facts = facts;
    out.thumbWidth = int32_t(readLe32(header + kDataThumbWidthOffset));
    out.thumbHeight = int32_t(readLe32(header + kDataThumbHeightOffset));
    return out.thumbWidth > 0 && out.thumbHeight > 0;
}

bool findCurrentRecord(const FolderCache& table, const std::wstring& fileName, const std::wstring& filePath,
                       CurrentRecord& out) {
    FileTime now;
    return getLastWriteTime(filePath.c_str(), now) && findCurrentRecord(table, fileName, now, out);
}

bool storedThumbnailKeptAsIs(int32_t thumbWidth, int32_t thumbHeight, int32_t cellWidth, int32_t cellHeight,
                             bool cacheTooSmall) {
    if (thumbWidth <= 0 || thumbHeight <= 0) return false;
    if (jpegScaleDenominator(thumbWidth, thumbHeight, cellWidth, cellHeight) != 1) return false;
    return cacheTooSmall || (thumbWidth <= cellWidth && thumbHeight <= cellHeight);
}

bool encodeThumbnailStream(const uint8_t* pixels, int32_t width, int32_t height, uint8_t** stream, uint32_t* size,
                           bool* outOfMemory) {
    *stream = nullptr;
    *size = 0;
    if (!pixels || width <= 0 || height <= 0) return false;
    const uint64_t raw = uint64_t(rowStride24(width)) * uint64_t(height);
    if (raw > 0x7FFFFFFFu - kDataRecordHeaderSize) return false;
    // The encoder gets exactly the raw size, as the cache write always gave it: a stream
    // that would not fit leaves the item out of the cache and never writes past the buffer.
    auto* buffer = static_cast<uint8_t*>(pageAlloc(size_t(raw)));
    if (!buffer) {
        if (outOfMemory) *outOfMemory = true;
        return false;
    }
    uint32_t streamSize = uint32_t(raw);
    DepthConversion conversion;
    conversion.width = width;
    conversion.height = height;
    conversion.sourceDepth = 24;
    conversion.targetDepth = 24;
    const bool encoded = encodeJpegThumbnail(buffer, &streamSize, pixels, conversion);
    uint8_t* kept = encoded && streamSize ? static_cast<uint8_t*>(pageAlloc(streamSize)) : nullptr;
    if (kept) std::memcpy(kept, buffer, streamSize);
    pageFree(buffer);
    if (!kept) {
        if (encoded && outOfMemory) *outOfMemory = true;
        return false;
    }
    *stream = kept;
    *size = streamSize;
    return true;
}

// ---------------------------------------------------------------- the index

bool (*g_cacheStepHook)(CacheStep) = nullptr;

namespace {

// A crash simulated by the tests at this step: stop, leave everything as it is.
bool survives(CacheStep step) { return !g_cacheStepHook || g_cacheStepHook(step); }

// Header checks shared by every reader: the mark, the count's bound, and how many complete
// records follow in fileSize bytes.
IndexState checkIndexHeader(const uint8_t* header, uint64_t fileSize, uint32_t& complete, bool& truncated) {
    complete = 0;
    truncated = false;
    if (fileSize < kCacheHeaderSize || readLe32(header) != kCacheFormatMark) return IndexState::Damaged;
    const uint32_t count = readLe32(header + 4);
    if (count > kCacheMaxCount) return IndexState::TooLarge;
    const uint64_t present = (fileSize - kCacheHeaderSize) / kIndexRecordSize;
    truncated = present < count;
    complete = truncated ? uint32_t(present) : count;
    return IndexState::Read;
}

void setRecord(uint8_t* record, const std::string& folderBytes, uint32_t number, int32_t w, int32_t h) {
    std::memset(record, 0, kIndexRecordSize);
    std::memcpy(record, folderBytes.data(), folderBytes.size());
    writeLe32(record + kIndexNumberOffset, number);
    writeLe32(record + kIndexCellWidthOffset, uint32_t(w));
    writeLe32(record + kIndexCellHeightOffset, uint32_t(h));
}

std::atomic<uint32_t> g_asideSerial{0};

// A name of its own in the cache folder for each file written aside, so that two panes
// writing at once never share one. Files left by a crash end in ".new"; compaction
// removes them.
std::wstring asideDataPath(const CacheLocation& location) {
    return joinPath(location.folder, L"write" + std::to_wstring(g_asideSerial.fetch_add(1)) + L".new");
}

void ensureCacheFolder(const CacheLocation& location) {
    if (!isDirectory(location.folder.c_str())) createDirectoryAt(location.folder.c_str());
}

}  // namespace

int64_t CacheIndex::find(const std::wstring& folderPath) const {
    const std::string wanted = utf16leBytes(folderPath);
    for (uint32_t i = 0; i < count(); ++i)
        if (nameEquals(record(i), wanted)) return i;
    return -1;
}

uint32_t CacheIndex::freeNumber(const std::vector<uint32_t>& alsoTaken) const {
    const size_t n = size_t(count()) + alsoTaken.size();
    std::vector<bool> used(n + 1, false);
    const auto take = [&](uint32_t k) {
        if (k >= kFirstDataFileNumber && k - kFirstDataFileNumber <= n) used[k - kFirstDataFileNumber] = true;
    };
    for (uint32_t i = 0; i < count(); ++i) take(number(i));
    for (uint32_t k : alsoTaken) take(k);
    uint32_t k = 0;
    while (used[k]) ++k;
    return kFirstDataFileNumber + k;
}

IndexState parseCacheIndex(const uint8_t* bytes, size_t size, CacheIndex& index, bool* truncated) {
    index.records.clear();
    bool cut = false;
    uint32_t complete = 0;
    const IndexState state = bytes ? checkIndexHeader(bytes, size, complete, cut) : IndexState::Damaged;
    if (truncated) *truncated = cut;
    if (state != IndexState::Read) return state;
    try {
        index.records.assign(bytes + kCacheHeaderSize, bytes + kCacheHeaderSize + size_t(complete) * kIndexRecordSize);
    } catch (const std::bad_alloc&) {
        return IndexState::Unreadable;
    }
    return IndexState::Read;
}

IndexState readCacheIndex(const CacheLocation& location, CacheIndex& index, bool* truncated) {
    index.records.clear();
    if (truncated) *truncated = false;
    const std::wstring path = cacheIndexPath(location);
    if (!pathExists(path.c_str())) return IndexState::Missing;
    BinaryFile file;
    if (!file.open(path.c_str(), BinaryFile::ReadOnly)) return IndexState::Unreadable;
    const uint64_t size = file.size();
    uint8_t header[kCacheHeaderSize] = {};
    if (size >= kCacheHeaderSize && !file.read(header, sizeof header)) return IndexState::Unreadable;
    bool cut = false;
    uint32_t complete = 0;
    const IndexState state = checkIndexHeader(header, size, complete, cut);
    if (truncated) *truncated = cut;
    if (state != IndexState::Read) return state;
    try {
        index.records.resize(size_t(complete) * kIndexRecordSize);
    } catch (const std::bad_alloc&) {
        return IndexState::Unreadable;
    }
    if (complete && !file.read(index.records.data(), index.records.size())) {
        index.records.clear();
        return IndexState::Unreadable;
    }
    return IndexState::Read;
}

bool writeCacheIndex(const CacheLocation& location, const CacheIndex& index) {
    ensureCacheFolder(location);
    const std::wstring path = cacheIndexPath(location);
    const std::wstring aside = path + L".new";
    uint8_t header[kCacheHeaderSize];
    writeLe32(header, kCacheFormatMark);
    writeLe32(header + 4, index.count());
    {
        BinaryFile file;
        if (!file.open(aside.c_str(), BinaryFile::CreateTruncate)) return false;
        if (!file.write(header, sizeof header) ||
            (!index.records.empty() && !file.write(index.records.data(), index.records.size()))) {
            file.close();
            deleteFileAt(aside.c_str());
            return false;
        }
    }
    if (!survives(CacheStep::IndexAside)) return false;
    if (!replaceFileWith(aside.c_str(), path.c_str())) {
        deleteFileAt(aside.c_str());
        return false;
    }
    return survives(CacheStep::IndexInPlace);
}

bool folderDataPath(const CacheLocation& location, const std::wstring& folderPath, std::wstring& dataPath) {
    CacheIndex index;
    const IndexState state = readCacheIndex(location, index);
    if (state == IndexState::TooLarge || state == IndexState::Unreadable) return false;
    const int64_t i = index.find(folderPath);
    dataPath = cacheDataPath(location, i >= 0 ? index.number(uint32_t(i)) : index.freeNumber());
    return true;
}

bool optimiseCacheIndex(const CacheLocation& location) {
    CacheIndex index;
    bool truncated = false;
    if (readCacheIndex(location, index, &truncated) != IndexState::Read || truncated) return false;
    CacheIndex kept;
    std::vector<uint32_t> dropped;
    try {
        kept.records.reserve(index.records.size());
        for (uint32_t i = 0; i < index.count(); ++i) {
            const uint8_t* r = index.record(i);
            const std::wstring folder = index.folder(i);
            if (nameUnits(r) > 0 && isDirectory(folder.c_str()))
                kept.records.insert(kept.records.end(), r, r + kIndexRecordSize);
            else
                dropped.push_back(index.number(i));
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (!writeCacheIndex(location, kept)) return false;
    for (uint32_t number : dropped) deleteFileAt(cacheDataPath(location, number).c_str());
    // Files written aside by writes that never finished (the program ended in them).
    std::vector<DirectoryEntry> leftovers;
    listDirectory(location.folder.c_str(), L"*.new", leftovers);
    for (const DirectoryEntry& e : leftovers) {
        if (!(e.attributes & kAttributeDirectory)) deleteFileAt(joinPath(location.folder, e.name).c_str());
    }
    return true;
}

bool deleteFolderRecords(const CacheLocation& location, const std::vector<CacheRecordKey>& doomed, CacheIndex& index,
                         int* dataFilesNotDeleted) {
    if (dataFilesNotDeleted) *dataFilesNotDeleted = 0;
    CacheIndex fresh;
    if (readCacheIndex(location, fresh) != IndexState::Read) return false;
    CacheIndex kept;
    std::vector<uint32_t> removed;
    try {
        for (uint32_t i = 0; i < fresh.count(); ++i) {
            bool drop = false;
            for (const CacheRecordKey& key : doomed) {
                if (key.number == fresh.number(i) && key.folder == fresh.folder(i)) drop = true;
            }
            if (drop)
                removed.push_back(fresh.number(i));
            else
                kept.records.insert(kept.records.end(), fresh.record(i), fresh.record(i) + kIndexRecordSize);
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (kept.count() == 0) {
        if (!deleteFileAt(cacheIndexPath(location).c_str())) return false;
    } else if (removed.empty()) {
        // Nothing of it is left in the index (a record may be gone already): nothing to write.
    } else if (!writeCacheIndex(location, kept)) {
        return false;
    }
    // A ticked record that the index no longer holds still has its data file deleted: its
    // number may belong to nothing now, and no record points at the file.
    for (const CacheRecordKey& key : doomed) {
        bool stillListed = false;
        for (uint32_t i = 0; i < kept.count(); ++i) stillListed = stillListed || kept.number(i) == key.number;
        if (stillListed) continue;
        if (!deleteFileAt(cacheDataPath(location, key.number).c_str()) && dataFilesNotDeleted) ++*dataFilesNotDeleted;
    }
    index = std::move(kept);
    return true;
}

// ---------------------------------------------------------------- writing

bool prepareFolderData(const CacheLocation& location, const CacheItemView* items, size_t count,
                       PreparedFolderData& prepared, const std::function<bool()>& proceed,
                       std::vector<uint32_t>* recordOf) {
    prepared = PreparedFolderData{};
    if (recordOf) recordOf->assign(count, 0);
    ensureCacheFolder(location);
    const std::wstring aside = asideDataPath(location);
    BinaryFile file;
    if (!file.open(aside.c_str(), BinaryFile::CreateTruncate)) return false;
    auto giveUp = [&] {
        file.close();
        deleteFileAt(aside.c_str());
        return false;
    };

    // The header goes last, with the number of records actually written.
    uint8_t zeros[kCacheHeaderSize] = {};
    if (!file.write(zeros, sizeof zeros)) return giveUp();
    uint64_t at = kCacheHeaderSize;
    uint32_t records = 0;
    std::vector<uint8_t> buffer, streamCopy;
    for (size_t k = 0; k < count; ++k) {
        if (proceed && !proceed()) return giveUp();
        const CacheItemView& item = items[k];
        if (!item.name || item.thumbWidth <= 0 || item.thumbHeight <= 0) continue;
        const uint64_t raw = uint64_t(rowStride24(item.thumbWidth)) * uint64_t(item.thumbHeight);
        if (raw > 0x7FFFFFFFu - kDataRecordHeaderSize) continue;
        // The stream made with the thumbnail, the record it came from, or (tools, tests) the
        // pixels compressed here.
        const FolderCache* table = item.stream ? nullptr : item.table;
        const uint32_t fromRecord = table && item.tableRecord > 0 && item.tableRecord <= table->count() ? item.tableRecord : 0;
        if (!item.stream && !fromRecord && !item.pixels) continue;
        uint32_t streamSize = item.stream ? item.streamSize : fromRecord ? table->recordStreamSize(fromRecord - 1) : uint32_t(raw);
        if (item.stream && (streamSize == 0 || streamSize > raw)) continue;
        try {
            if (buffer.size() < kDataRecordHeaderSize + size_t(streamSize))
                buffer.resize(kDataRecordHeaderSize + size_t(streamSize));
        } catch (const std::bad_alloc&) {
            continue;
        }
        uint8_t* header = buffer.data();
        std::memset(header, 0, kDataRecordHeaderSize);
        if (!encodeCacheName(item.name, header)) continue;
        if (item.stream) {
            std::memcpy(header + kDataRecordHeaderSize, item.stream, streamSize);
        } else if (fromRecord) {
            if (!table->copyRecordStream(fromRecord - 1, streamCopy) || streamCopy.size() != streamSize) continue;
            if (streamSize) std::memcpy(header + kDataRecordHeaderSize, streamCopy.data(), streamSize);
        } else {
            DepthConversion conversion;
            conversion.width = item.thumbWidth;
            conversion.height = item.thumbHeight;
            conversion.sourceDepth = 24;
            conversion.targetDepth = 24;
            if (!encodeJpegThumbnail(header + kDataRecordHeaderSize, &streamSize, item.pixels, conversion)) continue;
        }
        encodeFacts(item.facts, header + kDataFactsOffset);
        writeLe32(header + kDataThumbWidthOffset, uint32_t(item.thumbWidth));
        writeLe32(header + kDataThumbHeightOffset, uint32_t(item.thumbHeight));
        writeLe32(header + kDataStreamSizeOffset, streamSize);
        const size_t recordSize = kDataRecordHeaderSize + streamSize;
        // A failed write is not reported, but it must not leave half a record behind.
        if (file.write(header, recordSize)) {
            at += recordSize;
            ++records;
            if (recordOf) (*recordOf)[k] = records;
            if (records == 1 && !survives(CacheStep::DataPartlyAside)) return false;
        } else {
            file.seek(at);
        }
    }
    uint8_t head[kCacheHeaderSize];
    writeLe32(head, kCacheFormatMark);
    writeLe32(head + 4, records);
    if (!file.seek(at) || !file.truncateHere() || !file.seek(0) || !file.write(head, sizeof head)) return giveUp();
    file.close();
    if (!survives(CacheStep::DataAside)) return false;
    prepared.asidePath = aside;
    prepared.records = records;
    return true;
}

void removeUnlistedDataFile(const CacheLocation& location, const std::wstring& dataPath) {
    CacheIndex index;
    const IndexState state = readCacheIndex(location, index);
    if (state != IndexState::Read && state != IndexState::Missing) return;
    for (uint32_t i = 0; i < index.count(); ++i)
        if (cacheDataPath(location, index.number(i)) == dataPath) return;
    if (pathExists(dataPath.c_str())) deleteFileAt(dataPath.c_str());
}

void discardFolderData(PreparedFolderData& prepared) {
    if (!prepared.asidePath.empty()) deleteFileAt(prepared.asidePath.c_str());
    prepared = PreparedFolderData{};
}

bool commitFolderData(const CacheLocation& location, const std::wstring& folderPath, PreparedFolderData& prepared) {
    const std::string folderBytes = utf16leBytes(folderPath);
    CacheIndex index;
    const IndexState state = prepared.asidePath.empty() || folderBytes.size() > kCacheNameMaxUnits * 2
                                 ? IndexState::Unreadable
                                 : readCacheIndex(location, index);
    if (state == IndexState::TooLarge || state == IndexState::Unreadable) {
        discardFolderData(prepared);
        return false;
    }
    // A missing, short or wrongly marked index is replaced by one holding only this folder.
    const int64_t found = index.find(folderPath);
    const uint32_t oldNumber = found >= 0 ? index.number(uint32_t(found)) : 0;
    uint32_t number = found >= 0 ? oldNumber : index.freeNumber();

    // The data file first: until the index says otherwise, its record keeps the old cell
    // size, which at worst makes the next visit refresh thumbnails that are already right.
    // A data file that the other pane is reading (mapped) cannot be replaced; the new one
    // then takes a free number, and the reader keeps the old file until it lets go.
    std::vector<uint32_t> tried;
    bool placed = replaceFileWith(prepared.asidePath.c_str(), cacheDataPath(location, number).c_str());
    for (int attempt = 0; !placed && attempt < 3; ++attempt) {
        tried.push_back(number);
        number = index.freeNumber(tried);
        placed = replaceFileWith(prepared.asidePath.c_str(), cacheDataPath(location, number).c_str());
    }
    if (!placed) {
        discardFolderData(prepared);
        return false;
    }
    prepared = PreparedFolderData{};
    if (!survives(CacheStep::DataInPlace)) return false;

    if (found >= 0) {
        if (number == oldNumber && index.cellWidth(uint32_t(found)) == location.cellWidth &&
            index.cellHeight(uint32_t(found)) == location.cellHeight)
            return true;
        uint8_t* r = index.records.data() + size_t(found) * kIndexRecordSize;
        writeLe32(r + kIndexNumberOffset, number);
        writeLe32(r + kIndexCellWidthOffset, uint32_t(location.cellWidth));
        writeLe32(r + kIndexCellHeightOffset, uint32_t(location.cellHeight));
        if (!writeCacheIndex(location, index)) return false;
        // The old file belongs to no record now; while it is still being read it stays, and
        // a later folder may take its number.
        if (number != oldNumber) deleteFileAt(cacheDataPath(location, oldNumber).c_str());
        return true;
    } else {
        uint8_t record[kIndexRecordSize];
        setRecord(record, folderBytes, number, location.cellWidth, location.cellHeight);
        try {
            index.records.insert(index.records.end(), record, record + kIndexRecordSize);
        } catch (const std::bad_alloc&) {
            return false;
        }
    }
    return writeCacheIndex(location, index);
}

bool writeFolderCache(const CacheLocation& location, const std::wstring& folderPath, const CacheItemView* items,
                      size_t count, uint32_t* written, const std::function<bool()>& proceed) {
    if (written) *written = 0;
    if (utf16leBytes(folderPath).size() > kCacheNameMaxUnits * 2) return false;
    // An index that could not take the folder is known before anything is encoded.
    CacheIndex index;
    const IndexState state = readCacheIndex(location, index);
    if (state == IndexState::TooLarge || state == IndexState::Unreadable) return false;
    PreparedFolderData prepared;
    if (!prepareFolderData(location, items, count, prepared, proceed)) return false;
    const uint32_t records = prepared.records;
    if (!commitFolderData(location, folderPath, prepared)) return false;
    if (written) *written = records;
    return true;
}
