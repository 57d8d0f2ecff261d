// The persistent thumbnail cache: "index.dat", which maps folder paths to numbered data
// files, and one data file per folder ("10000000.dat", ...) holding, for every shown file,
// the facts the text area needs and the thumbnail as a JPEG stream.
//
// Both files are little-endian and identical in both builds: an 8-byte header (format mark
// 0x00C80000, record count), then 532-byte index records (folder path as 260 UTF-16 units,
// data-file number, cell width, cell height) or data records (572-byte header: file name as
// 260 UTF-16 units, the 40-byte facts block, thumbnail width and height, stream size;
// then the stream). Names are stored as UTF-16 whatever wchar_t is natively; the bytes after
// a name's terminator are written as zeros.
//
// This module is the only code that reads or writes these files: the loads, the cache
// write, the exit-time compaction and the maintenance dialog all go through it. Its one
// rule for crash safety: a file is written aside and then put in place in one step, and the
// index changes only after the data file it describes is in place. So whatever step a write
// dies in, every index record names either nothing or a complete data file, and a record's
// cell size never claims thumbnails larger than its data file holds.
//
// The functions that touch "index.dat" or put a data file in place run while the caller
// holds the image lock; building a data file aside (prepareFolderData) needs no lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/byte_order.h"
#include "base/platform.h"
#include "base/platform_threads.h"
#include "image/decoded_image.h"

// ---------------------------------------------------------------- file format

constexpr uint32_t kCacheFormatMark = 0x00C80000u;
constexpr uint32_t kCacheMaxCount = 1000000u;  // larger indexes are neither read nor updated
constexpr size_t kCacheHeaderSize = 8;
constexpr size_t kCacheNameBytes = 520;      // 260 UTF-16 units
constexpr size_t kCacheNameMaxUnits = 259;   // plus the terminator
constexpr size_t kIndexRecordSize = 532;
constexpr size_t kIndexNumberOffset = 520;
constexpr size_t kIndexCellWidthOffset = 524;
constexpr size_t kIndexCellHeightOffset = 528;
constexpr size_t kDataRecordHeaderSize = 572;
constexpr size_t kDataFactsOffset = 520;     // FileFacts, 40 bytes
constexpr size_t kDataThumbWidthOffset = 560;
constexpr size_t kDataThumbHeightOffset = 564;
constexpr size_t kDataStreamSizeOffset = 568;
constexpr uint32_t kFirstDataFileNumber = 10000000u;


// Text <-> a 520-byte name field. encodeCacheName zero-fills the field and fails (field
// all zero) when the text needs more than 259 UTF-16 units. decodeCacheName stops at the
// terminator or the field's end.
bool encodeCacheName(const std::wstring& text, uint8_t* field);
bool encodeCacheName(const wchar_t* text, uint8_t* field);
std::wstring decodeCacheName(const uint8_t* field);
// The UTF-16LE bytes of text without a terminator (surrogate pairs where wchar_t is 32-bit).
std::string utf16leBytes(const std::wstring& text);
std::string utf16leBytes(const wchar_t* text);

// A data record's file facts (offsets 520 to 559), each field little-endian in FileFacts'
// order.
void encodeFacts(const FileFacts& facts, uint8_t* out40);
FileFacts decodeFacts(const uint8_t* in40);

// Where the cache lives and the current cell ("ThImgW" x "ThImgH").
struct CacheLocation {
    std::wstring folder;  // the cache folder (beside the settings file); trailing separator optional
    int32_t cellWidth = 148;
    int32_t cellHeight = 111;
};
std::wstring cacheIndexPath(const CacheLocation& location);
std::wstring cacheDataPath(const CacheLocation& location, uint32_t number);

// ---------------------------------------------------------------- reading

struct FolderDataLookup {
    std::wstring dataPath;       // empty: no data
    bool cacheTooLarge = false;  // made for a larger cell (in either dimension)
    bool cacheTooSmall = false;  // made for a smaller cell (in either dimension)
};
// Looks the folder up in the index (exact, case-sensitive match of the whole path).
// Returns true when the index names a data file for it and that file exists.
bool findFolderData(const CacheLocation& location, const std::wstring& folderPath, FolderDataLookup& lookup);

// An opened data file: where each record starts, and a name lookup. A file on disk is read
// through a few mapped views of part of it (never one block as large as the file, which a
// fragmented 32-bit address space may not have); bytes handed in are copied. The decoding
// threads of a load and the pane share one table: find and the copies may run on several
// threads at once.
class FolderCache {
public:
    FolderCache() = default;
    ~FolderCache() { release(); }
    FolderCache(const FolderCache&) = delete;
    FolderCache& operator=(const FolderCache&) = delete;

