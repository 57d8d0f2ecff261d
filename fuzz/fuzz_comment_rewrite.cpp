// Rewrite with comment over arbitrary files and texts. Input: one byte choosing the format
// (low bit: PNG) and the text length, the text, then the file. A written result must hold
// the source bytes around the new block, and reading its comment back must give the text
// as the reader presents it (CR removed on writing, CR LF on reading, ESC dropped, limits).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "image/image_comment.h"

namespace {

std::string expectedReadBack(const std::string& text) {
    std::string stored;
    for (size_t i = 0; i < text.size() && i < kCommentWriteMax && text[i] != 0; ++i)
        if (text[i] != '\r') stored += text[i];
    std::string shown;
    for (char c : stored) {
        if (c == 0x1B) continue;
        if (c == '\n' && (shown.empty() || shown.back() != '\r')) {
            if (shown.size() + 2 > kCommentReadMax) break;
            shown += "\r\n";
            continue;
        }
        if (shown.size() + 1 > kCommentReadMax) break;
        shown += c;
    }
    return shown;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const ImageFormat format = (data[0] & 1) ? FormatPng : FormatJpeg;
    // Text lengths 0..127 from the first byte, longer ones (to reach the limits) from a repeat.
    size_t textLength = data[0] >> 1;
    if (textLength > size - 1) textLength = size - 1;
    std::string text(reinterpret_cast<const char*>(data + 1), textLength);
    if (data[1] == 0xEE && !text.empty()) {
        const std::string unit = text;
        while (text.size() < kCommentWriteMax + 50) text += unit;
    }
    const uint8_t* file = data + 1 + textLength;
    const size_t fileSize = size - 1 - textLength;

    std::string out;
    int32_t count = 99;
    const CommentRewrite result = rewriteCommentInMemory(file, fileSize, format, text.c_str(), text.size(), out, count);
    const bool hasText = !text.empty() && text[0] != 0;
    if (result == CommentRewrite::NoChange && hasText) std::abort();
    if (result != CommentRewrite::Written) return 0;
    if (count < -1 || count > 1 || (count == -1) == hasText) std::abort();

    CommentPlan plan;
    if (!planCommentRewrite(file, fileSize, format, plan)) std::abort();
    const std::string block = hasText ? commentBlock(format, text.c_str(), text.size()) : std::string();
    const std::string src(reinterpret_cast<const char*>(file), fileSize);
    if (out != src.substr(0, plan.rangeStart) + block + src.substr(plan.rangeEnd)) std::abort();
    if (hasText) {
        const std::string back = readCommentFromMemory(reinterpret_cast<const uint8_t*>(out.data()), out.size(), format);
        if (back != expectedReadBack(text)) std::abort();
    }
    return 0;
}
