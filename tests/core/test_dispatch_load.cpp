// Format sniffing, the extension map, the row layout rule, the depth converter and the
// loader dispatch with its plug-in fallback and 24-bit conversion.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>

#include "core/png_builder.h"
#include "image/decoded_image.h"

using namespace pngtest;

namespace {

std::wstring tempPath(const std::string& name) { return utf8ToWide("dispatch_test_" + name); }

std::wstring writeTemp(const std::string& name, const std::string& bytes) {
    const std::wstring path = tempPath(name);
    EXPECT_TRUE(writeWholeFile(path.c_str(), bytes.data(), bytes.size()));
    return path;
}

// A stand-in for the plug-in host: counts its calls and returns a prepared record.
struct FakePlugin {
    static inline int calls = 0;
    static inline DecodedImage record;
    static inline bool succeed = false;
    static inline DecodeCounters counters;
    static DecodedImage* load(const wchar_t*, DecodeCounters& out) {
        ++calls;
        if (!succeed) return nullptr;
        out = counters;
        return &record;
    }
    // Prepares a record of the given depth whose pixel bytes count up from 1.
    static void prepare(int32_t width, int32_t height, int depth) {
        record = DecodedImage{};
        record.header.biWidth = width;
        record.header.biHeight = height;
        record.header.biBitCount = uint16_t(depth);
        record.format = FormatUnknown;
        record.sourceDepth = depth;
        DepthConversion c;
        c.width = width;
        c.height = height;
        c.targetDepth = depth;
        computeLayout(c);
        record.pixels = static_cast<uint8_t*>(pageAlloc(c.targetImageSize));
        for (uint32_t i = 0; i < c.targetImageSize; ++i) record.pixels[i] = uint8_t(i + 1);
        for (int i = 0; i < 256; ++i) record.palette[i] = PaletteEntry{uint8_t(i), uint8_t(255 - i), uint8_t(i / 2), 0};
        counters = DecodeCounters{};
        counters.fileWidth = width;
        counters.fileHeight = height;
        counters.commentCount = 5;  // a plug-in image never reports comments
        succeed = true;
    }
};

class Dispatch : public ::testing::Test {
protected:
    void SetUp() override {
        FakePlugin::calls = 0;
        FakePlugin::succeed = false;
        g_pluginLoader = &FakePlugin::load;
    }
    void TearDown() override {
        g_pluginLoader = nullptr;
        if (info.current) {
            pageFree(info.current->pixels);
            info.current->pixels = nullptr;
        }
    }
    bool load(const std::wstring& path, int32_t width, int32_t height) {
        return loadImage(decoder, path.c_str(), width, height, nullptr, info);
    }
    ImageDecoder decoder;
    LoadInfo info;
    // Leaves nonzero counters behind, as a successful interlaced PNG with text does.
    void loadSomethingWithCounters() {
        Image img = randomImage(3, 3, 8, 2);
        PngParts parts;
        parts.interlace = true;
        parts.beforeIdat = chunk("tEXt", std::string("Comment\0x", 9));
        const std::wstring path = writeTemp("counters.png", encodePng(img, parts));
        ASSERT_TRUE(load(path, 0, 0));
        ASSERT_EQ(info.facts.interlaced, 1);
        ASSERT_EQ(info.facts.commentCount, 1);
        pageFree(info.current->pixels);
        info.current->pixels = nullptr;
    }
    void expectCountersCleared() {
        EXPECT_EQ(info.facts.commentCount, 0);
        EXPECT_EQ(info.facts.metaCount, 0);
        EXPECT_EQ(info.facts.interlaced, 0);
    }
};

}  // namespace

// ---------------------------------------------------------------------------- sniffing

