// pravel-plugref REFERENCE-INPUT PLUGIN-OUTPUT.bmp
// The native side of the plug-in conformance check: decodes a WebP or TIFF file with the
// system's libwebp / libtiff / libheif exactly as the plug-ins use their cross-built copies
// (first frame of an animation, alpha over white, libtiff's RGBA reading, libheif's primary
// image reduced to 8 bits), and compares the
// result with the 24-bit bitmap that the Windows plug-in produced under Wine.
// Prints one JSON line. Exit 0: same pixels, or both refused (PLUGIN-OUTPUT absent and
// the reference refuses too); 1: the pixels differ; 3: only one side decoded.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <tiffio.h>
#include <webp/decode.h>
#include <webp/demux.h>
#ifdef PLUGREF_HEIF
#include <libheif/heif.h>
#endif

namespace {

struct Image {
    int width = 0, height = 0;
    std::vector<uint8_t> bgr;  // top row first, width * 3 per row
};

// The plug-ins' alpha blend over white (Pravel's PNG decoder's product table).
uint8_t overWhite(unsigned value, unsigned alpha) {
    unsigned product;
    if (alpha == 0 || value == 0) product = 0;
    else if (alpha == 255) product = value;
    else if (value == 255) product = alpha;
    else product = (value * (alpha * 65536u / 255u) + 32768u) >> 16;
    return uint8_t(product + 255u - alpha);
}

void fromBgra(Image& image, const uint8_t* bgra, int stride) {
    image.bgr.resize(size_t(image.width) * image.height * 3);
    for (int y = 0; y < image.height; ++y) {
        const uint8_t* s = bgra + size_t(y) * stride;
        uint8_t* d = image.bgr.data() + size_t(y) * image.width * 3;
        for (int x = 0; x < image.width; ++x, s += 4, d += 3)
            for (int c = 0; c < 3; ++c) d[c] = overWhite(s[c], s[3]);
    }
}

bool decodeWebp(const std::string& data, Image& image) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(data.data());
    WebPBitstreamFeatures features;
    if (WebPGetFeatures(bytes, data.size(), &features) != VP8_STATUS_OK) return false;
    image.width = features.width;
    image.height = features.height;
    if (features.has_animation) {
        WebPAnimDecoderOptions options;
        WebPAnimDecoderOptionsInit(&options);
        options.color_mode = MODE_BGRA;
        options.use_threads = 0;
        WebPData webp{bytes, data.size()};
        WebPAnimDecoder* decoder = WebPAnimDecoderNew(&webp, &options);
        if (!decoder) return false;
        WebPAnimInfo info;
        uint8_t* canvas = nullptr;
        int timestamp = 0;
        bool ok = WebPAnimDecoderGetInfo(decoder, &info) && WebPAnimDecoderGetNext(decoder, &canvas, &timestamp);
        if (ok) {
            image.width = int(info.canvas_width);
            image.height = int(info.canvas_height);
            fromBgra(image, canvas, image.width * 4);
        }
        WebPAnimDecoderDelete(decoder);
        return ok;
    }
    int w = 0, h = 0;
    if (!features.has_alpha) {
        uint8_t* bgr = WebPDecodeBGR(bytes, data.size(), &w, &h);
        if (!bgr) return false;
        image.bgr.assign(bgr, bgr + size_t(w) * h * 3);
        WebPFree(bgr);
        return true;
    }
    uint8_t* bgra = WebPDecodeBGRA(bytes, data.size(), &w, &h);
    if (!bgra) return false;
    fromBgra(image, bgra, w * 4);
    WebPFree(bgra);
    return true;
}

bool decodeTiff(const char* path, Image& image) {
    TIFFSetErrorHandler(nullptr);
    TIFFSetWarningHandler(nullptr);
    TIFF* tif = TIFFOpen(path, "rm");
    if (!tif) return false;
    uint32_t w = 0, h = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
    char message[1024];
    bool ok = w > 0 && h > 0 && w <= 25000 && h <= 25000 && TIFFRGBAImageOK(tif, message);
    std::vector<uint32_t> raster;
    if (ok) {
        raster.resize(size_t(w) * h);
        ok = TIFFReadRGBAImageOriented(tif, w, h, raster.data(), ORIENTATION_TOPLEFT, 0);
    }
    TIFFClose(tif);
    if (!ok) return false;
    image.width = int(w);
    image.height = int(h);
    image.bgr.resize(size_t(w) * h * 3);
    for (size_t i = 0; i < raster.size(); ++i) {
        const uint32_t p = raster[i];
        const unsigned white = 255u - TIFFGetA(p);
        const unsigned c[3] = {TIFFGetB(p), TIFFGetG(p), TIFFGetR(p)};
        for (int k = 0; k < 3; ++k) image.bgr[i * 3 + k] = uint8_t(c[k] + white > 255u ? 255u : c[k] + white);
    }
    return true;
}

