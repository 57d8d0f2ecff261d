// JPEG glue over the IJG-interface library (libjpeg-turbo): a decoder that reads a JPEG
// held in memory (a mapped file or a cached thumbnail stream) into a bottom-up DecodedImage,
// at reduced scale when a thumbnail is wanted, and the thumbnail encoder of the cache.
//
// Library errors leave through longjmp back into the operation that started them. For that
// reason all state that must survive the jump lives in a context record (the static ones
// below, or a decoder of a worker thread), and the functions that call setjmp hold no
// objects with destructors.
#include "image/jpeg_codec.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <new>

extern "C" {
#include <jerror.h>
#include <jpeglib.h>
}

#ifdef _WIN32
// Declared here rather than through <windows.h>, whose `boolean` collides with the library's.
extern "C" __declspec(dllimport) int __stdcall MultiByteToWideChar(unsigned int codePage, unsigned long flags,
                                                                   const char* text, int textLength,
                                                                   wchar_t* wide, int wideLength);
#endif

namespace {

constexpr int kMessageChars = 200;
constexpr int kRowBatch = 16;  // scanlines handed to the library per call

struct ErrorManager {
    jpeg_error_mgr pub;
    jmp_buf returnPoint;
    wchar_t* message;  // where a fatal error's text goes
};

struct DecoderContext {
    DecodedImage record;
    DecoderInput input;
    jpeg_decompress_struct cinfo;
    ErrorManager error;
    jpeg_source_mgr source;
    const uint8_t* memoryData;
    size_t memorySize;
    bool memorySource;
    bool scaled;
    int32_t targetWidth;
    int32_t targetHeight;
    int32_t fileWidth;  // as the file states it, before scaling
    int32_t fileHeight;
    bool grey;
    bool progressive;
    int32_t commentCount;
    int32_t exifIndicator;
    wchar_t message[kMessageChars];
};

struct EncoderContext {
    jpeg_compress_struct cinfo;
    ErrorManager error;
    jpeg_destination_mgr destination;
    uint8_t* output;
    uint32_t capacity;
    bool spilled;  // the caller's block filled up and writes went to the spill area
};

DecoderContext g_dec;
EncoderContext g_enc;
wchar_t g_message[kMessageChars];
// Landing area for the encoder once the caller's block is exactly full: a stream that ends
// right at the block's end is still good, anything written here means it did not fit.
uint8_t g_spill[64];

const JOCTET kEndOfImage[2] = {0xFF, JPEG_EOI};

// product[x][k] = x * k / 255 (CMYK to RGB); built once, by whichever decoding thread
// needs it first.
struct ProductTable {
    uint8_t t[256][256];
    ProductTable() {
        for (int x = 0; x < 256; ++x)
            for (int k = 0; k < 256; ++k) t[x][k] = uint8_t(x * k / 255);
    }
};
const ProductTable& productTable() {
    static const ProductTable instance;
    return instance;
}

void setMessage(wchar_t* message, const char* narrow) {
    message[0] = 0;
#ifdef _WIN32
    int n = MultiByteToWideChar(0 /* CP_ACP */, 0, narrow, -1, message, kMessageChars);
    if (n <= 0) message[0] = 0;
    message[kMessageChars - 1] = 0;
#else
    int i = 0;
    for (; narrow[i] && i < kMessageChars - 1; ++i) message[i] = wchar_t(static_cast<unsigned char>(narrow[i]));
    message[i] = 0;
#endif
}

// Fatal library error: keep the library's message and return to the operation's start.
void errorExit(j_common_ptr cinfo) {
    char text[JMSG_LENGTH_MAX];
    text[0] = 0;
    (*cinfo->err->format_message)(cinfo, text);
    text[JMSG_LENGTH_MAX - 1] = 0;
    ErrorManager* error = reinterpret_cast<ErrorManager*>(cinfo->err);
    setMessage(error->message, text);
    longjmp(error->returnPoint, 1);
}

// Warnings (a truncated stream, a corrupt segment) are not errors: the decode goes on and
// nothing is logged, so the library's default printing to stderr is silenced.
void outputMessage(j_common_ptr) {}

// ---------------------------------------------------------------- memory source

void sourceInit(j_decompress_ptr) {}
void sourceTerm(j_decompress_ptr) {}

// The whole block was handed over at the start; running out means the data is truncated,
// so supply an end-of-image marker and let the library finish the image.
boolean sourceFill(j_decompress_ptr cinfo) {
    WARNMS(cinfo, JWRN_JPEG_EOF);
    cinfo->src->next_input_byte = kEndOfImage;
    cinfo->src->bytes_in_buffer = 2;
    return TRUE;
}

// Skipping past the end leaves the source empty (never beyond the block); the next read
// then gets the end-of-image marker.
void sourceSkip(j_decompress_ptr cinfo, long count) {
    if (count <= 0) return;
    jpeg_source_mgr* src = cinfo->src;
    if (static_cast<unsigned long>(count) >= src->bytes_in_buffer) {
        src->next_input_byte += src->bytes_in_buffer;
        src->bytes_in_buffer = 0;
    } else {
        src->next_input_byte += count;
        src->bytes_in_buffer -= size_t(count);
    }
}

// ---------------------------------------------------------------- marker bookkeeping

int readMarkerByte(j_decompress_ptr cinfo) {
    jpeg_source_mgr* src = cinfo->src;
    if (src->bytes_in_buffer == 0) (*src->fill_input_buffer)(cinfo);  // never suspends
    --src->bytes_in_buffer;
    return *src->next_input_byte++;
}

void skipMarkerBody(j_decompress_ptr cinfo) {
    int high = readMarkerByte(cinfo);
    int low = readMarkerByte(cinfo);
    long length = (long(high) << 8) | low;
    if (length > 2) (*cinfo->src->skip_input_data)(cinfo, length - 2);
}

DecoderContext& contextOf(j_decompress_ptr cinfo) { return *static_cast<DecoderContext*>(cinfo->client_data); }

boolean countComment(j_decompress_ptr cinfo) {
    ++contextOf(cinfo).commentCount;
    skipMarkerBody(cinfo);
    return TRUE;
}

boolean noteApp1(j_decompress_ptr cinfo) {
    contextOf(cinfo).exifIndicator = 1;
    skipMarkerBody(cinfo);
    return TRUE;
}


uint32_t stride(uint32_t width, uint32_t bytesPerPixel) { return (width * bytesPerPixel + 3u) & ~3u; }

int32_t densityToPerMetre(int unit, unsigned density) {
    if (unit == 1) return int32_t(double(density) / 0.0254 + 0.5);
    if (unit == 2) return int32_t(density) * 100;
    return 0;
}

// The decode proper. Everything it touches lives in dec; on a library error control comes
// back to the setjmp here with the pixel buffer (if any) still recorded in the record.
bool runDecode(DecoderContext& dec, const uint8_t* data, size_t size) {
    jpeg_decompress_struct& cinfo = dec.cinfo;
    DecodedImage& rec = dec.record;

    cinfo.err = jpeg_std_error(&dec.error.pub);
    dec.error.pub.error_exit = errorExit;
    dec.error.pub.output_message = outputMessage;
    dec.error.message = dec.message;
    if (setjmp(dec.error.returnPoint)) {
        jpeg_destroy_decompress(&cinfo);
        pageFree(rec.pixels);
        rec.pixels = nullptr;
        if (rec.errorCode == 0) rec.errorCode = ErrRead;
        return false;
    }
    jpeg_create_decompress(&cinfo);
    cinfo.client_data = &dec;

    dec.source.init_source = sourceInit;
    dec.source.fill_input_buffer = sourceFill;
    dec.source.skip_input_data = sourceSkip;
    dec.source.resync_to_restart = jpeg_resync_to_restart;
    dec.source.term_source = sourceTerm;
    dec.source.next_input_byte = data;
    dec.source.bytes_in_buffer = size;
    cinfo.src = &dec.source;
    jpeg_set_marker_processor(&cinfo, JPEG_COM, countComment);
    jpeg_set_marker_processor(&cinfo, JPEG_APP0 + 1, noteApp1);

    jpeg_read_header(&cinfo, TRUE);
    dec.fileWidth = int32_t(cinfo.image_width);
    dec.fileHeight = int32_t(cinfo.image_height);
    // Recorded at once so that the caller sees the stated size even when the decode fails.
    dec.targetWidth = dec.scaled ? dec.targetWidth : 0;

    cinfo.scale_num = 1;
    cinfo.scale_denom = dec.scaled
                            ? unsigned(jpegScaleDenominator(dec.fileWidth, dec.fileHeight, dec.targetWidth, dec.targetHeight))
                            : 1u;
    // Rows come out in the bitmap's blue, green, red order; grey and CMYK keep their spaces.
    if (cinfo.out_color_space == JCS_RGB) cinfo.out_color_space = JCS_EXT_BGR;

    // Check the output size before the library allocates its buffers for it.
    jpeg_calc_output_dimensions(&cinfo);
    if (cinfo.output_width == 0 || cinfo.output_height == 0 || cinfo.output_width > unsigned(kMaxImageSide) ||
        cinfo.output_height > unsigned(kMaxImageSide) || cinfo.output_components == 2 || cinfo.output_components > 4) {
        rec.errorCode = ErrUnsupported;
        jpeg_destroy_decompress(&cinfo);
        return false;
    }

    jpeg_start_decompress(&cinfo);
    const uint32_t width = cinfo.output_width;
    const uint32_t height = cinfo.output_height;
    const int components = cinfo.output_components;
    if (width == 0 || height == 0 || width > unsigned(kMaxImageSide) || height > unsigned(kMaxImageSide) || components == 2 ||
        components > 4) {
        rec.errorCode = ErrUnsupported;
        jpeg_destroy_decompress(&cinfo);
        return false;
    }

    const int bitCount = components == 1 ? 8 : 24;
    dec.grey = components == 1;
    if (dec.grey) {
        for (int i = 0; i < 256; ++i) {
            rec.palette[i].blue = rec.palette[i].green = rec.palette[i].red = uint8_t(i);
            rec.palette[i].reserved = 0;
        }
    }
    rec.header.biWidth = int32_t(width);
    rec.header.biHeight = int32_t(height);
    rec.header.biBitCount = uint16_t(bitCount);
    rec.header.biXPelsPerMeter = 0;
    rec.header.biYPelsPerMeter = 0;

    const uint32_t rowStride = stride(width, uint32_t(bitCount / 8));
    rec.pixels = static_cast<uint8_t*>(pageAlloc(size_t(rowStride) * height));
    if (!rec.pixels) {
        rec.errorCode = ErrMemory;
        jpeg_destroy_decompress(&cinfo);
        return false;
    }

    // First scanline to the bottom row, each next one to the row above.
    uint8_t* const lastRow = rec.pixels + size_t(rowStride) * (height - 1);
    if (components != 4) {
        // Grey and BGR rows are what the bitmap stores: let the library write them in place.
        JSAMPROW rows[kRowBatch];
        while (cinfo.output_scanline < height) {
            const uint32_t first = cinfo.output_scanline;
            uint32_t count = height - first;
            if (count > uint32_t(kRowBatch)) count = kRowBatch;
            for (uint32_t i = 0; i < count; ++i) rows[i] = lastRow - size_t(rowStride) * (first + i);
            jpeg_read_scanlines(&cinfo, rows, count);
        }
    } else {
        // CMYK as the library delivers it (Adobe-inverted): multiply each ink by k.
        const auto& product = productTable().t;
        JSAMPARRAY sample = (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE,
                                                        width * 4u, 1);
        while (cinfo.output_scanline < height) {
            uint8_t* out = lastRow - size_t(rowStride) * cinfo.output_scanline;
            jpeg_read_scanlines(&cinfo, sample, 1);
            const uint8_t* in = sample[0];
            for (uint32_t x = 0; x < width; ++x, in += 4, out += 3) {
                const unsigned k = in[3];
                out[0] = product[in[2]][k];  // blue from yellow
                out[1] = product[in[1]][k];  // green from magenta
                out[2] = product[in[0]][k];  // red from cyan
            }
        }
    }

    dec.progressive = cinfo.progressive_mode != FALSE;
    jpeg_finish_decompress(&cinfo);
    rec.header.biXPelsPerMeter = densityToPerMetre(cinfo.density_unit, cinfo.X_density);
    rec.header.biYPelsPerMeter = densityToPerMetre(cinfo.density_unit, cinfo.Y_density);
    rec.format = FormatJpeg;
    rec.sourceDepth = bitCount;
    jpeg_destroy_decompress(&cinfo);
    return true;
}

void resetDecoder(DecoderContext& dec, int32_t targetWidth, int32_t targetHeight) {
    dec.record = DecodedImage{};
    dec.input = DecoderInput{};
    dec.memoryData = nullptr;
    dec.memorySize = 0;
    dec.memorySource = false;
    dec.scaled = targetWidth > 0 && targetHeight > 0;
    dec.targetWidth = targetWidth;
    dec.targetHeight = targetHeight;
    dec.fileWidth = 0;
    dec.fileHeight = 0;
    dec.grey = false;
    dec.progressive = false;
    dec.commentCount = 0;
    dec.exifIndicator = 0;
    dec.message[0] = 0;
}

DecodedImage* decodeBlock(DecoderContext& dec, const uint8_t* data, size_t size, DecodeCounters& counters) {
    counters = DecodeCounters{};
    if (!runDecode(dec, data, size)) return nullptr;
    counters.fileWidth = dec.fileWidth;
    counters.fileHeight = dec.fileHeight;
    counters.interlaced = dec.progressive ? 1 : 0;
    counters.commentCount = dec.commentCount;
    counters.metaCount = dec.exifIndicator;
    return &dec.record;
}

// ---------------------------------------------------------------- memory destination

void destinationInit(j_compress_ptr cinfo) {
    cinfo->dest->next_output_byte = g_enc.output;
    cinfo->dest->free_in_buffer = g_enc.capacity;
}

// The caller's block is full. A stream that ends exactly there is fine, so writing goes on
// into a small spill area; a byte landing there (or the spill filling up) means it did not fit.
boolean destinationFull(j_compress_ptr cinfo) {
    if (g_enc.spilled) ERREXIT(cinfo, JERR_BUFFER_SIZE);
    g_enc.spilled = true;
    cinfo->dest->next_output_byte = g_spill;
    cinfo->dest->free_in_buffer = sizeof g_spill;
    return TRUE;
}

void destinationTerm(j_compress_ptr cinfo) {
    if (g_enc.spilled && cinfo->dest->free_in_buffer != sizeof g_spill) ERREXIT(cinfo, JERR_BUFFER_SIZE);
}

bool runEncode(const uint8_t* pixels, uint32_t width, uint32_t height) {
    jpeg_compress_struct& cinfo = g_enc.cinfo;
    cinfo.err = jpeg_std_error(&g_enc.error.pub);
    g_enc.error.pub.error_exit = errorExit;
    g_enc.error.pub.output_message = outputMessage;
    g_enc.error.message = g_message;
    if (setjmp(g_enc.error.returnPoint)) {
        jpeg_destroy_compress(&cinfo);
        return false;
    }
    jpeg_create_compress(&cinfo);
    g_enc.destination.init_destination = destinationInit;
    g_enc.destination.empty_output_buffer = destinationFull;
    g_enc.destination.term_destination = destinationTerm;
    cinfo.dest = &g_enc.destination;

    cinfo.image_width = width;
    cinfo.image_height = height;
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&cinfo);
    cinfo.optimize_coding = TRUE;
    cinfo.comp_info[0].h_samp_factor = 1;
    cinfo.comp_info[0].v_samp_factor = 1;
    jpeg_set_quality(&cinfo, 80, TRUE);

