// Fixed-order integer readers and writers for file formats and stored records. The caller has
// checked that the bytes lie inside its buffer.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

inline uint16_t readBe16(const uint8_t* p) { return uint16_t((p[0] << 8) | p[1]); }
inline uint32_t readBe32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}
inline uint16_t readLe16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t readLe32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline uint64_t readLe64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
    return v;
}
// Formats whose order is given in the file (TIFF, Exif).
inline uint16_t read16(bool littleEndian, const uint8_t* p) { return littleEndian ? readLe16(p) : readBe16(p); }
inline uint32_t read32(bool littleEndian, const uint8_t* p) { return littleEndian ? readLe32(p) : readBe32(p); }

inline void writeLe16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline void writeLe32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}
