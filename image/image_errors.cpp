// The messages of the image error codes (ImageError, 1..24), shared by the decoders, the BMP
// writer, the comment writers and the JPEG error reporting. The texts are shown to the user as
// they stand.
#include "image/decoded_image.h"

namespace {

const wchar_t* const kMessages[ImageErrorLast] = {
    L"メモリを確保できません。",                                  // 1
    L"未対応の形式です。",                                        // 2
    L"コメントを編集できません。",                                // 3
    L"ファイルから読み取りに失敗しました。",                      // 4
    L"ファイル作成に失敗しました。",                              // 5
    L"ファイル情報が不適切です。",                                // 6
    L"画像の保存に失敗しました。",                                // 7
    L"PNG形式を識別できません。",                                 // 8
    L"ファイル情報が不適切です。(CRC)",                           // 9
    L"ファイル情報が不適切です。(Length/Chunk)",                  // 10
    L"ファイル情報が不適切です。(Length/IHDR)",                   // 11
    L"ファイル情報が不適切です。(Chunk Type/IHDR)",               // 12
    L"ファイル情報が不適切です。(Width,Height/IHDR)",             // 13
    L"ファイル情報が不適切です。(Color type/IHDR)",               // 14
    L"ファイル情報が不適切です。(Bit depth/IHDR)",                // 15
    L"ファイル情報が不適切です。(Compression method/IHDR)",       // 16
    L"ファイル情報が不適切です。(Filter method/IHDR)",            // 17
    L"ファイル情報が不適切です。(Interlace method/IHDR)",         // 18
    L"ファイル情報が不適切です。(Length/PLTE)",                   // 19
    L"ファイル情報が不適切です。(Order/Chunk)",                   // 20
    L"ファイル情報が不適切です。(Critical chunks)",               // 21
    L"ファイル情報が不適切です。(Length/IDAT)",                   // 22
    L"画像の表示に失敗しました。(zlib)",                          // 23
    L"ファイルへの保存に失敗しました。(zlib)",                    // 24
};

}  // namespace

const wchar_t* imageErrorMessage(int32_t code) {
    if (code < ErrMemory || code > ImageErrorLast) return nullptr;
    return kMessages[code - 1];
}
