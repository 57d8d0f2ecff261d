// The two structure walks the metadata readers and the comment writer share: JPEG markers
// up to the start of the scan, and PNG chunks after IHDR up to IEND. Both work on a whole
// file held in memory (normally a read-only mapping) and never read outside it; positions
// are byte offsets from the start of the file, computed in 64 bits so that hostile lengths
// cannot wrap in the 32-bit build.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/byte_order.h"

namespace meta {

constexpr uint8_t kMarkerSoi = 0xD8;
constexpr uint8_t kMarkerEoi = 0xD9;
constexpr uint8_t kMarkerSos = 0xDA;
constexpr uint8_t kMarkerApp0 = 0xE0;
constexpr uint8_t kMarkerApp1 = 0xE1;
constexpr uint8_t kMarkerCom = 0xFE;

enum class WalkStep {
    Segment,   // a marker (with its segment, when it has one) was read
    End,       // SOS or EOI (JPEG) / IEND (PNG): the header area is over
    Error,     // a length or a segment outside the file, or the file ran out: read error
};

struct JpegSegment {
    uint8_t marker = 0;
    size_t start = 0;      // the 0xFF byte where the search for this marker stopped (before any fill bytes)
    size_t dataStart = 0;  // first byte after the length field (after the marker for SOI)
    size_t end = 0;        // first byte after the segment
    bool hasLength = false;
};

// Walks the markers of a JPEG file from its first byte: skip to the next 0xFF, skip 0xFF
// fill bytes, the next byte is the marker. SOI stands alone; SOS and EOI end the walk;
// every other marker carries a big-endian length that counts itself (2 or more).
class JpegMarkerWalker {
public:
    JpegMarkerWalker(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    // Comment reading passes over a COM whose length field is 0 like a marker without
    // length; every other walk treats such a length as a read error.
    void passZeroLengthComments(bool on) { passZeroLengthCom_ = on; }
    WalkStep next(JpegSegment& segment);
    // For End: the marker that ended the walk and where its 0xFF was found.
    uint8_t endMarker() const { return endMarker_; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
    bool passZeroLengthCom_ = false;
    uint8_t endMarker_ = 0;
};

constexpr size_t kPngFirstChunk = 33;  // 8-byte signature + 25-byte IHDR chunk

struct PngChunk {
    size_t start = 0;      // the length field
    uint32_t length = 0;
    const uint8_t* type = nullptr;  // 4 bytes
    size_t dataStart = 0;
    size_t end = 0;        // first byte after the CRC
    bool isType(const char* t) const {
        return type[0] == uint8_t(t[0]) && type[1] == uint8_t(t[1]) && type[2] == uint8_t(t[2]) && type[3] == uint8_t(t[3]);
    }
};

// Walks the chunks of a PNG file from byte 33 (IHDR is not looked at). A length with its
// top bit set, a chunk (with type and CRC) that does not fit in the file, or running out
// of file before IEND is a read error. IEND ends the walk; its start is reported in
// segment-like fashion through iendStart().
class PngChunkWalker {
public:
    PngChunkWalker(const uint8_t* data, size_t size) : data_(data), size_(size), pos_(kPngFirstChunk) {}
    WalkStep next(PngChunk& chunk);
    size_t iendStart() const { return iendStart_; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_;
    size_t iendStart_ = 0;
};

// A tEXt chunk qualifies when its data is at least 2 bytes, its CRC (over type and data)
// matches and its first data byte is not 0.
bool pngTextQualifies(const uint8_t* file, const PngChunk& chunk);

// True when a qualifying tEXt chunk's keyword (the bytes before its first 0, looked for in
// the first 80 data bytes) is exactly "Comment". Sets textStart to the byte after that 0.
bool pngIsCommentChunk(const uint8_t* file, const PngChunk& chunk, size_t& textStart);

}  // namespace meta
