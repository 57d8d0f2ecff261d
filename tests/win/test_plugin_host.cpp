// The image plug-in host against the project's own test plug-ins (plugins/testpic.c): a
// folder holding three import filters (one with the wide-character entry points), an export
// filter, a file that is no DLL and a DLL of the other architecture. Calls made by the
// plug-ins are logged to PRAVEL_TPIC_LOG.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "base/image_lock.h"
#include "base/platform.h"
#include "base/settings.h"
#include "core/png_builder.h"
#include "image/decoded_image.h"
#include "image/plugin_host.h"
#include "thumbs/folder_loader.h"

namespace {

std::wstring exeFolder() {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring s = path;
    return s.substr(0, s.rfind(L'\\'));
}

std::wstring fullPath(const std::wstring& relative) {
    wchar_t full[MAX_PATH];
    GetFullPathNameW(relative.c_str(), MAX_PATH, full, nullptr);
    return full;
}

void emptyFolder(const std::wstring& folder) {
    CreateDirectoryW(folder.c_str(), nullptr);
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((folder + L"\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return;
    do {
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) DeleteFileW((folder + L"\\" + fd.cFileName).c_str());
    } while (FindNextFileW(h, &fd));
    FindClose(h);
}

void writeBytes(const std::wstring& path, const std::string& bytes) {
    ASSERT_TRUE(writeWholeFile(path.c_str(), bytes.data(), bytes.size()));
}

// An image in the test plug-in's format and the 24-bit pixels it must come out as.
struct TestPicture {
    std::string bytes;
    int width = 0, height = 0;
    std::vector<uint32_t> rgb;  // top row first, 0xRRGGBB
};

// depth 1/4/8: random indices into a palette of 1 << depth (at most 16 for 8 bits, the rest
// of the table left to the host's zero fill); 24: random colours; 32: a refused depth.
TestPicture makePicture(const char magic[4], int width, int height, int depth, uint8_t flags, unsigned seed,
                        size_t leading = 0) {
    std::mt19937 random(seed);
    TestPicture p;
    p.width = width;
    p.height = height;
    const int colours = depth <= 4 ? (1 << depth) : depth == 8 ? 16 : 0;
    std::vector<uint32_t> palette;
    for (int i = 0; i < colours; ++i) palette.push_back(random() & 0xFFFFFF);
    const size_t stride = ((size_t(width) * depth + 31) / 32) * 4;
    std::string rows(stride * height, '\0');
    p.rgb.assign(size_t(width) * height, 0);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = reinterpret_cast<uint8_t*>(rows.data()) + stride * size_t(height - 1 - y);
        for (int x = 0; x < width; ++x) {
            uint32_t colour;
            if (depth == 24 || depth == 32) {
                colour = random() & 0xFFFFFF;
                uint8_t* px = row + size_t(x) * (depth / 8);
                px[0] = uint8_t(colour), px[1] = uint8_t(colour >> 8), px[2] = uint8_t(colour >> 16);
            } else {
                const unsigned index = random() % unsigned(colours);
                colour = palette[index];
                const int perByte = 8 / depth;
                const int shift = 8 - depth * (x % perByte + 1);
                row[x / perByte] |= uint8_t(index << shift);
            }
            p.rgb[size_t(y) * width + x] = colour;
        }
    }
    std::string& b = p.bytes;
    b.assign(leading, 'x');
    b.append(magic, 4);
    auto u16 = [&](unsigned v) { b += char(v & 0xFF), b += char(v >> 8); };
    u16(unsigned(width));
    u16(unsigned(height));
    b += char(depth);
    b += char(flags);
    u16(unsigned(colours));
    for (uint32_t c : palette) b += char(c & 0xFF), b += char((c >> 8) & 0xFF), b += char(c >> 16), b += '\0';
    b += rows;
    return p;
}

const char kMain[4] = {'T', 'P', 'I', 'C'};
const char kSecond[4] = {'T', 'P', 'I', '2'};
const char kWide[4] = {'T', 'P', 'I', 'W'};

// A file of the test plug-in's format from its parts: the colour table (or masks) and the rows
// as the bitmap stores them; fault >= 0 adds the fault byte (flag 128).
std::string tpicFile(const char magic[4], int width, int height, int depth, uint8_t flags, const std::string& table,
                     const std::string& rows, int fault = -1) {
    std::string b(magic, 4);
    auto u16 = [&](unsigned v) { b += char(v & 0xFF), b += char(v >> 8); };
    u16(unsigned(width));
    u16(unsigned(height));
    b += char(depth);
    b += char(fault >= 0 ? flags | 128 : flags);
    u16(unsigned(table.size() / 4));
    if (fault >= 0) b += char(fault);
    return b + table + rows;
}

std::string le32(uint32_t v) { return {char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; }

// A BMP file of the built-in reader: 40-byte header, then table (colours or masks) and rows.
std::string bmpFile(int width, int height, int depth, uint32_t compression, const std::string& table,
                    const std::string& rows) {
    std::string info = le32(40) + le32(uint32_t(width)) + le32(uint32_t(height)) + std::string("\1\0", 2) +
                       char(depth) + '\0' + le32(compression) + std::string(20, '\0');
    if (depth <= 8) std::memcpy(info.data() + 32, le32(uint32_t(table.size() / 4)).data(), 4);
    const uint32_t offset = uint32_t(14 + info.size() + table.size());
    return "BM" + le32(offset + uint32_t(rows.size())) + le32(0) + le32(offset) + info + table + rows;
}

std::string randomText(size_t n, unsigned seed) {
    std::mt19937 random(seed);
    std::string s(n, '\0');
    for (char& c : s) c = char(random());
    return s;
}

// The rows of a bitmap in the opposite order (top-down <-> bottom-up).
std::string flipRows(const std::string& rows, size_t stride) {
    std::string out;
    for (size_t at = rows.size(); at >= stride; at -= stride) out += rows.substr(at - stride, stride);
    return out;
}

class PluginHost : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        initImageLock();
        folder_ = fullPath(L"plugin_host_plugins");
        emptyFolder(folder_);
        const std::wstring built = exeFolder() + L"\\..\\plugins\\";
        for (const wchar_t* name : {L"tpic.spi", L"tpic2.spi", L"tpicw.spi", L"tpicam.spi"})
            ASSERT_TRUE(CopyFileW((built + name).c_str(), (folder_ + L"\\" + name).c_str(), FALSE)) << "build test_plugins";
        // Modules that must be passed over without a word: no DLL at all, and the test
        // plug-in marked as built for the other architecture.
        writeBytes(folder_ + L"\\notadll.spi", "MZ but nothing else");
        std::string dll;
        ASSERT_TRUE(readWholeFile((built + L"tpic.spi").c_str(), dll));
        uint32_t pe = 0;
        std::memcpy(&pe, dll.data() + 0x3C, 4);
        uint16_t machine = 0;
        std::memcpy(&machine, dll.data() + pe + 4, 2);
        machine = machine == 0x8664 ? 0x014C : 0x8664;
        std::memcpy(dll.data() + pe + 4, &machine, 2);
        writeBytes(folder_ + L"\\otherarch.spi", dll);

        log_ = fullPath(L"plugin_host_calls.log");
        SetEnvironmentVariableW(L"PRAVEL_TPIC_LOG", log_.c_str());
        images_ = fullPath(L"plugin_host_images");
        emptyFolder(images_);
    }

