// The JPEG glue against bare libjpeg-turbo on libjpeg-turbo's own test images and variants
// made from them here (progressive transcode, grey, CMYK, truncations): at every scale the
// glue's rows must be exactly what the library gives at the same scale, in the bitmap's
// bottom-up blue-green-red layout (CMYK through the product rule).
//
// On purpose different from bare libjpeg-turbo: testorig12.jpg (12-bit samples) is refused by
// the glue (library error, code 4), since the 8-bit interface cannot deliver 12-bit samples;
// the bare library refuses it the same way.
#include <gtest/gtest.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

extern "C" {
#include <jpeglib.h>
}

#include "image/jpeg_codec.h"

namespace fs = std::filesystem;

namespace {

struct Bail {
    jpeg_error_mgr pub;
    jmp_buf jump;
};
void bail(j_common_ptr c) { longjmp(reinterpret_cast<Bail*>(c->err)->jump, 1); }
void quiet(j_common_ptr, int) {}

struct Reference {
    bool ok = false;
    int width = 0, height = 0, components = 0;
    bool progressive = false;
    std::vector<uint8_t> rows;  // top-down, as delivered (BGR, grey or CMYK)
};

// Bare libjpeg-turbo at 1/denominator; the same memory source behaviour (EOI at the end).
Reference bareDecode(const std::vector<uint8_t>& data, unsigned denominator) {
    static jpeg_decompress_struct d;
    static Bail err;
    static Reference ref;
    ref = Reference{};
    d.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = bail;
    err.pub.emit_message = quiet;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&d);
        ref.ok = false;
        return ref;
    }
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, data.data(), data.size());
    jpeg_read_header(&d, TRUE);
    d.scale_num = 1;
    d.scale_denom = denominator;
    if (d.out_color_space == JCS_RGB) d.out_color_space = JCS_EXT_BGR;
    jpeg_start_decompress(&d);
    ref.width = int(d.output_width);
    ref.height = int(d.output_height);
    ref.components = d.output_components;
    ref.progressive = d.progressive_mode;
    ref.rows.resize(size_t(ref.width) * ref.height * ref.components);
    while (d.output_scanline < d.output_height) {
        JSAMPROW row = ref.rows.data() + size_t(d.output_scanline) * ref.width * ref.components;
        jpeg_read_scanlines(&d, &row, 1);
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
    ref.ok = true;
    return ref;
}

// Expected bitmap bytes of one top-down reference row.
void expectedRow(const Reference& ref, int y, std::vector<uint8_t>& out) {
    const uint8_t* in = ref.rows.data() + size_t(y) * ref.width * ref.components;
    if (ref.components != 4) {
        out.assign(in, in + size_t(ref.width) * ref.components);
        return;
    }
    out.resize(size_t(ref.width) * 3);
    for (int x = 0; x < ref.width; ++x, in += 4) {
        out[x * 3 + 0] = uint8_t(in[2] * in[3] / 255);
        out[x * 3 + 1] = uint8_t(in[1] * in[3] / 255);
        out[x * 3 + 2] = uint8_t(in[0] * in[3] / 255);
    }
}

std::vector<uint8_t> readFile(const fs::path& p) {
    std::string s;
    readWholeFile(p.wstring().c_str(), s);
    return std::vector<uint8_t>(s.begin(), s.end());
}

// Lossless transcode to progressive.
std::vector<uint8_t> toProgressive(const std::vector<uint8_t>& data) {
    jpeg_decompress_struct d;
    jpeg_compress_struct c;
    jpeg_error_mgr e1, e2;
    d.err = jpeg_std_error(&e1);
    c.err = jpeg_std_error(&e2);
    jpeg_create_decompress(&d);
    jpeg_create_compress(&c);
    jpeg_mem_src(&d, data.data(), data.size());
    jpeg_read_header(&d, TRUE);
    jvirt_barray_ptr* coefs = jpeg_read_coefficients(&d);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &out, &size);
    jpeg_copy_critical_parameters(&d, &c);
    jpeg_simple_progression(&c);
    jpeg_write_coefficients(&c, coefs);
    jpeg_finish_compress(&c);
    jpeg_finish_decompress(&d);
    std::vector<uint8_t> result(out, out + size);
    jpeg_destroy_compress(&c);
    jpeg_destroy_decompress(&d);
    std::free(out);
    return result;
}

