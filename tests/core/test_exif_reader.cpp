// Reading and formatting the Exif summary from JPEG files built in memory.
#include <gtest/gtest.h>

#include <cstring>

#include "image/exif_format.h"
#include "image/exif_reader.h"
#include "meta_test_files.h"

using namespace metatest;

namespace {

std::vector<Tag> cameraIfd0() { return {asciiTag(0x010F, std::string("Canon\0", 6)), asciiTag(0x0110, std::string("PowerShot S1\0", 13))}; }

std::vector<Tag> shootingTags() {
    return {
        rationalTag(0x829A, 1, 250),      rationalTag(0x829D, 28, 10),  shortTag(0x8822, 3),
        shortTag(0x8827, 400),            asciiTag(0x9003, std::string("2009:03:07 08:05:09\0", 20)),
        srationalTag(0x9204, -2, 3),      rationalTag(0x9205, 3, 1),    shortTag(0x9207, 5),
        shortTag(0x9209, 0x10),           rationalTag(0x920A, 553, 10),
    };
}

std::string exifJpeg(bool little, const std::vector<Tag>& ifd0, const std::vector<Tag>& exif, bool pointer = true) {
    return jpeg(app0() + exifApp1(TiffWriter(little).build(ifd0, exif, pointer)) + dqt());
}

bool read(const std::string& file, ExifSummary& s) { return readExifFromMemory(bytes(file), file.size(), s); }

ExifRows rowsOf(const std::string& file) {
    ExifSummary s;
    EXPECT_TRUE(read(file, s));
    return formatExif(s);
}

}  // namespace

TEST(ExifReader, ByteOrderTwinsGiveTheSameTwelveRows) {
    ExifSummary ii, mm;
    ASSERT_TRUE(read(exifJpeg(true, cameraIfd0(), shootingTags()), ii));
    ASSERT_TRUE(read(exifJpeg(false, cameraIfd0(), shootingTags()), mm));
    EXPECT_EQ(std::memcmp(&ii, &mm, sizeof ii), 0);

    const ExifRows rows = formatExif(mm);
    const wchar_t* expected[kExifRowCount] = {L"Canon", L"PowerShot S1", L"1/250秒", L"2.8",     L"絞り優先AE",          L"400",
                                              L"-0.7",  L"分割測光",     L"OFF",     L"55.3mm", L"2.8", L"2009:03:07 08:05:09"};
    for (int i = 0; i < kExifRowCount; ++i) EXPECT_EQ(rows.values[i], expected[i]) << "row " << i + 1;

    const std::wstring clip = exifClipboardText(rows);
    EXPECT_EQ(clip.rfind(L"メーカー:Canon\n機種:PowerShot S1\nシャッター:1/250秒\n", 0), 0u);
    EXPECT_NE(clip.find(L"\n開放Ｆ値:2.8\n撮影日時:2009:03:07 08:05:09\n"), std::wstring::npos);
}

TEST(ExifReader, ShutterSpeedValueRules) {
    auto withShutter = [](std::vector<Tag> tags) { return rowsOf(exifJpeg(true, {}, tags)).values[2]; };
    // 2^7.9 = 238.9, truncated; it replaces the ExposureTime met before it.
    EXPECT_EQ(withShutter({rationalTag(0x829A, 1, 250), srationalTag(0x9201, 79, 10)}), L"1/238秒");
    EXPECT_EQ(withShutter({rationalTag(0x829A, 1, 250)}), L"1/250秒");
    // A long exposure cannot be written as 1/n: empty alone, ExposureTime kept beside it.
    EXPECT_EQ(withShutter({srationalTag(0x9201, -5, 1)}), L"");
    EXPECT_EQ(withShutter({rationalTag(0x829A, 30, 1), srationalTag(0x9201, -49, 10)}), L"30/1秒");
    // Out of range or a zero denominator is ignored rather than overflowing.
    EXPECT_EQ(withShutter({rationalTag(0x829A, 1, 8), srationalTag(0x9201, 40, 1)}), L"1/8秒");
    EXPECT_EQ(withShutter({rationalTag(0x829A, 1, 8), srationalTag(0x9201, 3, 0)}), L"1/8秒");
}

TEST(ExifReader, FNumberWinsOverApertureValueWhichIsConverted) {
    auto aperture = [](std::vector<Tag> tags) { return rowsOf(exifJpeg(false, {}, tags)).values[3]; };
    EXPECT_EQ(aperture({rationalTag(0x829D, 28, 10), rationalTag(0x9202, 297, 100)}), L"2.8");
    EXPECT_EQ(aperture({rationalTag(0x9202, 297, 100), rationalTag(0x829D, 56, 10)}), L"5.6");  // unsorted IFD
    EXPECT_EQ(aperture({rationalTag(0x9202, 497, 100)}), L"5.6");  // APEX 4.97 -> f/5.6
    EXPECT_EQ(aperture({rationalTag(0x9202, 6, 1)}), L"8.0");
}