TEST(Sniffing, HeaderRules) {
    struct Case {
        std::string bytes;
        ImageFormat want;
    } cases[] = {
        {"", FormatEmpty},
        {"G", FormatUnknown},
        {"GI", FormatEmpty},  // the third byte's read returns nothing
        {"GIF89a", FormatGif},
        {"GIX", FormatUnknown},
        {"BM", FormatBmp},
        {"B", FormatUnknown},
        {"II", FormatEmpty},
        {"II*\0", FormatTiff},
        {"II+", FormatUnknown},
        {"MM", FormatEmpty},
        {"MM*", FormatEmpty},                   // the skipped byte, then nothing
        {std::string("MM*\0", 4), FormatUnknown},  // "MM" directly followed by '*' is not TIFF
        {std::string("MM\0*", 4), FormatTiff},
        {"MMx*", FormatTiff},
        {"\x89P", FormatEmpty},
        {"\x89PN", FormatEmpty},
        {"\x89PNG", FormatEmpty},
        {"\x89PNG\r", FormatUnknown},
        {"\x89PNG\r\n\x1a\n", FormatPng},
        {"\x89PNG\r\n\x1a\x0b", FormatUnknown},
        {"\x89PNx\r\n\x1a\n", FormatUnknown},
        {"\xff\xd8", FormatJpeg},
        {"\xff\xd9", FormatUnknown},
        {"\xff", FormatUnknown},
        {"RIFF....WEBP", FormatUnknown},
    };
    for (const auto& c : cases) {
        const std::wstring path = writeTemp("sniff.bin", c.bytes);
        EXPECT_EQ(sniffImageFormat(path.c_str()), c.want) << "bytes: " << c.bytes;
    }
    EXPECT_EQ(sniffImageFormat(tempPath("missing.bin").c_str()), FormatUnknown);
    ASSERT_TRUE(createDirectoryAt(tempPath("folder.png").c_str()) || isDirectory(tempPath("folder.png").c_str()));
    EXPECT_EQ(sniffImageFormat(tempPath("folder.png").c_str()), FormatUnknown);
}

TEST(Sniffing, ExtensionMap) {
    EXPECT_EQ(formatFromExtension(L"a.JPG"), FormatJpeg);
    EXPECT_EQ(formatFromExtension(L"a.jpe"), FormatJpeg);
    EXPECT_EQ(formatFromExtension(L"C:\\x\\a.JpEg"), FormatJpeg);
    EXPECT_EQ(formatFromExtension(L"a.png"), FormatPng);
    EXPECT_EQ(formatFromExtension(L"a.gif"), FormatGif);
    EXPECT_EQ(formatFromExtension(L"a.BMP"), FormatBmp);
    EXPECT_EQ(formatFromExtension(L"a.tif"), FormatTiff);
    EXPECT_EQ(formatFromExtension(L"a.TIFF"), FormatTiff);
    EXPECT_EQ(formatFromExtension(L"a.tiffx"), FormatUnknown);
    EXPECT_EQ(formatFromExtension(L"a.pngg"), FormatUnknown);
    EXPECT_EQ(formatFromExtension(L"a.jp"), FormatUnknown);
    EXPECT_EQ(formatFromExtension(L"png"), FormatUnknown);
    EXPECT_EQ(formatFromExtension(L"dir.png\\file"), FormatUnknown);
    EXPECT_EQ(formatFromExtension(L"a.png."), FormatUnknown);
    EXPECT_EQ(formatFromExtension(L"a.spi.bmp"), FormatBmp);
}

// ---------------------------------------------------------------------------- layout and conversion

TEST(DepthConversionRules, RowLayoutByTargetDepth) {
    struct Row {
        int depth;
        uint32_t packed, stride, palette;
    } rows[] = {{1, 1, 4, 8}, {2, 2, 4, 16}, {4, 3, 4, 64}, {8, 5, 8, 1024}, {24, 15, 16, 0}, {48, 30, 30, 0}, {32, 20, 20, 0}, {16, 20, 20, 0}};
    for (const auto& r : rows) {
        DepthConversion c;
        c.width = 5;
        c.height = 3;
        c.targetDepth = r.depth;
        computeLayout(c);
        EXPECT_EQ(c.targetPackedRowBytes, r.packed) << r.depth;
        EXPECT_EQ(c.targetRowStride, r.stride) << r.depth;
        EXPECT_EQ(c.targetImageSize, r.stride * 3) << r.depth;
        EXPECT_EQ(c.targetPaletteBytes, r.palette) << r.depth;
    }
    DepthConversion huge;
    huge.width = 25000;
    huge.height = 40000;
    huge.targetDepth = 48;
    computeLayout(huge);
    EXPECT_EQ(huge.targetImageSize, 0u);  // too big for 32 bits: no wrapped-around size
}

namespace {

// Converts a width 5 x height 2 source into a fresh target, returning the target bytes.
bool convert(int sourceDepth, int targetDepth, const std::vector<uint8_t>& source, std::vector<uint8_t>& target,
             PaletteEntry* targetPalette, const PaletteEntry* sourcePalette) {
    DepthConversion c;
    c.width = 5;
    c.height = 2;
    c.sourceDepth = sourceDepth;
    c.targetDepth = targetDepth;
    computeLayout(c);
    target.assign(c.targetImageSize, 0xEE);
    c.sourcePixels = source.data();
    c.targetPixels = target.data();
    c.sourcePalette = sourcePalette;
    c.targetPalette = targetPalette;
    return convertDepth(c);
}

}  // namespace