    void SetUp() override {
        DeleteFileW(log_.c_str());
        wcscpy(g_settings.pluginFolder, folder_.c_str());
    }
    void TearDown() override {
        g_settings.pluginFolder[0] = 0;
        if (loaded_.current) {
            pageFree(loaded_.current->pixels);
            loaded_.current->pixels = nullptr;
        }
    }

    static bool load(const wchar_t* path) { return loadImage(decoder_, path, 0, 0, g_settings.pluginFolder, loaded_); }
    static inline ImageDecoder decoder_;
    static inline LoadInfo loaded_;

    static std::string calls() {
        std::string text;
        readWholeFile(log_.c_str(), text);
        return text;
    }

    // The 24-bit pixels of one load through the dispatch (empty when it fails), released here.
    static std::string loadPixels(const std::wstring& path) {
        if (!load(path.c_str())) return {};
        DecodedImage& image = *loaded_.current;
        const size_t stride = (size_t(image.header.biWidth) * 3 + 3) & ~size_t(3);
        std::string pixels(reinterpret_cast<const char*>(image.pixels), stride * size_t(image.header.biHeight));
        pageFree(image.pixels);
        image.pixels = nullptr;
        return pixels;
    }

    static std::wstring save(const std::wstring& name, const std::string& bytes) {
        const std::wstring path = images_ + L"\\" + name;
        writeBytes(path, bytes);
        return path;
    }

