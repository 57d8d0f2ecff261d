#include "image/image_comment.h"

#include <cstring>

#include "base/platform.h"
#include "image/metadata_walk.h"

namespace {

constexpr uint8_t kEsc = 0x1B;

// The reading side's treatment of stored comment bytes: stop at a 0, drop ESC, CR LF line
// ends, at most kCommentReadMax bytes without splitting a CR LF pair.
std::string commentForDisplay(const uint8_t* bytes, size_t n) {
    std::string text;
    for (size_t i = 0; i < n; ++i) {
        const uint8_t b = bytes[i];
        if (b == 0) break;
        if (b == kEsc) continue;
        if (b == '\n' && (text.empty() || text.back() != '\r')) {
            if (text.size() + 2 > kCommentReadMax) break;
            text += "\r\n";
            continue;
        }
        if (text.size() + 1 > kCommentReadMax) break;
        text += char(b);
    }
    return text;
}

// The new text as it is stored: up to its first 0, at most kCommentWriteMax bytes looked
// at, CR bytes removed (CR LF becomes LF).
std::string storedText(const char* text, size_t size) {
    std::string bytes;
    const size_t n = size < kCommentWriteMax ? size : kCommentWriteMax;
    for (size_t i = 0; i < n && text[i] != 0; ++i)
        if (text[i] != '\r') bytes += text[i];
    return bytes;
}

size_t textLength(const char* text, size_t size) {
    size_t n = 0;
    while (n < size && text[n] != 0) ++n;
    return n;
}

void putBe32(std::string& s, uint32_t v) {
    s += char(v >> 24);
    s += char(v >> 16);
    s += char(v >> 8);
    s += char(v);
}

bool planJpeg(const uint8_t* data, size_t size, CommentPlan& plan) {
    meta::JpegMarkerWalker walker(data, size);
    meta::JpegSegment seg;
    bool haveInsertion = false;
    for (;;) {
        switch (walker.next(seg)) {
        case meta::WalkStep::Error:
            return false;
        case meta::WalkStep::End:
            // Nowhere to put a comment: no COM and no APP0/APP1 segment to follow.
            if (!haveInsertion) return false;
            plan.rangeEnd = plan.rangeStart;
            return true;
        case meta::WalkStep::Segment:
            if (seg.marker == meta::kMarkerCom) {
                plan.rangeStart = seg.start;
                plan.rangeEnd = seg.end;
                return true;
            }
            if (seg.marker == meta::kMarkerApp0 || seg.marker == meta::kMarkerApp1) {
                plan.rangeStart = seg.end;
                haveInsertion = true;
            }
            break;
        }
    }
}

bool planPng(const uint8_t* data, size_t size, CommentPlan& plan) {
    meta::PngChunkWalker walker(data, size);
    meta::PngChunk chunk;
    for (;;) {
        switch (walker.next(chunk)) {
        case meta::WalkStep::Error:
            return false;
        case meta::WalkStep::End:
            plan.rangeStart = plan.rangeEnd = walker.iendStart();
            return true;
        case meta::WalkStep::Segment: {
            size_t textStart;
            if (meta::pngIsCommentChunk(data, chunk, textStart)) {
                plan.rangeStart = chunk.start;
                plan.rangeEnd = chunk.end;
                return true;
            }
            break;
        }
        }
    }
}

}  // namespace

std::string readCommentFromMemory(const uint8_t* data, size_t size, ImageFormat format) {
    if (format == FormatJpeg) {
        meta::JpegMarkerWalker walker(data, size);
        walker.passZeroLengthComments(true);
        meta::JpegSegment seg;
        while (walker.next(seg) == meta::WalkStep::Segment) {
            if (seg.marker == meta::kMarkerCom && seg.hasLength)
                return commentForDisplay(data + seg.dataStart, seg.end - seg.dataStart);
        }
        return std::string();
    }
    if (format == FormatPng) {
        meta::PngChunkWalker walker(data, size);
        meta::PngChunk chunk;
        while (walker.next(chunk) == meta::WalkStep::Segment) {
            size_t textStart;
            if (meta::pngIsCommentChunk(data, chunk, textStart))
                return commentForDisplay(data + textStart, chunk.dataStart + chunk.length - textStart);
        }
    }
    return std::string();
}