TEST(DepthConversionRules, UnpackingAndPaletteCopies) {
    PaletteEntry src[256];
    for (int i = 0; i < 256; ++i) src[i] = PaletteEntry{uint8_t(i), uint8_t(i + 1), uint8_t(i + 2), 0};
    PaletteEntry dst[256] = {};
    std::vector<uint8_t> out;
    // Source rows are padded to 4 bytes: row 0 then row 1.
    ASSERT_TRUE(convert(1, 8, {0b10110000, 0, 0, 0, 0b01001000, 0, 0, 0}, out, dst, src));
    EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 5), (std::vector<uint8_t>{1, 0, 1, 1, 0}));
    EXPECT_EQ(std::vector<uint8_t>(out.begin() + 8, out.begin() + 13), (std::vector<uint8_t>{0, 1, 0, 0, 1}));
    EXPECT_EQ(dst[1].red, 3);
    EXPECT_EQ(dst[2].red, 0);  // only two entries copied

    for (auto& e : dst) e = PaletteEntry{};
    ASSERT_TRUE(convert(2, 8, {0b11100100, 0b10000000, 0, 0, 0, 0, 0, 0}, out, dst, src));
    EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 5), (std::vector<uint8_t>{3, 2, 1, 0, 2}));
    EXPECT_EQ(dst[1].red, 0);  // 2-bit conversion copies no palette

    ASSERT_TRUE(convert(4, 8, {0xAB, 0xCD, 0xE0, 0, 0x12, 0x34, 0x50, 0}, out, dst, src));
    EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 5), (std::vector<uint8_t>{0xA, 0xB, 0xC, 0xD, 0xE}));
    EXPECT_EQ(std::vector<uint8_t>(out.begin() + 8, out.begin() + 13), (std::vector<uint8_t>{1, 2, 3, 4, 5}));
    EXPECT_EQ(dst[15].red, 17);
    EXPECT_EQ(dst[16].red, 0);

    std::vector<uint8_t> eight = {1, 2, 3, 4, 5, 0, 0, 0, 6, 7, 8, 9, 10, 0, 0, 0};
    ASSERT_TRUE(convert(8, 8, eight, out, dst, src));
    EXPECT_EQ(out, eight);
    EXPECT_EQ(dst[255].red, 1);  // 257 wraps
}

TEST(DepthConversionRules, ToTwentyFourBits) {
    PaletteEntry pal[256];
    for (int i = 0; i < 256; ++i) pal[i] = PaletteEntry{uint8_t(i), uint8_t(100 + i), uint8_t(200 + i), 0};
    std::vector<uint8_t> out;
    ASSERT_TRUE(convert(8, 24, {1, 2, 3, 4, 5, 0, 0, 0, 6, 7, 8, 9, 10, 0, 0, 0}, out, nullptr, pal));
    EXPECT_EQ(out[0], 1);
    EXPECT_EQ(out[1], 101);
    EXPECT_EQ(out[2], 201);
    EXPECT_EQ(out[14], 205);
    EXPECT_EQ(out[16], 6);  // row 1 starts at the target stride of 16

    ASSERT_TRUE(convert(4, 24, {0x10, 0, 0, 0, 0xF0, 0, 0, 0}, out, nullptr, pal));
    EXPECT_EQ(out[0], 1);
    EXPECT_EQ(out[3], 0);
    EXPECT_EQ(out[16], 15);
    ASSERT_TRUE(convert(1, 24, {0x80, 0, 0, 0, 0x40, 0, 0, 0}, out, nullptr, pal));
    EXPECT_EQ(out[0], 1);
    EXPECT_EQ(out[3], 0);
    EXPECT_EQ(out[16 + 3], 1);

    // 48-bit: unpadded rows of little-endian samples, the high byte of each is kept.
    std::vector<uint8_t> deep(60);
    for (size_t i = 0; i < deep.size(); ++i) deep[i] = uint8_t(i);
    ASSERT_TRUE(convert(48, 24, deep, out, nullptr, nullptr));
    EXPECT_EQ(out[0], 1);
    EXPECT_EQ(out[1], 3);
    EXPECT_EQ(out[14], 29);
    EXPECT_EQ(out[16], 31);  // second row begins at source byte 30

    std::vector<uint8_t> rgb(32, 9);
    ASSERT_TRUE(convert(24, 24, rgb, out, nullptr, nullptr));
    EXPECT_EQ(out, rgb);

    std::vector<uint8_t> any(64, 0);
    EXPECT_FALSE(convert(2, 24, any, out, nullptr, pal));
    EXPECT_FALSE(convert(16, 24, any, out, nullptr, pal));
    EXPECT_FALSE(convert(32, 24, any, out, nullptr, pal));
    EXPECT_FALSE(convert(24, 8, any, out, nullptr, pal));
}