    // Loads through the dispatch and compares every pixel of the 24-bit result.
    static void expectDecodes(const std::wstring& path, const TestPicture& p, int sourceDepth) {
        ASSERT_TRUE(load(path.c_str())) << calls();
        const DecodedImage& image = *loaded_.current;
        EXPECT_EQ(loaded_.facts.format, 0);
        EXPECT_EQ(loaded_.facts.sourceDepth, sourceDepth);
        EXPECT_EQ(loaded_.facts.fileWidth, p.width);
        EXPECT_EQ(loaded_.facts.fileHeight, p.height);
        EXPECT_EQ(loaded_.facts.fileSize, uint32_t(p.bytes.size()));
        ASSERT_EQ(image.header.biBitCount, 24);
        const size_t stride = (size_t(p.width) * 3 + 3) & ~size_t(3);
        int wrong = 0;
        for (int y = 0; y < p.height; ++y) {
            const uint8_t* row = image.pixels + stride * size_t(p.height - 1 - y);
            for (int x = 0; x < p.width; ++x) {
                const uint32_t got = uint32_t(row[x * 3]) | uint32_t(row[x * 3 + 1]) << 8 | uint32_t(row[x * 3 + 2]) << 16;
                wrong += got != p.rgb[size_t(y) * p.width + x];
            }
        }
        EXPECT_EQ(wrong, 0);
    }

    static std::wstring folder_, log_, images_;
};
std::wstring PluginHost::folder_, PluginHost::log_, PluginHost::images_;

std::vector<std::wstring> sorted(std::vector<std::wstring> v) {
    std::sort(v.begin(), v.end());
    return v;
}

TEST_F(PluginHost, ListsImportFiltersOnlyAndTheirNewPatternsOnce) {
    // The export filter, the non-DLL and the other architecture's module are left out.
    EXPECT_EQ(sorted(listPlugins(folder_.c_str(), PluginListMode::Names)),
              (std::vector<std::wstring>{L"tpic.spi", L"tpic2.spi", L"tpicw.spi"}));
    // "*.JPG;*.PIC" adds only *.pic (JPEG is built in), tpic2's "*.pic" adds nothing, *.xam
    // belongs to the export filter.
    EXPECT_EQ(sorted(listPlugins(folder_.c_str(), PluginListMode::Patterns)),
              (std::vector<std::wstring>{L"*.pic", L"*.tpi", L"*.tpw"}));
    EXPECT_TRUE(listPlugins(L"", PluginListMode::Names).empty());
    EXPECT_TRUE(listPlugins((folder_ + L"\\missing").c_str(), PluginListMode::Patterns).empty());
}

TEST_F(PluginHost, SummaryAndSettingsDialog) {
    PluginSummary summary;
    ASSERT_TRUE(pluginSummary((folder_ + L"\\tpic.spi").c_str(), summary));
    EXPECT_EQ(summary.patterns, L"*.JPG;*.PIC;*.tpi");
    EXPECT_EQ(summary.descriptions, L"Test pictures/Test pictures (second kind)");
    EXPECT_FALSE(pluginSummary((folder_ + L"\\tpicam.spi").c_str(), summary));
    EXPECT_FALSE(pluginSummary((folder_ + L"\\notadll.spi").c_str(), summary));
    EXPECT_TRUE(summary.patterns.empty());

    configurePlugin((folder_ + L"\\tpic.spi").c_str(), GetDesktopWindow());
    configurePlugin((folder_ + L"\\tpic2.spi").c_str(), GetDesktopWindow());  // has no dialog
    configurePlugin((folder_ + L"\\notadll.spi").c_str(), GetDesktopWindow());
    EXPECT_EQ(calls(), "tpic ConfigurationDlg 1\r\n");
}