    jpeg_start_compress(&cinfo, TRUE);
    const uint32_t rowStride = stride(width, 3);
    const uint8_t* const lastRow = pixels + size_t(rowStride) * (height - 1);
    JSAMPROW rows[kRowBatch];
    while (cinfo.next_scanline < height) {
        const uint32_t first = cinfo.next_scanline;
        uint32_t count = height - first;
        if (count > uint32_t(kRowBatch)) count = kRowBatch;
        for (uint32_t i = 0; i < count; ++i) rows[i] = const_cast<JSAMPROW>(lastRow - size_t(rowStride) * (first + i));
        jpeg_write_scanlines(&cinfo, rows, count);
    }
    jpeg_finish_compress(&cinfo);
    const size_t left = g_enc.spilled ? 0 : cinfo.dest->free_in_buffer;
    g_enc.capacity -= uint32_t(left);
    jpeg_destroy_compress(&cinfo);
    return true;
}

}  // namespace

DecodedImage& jpegRecord() { return g_dec.record; }
const wchar_t* jpegLibraryMessage() { return g_message[0] ? g_message : g_dec.message; }

int jpegScaleDenominator(int32_t imageWidth, int32_t imageHeight, int32_t targetWidth, int32_t targetHeight) {
    if (targetWidth <= 0 || targetHeight <= 0) return 1;
    const int32_t byHeight = imageHeight / targetHeight;
    const int32_t byWidth = imageWidth / targetWidth;
    const int32_t r = byHeight < byWidth ? byHeight : byWidth;
    if (r >= 8) return 8;
    if (r >= 4) return 4;
    if (r >= 2) return 2;
    return 1;
}

