// The message table: the fixed error texts the program shows in a box captioned "Error"
// (error icon, MB_SETFOREGROUND, a single OK button). A pane thread never shows a box
// itself: it posts code 150 with the message id to the main window, which shows it.
#pragma once

#ifdef _WIN32
#include <windows.h>
#endif

enum MessageId : int {
    MsgMemoryFailed = 0,        // "メモリ確保に失敗しました。"
    MsgReadFailed = 1,          // "データ読み取りに失敗しました。"
    MsgInvalidFolder = 2,       // "フォルダが無効です。"
    MsgClipboardFailed = 3,     // "クリップボードをオープンに失敗しました。"
    MsgTempCreateFailed = 4,    // "一時ファイル作成に失敗しました。"
    MsgTempDeleteFailed = 5,    // "一時ファイル削除に失敗しました。"
    MsgDeleteFailed = 6,        // "ファイル削除に失敗しました。"
    MsgCreateFailed = 7,        // "ファイル作成に失敗しました。"
    MsgRunFailed = 8,           // "ファイル実行に失敗しました。"
    MsgDeleteFailed2 = 9,       // same text as 6
    MsgCacheAccessFailed = 10,  // "キャッシュファイルアクセスに失敗しました。"
    MsgNoCacheInfo = 11,        // "キャッシュ情報がありません。"
    MsgRecycleBinFile = 12,     // "ごみ箱のファイルです。"
    MsgFolderCreateFailed = 13, // "フォルダ作成に失敗しました。"
    // A pane could not show some file's thumbnail for lack of memory (told once per folder).
    MsgThumbnailMemory = 14,    // "メモリが足りないため表示できないファイルがあります。"
};
constexpr int kMessageCount = 15;

// The caption of every box of the table, and the text of an id outside 0..14.
inline constexpr const wchar_t* kMessageCaption = L"Error";

// Text of a message id; "Error" for an id outside the table. Never null.
const wchar_t* messageText(int id);

#ifdef _WIN32
// Shows the box of message id with owner as its owner window (may be null) and returns
// when the user closes it. Main thread only; pane threads post code 150 instead.
void showMessage(HWND owner, int id);
// The same box with any text (used for the start-up refusal before the table is in reach).
void showErrorBox(HWND owner, const wchar_t* text);
#endif