TEST_F(PluginHost, PaletteAndTrueColourImagesComeOutAtTwentyFourBits) {
    int seed = 1;
    for (int depth : {1, 4, 8, 24}) {
        SCOPED_TRACE(depth);
        // Odd widths exercise the packed row sizes and the padding.
        const TestPicture p = makePicture(kMain, 37, 11, depth, 0, unsigned(seed++));
        expectDecodes(save(L"depth" + std::to_wstring(depth) + L".tpi", p.bytes), p, depth);
    }
    // A version 4 header: the colour table follows its 108 bytes.
    const TestPicture v4 = makePicture(kMain, 13, 5, 4, 8, 77);
    expectDecodes(save(L"v4header.tpi", v4.bytes), v4, 4);
    EXPECT_EQ(loaded_.current->header.biSize, 40u);
    // The second import filter gets the files the first one rejects.
    const TestPicture second = makePicture(kSecond, 5, 3, 24, 0, 99);
    expectDecodes(save(L"second.pic", second.bytes), second, 24);
    EXPECT_NE(calls().find("tpic2 GetPicture 0"), std::string::npos);
    EXPECT_EQ(calls().find("tpicam"), std::string::npos);  // the export filter is never asked
}

TEST_F(PluginHost, FileWithAHeaderIsDecodedAtOffset128) {
    const TestPicture p = makePicture(kMain, 9, 7, 8, 0, 5, 128);
    expectDecodes(save(L"macbinary.tpi", p.bytes), p, 8);
    const std::string log = calls();
    EXPECT_NE(log.find("tpic GetPictureInfo 128"), std::string::npos) << log;
    EXPECT_NE(log.find("tpic GetPicture 128"), std::string::npos) << log;
}

TEST_F(PluginHost, RefusedBitmapsAndRefusingPlugins) {
    const std::wstring compressed = save(L"rle.tpi", makePicture(kMain, 4, 4, 8, 1, 2).bytes);
    const std::wstring twoBits = save(L"twobits.tpi", tpicFile(kMain, 4, 4, 2, 0, std::string(16, 'p'), std::string(16, 'r')));
    const std::wstring nobody = save(L"nobody.tpi", "no plug-in knows this");
    for (const std::wstring* path : {&compressed, &twoBits, &nobody}) {
        EXPECT_FALSE(load(path->c_str()));
    }
    EXPECT_EQ(calls().find("tpicam"), std::string::npos);

    // No usable plug-in folder: not one plug-in is loaded.
    const TestPicture p = makePicture(kMain, 4, 4, 24, 0, 4);
    const std::wstring good = save(L"good.tpi", p.bytes);
    DeleteFileW(log_.c_str());
    g_settings.pluginFolder[0] = 0;
    EXPECT_FALSE(load(good.c_str()));
    wcscpy(g_settings.pluginFolder, (folder_ + L"\\missing").c_str());
    EXPECT_FALSE(load(good.c_str()));
    EXPECT_EQ(calls(), "");
    wcscpy(g_settings.pluginFolder, folder_.c_str());
    expectDecodes(good, p, 24);
}

TEST_F(PluginHost, ShortBitsLeaveTheRestOfAFullSizeBufferBlack) {
    // 24 bits, 301 x 200: rows of 904 bytes, and the plug-in hands over only half of them.
    TestPicture p = makePicture(kMain, 301, 200, 24, 2, 7);
    const std::wstring path = save(L"short.tpi", p.bytes);
    for (int y = 0; y < p.height / 2; ++y)  // the top half of a bottom-up image is missing
        std::fill_n(p.rgb.begin() + size_t(y) * p.width, p.width, 0u);
    expectDecodes(path, p, 24);
    // The whole image is readable: every byte up to stride x height lies in committed memory.
    const uint8_t* pixels = loaded_.current->pixels;
    const size_t size = size_t(904) * 200;
    MEMORY_BASIC_INFORMATION info;
    size_t at = 0;
    while (at < size) {
        ASSERT_EQ(VirtualQuery(pixels + at, &info, sizeof info), sizeof info);
        ASSERT_EQ(info.State, DWORD(MEM_COMMIT)) << at;
        at = size_t(static_cast<const uint8_t*>(info.BaseAddress) + info.RegionSize - pixels);
    }
}

