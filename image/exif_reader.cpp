#include "image/exif_reader.h"

#include <cmath>
#include <cstring>

#include "base/byte_order.h"
#include "image/decoded_image.h"
#include "image/metadata_walk.h"

namespace {

constexpr uint16_t kTagMake = 0x010F;
constexpr uint16_t kTagModel = 0x0110;
constexpr uint16_t kTagExifIfdPointer = 0x8769;
constexpr uint16_t kTagExposureTime = 0x829A;
constexpr uint16_t kTagFNumber = 0x829D;
constexpr uint16_t kTagExposureProgram = 0x8822;
constexpr uint16_t kTagIsoSpeedRatings = 0x8827;
constexpr uint16_t kTagDateTimeOriginal = 0x9003;
constexpr uint16_t kTagShutterSpeedValue = 0x9201;
constexpr uint16_t kTagApertureValue = 0x9202;
constexpr uint16_t kTagExposureBiasValue = 0x9204;
constexpr uint16_t kTagMaxApertureValue = 0x9205;
constexpr uint16_t kTagMeteringMode = 0x9207;
constexpr uint16_t kTagFlash = 0x9209;
constexpr uint16_t kTagFocalLength = 0x920A;

constexpr size_t kEntrySize = 12;

// The TIFF structure inside the APP1 segment. Offsets in it count from the TIFF header and
// come straight from the file, so every position is computed in 64 bits and checked
// against the end of the file (not of the segment: offsets may legally point anywhere).
struct TiffView {
    const uint8_t* file;
    size_t size;
    size_t tiff;  // file offset of the TIFF header
    bool little;

    // True when n bytes at TIFF offset `offset` lie inside the file; sets pos to their file offset.
    bool locate(uint64_t offset, uint64_t n, size_t& pos) const {
        const uint64_t at = uint64_t(tiff) + offset;
        if (at > size || uint64_t(size) - at < n) return false;
        pos = size_t(at);
        return true;
    }
    bool fits(uint64_t pos, uint64_t n) const { return pos <= size && size - pos >= n; }
    uint16_t u16(size_t pos) const {
        const uint8_t* p = file + pos;
        return read16(little, p);
    }
    uint32_t u32(size_t pos) const {
        const uint8_t* p = file + pos;
        return read32(little, p);
    }
    // A 32-bit value at a TIFF offset, 0 when it lies outside the file.
    uint32_t u32AtOffset(uint64_t offset) const {
        size_t pos;
        return locate(offset, 4, pos) ? u32(pos) : 0;
    }
    void rational(uint32_t offset, uint32_t& numerator, uint32_t& denominator) const {
        numerator = u32AtOffset(offset);
        denominator = u32AtOffset(uint64_t(offset) + 4);
    }
};

struct Entry {
    uint16_t tag;
    uint32_t count;
    size_t valueField;  // file offset of the 4-byte value field
    uint32_t value;     // the value field read as a 32-bit value
};

Entry readEntry(const TiffView& view, size_t pos) {
    return Entry{view.u16(pos), view.u32(pos + 4), pos + 8, view.u32(pos + 8)};
}

// Make or Model: up to 64 bytes, in the value field when the count is 4 or less.
bool copyAscii(const TiffView& view, const Entry& entry, char (&target)[64]) {
    const size_t n = entry.count < 64 ? size_t(entry.count) : 64;
    size_t pos = entry.valueField;
    if (entry.count > 4) {
        if (!view.locate(entry.value, n, pos)) return false;
    } else if (!view.fits(pos, n)) {
        return false;
    }
    std::memcpy(target, view.file + pos, n);
    return true;
}

// 2^x when it fits a 32-bit unsigned value after truncation toward zero; -1 otherwise.
double powerOfTwoTruncated(double x) {
    if (!(x < 32.0)) return -1;
    return std::floor(std::pow(2.0, x));
}

bool readExifBlock(const TiffView& view, ExifSummary& s) {
    size_t pos;
    if (!view.locate(4, 4, pos)) return false;
    const uint32_t ifd0 = view.u32(pos);

    // IFD0: Make, Model, and the pointer to the Exif IFD, which ends this walk.
    size_t ifd;
    if (!view.locate(ifd0, 2, ifd)) return false;
    const uint16_t count0 = view.u16(ifd);
    uint32_t exifOffset = 0;
    for (uint32_t i = 0; i < count0; ++i) {
        const uint64_t at = uint64_t(ifd) + 2 + uint64_t(i) * kEntrySize;
        if (!view.fits(at, kEntrySize)) break;
        const Entry e = readEntry(view, size_t(at));
        if (e.tag == kTagMake) {
            if (!copyAscii(view, e, s.make)) return false;
        } else if (e.tag == kTagModel) {
            if (!copyAscii(view, e, s.model)) return false;
        } else if (e.tag == kTagExifIfdPointer) {
            exifOffset = e.value;
            break;
        }
    }
    if (exifOffset == 0) return false;

    if (!view.locate(exifOffset, 2, ifd)) return false;
    const uint16_t count = view.u16(ifd);
    bool met = false;
    bool apertureSeen = false;
    uint32_t apertureNumerator = 0, apertureDenominator = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const uint64_t at = uint64_t(ifd) + 2 + uint64_t(i) * kEntrySize;
        if (!view.fits(at, kEntrySize)) return false;
        const Entry e = readEntry(view, size_t(at));
        switch (e.tag) {
        case kTagExposureTime:
            if (s.exposureNumerator == 0) view.rational(e.value, s.exposureNumerator, s.exposureDenominator);
            met = true;
            break;
        case kTagFNumber:
            if (s.fNumberNumerator == 0) view.rational(e.value, s.fNumberNumerator, s.fNumberDenominator);
            met = true;
            break;
        case kTagExposureProgram:
            s.exposureProgram = view.u16(e.valueField);
            met = true;
            break;
        case kTagIsoSpeedRatings:
            s.isoSpeed = view.u16(e.valueField);
            met = true;
            break;
        case kTagDateTimeOriginal:
            if (view.locate(e.value, sizeof s.dateTime, pos)) {
                std::memcpy(s.dateTime, view.file + pos, sizeof s.dateTime);
                met = true;
            }
            break;
        case kTagShutterSpeedValue: {
            // APEX Tv: the exposure is 1 / 2^Tv, shown with the denominator truncated.
            uint32_t n, d;
            view.rational(e.value, n, d);
            met = true;
            if (int32_t(d) == 0) break;
            const double denominator = powerOfTwoTruncated(double(int32_t(n)) / double(int32_t(d)));
            // A long exposure (Tv < 0) cannot be written as 1/n; keep an ExposureTime
            // found beside it rather than blanking the row.
            if (denominator < 1) break;
            s.exposureNumerator = 1;
            s.exposureDenominator = uint32_t(denominator);
            break;
        }
        case kTagApertureValue:
            // Kept aside: FNumber, where present, is the better source of the same fact.
            view.rational(e.value, apertureNumerator, apertureDenominator);
            apertureSeen = true;
            met = true;
            break;
        case kTagExposureBiasValue: {
            uint32_t n, d;
            view.rational(e.value, n, d);
            s.biasNumerator = int32_t(n);
            s.biasDenominator = int32_t(d);
            met = true;
            break;
        }
        case kTagMaxApertureValue:
            view.rational(e.value, s.maxApertureNumerator, s.maxApertureDenominator);
            met = true;
            break;
        case kTagMeteringMode:
            s.meteringMode = view.u16(e.valueField);
            met = true;
            break;
        case kTagFlash:
            s.flash = view.u16(e.valueField);
            met = true;
            break;
        case kTagFocalLength:
            view.rational(e.value, s.focalNumerator, s.focalDenominator);
            met = true;
            break;
        default:
            break;
        }
    }

