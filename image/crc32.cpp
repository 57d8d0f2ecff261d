// CRC-32 of PNG chunks (reflected polynomial 0xEDB88320), shared by the PNG decoder and
// the PNG comment writer. Eight tables let the loop take eight bytes per step: every IDAT
// byte of every PNG in a folder goes through here, so the byte-at-a-time loop would show.
#include <cstring>

#include "image/decoded_image.h"

namespace {

struct CrcTables {
    uint32_t t[8][256];
    CrcTables() {
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[0][n] = c;
        }
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = t[0][n];
            for (int k = 1; k < 8; ++k) {
                c = t[0][c & 0xFF] ^ (c >> 8);
                t[k][n] = c;
            }
        }
    }
};

const CrcTables& tables() {
    static const CrcTables instance;  // built once, on the first CRC (start-up computes one)
    return instance;
}

}  // namespace

uint32_t crc32Update(uint32_t crc, const uint8_t* data, size_t size) {
    const auto& t = tables().t;
    while (size >= 8) {
        uint32_t lo, hi;
        std::memcpy(&lo, data, 4);
        std::memcpy(&hi, data + 4, 4);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
        lo = __builtin_bswap32(lo);
        hi = __builtin_bswap32(hi);
#endif
        lo ^= crc;
        crc = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^
              t[3][hi & 0xFF] ^ t[2][(hi >> 8) & 0xFF] ^ t[1][(hi >> 16) & 0xFF] ^ t[0][hi >> 24];
        data += 8;
        size -= 8;
    }
    while (size--) crc = t[0][(crc ^ *data++) & 0xFF] ^ (crc >> 8);
    return crc;
}
