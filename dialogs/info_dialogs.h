// The information dialogs about the one selected file of the active pane: file facts,
// comment view and edit, PNG text chunks and Exif shooting data. Main thread only; the caller
// sets the modal flag.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "thumbs/thumbnail_item.h"

// The commands FileInfo, Comment and TextData on the active pane's one selected file.
void showFileInfoDialog(HWND owner);
void showCommentDialog(HWND owner);
void showTextDataDialog(HWND owner);

// "2,000 KB (2,048,000 byte)": kilobytes rounded up, then the exact byte count.
std::wstring fileSizeText(uint32_t bytes);
// "PNG (インターレース)", "JPEG (プログレッシブ)", "BMP" ...; empty for plug-in images.
std::wstring formatNameText(const ThumbnailItem& item);

// Dialog ids and controls, shared with the resource script and the tests.
namespace infodlg {
constexpr int FileInfo = 1600, FileInfoList = 1610;
constexpr int Comment = 1700, CommentEdit = 1710, CommentSave = 1720;
constexpr int PngText = 1800, PngTextList = 1810;
constexpr int Exif = 1900, ExifCopy = 1910, ExifList = 1920;
constexpr int kCommentMaxUnits = 10000;
constexpr int kPngTextRows = 16;
}  // namespace infodlg