TEST_F(PluginHost, NameOutsideTheCodePageReachesThePluginAsItsShortPath) {
    // Hangul is in neither the Western nor the Japanese code page.
    const TestPicture p = makePicture(kMain, 6, 6, 4, 0, 11);
    const std::wstring path = save(L"\xD55C\xAE00 picture.tpi", p.bytes);
    const std::string narrow = pluginNarrowPath(path.c_str());
    EXPECT_EQ(narrow.find('?'), std::string::npos) << narrow;
    HANDLE h = CreateFileA(narrow.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(h, INVALID_HANDLE_VALUE) << narrow;
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    expectDecodes(path, p, 4);
    // A name the code page holds is passed as it is.
    EXPECT_EQ(pluginNarrowPath(L"C:\\plain\\name.tpi"), "C:\\plain\\name.tpi");
}

TEST_F(PluginHost, FolderListingAddsThePluginPatterns) {
    const std::wstring folder = fullPath(L"plugin_host_listing");
    emptyFolder(folder);
    writeBytes(folder + L"\\a.pic", makePicture(kSecond, 8, 8, 24, 0, 21).bytes);
    writeBytes(folder + L"\\b.TPI", makePicture(kMain, 8, 8, 4, 0, 22).bytes);
    writeBytes(folder + L"\\c.xam", makePicture(kMain, 8, 8, 4, 0, 23).bytes);  // export filter's
    writeBytes(folder + L"\\d.tpix", makePicture(kMain, 8, 8, 4, 0, 24).bytes);

    FolderLoadSettings settings;
    settings.useCache = false;
    settings.pluginFolder = folder_;
    std::vector<std::wstring> names;
    FolderLoadHooks hooks;
    hooks.itemReady = [&](size_t, const std::wstring& name, ThumbnailData& data, bool) {
        names.push_back(name);
        releaseThumbnailData(data);
    };
    FolderLoadStats stats;
    EXPECT_EQ(loadFolderThumbnails(folder, settings, hooks, stats), LoadStop::None);
    EXPECT_EQ(names, (std::vector<std::wstring>{L"a.pic", L"b.TPI"}));

    // A filter for one built-in type, or no plug-in folder: no plug-in patterns.
    settings.filter = 3;
    loadFolderThumbnails(folder, settings, hooks, stats);
    EXPECT_EQ(stats.listed, 0u);
    settings.filter = 0;
    settings.pluginFolder.clear();
    loadFolderThumbnails(folder, settings, hooks, stats);
    EXPECT_EQ(stats.listed, 0u);
}

// Each kind of bitmap that current filters return comes out as the built-in decoders give the
// same image: 32 bits with alpha composited onto white as the PNG decoder does (and all-zero
// 4th bytes counting as opaque), colour masks at 32 and 16 bits, top-down rows.
TEST_F(PluginHost, CurrentFiltersBitmapsGiveTheBuiltInDecodersPixels) {
    const int w = 11, h = 6;  // odd width: 16-bit rows need padding
    pngtest::Image rgba = pngtest::randomImage(w, h, 8, 6, 3);
    for (int x = 0; x < w; ++x) rgba.samples[size_t(x) * 4 + 3] = x % 3 ? 255 : 0;  // opaque and clear too
    std::string bgraTopDown;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c : {2, 1, 0, 3}) bgraTopDown += char(rgba.at(uint32_t(x), uint32_t(y), c));
    const std::string bgra = flipRows(bgraTopDown, size_t(w) * 4);
    pngtest::Image rgb = rgba;
    rgb.type = 2;
    rgb.samples.clear();
    for (size_t i = 0; i < rgba.samples.size(); ++i)
        if (i % 4 != 3) rgb.samples.push_back(rgba.samples[i]);
    std::string opaque = bgra;
    for (size_t i = 3; i < opaque.size(); i += 4) opaque[i] = 0;

    const std::string masks888 = le32(0xFF0000) + le32(0xFF00) + le32(0xFF);
    const std::string masks565 = le32(0xF800) + le32(0x07E0) + le32(0x001F);
    const std::string rows16 = randomText(24 * size_t(h), 4);  // 11 pixels of 2 bytes, padded to 24
    const std::string palette = randomText(256 * 4, 5);
    const std::string rows8 = randomText(12 * size_t(h), 6);
    struct Kind {
        const wchar_t* name;
        std::string plugin, reference;  // the test plug-in's file, the built-in decoder's
        int depth;
    } kinds[] = {
        {L"bgra_topdown", tpicFile(kMain, w, h, 32, 4, "", bgraTopDown), pngtest::encodePng(rgba), 32},
        {L"bgra_masks", tpicFile(kMain, w, h, 32, 32, masks888, bgra), pngtest::encodePng(rgba), 32},
        {L"bgrx_zero_alpha", tpicFile(kMain, w, h, 32, 0, "", opaque), pngtest::encodePng(rgb), 32},
        {L"rgb565", tpicFile(kMain, w, h, 16, 32, masks565, rows16), bmpFile(w, h, 16, 3, masks565, rows16), 16},
        {L"rgb555_topdown", tpicFile(kMain, w, h, 16, 4, "", flipRows(rows16, 24)), bmpFile(w, h, 16, 0, "", rows16), 16},
        {L"pal8_topdown", tpicFile(kMain, w, h, 8, 4, palette, flipRows(rows8, 12)), bmpFile(w, h, 8, 0, palette, rows8), 8},
    };
    for (const Kind& kind : kinds) {
        SCOPED_TRACE(testing::Message() << std::string(kind.name, kind.name + wcslen(kind.name)));
        const std::string want = loadPixels(save(std::wstring(kind.name) + L".ref", kind.reference));
        ASSERT_FALSE(want.empty());
        EXPECT_NE(loaded_.facts.format, 0);  // a built-in decoder made it
        const std::string got = loadPixels(save(std::wstring(kind.name) + L".tpi", kind.plugin));
        EXPECT_EQ(loaded_.facts.format, 0);
        EXPECT_EQ(loaded_.facts.sourceDepth, kind.depth);
        EXPECT_EQ(loaded_.facts.fileWidth, w);
        EXPECT_EQ(loaded_.facts.fileHeight, h);
        EXPECT_TRUE(got == want);
    }
}