#ifdef PLUGREF_HEIF
bool decodeHeif(const std::string& data, Image& image) {
    heif_context* context = heif_context_alloc();
    heif_image_handle* handle = nullptr;
    heif_image* decoded = nullptr;
    bool ok = heif_context_read_from_memory_without_copy(context, data.data(), data.size(), nullptr).code == heif_error_Ok &&
              heif_context_get_primary_image_handle(context, &handle).code == heif_error_Ok;
    const bool alpha = ok && heif_image_handle_has_alpha_channel(handle);
    const bool premultiplied = alpha && heif_image_handle_is_premultiplied_alpha(handle);
    if (ok) {
        heif_decoding_options* options = heif_decoding_options_alloc();
        options->convert_hdr_to_8bit = 1;
        ok = heif_decode_image(handle, &decoded, heif_colorspace_RGB,
                               alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, options)
                     .code == heif_error_Ok &&
             decoded;
        heif_decoding_options_free(options);
    }
    int stride = 0;
    const uint8_t* plane = ok ? heif_image_get_plane_readonly(decoded, heif_channel_interleaved, &stride) : nullptr;
    if (plane) {
        image.width = heif_image_get_width(decoded, heif_channel_interleaved);
        image.height = heif_image_get_height(decoded, heif_channel_interleaved);
        image.bgr.resize(size_t(image.width) * image.height * 3);
        const int step = alpha ? 4 : 3;
        for (int y = 0; y < image.height; ++y) {
            const uint8_t* s = plane + size_t(y) * stride;
            uint8_t* d = image.bgr.data() + size_t(y) * image.width * 3;
            for (int x = 0; x < image.width; ++x, s += step, d += 3)
                for (int c = 0; c < 3; ++c) {
                    const unsigned v = s[2 - c];
                    d[c] = !alpha           ? uint8_t(v)
                           : !premultiplied ? overWhite(v, s[3])
                                            : uint8_t(std::min(255u, v + 255u - s[3]));
                }
        }
    }
    if (decoded) heif_image_release(decoded);
    if (handle) heif_image_handle_release(handle);
    heif_context_free(context);
    return plane != nullptr;
}
#endif

uint32_t le32(const std::string& s, size_t at) {
    if (at + 4 > s.size()) return 0;
    return uint32_t(uint8_t(s[at])) | uint32_t(uint8_t(s[at + 1])) << 8 | uint32_t(uint8_t(s[at + 2])) << 16 |
           uint32_t(uint8_t(s[at + 3])) << 24;
}

// A bottom-up 24-bit bitmap file as pravel-probe writes it.
bool readBmp(const std::string& file, Image& image) {
    if (file.size() < 54 || file[0] != 'B' || file[1] != 'M') return false;
    const uint32_t offset = le32(file, 10);
    const int32_t w = int32_t(le32(file, 18)), h = int32_t(le32(file, 22));
    const uint16_t bits = uint16_t(uint8_t(file[28]) | uint8_t(file[29]) << 8);
    if (w <= 0 || h <= 0 || bits != 24) return false;
    const size_t stride = (size_t(w) * 3 + 3) & ~size_t(3);
    if (offset + stride * size_t(h) > file.size()) return false;
    image.width = w;
    image.height = h;
    image.bgr.resize(size_t(w) * h * 3);
    for (int y = 0; y < h; ++y)
        std::memcpy(image.bgr.data() + size_t(y) * w * 3, file.data() + offset + stride * size_t(h - 1 - y), size_t(w) * 3);
    return true;
}

bool readFile(const char* path, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: pravel-plugref INPUT PLUGIN-OUTPUT.bmp\n");
        return 2;
    }
    std::string data, produced;
    Image reference, plugin;
    bool refOk = false;
    // The HEIF plug-in's libheif is a cross-built copy of the reference's, its colour
    // conversion computed by another compiler for another processor: one step is allowed.
    int tolerance = 0;
    if (readFile(argv[1], data)) {
        if (data.size() >= 12 && data.compare(0, 4, "RIFF") == 0 && data.compare(8, 4, "WEBP") == 0)
            refOk = decodeWebp(data, reference);
#ifdef PLUGREF_HEIF
        else if (data.size() >= 12 && data.compare(4, 4, "ftyp") == 0) {
            refOk = decodeHeif(data, reference);
            tolerance = 1;
        }
#endif
        else
            refOk = decodeTiff(argv[1], reference);
    }
    const bool plugOk = readFile(argv[2], produced) && readBmp(produced, plugin);
    std::printf("{\"file\":\"%s\",\"reference\":%s,\"plugin\":%s", argv[1], refOk ? "true" : "false",
                plugOk ? "true" : "false");
    if (refOk != plugOk) {
        std::printf("}\n");
        return 3;
    }
    if (!refOk) {
        std::printf(",\"same\":true}\n");
        return 0;
    }
    if (reference.width != plugin.width || reference.height != plugin.height) {
        std::printf(",\"size\":[%d,%d],\"pluginSize\":[%d,%d],\"same\":false}\n", reference.width, reference.height,
                    plugin.width, plugin.height);
        return 1;
    }
    size_t differing = 0;
    int largest = 0;
    for (size_t i = 0; i < reference.bgr.size(); ++i) {
        const int d = std::abs(int(reference.bgr[i]) - int(plugin.bgr[i]));
        differing += d != 0;
        largest = d > largest ? d : largest;
    }
    const bool same = largest <= tolerance;
    std::printf(",\"size\":[%d,%d],\"differingSamples\":%zu,\"largestDifference\":%d,\"tolerance\":%d,\"same\":%s}\n",
                reference.width, reference.height, differing, largest, tolerance, same ? "true" : "false");
    return same ? 0 : 1;
}
