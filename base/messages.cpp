// The fixed texts of the message table.
#include "base/messages.h"

namespace {

const wchar_t* const kTexts[kMessageCount] = {
    L"メモリ確保に失敗しました。",
    L"データ読み取りに失敗しました。",
    L"フォルダが無効です。",
    L"クリップボードをオープンに失敗しました。",
    L"一時ファイル作成に失敗しました。",
    L"一時ファイル削除に失敗しました。",
    L"ファイル削除に失敗しました。",
    L"ファイル作成に失敗しました。",
    L"ファイル実行に失敗しました。",
    L"ファイル削除に失敗しました。",
    L"キャッシュファイルアクセスに失敗しました。",
    L"キャッシュ情報がありません。",
    L"ごみ箱のファイルです。",
    L"フォルダ作成に失敗しました。",
    L"メモリが足りないため表示できないファイルがあります。",
};

}  // namespace

const wchar_t* messageText(int id) {
    if (id < 0 || id >= kMessageCount) return kMessageCaption;
    return kTexts[id];
}
