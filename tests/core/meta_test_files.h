// Small JPEG, Exif and PNG files built in memory for the metadata tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "image/decoded_image.h"

namespace metatest {

inline std::string be16(uint32_t v) { return {char(v >> 8), char(v)}; }
inline std::string be32(uint32_t v) { return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)}; }

inline const uint8_t* bytes(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

// ---- JPEG
inline std::string segment(uint8_t marker, const std::string& data) {
    return std::string{char(0xFF), char(marker)} + be16(uint32_t(data.size() + 2)) + data;
}
inline std::string app0() { return segment(0xE0, std::string("JFIF\0\x01\x01\0\0\x01\0\x01\0\0", 14)); }
inline std::string com(const std::string& text) { return segment(0xFE, text); }
inline std::string dqt() { return segment(0xDB, std::string(65, '\x01')); }
// SOI, the given segments, then SOS with a little scan data and EOI.
inline std::string jpeg(const std::string& segments) {
    return std::string("\xFF\xD8", 2) + segments + std::string("\xFF\xDA\x00\x02\x12\x34\xFF\xD9", 8);
}

// ---- Exif (TIFF inside APP1)
struct Tag {
    uint16_t tag;
    uint16_t type;  // 2 ASCII, 3 SHORT, 4 LONG, 5 RATIONAL, 10 SRATIONAL
    uint32_t count;
    std::vector<uint32_t> values;  // SHORT/LONG: one value; (S)RATIONAL: numerator, denominator
    std::string ascii;             // type 2
};
inline Tag shortTag(uint16_t tag, uint16_t v) { return {tag, 3, 1, {v}, {}}; }
inline Tag rationalTag(uint16_t tag, uint32_t n, uint32_t d) { return {tag, 5, 1, {n, d}, {}}; }
inline Tag srationalTag(uint16_t tag, int32_t n, int32_t d) { return {tag, 10, 1, {uint32_t(n), uint32_t(d)}, {}}; }
inline Tag asciiTag(uint16_t tag, const std::string& text) { return {tag, 2, uint32_t(text.size()), {}, text}; }

class TiffWriter {
public:
    explicit TiffWriter(bool little) : little_(little) {}
    std::string u16(uint32_t v) const { return little_ ? std::string{char(v), char(v >> 8)} : be16(v); }
    std::string u32(uint32_t v) const { return little_ ? std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)} : be32(v); }

    // IFD0 (with an ExifIFDPointer appended when exifPointer) at 8, the Exif IFD after it,
    // then the out-of-line values.
    std::string build(const std::vector<Tag>& ifd0, const std::vector<Tag>& exif, bool exifPointer = true) const {
        std::vector<Tag> first = ifd0;
        const uint32_t ifd0Size = uint32_t(2 + 12 * (first.size() + (exifPointer ? 1 : 0)) + 4);
        const uint32_t exifAt = 8 + ifd0Size;
        if (exifPointer) first.push_back({0x8769, 4, 1, {exifAt}, {}});
        const uint32_t exifSize = uint32_t(2 + 12 * exif.size() + 4);
        uint32_t dataAt = exifAt + exifSize;
        std::string data;
        std::string out = (little_ ? "II" : "MM") + u16(42) + u32(8);
        out += ifd(first, dataAt, data);
        out += ifd(exif, dataAt, data);
        return out + data;
    }

private:
    std::string ifd(const std::vector<Tag>& tags, uint32_t& dataAt, std::string& data) const {
        std::string out = u16(uint32_t(tags.size()));
        for (const Tag& t : tags) {
            out += u16(t.tag) + u16(t.type) + u32(t.count);
            std::string value;
            if (t.type == 2) value = t.ascii;
            else if (t.type == 3) value = u16(t.values[0]);
            else if (t.type == 4) value = u32(t.values[0]);
            else value = u32(t.values[0]) + u32(t.values[1]);
            if (value.size() <= 4) {
                value.resize(4, '\0');
                out += value;
            } else {
                out += u32(dataAt);
                data += value;
                dataAt += uint32_t(value.size());
            }
        }
        return out + u32(0);
    }
    bool little_;
};

inline std::string exifApp1(const std::string& tiff) { return segment(0xE1, std::string("Exif\0\0", 6) + tiff); }

// ---- PNG
inline std::string chunk(const char* type, const std::string& data) {
    std::string typeAndData = std::string(type, 4) + data;
    return be32(uint32_t(data.size())) + typeAndData + be32(crc32Of(bytes(typeAndData), typeAndData.size()));
}
inline std::string text(const std::string& keyword, const std::string& value) {
    return chunk("tEXt", keyword + std::string(1, '\0') + value);
}
// Signature, a 1x1 grey IHDR, the given chunks, a tiny IDAT, afterData and IEND.
inline std::string png(const std::string& chunks, const std::string& afterData = "") {
    std::string ihdr = be32(1) + be32(1) + std::string("\x08\x00\x00\x00\x00", 5);
    return std::string("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", ihdr) + chunks +
           chunk("IDAT", std::string("\x78\x9c\x63\x60\x00\x00\x00\x02\x00\x01", 10)) + afterData + chunk("IEND", "");
}

}  // namespace metatest