    bool isOpen() const { return open_; }
    uint32_t count() const { return open_ ? uint32_t(starts_.size() - 1) : 0; }
    void release();

    // Record i whole: its 572-byte header followed by its stream; nullptr when the part of
    // the file cannot be mapped. The address stays valid until three further records lying
    // outside its view have been asked for, or the table is released, so only a table used
    // by one thread may hand out addresses; threads sharing a table use copyRecord.
    const uint8_t* record(uint32_t i) const;
    // Record i whole, copied into out while no other thread can move the views; false when
    // the part of the file cannot be mapped. Safe from any number of threads at once.
    bool copyRecord(uint32_t i, std::vector<uint8_t>& out) const;
    const uint8_t* recordHeader(uint32_t i) const { return record(i); }
    const uint8_t* recordStream(uint32_t i) const;
    uint32_t recordStreamSize(uint32_t i) const {
        return uint32_t(starts_[i + 1] - starts_[i] - kDataRecordHeaderSize);
    }
    // The first record whose name equals name exactly (UTF-16 units), or -1.
    int64_t find(const std::wstring& name) const;

    // Thread-safe copies, for a table that a pane keeps while the decoding threads and the
    // pane thread read it at once: record i's header (572 bytes) into header, or its stream
    // into stream. False when i is no record or its part of the file cannot be mapped.
    bool copyRecordHeader(uint32_t i, uint8_t* header) const;
    bool copyRecordStream(uint32_t i, std::vector<uint8_t>& stream) const;
    // Closes the file until the next copy needs it (then opened again, and used only when its
    // size and last-write time are still those it had): a table kept for as long as a folder
    // is shown must not keep the maintenance dialog from deleting the file, nor a cache write
    // from replacing it. Any thread; for a table of a file only.
    void letGo() const;

    // How many views of the file have been mapped since it was opened (the walk and every
    // lookup after it): a walk in file order maps each part of the file once.
    uint64_t viewsMapped() const { return viewsMapped_; }

    // A data file on disk, or one's bytes (header included). False, table closed, when the
    // header is wrong or the records do not tile the contents exactly.
    bool openFile(const std::wstring& path);
    bool openBytes(const uint8_t* bytes, size_t size);

private:
    struct View {
        uint64_t start = 0;  // file offset of data
        size_t size = 0;
        const uint8_t* data = nullptr;
        void* base = nullptr;
        size_t length = 0;
        uint64_t lastUse = 0;
    };
    static constexpr int kViews = 4;

    bool walk(uint64_t fileSize, uint32_t count);
    const uint8_t* bytesAt(uint64_t offset, size_t size) const;
    void dropViews() const;

    bool open_ = false;
    uint8_t* copy_ = nullptr;          // bytes handed in (page block), or
    mutable FileViews file_;           // the file, mapped in views
    mutable View views_[kViews];
    mutable uint64_t useClock_ = 0;
    mutable uint64_t viewsMapped_ = 0;
    std::vector<uint64_t> starts_;     // file offset of every record, then the file's end
    std::vector<uint32_t> buckets_;    // name hash -> record index + 1 (first of equal names)
    std::vector<uint32_t> hashes_;     // every record's name hash, so a probe reads only its own name
    mutable WorkerLock copyLock_;      // the views, the clock and the closed file, for find and the copies
    std::wstring path_;                // the file's, with its size and time when opened
    FileTime time_;
    mutable bool letGo_ = false;
};

// How many bytes a view of a data file covers at least (default 16 MiB; rounded up to the
// system's granularity). Tests make it small so that records straddle views.
void setCacheViewBytes(size_t bytes);

// Opens the folder's data file. cacheTooLarge / cacheTooSmall as in FolderDataLookup (set
// even when the data file then proves unusable). Returns false and leaves table closed
// when there is no usable cache.
bool openFolderCache(const CacheLocation& location, const std::wstring& folderPath, FolderCache& table,
                     bool& cacheTooLarge, bool& cacheTooSmall);

// The same from a data file's bytes already in memory (header included); copies them.
bool readFolderCacheBytes(const uint8_t* bytes, size_t size, FolderCache& table);

// Takes fileName's thumbnail from the table when its record is current (the file's
// last-write time equals the stored one) and its stream decodes to the stored size:
// fills info as the dispatch would (facts from the record, width/height from the decoded
// pixels, current = decoder.record, whose pixels the caller then owns), decoding with the
// caller's context. The stream is decoded at reduced scale aimed at the cell when it is
// much larger.
bool takeFromCache(const FolderCache& table, const std::wstring& fileName, const std::wstring& filePath,
                   int32_t cellWidth, int32_t cellHeight, ImageDecoder& decoder, LoadInfo& info);