// ---------------------------------------------------------------------------- dispatch

TEST_F(Dispatch, PngUnderAJpegNameConvertsToTwentyFourBits) {
    Image img = randomImage(7, 5, 8, 3, 4);
    PngParts parts;
    parts.beforeIdat = chunk("PLTE", paletteData(256)) + chunk("tEXt", std::string("Title\0t", 7)) +
                       chunk("tEXt", std::string("Comment\0c", 9));
    const std::string bytes = encodePng(img, parts);
    const std::wstring path = writeTemp("palette.jpg", bytes);
    const FileTime stamp = FileTime::fromValue(132000000000000000ull);
    ASSERT_TRUE(setLastWriteTime(path.c_str(), stamp));

    ASSERT_TRUE(load(path, 160, 120));
    ASSERT_EQ(info.current, &decoder.record);
    EXPECT_EQ(info.facts.format, FormatPng);
    EXPECT_EQ(info.current->header.biBitCount, 24);
    EXPECT_EQ(info.facts.sourceDepth, 8);
    EXPECT_EQ(info.current->sourceDepth, 8);
    EXPECT_EQ(info.width, 7);
    EXPECT_EQ(info.height, 5);
    EXPECT_EQ(info.facts.fileWidth, 7);
    EXPECT_EQ(info.facts.fileHeight, 5);
    EXPECT_EQ(info.facts.fileSize, bytes.size());
    EXPECT_EQ(info.facts.metaCount, 2);
    EXPECT_EQ(info.facts.commentCount, 1);
    EXPECT_EQ(info.facts.interlaced, 0);
    EXPECT_EQ(info.facts.lastWriteTime, stamp);
    EXPECT_EQ(FakePlugin::calls, 0);
    // Top-left pixel: its palette colour, stored blue, green, red in the bottom-up buffer.
    const uint8_t index = uint8_t(img.at(0, 0, 0));
    const uint8_t* topRow = info.current->pixels + size_t(4) * 24;  // stride of 7 * 3 rounded up
    EXPECT_EQ(topRow[0], uint8_t(index * 3));
    EXPECT_EQ(topRow[1], uint8_t(255 - index));
    EXPECT_EQ(topRow[2], uint8_t(index * 7));
}

TEST_F(Dispatch, FailuresClearCounters) {
    loadSomethingWithCounters();
    EXPECT_FALSE(load(tempPath("nothing-here.png"), 0, 0));
    expectCountersCleared();
    EXPECT_EQ(FakePlugin::calls, 0);  // a missing path never reaches the plug-ins

    loadSomethingWithCounters();
    const std::wstring empty = writeTemp("empty.png", "");
    EXPECT_FALSE(load(empty, 0, 0));
    expectCountersCleared();
    EXPECT_EQ(FakePlugin::calls, 0);  // nor does an empty file

    // A broken PNG is offered to the plug-ins.
    loadSomethingWithCounters();
    const std::wstring broken = writeTemp("broken.png", kSignature + chunk("IHDR", ihdrData(4, 4, 3, 0)) + chunk("IEND", ""));
    EXPECT_FALSE(load(broken, 0, 0));
    EXPECT_EQ(decoder.record.errorCode, 15);
    EXPECT_EQ(FakePlugin::calls, 1);
    expectCountersCleared();
}

TEST_F(Dispatch, UnknownOrUnopenableFilesGoToThePlugins) {
    const std::wstring unknown = writeTemp("unknown.xyz", "not an image at all");
    EXPECT_FALSE(load(unknown, 0, 0));
    EXPECT_EQ(FakePlugin::calls, 1);
    createDirectoryAt(tempPath("plugin-folder").c_str());
    EXPECT_FALSE(load(tempPath("plugin-folder"), 0, 0));
    EXPECT_EQ(FakePlugin::calls, 2);
    // A JPEG that its decoder rejects is offered too.
    const std::wstring badJpeg = writeTemp("bad.jpg", std::string("\xff\xd8\xff\xe0 this is no JPEG", 21));
    EXPECT_FALSE(load(badJpeg, 0, 0));
    EXPECT_EQ(FakePlugin::calls, 3);
    g_pluginLoader = nullptr;
    EXPECT_FALSE(load(unknown, 0, 0));
}