// A filter with the wide-character entry points gets the file by its real name, even one
// the code page cannot hold (a character outside the Japanese code page, and an emoji).
TEST_F(PluginHost, WideFilterIsCalledWithTheRealName) {
    const TestPicture p = makePicture(kWide, 9, 4, 24, 0, 31);
    const std::wstring path = save(L"\u65E5\u672C\u8A9E \u011F \U0001F600.tpw", p.bytes);
    expectDecodes(path, p, 24);
    char utf8[MAX_PATH * 4];
    ASSERT_GT(WideCharToMultiByte(CP_UTF8, 0, path.c_str(), -1, utf8, sizeof utf8, nullptr, nullptr), 0);
    const std::string log = calls();
    for (const char* call : {"IsSupportedW ", "GetPictureInfoW ", "GetPictureW "})
        EXPECT_NE(log.find(std::string("tpicw ") + call + utf8 + "\r\n"), std::string::npos) << call << log;
    EXPECT_EQ(log.find("tpicw narrow"), std::string::npos) << log;
    // The narrow filters are still asked with the narrow name (and turn the file down).
    EXPECT_NE(log.find("tpic IsSupported 0"), std::string::npos) << log;
}

// Hand-backs that break the interface's rules: each is refused, nothing is freed twice or read
// past, and after a failure the handles are left to the filter.
TEST_F(PluginHost, MalformedHandBacksAreRefusedWithoutACrash) {
    const std::string rows = randomText(12 * 3, 7);  // 4 x 3 at 24 bits
    struct Fault {
        int bits;
        const char* rule;
    } faults[] = {
        {1, "one handle for header and bits"},     {2, "handles freed by the filter, then a failure"},
        {4, "handles kept, then a failure"},       {8, "a 20-byte header block"},
        {16, "a header longer than its block"},    {32, "success without a bits handle"},
    };
    for (const Fault& fault : faults) {
        DeleteFileW(log_.c_str());
        const std::wstring path = save(L"fault" + std::to_wstring(fault.bits) + L".tpi",
                                       tpicFile(kMain, 4, 3, 24, 0, "", rows, fault.bits));
        EXPECT_FALSE(load(path.c_str())) << fault.rule;
        if (fault.bits == 4) {
            // The filter still owns both blocks: the host freed neither.
            const std::string log = calls();
            const size_t at = log.find("tpic kept ");
            ASSERT_NE(at, std::string::npos) << log;
            const char* text = log.c_str() + at + 10;
            char* end = nullptr;
            const HLOCAL info = HLOCAL(uintptr_t(strtoull(text, &end, 16)));
            const HLOCAL bits = HLOCAL(uintptr_t(strtoull(end, nullptr, 16)));
            EXPECT_NE(LocalFlags(info), UINT(LMEM_INVALID_HANDLE));
            EXPECT_NE(LocalFlags(bits), UINT(LMEM_INVALID_HANDLE));
            EXPECT_EQ(LocalSize(bits), rows.size());
            LocalFree(info);
            LocalFree(bits);
        }
    }
    // The host is still sound: the next file decodes.
    const TestPicture p = makePicture(kMain, 4, 3, 24, 0, 8);
    expectDecodes(save(L"afterfaults.tpi", p.bytes), p, 24);
}

}  // namespace
