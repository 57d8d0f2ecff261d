#include "image/metadata_walk.h"

#include <cstring>

#include "base/byte_order.h"
#include "image/decoded_image.h"

namespace meta {

WalkStep JpegMarkerWalker::next(JpegSegment& segment) {
    // Skip to the next 0xFF; whatever lies between segments is not ours to judge.
    while (pos_ < size_ && data_[pos_] != 0xFF) ++pos_;
    if (pos_ >= size_) return WalkStep::Error;
    const size_t start = pos_;
    while (pos_ < size_ && data_[pos_] == 0xFF) ++pos_;
    if (pos_ >= size_) return WalkStep::Error;
    const uint8_t marker = data_[pos_++];

    segment = JpegSegment{};
    segment.marker = marker;
    segment.start = start;
    if (marker == kMarkerSoi) {
        segment.dataStart = segment.end = pos_;
        return WalkStep::Segment;
    }
    if (marker == kMarkerEoi || marker == kMarkerSos) {
        endMarker_ = marker;
        segment.dataStart = segment.end = start;
        return WalkStep::End;
    }
    if (size_ - pos_ < 2) return WalkStep::Error;
    const uint16_t length = readBe16(data_ + pos_);
    if (length == 0 && marker == kMarkerCom && passZeroLengthCom_) {
        // Treated like a marker without a length: the walk goes on right after it.
        segment.dataStart = segment.end = pos_;
        return WalkStep::Segment;
    }
    if (length < 2 || size_ - pos_ < length) return WalkStep::Error;
    segment.hasLength = true;
    segment.dataStart = pos_ + 2;
    segment.end = pos_ + length;
    pos_ = segment.end;
    return WalkStep::Segment;
}

WalkStep PngChunkWalker::next(PngChunk& chunk) {
    if (pos_ > size_ || size_ - pos_ < 4) return WalkStep::Error;
    const uint32_t length = readBe32(data_ + pos_);
    if (length & 0x80000000u) return WalkStep::Error;
    // length field, type, data and CRC must all lie inside the file
    if (uint64_t(size_ - pos_) < uint64_t(length) + 12) return WalkStep::Error;
    chunk = PngChunk{};
    chunk.start = pos_;
    chunk.length = length;
    chunk.type = data_ + pos_ + 4;
    chunk.dataStart = pos_ + 8;
    chunk.end = pos_ + 12 + size_t(length);
    if (chunk.isType("IEND")) {
        iendStart_ = pos_;
        return WalkStep::End;
    }
    pos_ = chunk.end;
    return WalkStep::Segment;
}

bool pngTextQualifies(const uint8_t* file, const PngChunk& chunk) {
    if (!chunk.isType("tEXt") || chunk.length < 2) return false;
    const uint8_t* data = file + chunk.dataStart;
    if (data[0] == 0) return false;
    const uint32_t stored = readBe32(data + chunk.length);
    const uint32_t computed = crc32Of(chunk.type, size_t(chunk.length) + 4);  // type and data are contiguous
    return stored == computed;
}

bool pngIsCommentChunk(const uint8_t* file, const PngChunk& chunk, size_t& textStart) {
    static const char kKeyword[8] = {'C', 'o', 'm', 'm', 'e', 'n', 't', 0};
    if (chunk.length < 8 || !pngTextQualifies(file, chunk)) return false;
    if (std::memcmp(file + chunk.dataStart, kKeyword, 8) != 0) return false;
    textStart = chunk.dataStart + 8;
    return true;
}

}  // namespace meta
