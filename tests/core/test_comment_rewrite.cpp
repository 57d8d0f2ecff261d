// Reading JPEG/PNG comments and rewriting files with a new comment.
#include <gtest/gtest.h>

#include <string>

#include "base/platform.h"
#include "image/image_comment.h"
#include "meta_test_files.h"

using namespace metatest;

namespace {

std::string readMem(const std::string& file, ImageFormat format) {
    return readCommentFromMemory(bytes(file), file.size(), format);
}

struct Rewritten {
    CommentRewrite result;
    std::string out;
    int32_t count = 99;
};
Rewritten rewrite(const std::string& file, ImageFormat format, const std::string& text) {
    Rewritten r;
    r.result = rewriteCommentInMemory(bytes(file), file.size(), format, text.c_str(), text.size(), r.out, r.count);
    return r;
}

std::wstring scratch(const wchar_t* name) { return std::wstring(L"comment_test_") + name; }

}  // namespace

TEST(CommentRewrite, LineEndsGoOutAsLfAndComeBackAsCrLf) {
    const std::wstring source = scratch(L"src.jpg"), target = scratch(L"out.jpg");
    const std::string file = jpeg(app0() + dqt());
    ASSERT_TRUE(writeWholeFile(source.c_str(), file.data(), file.size()));
    int32_t count = 99, code = -1;
    ASSERT_EQ(rewriteWithComment(source.c_str(), target.c_str(), FormatJpeg, "a\r\nb", 4, count, &code), CommentRewrite::Written);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(code, 0);
    std::string written;
    ASSERT_TRUE(readWholeFile(target.c_str(), written));
    EXPECT_EQ(written, jpeg(app0() + com("a\nb") + dqt()));
    EXPECT_EQ(readComment(target.c_str(), FormatJpeg), "a\r\nb");

    // PNG goes the same way, and its chunk carries a valid CRC.
    const std::string pngFile = png(text("Title", "t"));
    ASSERT_TRUE(writeWholeFile(source.c_str(), pngFile.data(), pngFile.size()));
    ASSERT_EQ(rewriteWithComment(source.c_str(), target.c_str(), FormatPng, "a\r\nb", 4, count), CommentRewrite::Written);
    ASSERT_TRUE(readWholeFile(target.c_str(), written));
    EXPECT_EQ(written, png(text("Title", "t"), text("Comment", "a\nb")));
    EXPECT_EQ(readComment(target.c_str(), FormatPng), "a\r\nb");

    // Removing a comment that is not there writes nothing at all.
    deleteFileAt(target.c_str());
    EXPECT_EQ(rewriteWithComment(source.c_str(), target.c_str(), FormatPng, "", 0, count), CommentRewrite::NoChange);
    EXPECT_FALSE(pathExists(target.c_str()));
    // A source that cannot be walked fails with code 5 and leaves no file behind.
    ASSERT_TRUE(writeWholeFile(source.c_str(), "not an image", 12));
    EXPECT_EQ(rewriteWithComment(source.c_str(), target.c_str(), FormatJpeg, "x", 1, count, &code), CommentRewrite::Failed);
    EXPECT_EQ(code, 5);
    EXPECT_FALSE(pathExists(target.c_str()));
    EXPECT_EQ(rewriteWithComment(scratch(L"missing.jpg").c_str(), target.c_str(), FormatJpeg, "x", 1, count, &code),
              CommentRewrite::Failed);
    deleteFileAt(source.c_str());
}