TEST(ExifReader, RowsFromSingleValues) {
    auto rows = [](std::vector<Tag> tags) { return rowsOf(exifJpeg(true, {}, tags)); };
    EXPECT_EQ(rows({shortTag(0x9209, 0x10)}).values[8], L"OFF");
    EXPECT_EQ(rows({shortTag(0x9209, 0x19)}).values[8], L"ON");
    const ExifRows few = rows({shortTag(0x8827, 100)});
    EXPECT_EQ(few.values[8], L"OFF");  // flash absent
    EXPECT_EQ(few.values[9], L"");     // focal length absent
    EXPECT_EQ(rows({shortTag(0x8822, 9), shortTag(0x9207, 255)}).values[7], L"");
    // A hostile maximum aperture still gives a bounded text.
    EXPECT_LE(rows({rationalTag(0x9205, 0xFFFFFFFF, 1)}).values[10].size(), kExifValueMaxUnits);

    // Make longer than 64 bytes is cut to 64.
    const std::string longMake(70, 'M');
    ExifSummary s;
    ASSERT_TRUE(read(exifJpeg(false, {asciiTag(0x010F, longMake)}, {shortTag(0x8827, 100)}), s));
    EXPECT_EQ(formatExif(s).values[0], std::wstring(64, L'M'));
}

TEST(ExifReader, FindsTheExifSegmentAmongOtherApp1) {
    const std::string tiff = TiffWriter(true).build({}, {shortTag(0x8827, 200)});
    const std::string xmp = segment(0xE1, "http://ns.adobe.com/xap/1.0/\0<x/>");
    ExifSummary s;
    ASSERT_TRUE(read(jpeg(xmp + segment(0xE1, "Exif") + exifApp1(tiff)), s));
    EXPECT_EQ(s.isoSpeed, 200);
    EXPECT_FALSE(read(jpeg(app0() + dqt()), s));                 // no Exif before SOS
    EXPECT_FALSE(read(jpeg(app0()) + exifApp1(tiff), s));        // only after SOS
}

TEST(ExifReader, RefusesBrokenStructures) {
    ExifSummary s;
    const std::vector<Tag> iso = {shortTag(0x8827, 100)};
    EXPECT_FALSE(read(exifJpeg(true, cameraIfd0(), iso, false), s));   // no Exif IFD pointer
    EXPECT_FALSE(read(exifJpeg(true, {}, {}), s));                      // no recognised tag
    EXPECT_FALSE(read(exifJpeg(true, {{0x8769, 4, 1, {0}, {}}}, iso, false), s));  // pointer 0

    // Hostile offsets: the Exif IFD pointer and rational offsets near 4 GiB.
    EXPECT_FALSE(read(exifJpeg(true, {{0x8769, 4, 1, {0xFFFFFFF0u}, {}}}, iso, false), s));
    TiffWriter w(false);
    std::string tiff = w.build({}, {rationalTag(0x920A, 50, 1), shortTag(0x8827, 100)});
    const size_t focalOffsetField = 8 + 2 + 12 + 4 + 2 + 8;  // IFD0 (pointer only), Exif IFD entry 1 value field
    tiff.replace(focalOffsetField, 4, be32(0xFFFFFFFCu));
    ASSERT_TRUE(read(jpeg(exifApp1(tiff)), s));
    EXPECT_EQ(s.focalNumerator, 0u);
    EXPECT_EQ(s.focalDenominator, 0u);
    EXPECT_EQ(formatExif(s).values[9], L"");

    // Make stored out of line past the end of the file: the whole read fails.
    std::string makeTiff = TiffWriter(true).build({asciiTag(0x010F, "Nikon Corporation")}, iso);
    ASSERT_TRUE(read(jpeg(exifApp1(makeTiff)), s));
    makeTiff.replace(8 + 2 + 8, 4, std::string("\x00\xFF\xFF\x7F", 4));
    EXPECT_FALSE(read(jpeg(exifApp1(makeTiff)), s));
}

TEST(ExifReader, EveryTruncationStaysInsideTheFile) {
    // Run under the sanitizers: any read past the (exactly sized) buffer is a failure.
    const std::string file = exifJpeg(false, cameraIfd0(), shootingTags());
    for (size_t n = 0; n <= file.size(); ++n) {
        std::vector<uint8_t> copy(file.begin(), file.begin() + n);
        ExifSummary s;
        readExifFromMemory(copy.data(), copy.size(), s);
    }
    // The date is taken only when all 20 bytes are inside the file (here: SOI and APP1 only).
    std::string dateTiff = TiffWriter(true).build({}, {asciiTag(0x9003, std::string("2001:01:01 00:00:00\0", 20))});
    ExifSummary s;
    ASSERT_TRUE(readExifFromMemory(bytes("\xFF\xD8" + exifApp1(dateTiff)), dateTiff.size() + 12, s));
    dateTiff.resize(dateTiff.size() - 1);
    EXPECT_FALSE(readExifFromMemory(bytes("\xFF\xD8" + exifApp1(dateTiff)), dateTiff.size() + 12, s));
}
