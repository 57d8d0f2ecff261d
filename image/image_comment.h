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

// ---- Saving a comment into the image file (Windows only, comment_save_win.cpp).
// The new version is written to a temporary file; the image file goes to the recycle bin
// and the temporary file is copied to its place. The previous file always survives, in
// place or in the recycle bin; when the new version cannot be put in place it is kept in
// the temporary file (its path is then added to the message).
struct CommentSaveOutcome {
    bool changed = false;   // the image file now holds the new comment
    bool unmappable = false;  // refused: the system code page cannot hold some character
    int32_t count = 0;      // with changed: +1 added, 0 replaced, -1 removed
    std::wstring message;   // what to tell the user; empty when all went well or nothing changed
    std::wstring keptFile;  // the temporary file left behind with the new version, or empty
};

// The message of a refused text (some character not in the system code page).
extern const wchar_t kCommentUnmappableText[];

// Test hook: called with the temporary file's path between the rewrite into it and the
// recycling of the image file (a file can vanish or change there). Null in the program.
using CommentSaveHook = void (*)(void* context, const wchar_t* tempPath);

// Saves text (UTF-16, at most 10000 units looked at) as the comment of the JPEG or PNG
// image file at path, without showing anything.
CommentSaveOutcome saveCommentToFile(const wchar_t* path, ImageFormat format, const wchar_t* text,
                                     CommentSaveHook afterRewrite = nullptr, void* hookContext = nullptr);
// The comment view's save: saveCommentToFile, then its message (if any) in the error box
// with ownerWindow (an HWND) as owner. Returns the outcome for the caller's item counters.
CommentSaveOutcome saveComment(void* ownerWindow, const wchar_t* path, ImageFormat format, const wchar_t* text);
