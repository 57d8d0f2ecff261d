// Builds small PNG files for the decoder tests: an image of sample values is filtered
// (any of the five filters, per row), optionally Adam7-interlaced, deflated with zlib and
// wrapped in chunks, so that every test states its input in a few lines instead of
// committing binary files.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace pngtest {

inline std::string be32(uint32_t v) {
    std::string s(4, '\0');
    s[0] = char(v >> 24);
    s[1] = char(v >> 16);
    s[2] = char(v >> 8);
    s[3] = char(v);
    return s;
}

inline uint32_t crcOf(const std::string& typeAndData) {
    return uint32_t(crc32(0, reinterpret_cast<const Bytef*>(typeAndData.data()), uInt(typeAndData.size())));
}

// One chunk: length, type, data, CRC (optionally corrupted).
inline std::string chunk(const std::string& type, const std::string& data, bool goodCrc = true) {
    std::string body = type + data;
    uint32_t crc = crcOf(body);
    if (!goodCrc) crc ^= 0x5A5A5A5Au;
    return be32(uint32_t(data.size())) + body + be32(crc);
}

inline const std::string kSignature("\x89PNG\r\n\x1a\n", 8);

inline std::string ihdrData(uint32_t w, uint32_t h, int depth, int type, int interlace = 0, int compression = 0,
                            int filter = 0) {
    return be32(w) + be32(h) + char(depth) + char(type) + char(compression) + char(filter) + char(interlace);
}

inline std::string zlibCompress(const std::string& raw, int level = 6) {
    uLongf size = compressBound(uLong(raw.size()));
    std::string out(size, '\0');
    compress2(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(raw.data()), uLong(raw.size()),
              level);
    out.resize(size);
    return out;
}

inline int samplesPerPixel(int type) { return type == 2 ? 3 : type == 4 ? 2 : type == 6 ? 4 : 1; }

// An image as sample values: samples[(y * width + x) * channels + c].
struct Image {
    uint32_t width = 0, height = 0;
    int depth = 8, type = 0;
    std::vector<uint16_t> samples;
    int channels() const { return samplesPerPixel(type); }
    uint16_t at(uint32_t x, uint32_t y, int c) const { return samples[(size_t(y) * width + x) * channels() + c]; }
};

// Deterministic pseudo-random samples in range for the depth.
inline Image randomImage(uint32_t w, uint32_t h, int depth, int type, uint32_t seed = 1) {
    Image img;
    img.width = w;
    img.height = h;
    img.depth = depth;
    img.type = type;
    img.samples.resize(size_t(w) * h * img.channels());
    uint32_t s = seed * 2654435761u + 12345u;
    const uint32_t max = depth == 16 ? 0xFFFF : (1u << depth) - 1;
    for (auto& v : img.samples) {
        s = s * 1664525u + 1013904223u;
        v = uint16_t((s >> 8) % (max + 1));
    }
    return img;
}

// Packs the given pixels (x positions of row y) into PNG row bytes.
inline std::string packRow(const Image& img, uint32_t y, const std::vector<uint32_t>& xs) {
    std::string row;
    const int ch = img.channels();
    if (img.depth < 8) {
        const int perByte = 8 / img.depth;
        row.assign((xs.size() + perByte - 1) / perByte, '\0');
        for (size_t i = 0; i < xs.size(); ++i) {
            const int shift = 8 - img.depth * int(i % perByte + 1);
            row[i / perByte] = char(uint8_t(row[i / perByte]) | (img.at(xs[i], y, 0) << shift));
        }
        return row;
    }
    for (uint32_t x : xs) {
        for (int c = 0; c < ch; ++c) {
            const uint16_t v = img.at(x, y, c);
            if (img.depth == 16) row += char(v >> 8);
            row += char(v & 0xFF);
        }
    }
    return row;
}

inline uint8_t paethPredict(int a, int b, int c) {
    const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    if (pa <= pb && pa <= pc) return uint8_t(a);
    return uint8_t(pb <= pc ? b : c);
}