TEST_F(Dispatch, PluginImagesAreBroughtToTwentyFourBits) {
    const std::wstring path = writeTemp("plugin.abc", "plug-in food");

    // 48 bits: the high byte of each little-endian sample.
    FakePlugin::prepare(3, 2, 48);
    ASSERT_TRUE(load(path, 0, 0));
    EXPECT_EQ(info.current, &decoder.record);
    EXPECT_EQ(FakePlugin::record.pixels, nullptr);  // moved to the caller's record
    EXPECT_EQ(info.facts.format, FormatUnknown);
    EXPECT_EQ(info.facts.sourceDepth, 48);
    EXPECT_EQ(info.facts.commentCount, 0);
    EXPECT_EQ(info.facts.fileWidth, 3);
    ASSERT_EQ(info.current->header.biBitCount, 24);
    EXPECT_EQ(info.current->pixels[0], 2);
    EXPECT_EQ(info.current->pixels[8], 18);
    EXPECT_EQ(info.current->pixels[12], 20);  // row 1: source byte 18 + 1, target stride 12
    pageFree(info.current->pixels);
    info.current->pixels = nullptr;

    // 4 bits with 16 colours: entries come from the palette.
    FakePlugin::prepare(2, 1, 4);
    FakePlugin::record.pixels[0] = 0x3F;
    ASSERT_TRUE(load(path, 0, 0));
    EXPECT_EQ(info.current->pixels[0], 3);
    EXPECT_EQ(info.current->pixels[1], 252);
    EXPECT_EQ(info.current->pixels[3], 15);
    pageFree(info.current->pixels);
    info.current->pixels = nullptr;

    // 2 bits cannot pass: the load fails and no buffer is left behind (LeakSanitizer
    // would report the plug-in's pixels otherwise).
    loadSomethingWithCounters();
    FakePlugin::prepare(4, 4, 2);
    EXPECT_FALSE(load(path, 0, 0));
    EXPECT_EQ(FakePlugin::record.pixels, nullptr);
    expectCountersCleared();
}

TEST_F(Dispatch, TruncatedPngStillLoads) {
    Image img = randomImage(8, 8, 8, 2, 3);
    const std::string z = zlibCompress(scanlines(img, false));
    const std::wstring path = writeTemp("cut.png", kSignature + chunk("IHDR", ihdrData(8, 8, 8, 2)) +
                                                       chunk("IDAT", z.substr(0, z.size() / 2)) + chunk("IEND", ""));
    ASSERT_TRUE(load(path, 0, 0));
    EXPECT_EQ(decoder.record.errorCode, 23);
    EXPECT_EQ(FakePlugin::calls, 0);
}

// A decoding thread of a stopped load is told to give up through its decoder's stop flag:
// set, a PNG (interlaced or not) fails at once, and the file is not offered to the plug-ins,
// which would only run another long call for nobody; unset, every decode is as without it.
TEST_F(Dispatch, AStopFlagEndsPngDecodesWithoutPluginsAndAnUnsetOneChangesNothing) {
    std::atomic<bool> stop{false};
    decoder.setStopFlag(&stop);
    for (bool interlace : {false, true}) {
        SCOPED_TRACE(interlace ? "interlaced" : "progressive");
        Image img = randomImage(61, 150, 8, 6, interlace ? 9 : 8);  // more rows than one look covers
        PngParts parts;
        parts.interlace = interlace;
        const std::wstring path = writeTemp("stop.png", encodePng(img, parts));

        ImageDecoder plain;
        LoadInfo expected;
        ASSERT_TRUE(loadImage(plain, path.c_str(), 0, 0, nullptr, expected));
        stop = false;
        ASSERT_TRUE(load(path, 0, 0));
        const size_t bytes = size_t((61 * 3 + 3) & ~3) * 150;
        EXPECT_EQ(std::memcmp(info.current->pixels, expected.current->pixels, bytes), 0);
        pageFree(expected.current->pixels);
        pageFree(info.current->pixels);
        info.current->pixels = nullptr;

        stop = true;
        EXPECT_FALSE(load(path, 0, 0));
        EXPECT_EQ(decoder.record.errorCode, ErrMemory);
        EXPECT_EQ(decoder.record.pixels, nullptr);
        EXPECT_EQ(FakePlugin::calls, 0);
    }
}
