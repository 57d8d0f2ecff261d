// Read comment (JPEG and PNG) over arbitrary bytes; the result must already be in the form
// the comment view expects: no ESC, CR LF line ends, at most 9999 bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "image/image_comment.h"

static void check(const std::string& text) {
    if (text.size() > kCommentReadMax) std::abort();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == 0x1B || text[i] == 0) std::abort();
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) std::abort();
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    check(readCommentFromMemory(data, size, FormatJpeg));
    check(readCommentFromMemory(data, size, FormatPng));
    return 0;
}