// Applies filter 'f' to 'row' with the previous (unfiltered) row 'prev' of the same pass.
inline std::string filterRow(const std::string& row, const std::string& prev, int f, int bpp) {
    std::string out(1, char(f));
    for (size_t i = 0; i < row.size(); ++i) {
        const int x = uint8_t(row[i]);
        const int a = i >= size_t(bpp) ? uint8_t(row[i - bpp]) : 0;
        const int b = prev.empty() ? 0 : uint8_t(prev[i]);
        const int c = (i >= size_t(bpp) && !prev.empty()) ? uint8_t(prev[i - bpp]) : 0;
        int pred = 0;
        switch (f) {
            case 1: pred = a; break;
            case 2: pred = b; break;
            case 3: pred = (a + b) / 2; break;
            case 4: pred = paethPredict(a, b, c); break;
            default: pred = 0; break;
        }
        out += char(uint8_t(x - pred));
    }
    return out;
}

// Chooses the filter of row 'y' of pass 'pass' (0 when not interlaced).
using FilterChoice = std::function<int(int pass, uint32_t row)>;
inline FilterChoice cycleFilters() {
    return [](int pass, uint32_t row) { return int((row + pass) % 5); };
}

// The filtered, uncompressed image data (scanlines with filter bytes).
inline std::string scanlines(const Image& img, bool interlace, const FilterChoice& choose = cycleFilters()) {
    static const int cs[7] = {0, 4, 0, 2, 0, 1, 0}, rs[7] = {0, 0, 4, 0, 2, 0, 1};
    static const int cstep[7] = {8, 8, 4, 4, 2, 2, 1}, rstep[7] = {8, 8, 8, 4, 4, 2, 2};
    const int bpp = img.depth < 8 ? 1 : img.channels() * img.depth / 8;
    std::string out;
    const int passes = interlace ? 7 : 1;
    for (int p = 0; p < passes; ++p) {
        const uint32_t x0 = interlace ? cs[p] : 0, y0 = interlace ? rs[p] : 0;
        const uint32_t dx = interlace ? cstep[p] : 1, dy = interlace ? rstep[p] : 1;
        std::vector<uint32_t> xs;
        for (uint32_t x = x0; x < img.width; x += dx) xs.push_back(x);
        if (xs.empty()) continue;
        std::string prev;
        uint32_t j = 0;
        for (uint32_t y = y0; y < img.height; y += dy, ++j) {
            const std::string row = packRow(img, y, xs);
            out += filterRow(row, prev, choose(p, j), bpp);
            prev = row;
        }
    }
    return out;
}

// A complete PNG. 'beforeIdat' and 'afterIdat' are extra chunks (already encoded); the
// IDAT data is split into pieces of at most idatPiece bytes when that is not 0.
struct PngParts {
    std::string beforeIdat;
    std::string afterIdat;
    size_t idatPiece = 0;
    bool interlace = false;
};

inline std::string encodePng(const Image& img, const PngParts& parts = {}, const FilterChoice& choose = cycleFilters()) {
    std::string png = kSignature + chunk("IHDR", ihdrData(img.width, img.height, img.depth, img.type, parts.interlace ? 1 : 0));
    png += parts.beforeIdat;
    const std::string z = zlibCompress(scanlines(img, parts.interlace, choose));
    if (parts.idatPiece == 0) {
        png += chunk("IDAT", z);
    } else {
        for (size_t i = 0; i < z.size(); i += parts.idatPiece) png += chunk("IDAT", z.substr(i, parts.idatPiece));
    }
    png += parts.afterIdat;
    png += chunk("IEND", "");
    return png;
}

// A palette chunk's data of n entries (r, g, b) = (i * 7, 255 - i, i * 3) mod 256.
inline std::string paletteData(int n) {
    std::string d;
    for (int i = 0; i < n; ++i) {
        d += char(uint8_t(i * 7));
        d += char(uint8_t(255 - i));
        d += char(uint8_t(i * 3));
    }
    return d;
}

}  // namespace pngtest
