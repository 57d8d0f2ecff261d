// The cache maintenance dialog (1500, "キャッシュ情報"): lists every folder of the thumbnail
// cache index with the size of its data file, and deletes the data of the ticked folders.
// Main thread only.
//
// It works on the cache files through the cache module, and every read of the index and
// every deletion runs while it holds the image lock (never across a message box): a pane
// caches only under that lock, so a deletion can never interleave with a pane putting a
// folder's data in place; a pane that lists a deleted folder again simply decodes it and
// registers it anew.
#pragma once

#include <windows.h>

constexpr int kCacheDialogId = 1500;

// Runs the dialog modally; returns 0. When the index cannot be read (missing, unreadable,
// wrong mark, more than 1,000,000 records, no memory) shows "キャッシュファイルアクセスに
// 失敗しました。" and returns without showing the dialog.
INT_PTR runCacheDialog(HWND owner);
// The same dialog without a modal loop (tests): the caller pumps messages; "閉じる"
// destroys it. nullptr (after the message) when the index cannot be read.
HWND createCacheDialog(HWND owner);

// Message boxes of the dialog (message-table ids) go through this pointer; tests record
// them instead. The default shows the message-table box.
extern void (*g_cacheDialogMessage)(HWND owner, int messageId);
