// The Exif summary as the twelve rows of the Exif view (label, value text) and as the
// clipboard text of that view.
#pragma once

#include <string>

#include "image/ansi_text.h"
#include "image/exif_reader.h"

constexpr int kExifRowCount = 12;
constexpr size_t kExifValueMaxUnits = 64;

// Row labels in display order: メーカー, 機種, シャッター, 絞り値, 露出制御, ISO感度,
// 露出補正, 測光方式, フラッシュ, 焦点距離, 開放Ｆ値, 撮影日時.
extern const wchar_t* const kExifLabels[kExifRowCount];

struct ExifRows {
    std::wstring values[kExifRowCount];  // each at most kExifValueMaxUnits units; empty when not known
};

// Formats the summary. The text fields (make, model, date) are stored in the system code
// page; decode turns those bytes into UTF-16 (the Windows build passes ansiToWide, tools and
// tests may pass their own).
ExifRows formatExif(const ExifSummary& summary, AnsiDecoder decode = bytesAsWide);

// Every row as label, ":", value and a line feed, concatenated.
std::wstring exifClipboardText(const ExifRows& rows);

// Windows only (exif_clipboard_win.cpp): puts text on the clipboard as CF_UNICODETEXT with
// ownerWindow (an HWND) as owner. Returns false, reporting nothing, when the clipboard
// cannot be opened or the memory cannot be had.
bool copyTextToClipboard(void* ownerWindow, const std::wstring& text);