namespace {

DecodedImage* decodeJpegFileWith(DecoderContext& dec, const wchar_t* path, int32_t targetWidth, int32_t targetHeight,
                                 DecodeCounters& counters) {
    resetDecoder(dec, targetWidth, targetHeight);
    counters = DecodeCounters{};
    int32_t error = 0;
    const uint32_t size = mapImageFile(path, dec.input, error);
    if (size == 0) {
        dec.record.errorCode = error ? error : ErrRead;
        unmapImageFile(dec.input);
        return nullptr;
    }
    DecodedImage* result = decodeBlock(dec, dec.input.file.data, size, counters);
    if (result) {
        result->fileSize = size;
        getLastWriteTime(path, result->lastWriteTime);
    }
    unmapImageFile(dec.input);
    return result;
}

}  // namespace

DecodedImage* decodeJpeg(const wchar_t* path, int32_t targetWidth, int32_t targetHeight, DecodeCounters& counters) {
    g_message[0] = 0;
    return decodeJpegFileWith(g_dec, path, targetWidth, targetHeight, counters);
}

namespace {

DecodedImage* decodeJpegMemoryWith(DecoderContext& dec, const uint8_t* data, size_t size, int32_t targetWidth,
                                   int32_t targetHeight, DecodeCounters& counters) {
    resetDecoder(dec, targetWidth, targetHeight);
    counters = DecodeCounters{};
    dec.memorySource = true;
    dec.memoryData = data;
    dec.memorySize = size;
    if (!data || size == 0) {
        dec.record.errorCode = ErrRead;
        return nullptr;
    }
    DecodedImage* result = decodeBlock(dec, data, size, counters);
    if (result) result->fileSize = uint32_t(size);
    return result;
}

}  // namespace

