// Saving a comment: the file is rewritten into a temporary file, the original goes to the
// recycle bin, and the temporary file is copied to the original's place. At every step the
// user keeps a whole image: the original in place until it is safely in the recycle bin,
// and the new version in the temporary file until it is safely in place.
#include <windows.h>
#include <shellapi.h>

#include <string>

#include "base/messages.h"
#include "base/platform.h"
#include "image/ansi_text.h"
#include "image/image_comment.h"

const wchar_t kCommentUnmappableText[] =
    L"コメントに、このシステムの文字コードで保存できない文字があります。\r\nその文字を除くか置き換えてから保存してください。";

namespace {

// Sends the file to the recycle bin without confirmation, progress or error display.
// True only when the file is gone from its place afterwards.
bool recycle(const wchar_t* path) {
    std::wstring from(path);
    from.push_back(L'\0');  // the list ends with two zeros
    SHFILEOPSTRUCTW op = {};
    op.wFunc = FO_DELETE;
    op.pFrom = from.c_str();
    op.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_ALLOWUNDO | FOF_NOERRORUI;
    const int result = SHFileOperationW(&op);
    return result == 0 && !op.fAnyOperationsAborted && !pathExists(path);
}

}  // namespace

CommentSaveOutcome saveCommentToFile(const wchar_t* path, ImageFormat format, const wchar_t* text,
                                     CommentSaveHook afterRewrite, void* hookContext) {
    CommentSaveOutcome outcome;
    // Comments are stored in the system code page: a text it cannot hold is refused before
    // anything is written, rather than saved with characters replaced.
    std::string bytes;
    if (!wideToAnsiExact(text, kCommentWriteMax, bytes)) {
        outcome.unmappable = true;
        outcome.message = kCommentUnmappableText;
        return outcome;
    }
    wchar_t folder[MAX_PATH + 1] = {};
    wchar_t temp[MAX_PATH + 1] = {};
    const DWORD folderLength = GetTempPathW(MAX_PATH, folder);
    if (folderLength == 0 || folderLength > MAX_PATH || GetTempFileNameW(folder, L"tmp", 0, temp) == 0) {
        outcome.message = messageText(MsgTempCreateFailed);
        return outcome;
    }

    int32_t count = 0;
    const CommentRewrite rewritten = rewriteWithComment(path, temp, format, bytes.c_str(), bytes.size(), count);
    if (rewritten != CommentRewrite::Written) {
        // The image file was not touched; the temporary file holds nothing of value.
        DeleteFileW(temp);
        if (rewritten == CommentRewrite::Failed) outcome.message = imageErrorMessage(ErrCreateFile);
        return outcome;
    }
    if (afterRewrite) afterRewrite(hookContext, temp);

    if (pathExists(path) && !recycle(path)) {
        // Overwriting a file that did not reach the recycle bin would lose it: stop here.
        DeleteFileW(temp);
        outcome.message = messageText(MsgDeleteFailed);
        return outcome;
    }
    if (!CopyFileW(temp, path, FALSE)) {
        // The original is in the recycle bin; the new version stays in the temporary file.
        outcome.message = std::wstring(messageText(MsgCreateFailed)) + L"\r\n" + temp;
        outcome.keptFile = temp;
        return outcome;
    }
    outcome.changed = true;
    outcome.count = count;
    if (!DeleteFileW(temp)) outcome.message = messageText(MsgTempDeleteFailed);
    return outcome;
}

CommentSaveOutcome saveComment(void* ownerWindow, const wchar_t* path, ImageFormat format, const wchar_t* text) {
    CommentSaveOutcome outcome = saveCommentToFile(path, format, text);
    if (!outcome.message.empty()) showErrorBox(static_cast<HWND>(ownerWindow), outcome.message.c_str());
    return outcome;
}
