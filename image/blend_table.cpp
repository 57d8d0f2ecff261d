// The 256 x 256 alpha-product table: T[a][v] is v scaled by a/255, rounded, so that
// compositing v over background b with alpha a is T[a][v] + T[255 - a][b] without a
// division per pixel. Built once; start-up asks for it before any thread decodes.
#include "image/decoded_image.h"

namespace {

struct BlendTable {
    uint8_t t[256 * 256];
    BlendTable() {
        for (int a = 0; a < 256; ++a) {
            const uint32_t scale = uint32_t(a) * 65536u / 255u;
            for (int v = 0; v < 256; ++v) {
                uint8_t r;
                if (a == 0 || v == 0) r = 0;
                else if (a == 255) r = uint8_t(v);
                else if (v == 255) r = uint8_t(a);
                else r = uint8_t((uint32_t(v) * scale + 32768u) >> 16);
                t[a * 256 + v] = r;
            }
        }
    }
};

}  // namespace

const uint8_t* blendTable() {
    static const BlendTable instance;
    return instance.t;
}