    // ApertureValue is APEX Av; the row shows an F-number, F = 2^(Av / 2), in hundredths.
    if (apertureSeen && s.fNumberNumerator == 0 && apertureDenominator != 0) {
        const double f = std::pow(2.0, double(apertureNumerator) / double(apertureDenominator) / 2.0);
        if (f * 100.0 < 4294967295.0) {
            s.fNumberNumerator = uint32_t(std::lround(f * 100.0));
            s.fNumberDenominator = 100;
        }
    }
    return met;
}

}  // namespace

bool readExifFromMemory(const uint8_t* data, size_t size, ExifSummary& summary, int32_t* errorCode) {
    std::memset(&summary, 0, sizeof summary);
    if (errorCode) *errorCode = 0;
    static const uint8_t kExifId[6] = {'E', 'x', 'i', 'f', 0, 0};
    meta::JpegMarkerWalker walker(data, size);
    meta::JpegSegment seg;
    for (;;) {
        const meta::WalkStep step = walker.next(seg);
        if (step == meta::WalkStep::End) return false;
        if (step == meta::WalkStep::Error) {
            if (errorCode) *errorCode = ErrRead;
            return false;
        }
        if (seg.marker == meta::kMarkerApp1 && seg.hasLength && seg.end - seg.dataStart >= 6 &&
            std::memcmp(data + seg.dataStart, kExifId, 6) == 0)
            break;
    }
    const size_t tiff = seg.dataStart + 6;
    // "II" is little-endian; anything else is read as big-endian.
    const bool little = size - tiff >= 2 && data[tiff] == 'I' && data[tiff + 1] == 'I';
    const TiffView view{data, size, tiff, little};
    return readExifBlock(view, summary);
}

bool readExif(const wchar_t* path, ExifSummary& summary, int32_t* errorCode) {
    std::memset(&summary, 0, sizeof summary);
    DecoderInput input;
    int32_t code = 0;
    if (mapImageFile(path, input, code) == 0) {
        if (errorCode) *errorCode = code ? code : ErrRead;
        return false;
    }
    const bool ok = readExifFromMemory(input.file.data, input.file.size, summary, errorCode);
    unmapImageFile(input);
    return ok;
}