std::string readComment(const wchar_t* path, ImageFormat format) {
    if (format != FormatJpeg && format != FormatPng) return std::string();
    DecoderInput input;
    int32_t code = 0;
    if (mapImageFile(path, input, code) == 0) return std::string();
    std::string text = readCommentFromMemory(input.file.data, input.file.size, format);
    unmapImageFile(input);
    return text;
}

bool planCommentRewrite(const uint8_t* data, size_t size, ImageFormat format, CommentPlan& plan) {
    plan = CommentPlan{};
    if (format == FormatJpeg) return planJpeg(data, size, plan);
    if (format == FormatPng) return planPng(data, size, plan);
    return false;
}

std::string commentBlock(ImageFormat format, const char* text, size_t size) {
    const std::string stored = storedText(text, size);
    std::string block;
    if (format == FormatJpeg) {
        const size_t length = stored.size() + 2;  // at most 10002: fits the 16-bit field
        block += char(0xFF);
        block += char(meta::kMarkerCom);
        block += char(length >> 8);
        block += char(length & 0xFF);
        block += stored;
    } else {
        putBe32(block, uint32_t(8 + stored.size()));
        block += "tEXt";
        block.append("Comment", 8);  // keyword and its terminating 0
        block += stored;
        const auto* typeAndData = reinterpret_cast<const uint8_t*>(block.data()) + 4;
        putBe32(block, crc32Of(typeAndData, block.size() - 4));
    }
    return block;
}

CommentRewrite rewriteCommentInMemory(const uint8_t* data, size_t size, ImageFormat format, const char* text,
                                      size_t textSize, std::string& out, int32_t& count) {
    CommentPlan plan;
    if (!planCommentRewrite(data, size, format, plan)) return CommentRewrite::Failed;
    const bool hasText = textLength(text, textSize) != 0;
    const bool hadComment = plan.rangeEnd != plan.rangeStart;
    if (!hasText && !hadComment) return CommentRewrite::NoChange;
    out.assign(reinterpret_cast<const char*>(data), plan.rangeStart);
    if (hasText) out += commentBlock(format, text, textSize);
    out.append(reinterpret_cast<const char*>(data) + plan.rangeEnd, size - plan.rangeEnd);
    count = hasText ? (hadComment ? 0 : 1) : -1;
    return CommentRewrite::Written;
}

CommentRewrite rewriteWithComment(const wchar_t* source, const wchar_t* target, ImageFormat format, const char* text,
                                  size_t textSize, int32_t& count, int32_t* errorCode) {
    if (errorCode) *errorCode = 0;
    DecoderInput input;
    int32_t mapCode = 0;
    CommentRewrite result = CommentRewrite::Failed;
    CommentPlan plan;
    if (mapImageFile(source, input, mapCode) != 0 && planCommentRewrite(input.file.data, input.file.size, format, plan)) {
        const uint8_t* data = input.file.data;
        const bool hasText = textLength(text, textSize) != 0;
        const bool hadComment = plan.rangeEnd != plan.rangeStart;
        if (!hasText && !hadComment) {
            result = CommentRewrite::NoChange;
        } else {
            // Written straight from the mapping: only the small comment block is built.
            const std::string block = hasText ? commentBlock(format, text, textSize) : std::string();
            BinaryFile out;
            if (out.open(target, BinaryFile::CreateTruncate) && out.write(data, plan.rangeStart) &&
                out.write(block.data(), block.size()) &&
                out.write(data + plan.rangeEnd, input.file.size - plan.rangeEnd)) {
                result = CommentRewrite::Written;
                count = hasText ? (hadComment ? 0 : 1) : -1;
            }
        }
    }
    unmapImageFile(input);
    if (result == CommentRewrite::Failed && errorCode) *errorCode = ErrCreateFile;
    return result;
}
