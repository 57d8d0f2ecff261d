// The comment of a JPEG file (its first COM segment) or a PNG file (its first tEXt chunk
// with keyword "Comment"): reading it, and writing a copy of the file with the comment
// replaced, added or removed. Comment texts are bytes in the system code page.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "image/decoded_image.h"

constexpr size_t kCommentReadMax = 9999;    // bytes of a comment as read (CR LF line ends)
constexpr size_t kCommentWriteMax = 10000;  // bytes of new text looked at when writing

// The comment as the comment view shows it: ESC bytes dropped, every LF not preceded by CR
// turned into CR LF, at most 9999 bytes (a CR LF pair is never split). Empty when there is
// none or the file cannot be read; format is FormatJpeg or FormatPng (others give empty).
std::string readComment(const wchar_t* path, ImageFormat format);
std::string readCommentFromMemory(const uint8_t* data, size_t size, ImageFormat format);

enum class CommentRewrite {
    Failed,    // nothing usable was written; errorCode 5
    NoChange,  // the text is empty and the file has no comment: no file was written
    Written,   // the target file holds the whole image with the new comment
};

// What a rewrite changes in the file: the replaced byte range (empty at the insertion point
// when the file has no comment).
struct CommentPlan {
    size_t rangeStart = 0;
    size_t rangeEnd = 0;
};

// Finds the comment range of a JPEG (first COM, else just after the last APP0/APP1 before
// it) or a PNG (first qualifying "Comment" chunk, else the start of IEND). False when the
// file's structure cannot be walked that far.
bool planCommentRewrite(const uint8_t* data, size_t size, ImageFormat format, CommentPlan& plan);

// The comment block for text (up to its first 0, at most 10000 bytes, CR bytes removed):
// a COM segment for JPEG, a "tEXt" chunk with keyword "Comment" and its CRC for PNG.
std::string commentBlock(ImageFormat format, const char* text, size_t size);

// Rewrites the file image in memory into out. count receives +1 (a comment was added where
// there was none), 0 (replaced) or -1 (removed); it is left alone for NoChange and Failed.
CommentRewrite rewriteCommentInMemory(const uint8_t* data, size_t size, ImageFormat format, const char* text,
                                      size_t textSize, std::string& out, int32_t& count);

// Rewrite with comment: maps source, writes the result to target (created or truncated).
// source is never written. errorCode (optional) receives 5 on failure, whatever the cause.
CommentRewrite rewriteWithComment(const wchar_t* source, const wchar_t* target, ImageFormat format, const char* text,
                                  size_t textSize, int32_t& count, int32_t* errorCode = nullptr);