TEST(CommentRewrite, JpegRangeAndInsertionPoint) {
    // COM before APP0: replaced where it stands.
    Rewritten r = rewrite(jpeg(com("old") + app0() + com("second")), FormatJpeg, "new");
    ASSERT_EQ(r.result, CommentRewrite::Written);
    EXPECT_EQ(r.count, 0);
    EXPECT_EQ(r.out, jpeg(com("new") + app0() + com("second")));
    // No COM: right after the last APP0/APP1 met before SOS.
    r = rewrite(jpeg(app0() + dqt() + segment(0xE1, "xmp") + dqt()), FormatJpeg, "c");
    EXPECT_EQ(r.out, jpeg(app0() + dqt() + segment(0xE1, "xmp") + com("c") + dqt()));
    EXPECT_EQ(r.count, 1);
    // Removal takes the fill bytes before the COM with it, so what follows still parses.
    r = rewrite(jpeg(app0() + "\xFF\xFF" + com("gone") + "junk" + dqt()), FormatJpeg, "");
    EXPECT_EQ(r.count, -1);
    EXPECT_EQ(r.out, jpeg(app0() + "junk" + dqt()));
    EXPECT_EQ(rewrite(jpeg(app0()), FormatJpeg, "").result, CommentRewrite::NoChange);
    // Neither COM nor APP0/APP1: there is no place for a comment.
    EXPECT_EQ(rewrite(jpeg(dqt()), FormatJpeg, "x").result, CommentRewrite::Failed);
    // At most 10000 bytes of text are stored, CR removed.
    r = rewrite(jpeg(app0()), FormatJpeg, std::string(10005, 'z'));
    EXPECT_EQ(r.out, jpeg(app0() + com(std::string(10000, 'z'))));
}

TEST(CommentRewrite, PngRangeAndInsertionPoint) {
    // The first qualifying "Comment" chunk is replaced; damaged or differently named ones are not.
    std::string damaged = text("Comment", "bad crc");
    damaged.back() ^= 1;
    const std::string before = text("comment", "lower") + damaged;
    Rewritten r = rewrite(png(before + text("Comment", "old") + text("Comment", "2nd")), FormatPng, "new");
    EXPECT_EQ(r.count, 0);
    EXPECT_EQ(r.out, png(before + text("Comment", "new") + text("Comment", "2nd")));
    EXPECT_EQ(readMem(r.out, FormatPng), "new");

    r = rewrite(png(before), FormatPng, "added");
    EXPECT_EQ(r.count, 1);
    EXPECT_EQ(r.out, png(before, text("Comment", "added")));
    r = rewrite(png(text("Comment", "old")), FormatPng, "");
    EXPECT_EQ(r.count, -1);
    EXPECT_EQ(r.out, png(""));
    EXPECT_EQ(rewrite(png(before).substr(0, 60), FormatPng, "x").result, CommentRewrite::Failed);
}

TEST(CommentRead, TextTreatment) {
    // Lone LF becomes CR LF, CR LF stays, ESC is dropped, a 0 ends the text.
    EXPECT_EQ(readMem(jpeg(com("a\nb\r\nc\x1B\nd") + app0()), FormatJpeg), "a\r\nb\r\nc\r\nd");
    EXPECT_EQ(readMem(jpeg(com(std::string("ab\0cd", 5))), FormatJpeg), "ab");
    // A COM with length field 0 is passed over; the next one is read.
    EXPECT_EQ(readMem(jpeg(std::string("\xFF\xFE\0\0", 4) + com("real")), FormatJpeg), "real");
    EXPECT_EQ(readMem(jpeg(app0()) + com("after scan"), FormatJpeg), "");
    EXPECT_EQ(readMem(png(text("Title", "x")), FormatPng), "");

    // 9999 bytes at most, and a CR LF pair is never split at the limit.
    EXPECT_EQ(readMem(jpeg(com(std::string(12000, 'q'))), FormatJpeg).size(), 9999u);
    const std::string edge = readMem(jpeg(com(std::string(9998, 'q') + "\nrest")), FormatJpeg);
    EXPECT_EQ(edge, std::string(9998, 'q'));
}

TEST(CommentRead, TruncatedFilesAreReadSafely) {
    const std::string jpg = jpeg(app0() + com("comment\ntext") + dqt());
    const std::string pngFile = png(text("Comment", "comment\ntext"));
    for (size_t n = 0; n <= pngFile.size(); ++n) {
        for (const auto& [file, format] : {std::pair{&jpg, FormatJpeg}, std::pair{&pngFile, FormatPng}}) {
            if (n > file->size()) continue;
            std::vector<uint8_t> copy(file->begin(), file->begin() + n);
            const std::string text = readCommentFromMemory(copy.data(), copy.size(), format);
            EXPECT_TRUE(text.empty() || text == "comment\r\ntext");
            std::string out;
            int32_t count;
            rewriteCommentInMemory(copy.data(), copy.size(), format, "x", 1, out, count);
        }
    }
}