DecodedImage* decodeJpegMemory(const uint8_t* data, size_t size, int32_t targetWidth, int32_t targetHeight,
                               DecodeCounters& counters) {
    g_message[0] = 0;
    return decodeJpegMemoryWith(g_dec, data, size, targetWidth, targetHeight, counters);
}

struct JpegDecoder {
    DecoderContext context;
};

JpegDecoder* createJpegDecoder() { return new (std::nothrow) JpegDecoder(); }

void destroyJpegDecoder(JpegDecoder* decoder) { delete decoder; }

DecodedImage& jpegDecoderRecord(JpegDecoder* decoder) { return decoder->context.record; }

DecodedImage* decodeJpegWith(JpegDecoder* decoder, const wchar_t* path, int32_t targetWidth, int32_t targetHeight,
                             DecodeCounters& counters) {
    if (!decoder) return nullptr;
    return decodeJpegFileWith(decoder->context, path, targetWidth, targetHeight, counters);
}

DecodedImage* decodeJpegMemoryWith(JpegDecoder* decoder, const uint8_t* data, size_t size, int32_t targetWidth,
                                   int32_t targetHeight, DecodeCounters& counters) {
    if (!decoder) return nullptr;
    return decodeJpegMemoryWith(decoder->context, data, size, targetWidth, targetHeight, counters);
}

bool encodeJpegThumbnail(uint8_t* output, uint32_t* capacity, const uint8_t* pixels, const DepthConversion& conversion) {
    g_message[0] = 0;
    g_dec.message[0] = 0;
    if (!output || !capacity || *capacity == 0 || !pixels || conversion.width <= 0 || conversion.height <= 0 ||
        conversion.width > JPEG_MAX_DIMENSION || conversion.height > JPEG_MAX_DIMENSION)
        return false;
    g_enc.output = output;
    g_enc.capacity = *capacity;
    g_enc.spilled = false;
    if (!runEncode(pixels, uint32_t(conversion.width), uint32_t(conversion.height))) return false;
    *capacity = g_enc.capacity;
    return true;
}