// Re-encodes the image's decoded pixels in another colour space (grey or Adobe CMYK).
std::vector<uint8_t> reencode(const std::vector<uint8_t>& data, bool cmyk) {
    Reference full = bareDecode(data, 1);
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &out, &size);
    c.image_width = full.width;
    c.image_height = full.height;
    c.input_components = cmyk ? 4 : 1;
    c.in_color_space = cmyk ? JCS_CMYK : JCS_GRAYSCALE;
    jpeg_set_defaults(&c);
    jpeg_start_compress(&c, TRUE);
    std::vector<uint8_t> row(size_t(full.width) * 4);
    for (int y = 0; y < full.height; ++y) {
        const uint8_t* in = full.rows.data() + size_t(y) * full.width * 3;
        for (int x = 0; x < full.width; ++x) {
            if (cmyk) {
                row[x * 4 + 0] = uint8_t(255 - in[x * 3]);
                row[x * 4 + 1] = in[x * 3 + 1];
                row[x * 4 + 2] = in[x * 3 + 2];
                row[x * 4 + 3] = uint8_t(128 + x % 128);
            } else {
                row[x] = in[x * 3 + 1];
            }
        }
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&c, &r, 1);
    }
    jpeg_finish_compress(&c);
    std::vector<uint8_t> result(out, out + size);
    jpeg_destroy_compress(&c);
    std::free(out);
    return result;
}

struct Sample {
    std::string name;
    std::vector<uint8_t> bytes;
};

std::vector<Sample> samples() {
    std::vector<Sample> all;
    std::vector<fs::path> files;
    std::error_code ec;
    for (auto& e : fs::directory_iterator(std::string(PRAVEL_TESTDATA) + "/jpeg", ec))
        if (e.path().extension() == ".jpg") files.push_back(e.path());
    std::sort(files.begin(), files.end());
    for (const auto& f : files) all.push_back({f.filename().string(), readFile(f)});
    const auto base = std::find_if(all.begin(), all.end(), [](const Sample& s) { return s.name == "testorig.jpg"; });
    if (base != all.end()) {
        const std::vector<uint8_t> orig = base->bytes;
        all.push_back({"progressive", toProgressive(orig)});
        all.push_back({"grey", reencode(orig, false)});
        all.push_back({"cmyk", reencode(orig, true)});
        for (int cut : {2, 3})
            all.push_back({"cut 1/" + std::to_string(cut), std::vector<uint8_t>(orig.begin(), orig.begin() + orig.size() / cut)});
        const auto progressive = toProgressive(orig);
        all.push_back({"progressive cut 1/2", std::vector<uint8_t>(progressive.begin(), progressive.begin() + progressive.size() / 2)});
    }
    return all;
}

TEST(JpegSuite, GlueRowsEqualBareLibraryAtEveryScale) {
    auto all = samples();
    if (all.empty()) GTEST_SKIP() << "libjpeg-turbo test images not fetched (tools/setup.sh)";
    int compared = 0;
    std::vector<uint8_t> want;
    for (const auto& s : all) {
        for (unsigned denominator : {1u, 2u, 4u, 8u}) {
            SCOPED_TRACE(s.name + " at 1/" + std::to_string(denominator));
            Reference ref = bareDecode(s.bytes, denominator);
            DecodeCounters counters;
            // Aim the target so that the scale rule picks this denominator (r == denominator).
            int tw = 0, th = 0;
            if (denominator > 1 && ref.ok) {
                Reference full = bareDecode(s.bytes, 1);
                tw = std::max(1, full.width / int(denominator));
                th = std::max(1, full.height / int(denominator));
                ASSERT_EQ(jpegScaleDenominator(full.width, full.height, tw, th), int(denominator));
            }
            DecodedImage* img = decodeJpegMemory(s.bytes.data(), s.bytes.size(), tw, th, counters);
            if (!ref.ok) {
                EXPECT_EQ(img, nullptr);
                EXPECT_EQ(jpegRecord().errorCode, 4);
                EXPECT_NE(jpegLibraryMessage()[0], L'\0');
                continue;
            }
            ASSERT_NE(img, nullptr) << "error " << jpegRecord().errorCode;
            ASSERT_EQ(img->header.biWidth, ref.width);
            ASSERT_EQ(img->header.biHeight, ref.height);
            EXPECT_EQ(img->header.biBitCount, ref.components == 1 ? 8 : 24);
            EXPECT_EQ(counters.interlaced, ref.progressive ? 1 : 0);
            const size_t stride = (size_t(ref.width) * (ref.components == 1 ? 1 : 3) + 3) & ~size_t(3);
            for (int y = 0; y < ref.height; ++y) {
                expectedRow(ref, y, want);
                const uint8_t* got = img->pixels + stride * (ref.height - 1 - y);
                ASSERT_TRUE(std::equal(want.begin(), want.end(), got)) << "row " << y;
            }
            ++compared;
            pageFree(img->pixels);
            img->pixels = nullptr;
        }
    }
    EXPECT_GE(compared, 30);
}

}  // namespace