// What a current record of the table says of fileName without decoding its stream.
struct CurrentRecord {
    uint32_t index = 0;  // record index in the table
    FileFacts facts;
    int32_t thumbWidth = 0;  // size of the stored thumbnail
    int32_t thumbHeight = 0;
};
// The first records of a folder's data file, read in file order without opening the whole
// file (which walks every record): what a warm visit can show before the folder is listed.
// The file must be the one the index names for the folder at the location's cell size
// exactly; reading stops at the first record that is not whole and well formed.
struct LeadingRecord {
    std::wstring name;
    FileFacts facts;
    int32_t thumbWidth = 0;
    int32_t thumbHeight = 0;
    std::vector<uint8_t> stream;
};
// At most `most` records, and no more once their streams pass streamBytes; recordCount is the
// file's own count of records.
bool readLeadingRecords(const CacheLocation& location, const std::wstring& folderPath, size_t most,
                        size_t streamBytes, std::vector<LeadingRecord>& records, uint32_t& recordCount);
// The same from a data file's bytes (its head, or the whole file).
bool parseLeadingRecords(const uint8_t* bytes, size_t size, size_t most, size_t streamBytes,
                         std::vector<LeadingRecord>& records, uint32_t& recordCount);

// The record of fileName when it is current (same lookup and last-write test as
// takeFromCache); reads only the record's header.
bool findCurrentRecord(const FolderCache& table, const std::wstring& fileName, const std::wstring& filePath,
                       CurrentRecord& out);
// The same against the file's last-write time as a folder listing just read it.
bool findCurrentRecord(const FolderCache& table, const std::wstring& fileName, const FileTime& lastWriteTime,
                       CurrentRecord& out);
// Whether takeFromCache and makeThumbnail would leave a stored thumbnail of this size as
// the stream decodes (no reduced-scale decode, no resampling): then the item can keep the
// record itself as its compressed thumbnail, and its pixels are that stream decoded.
bool storedThumbnailKeptAsIs(int32_t thumbWidth, int32_t thumbHeight, int32_t cellWidth, int32_t cellHeight,
                             bool cacheTooSmall);

// The stream the cache write stores for 24-bit bottom-up pixels: quality 80, no chroma
// subsampling, into at most the raw size (3 x width rounded up to 4, times height). On
// success *stream is a page block of *size bytes (the caller's). False when the stream would
// be larger than the raw size, the size is out of range, or there is no memory (*outOfMemory
// then set when given).
bool encodeThumbnailStream(const uint8_t* pixels, int32_t width, int32_t height, uint8_t** stream, uint32_t* size,
                           bool* outOfMemory = nullptr);

// Decodes a stored stream as takeFromCache does (reduced scale aimed at the cell when it is
// much larger; only a colour stream of the stored size counts): info's width, height and
// current (decoder.record, whose pixels the caller then owns) are set. *outOfMemory is set
// when the pixels could not be allocated.
bool decodeStoredStream(const uint8_t* stream, size_t size, int32_t storedWidth, int32_t storedHeight,
                        int32_t cellWidth, int32_t cellHeight, ImageDecoder& decoder, LoadInfo& info,
                        bool* outOfMemory = nullptr);

// ---------------------------------------------------------------- the index

// The records of an index as they stand, 532 bytes each, in the index's order.
struct CacheIndex {
    std::vector<uint8_t> records;

    uint32_t count() const { return uint32_t(records.size() / kIndexRecordSize); }
    const uint8_t* record(uint32_t i) const { return records.data() + size_t(i) * kIndexRecordSize; }
    std::wstring folder(uint32_t i) const { return decodeCacheName(record(i)); }
    uint32_t number(uint32_t i) const { return readLe32(record(i) + kIndexNumberOffset); }
    int32_t cellWidth(uint32_t i) const { return int32_t(readLe32(record(i) + kIndexCellWidthOffset)); }
    int32_t cellHeight(uint32_t i) const { return int32_t(readLe32(record(i) + kIndexCellHeightOffset)); }
    // The first record of the folder (exact, case-sensitive), or -1.
    int64_t find(const std::wstring& folderPath) const;
    // The smallest number from 10,000,000 up that no record uses (nor any of alsoTaken).
    uint32_t freeNumber(const std::vector<uint32_t>& alsoTaken = {}) const;
};

enum class IndexState {
    Read,        // records read (a count above what the file holds keeps the complete ones)
    Missing,     // no "index.dat"
    Damaged,     // shorter than its header, or a wrong format mark
    TooLarge,    // a count above 1,000,000
    Unreadable,  // cannot be opened or read, or no memory for the records
};

