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
// Every function runs while the caller holds the image lock; nothing is kept in memory
// between calls except the table that openFolderCache hands out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/byte_order.h"
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

// An opened data file: the whole file after its header in one block, and where each
// record starts. Move-only; releases its block itself.
class FolderCache {
public:
    FolderCache() = default;
    ~FolderCache() { release(); }
    FolderCache(FolderCache&& other) noexcept;
    FolderCache& operator=(FolderCache&& other) noexcept;
    FolderCache(const FolderCache&) = delete;
    FolderCache& operator=(const FolderCache&) = delete;

    bool isOpen() const { return block_ != nullptr; }
    uint32_t count() const { return count_; }
    void release();

    // Record i's 572-byte header and its stream (valid while the table is open).
    const uint8_t* recordHeader(uint32_t i) const { return data_ + offsets_[i]; }
    const uint8_t* recordStream(uint32_t i) const { return data_ + offsets_[i] + kDataRecordHeaderSize; }
    uint32_t recordStreamSize(uint32_t i) const { return readLe32(recordHeader(i) + kDataStreamSizeOffset); }
    // The first record whose name equals name exactly (UTF-16 units), or -1.
    int64_t find(const std::wstring& name) const;

    // Takes over a data file's contents after its 8-byte header; false (table left closed)
    // when the records do not tile the contents exactly.
    bool adopt(uint8_t* block, size_t size, uint32_t count);

private:
    uint8_t* block_ = nullptr;      // page block: offsets, then the data
    const uint8_t* data_ = nullptr;
    const uint32_t* offsets_ = nullptr;
    size_t size_ = 0;
    uint32_t count_ = 0;
    std::vector<uint32_t> buckets_;  // name hash -> record index + 1 (first of equal names)
};

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

// ---------------------------------------------------------------- writing

// Finds or adds the folder's index record (with the current cell size) and returns the
// path of its data file. A missing index, or one shorter than its header or with a wrong
// mark, is replaced by a new index holding only this folder. Fails for an index with
// more than 1,000,000 records, or when the index cannot be opened or written.
bool registerFolder(const CacheLocation& location, const std::wstring& folderPath, std::wstring& dataPath);

// One thumbnail to be stored: 24-bit bottom-up pixels, rows padded to 4 bytes.
struct CacheItemView {
    const wchar_t* name = nullptr;  // file name without its folder
    FileFacts facts;
    int32_t thumbWidth = 0;
    int32_t thumbHeight = 0;
    const uint8_t* pixels = nullptr;
};

// Registers the folder and rewrites its data file whole from items, in order: each
// thumbnail compressed again (quality 80, no chroma subsampling) into a buffer of its raw
// size; an item that cannot be stored (no pixels, name too long, stream larger than the
// raw size) is left out. Fails only when the folder cannot be registered or the data file
// cannot be created. *written receives the number of records stored. The records are
// written beside the data file and replace it only once complete, so a failure leaves the
// old data file (or none) in place. proceed, when given, is asked before each record; when
// it returns false the write is given up (false) and the old data file stays.
bool writeFolderCache(const CacheLocation& location, const std::wstring& folderPath, const CacheItemView* items,
                      size_t count, uint32_t* written = nullptr, const std::function<bool()>& proceed = {});