// The index from its bytes (a portable reader that takes no file). *truncated tells that
// the count claimed more records than the bytes hold.
IndexState parseCacheIndex(const uint8_t* bytes, size_t size, CacheIndex& index, bool* truncated = nullptr);
// The same from "index.dat".
IndexState readCacheIndex(const CacheLocation& location, CacheIndex& index, bool* truncated = nullptr);
// Writes index aside and puts it in place of "index.dat" (creating the cache folder when
// needed). False leaves "index.dat" as it was.
bool writeCacheIndex(const CacheLocation& location, const CacheIndex& index);

// Exit-time compaction: the records of folders that no longer exist (and records without
// a terminated path) leave the index, then their data files are deleted; the others keep
// their order. Also removes files left aside by writes that never finished. Gives up,
// index untouched, when the index is missing, damaged, claims more than 1,000,000 records
// or more than it holds, or cannot be read. True when it went through.
bool optimiseCacheIndex(const CacheLocation& location);

// The maintenance dialog's delete: reads the index afresh (a load may have added a record
// since it was listed), drops the records that have one of the numbers (and the same
// folder path) and puts the new index in place, deleting "index.dat" when no record is
// left; only then deletes the dropped records' data files. *index receives the records
// now in the index. Returns false when the index could not be read or replaced (nothing
// deleted then); *dataFilesNotDeleted counts data files that could not be deleted.
struct CacheRecordKey {
    uint32_t number;
    std::wstring folder;
};
bool deleteFolderRecords(const CacheLocation& location, const std::vector<CacheRecordKey>& doomed, CacheIndex& index,
                         int* dataFilesNotDeleted);

// Test hook: called after each step of a write; returning false stops the write right
// there, leaving the files exactly as a crash at that point would.
enum class CacheStep { DataPartlyAside, DataAside, DataInPlace, IndexAside, IndexInPlace };
extern bool (*g_cacheStepHook)(CacheStep step);

// ---------------------------------------------------------------- writing

// The data-file path the folder has, or would get if it were written now (its number is
// not reserved). False when the index cannot be read or is too large.
bool folderDataPath(const CacheLocation& location, const std::wstring& folderPath, std::wstring& dataPath);

// One thumbnail to be stored, by the first of these it has: the stream made when the
// thumbnail was made, the stream of a record of table (record index + 1), or 24-bit
// bottom-up pixels (rows padded to 4 bytes), which are then compressed.
struct CacheItemView {
    const wchar_t* name = nullptr;  // file name without its folder
    FileFacts facts;
    int32_t thumbWidth = 0;
    int32_t thumbHeight = 0;
    const uint8_t* stream = nullptr;
    uint32_t streamSize = 0;
    const FolderCache* table = nullptr;
    uint32_t tableRecord = 0;
    const uint8_t* pixels = nullptr;
};

// A folder's new data file, built aside in the cache folder until it is put in place.
struct PreparedFolderData {
    std::wstring asidePath;  // empty: nothing prepared
    uint32_t records = 0;    // records it holds
};

// Builds the data file of items, in order, aside: each item's stream as it is (an item with
// only pixels is compressed as encodeThumbnailStream does); an item that cannot be stored
// (nothing to store, name too long, stream larger than the raw size) is left out. Needs no
// lock and touches no file in use. proceed, when given, is asked before each record (on the
// calling thread); when it returns false the write is given up. False (nothing left
// behind) when given up or when the file cannot be written. recordOf, when given, receives
// for every item its record index + 1 in the new file (0: left out).
bool prepareFolderData(const CacheLocation& location, const CacheItemView* items, size_t count,
                       PreparedFolderData& prepared, const std::function<bool()>& proceed = {},
                       std::vector<uint32_t>* recordOf = nullptr);
// Under the image lock: puts the prepared file in place as the folder's data file, then
// records the folder with the current cell size in the index (adding it under the first
// free number, replacing a missing, short or wrongly marked index by one holding only this
// folder). When the folder's data file cannot be replaced because another load is reading
// it, the new one goes under the first free number and the record moves there. Fails, leaving the index as it was, when the index has more than 1,000,000
// records or cannot be read, or the data file cannot be replaced. The prepared file is
// used up either way.
bool commitFolderData(const CacheLocation& location, const std::wstring& folderPath, PreparedFolderData& prepared);
// Under the image lock: deletes the data file at dataPath when no index record names it
// (a file that was being read while its folder's new data went in under another number).
// A file still in use stays.
void removeUnlistedDataFile(const CacheLocation& location, const std::wstring& dataPath);
// Deletes a prepared file that will not be committed.
void discardFolderData(PreparedFolderData& prepared);

// Both in a row, the caller holding the image lock throughout (tools and tests).
// *written receives the number of records stored.
bool writeFolderCache(const CacheLocation& location, const std::wstring& folderPath, const CacheItemView* items,
                      size_t count, uint32_t* written = nullptr, const std::function<bool()>& proceed = {});
