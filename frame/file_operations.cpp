// Deleting the selection to the recycle bin, renaming a file or a folder and creating a folder.
// The shell reports its own errors; item lists change only after the shell succeeded.
#include "frame/file_operations.h"

#include <shellapi.h>

#include <cwchar>
#include <string>
#include <vector>

#include "base/command_ids.h"
#include "base/win_state.h"
#include "base/messages.h"
#include "base/platform.h"
#include "base/text_utils.h"
#include "frame/command_lines.h"
#include "tree/tree_access.h"

namespace {

constexpr int kNameDialogId = 2000;
constexpr int kNameFieldId = 2020;
// A path of this many characters or more is not renamed: the shell's buffers and the pane's
// item names hold 260 characters with the terminator.
constexpr size_t kLongestPath = 259;

bool paneBusy(int pane) { return g_paneBusy[pane].load() != PaneIdle; }

// The same folder shown by both panes (without case, as the file system compares).
bool sameFolder(const std::wstring& a, const std::wstring& b) {
    return !a.empty() && !b.empty() && samePath(a.c_str(), b.c_str());
}

bool validZeroList(const std::wstring& list) {
    const size_t n = list.size();
    return n > 1 && list[n - 1] == L'\0' && list[n - 2] == L'\0';
}

bool shellDelete(HWND owner, const std::wstring& list, FILEOP_FLAGS flags) {
    if (!validZeroList(list)) return false;
    SHFILEOPSTRUCTW op = {};
    op.hwnd = owner;
    op.wFunc = FO_DELETE;
    op.pFrom = list.c_str();
    op.fFlags = flags;
    ModalScope modal;
    const int result = SHFileOperationW(&op);
    return result == 0 && !op.fAnyOperationsAborted;
}

bool shellRename(HWND owner, const std::wstring& oldPath, const std::wstring& newPath, const wchar_t* title) {
    std::wstring from = oldPath, to = newPath;
    from.push_back(L'\0');  // each list ends in two zeros (c_str() adds the second)
    to.push_back(L'\0');
    SHFILEOPSTRUCTW op = {};
    op.hwnd = owner;
    op.wFunc = FO_RENAME;
    op.pFrom = from.c_str();
    op.pTo = to.c_str();
    op.fFlags = 0;
    op.lpszProgressTitle = title;
    ModalScope modal;
    const int result = SHFileOperationW(&op);
    // Item names follow only a rename that is really on the disk.
    return result == 0 && !op.fAnyOperationsAborted && pathExists(newPath.c_str());
}

// A typed name is one path component: a separator would reach another folder.
bool hasSeparator(const std::wstring& name) { return name.find_first_of(L"\\/") != std::wstring::npos; }

struct NameDialogState {
    int command = 0;
    int pane = 0;
    std::wstring folder;     // the pane's folder (file), the parent (folder rename), the target (new folder)
    std::wstring oldName;    // the file or folder's present name
    std::wstring extension;  // rename file: the extension with its dot, kept aside
    std::wstring initial;    // the field's first text
    const wchar_t* caption = L"";
};

std::wstring fieldText(HWND dialog) {
    HWND field = GetDlgItem(dialog, kNameFieldId);
    const int length = GetWindowTextLengthW(field);
    std::wstring text(size_t(length) + 1, L'\0');
    const int got = GetWindowTextW(field, text.data(), length + 1);
    text.resize(size_t(got > 0 ? got : 0));
    return text;
}

// What OK did: the dialog closes, or it stays open for the user to correct the name.
enum class NameOutcome { Close, KeepOpen };

constexpr wchar_t kFileExists[] = L"同じ名前のファイルがあります。別の名前を入力してください。";
constexpr wchar_t kFolderExists[] = L"同じ名前のフォルダがあります。別の名前を入力してください。";

// A new name that some other file or folder already has (a change of letter case only is
// the same file and is allowed). Some shells replace, others refuse without a word: the
// user is told here instead, on every system.
bool nameTaken(const std::wstring& oldPath, const std::wstring& newPath) {
    return !samePath(oldPath.c_str(), newPath.c_str()) && pathExists(newPath.c_str());
}

void tellUser(HWND dialog, const wchar_t* text) {
    ModalScope modal;
    showErrorBox(dialog, text);
}

NameOutcome renameFileNow(HWND dialog, const NameDialogState& s, const std::wstring& typed) {
    const int other = 1 - s.pane;
    const std::wstring otherFolder = paneFolder(other);
    // The pane may have started a load since the dialog opened.
    if (paneBusy(s.pane) || (paneBusy(other) && sameFolder(s.folder, otherFolder))) return NameOutcome::Close;
    if (typed.empty()) {
        MessageBeep(MB_ICONWARNING);
        return NameOutcome::KeepOpen;
    }
    if (hasSeparator(typed)) return NameOutcome::Close;
    const std::wstring newName = typed + s.extension;
    const std::wstring oldPath = joinFolderAndName(s.folder, s.oldName.c_str());
    const std::wstring newPath = joinFolderAndName(s.folder, newName.c_str());
    if (oldPath.size() >= kLongestPath || newPath.size() >= kLongestPath) return NameOutcome::Close;
    if (nameTaken(oldPath, newPath)) {
        tellUser(dialog, kFileExists);
        return NameOutcome::KeepOpen;
    }
    if (!shellRename(g_mainWindow, oldPath, newPath, L"ファイル名変更")) return NameOutcome::Close;
    // A pane that does not take the new name is listed again rather than left showing a file
    // that is no longer there.
    if (!paneRenameItems(s.pane, s.oldName.c_str(), newName.c_str())) paneRefresh(s.pane, false);
    if (sameFolder(s.folder, otherFolder) && !paneRenameItems(other, s.oldName.c_str(), newName.c_str()))
        paneRefresh(other, false);
    return NameOutcome::Close;
}

NameOutcome renameFolderNow(HWND dialog, const NameDialogState& s, const std::wstring& typed) {
    if (typed.empty()) {
        MessageBeep(MB_ICONWARNING);
        return NameOutcome::KeepOpen;
    }
    if (hasSeparator(typed)) return NameOutcome::Close;
    const std::wstring oldPath = joinFolderAndName(s.folder, s.oldName.c_str());
    const std::wstring newPath = joinFolderAndName(s.folder, typed.c_str());
    if (oldPath.size() >= kLongestPath || newPath.size() >= kLongestPath) return NameOutcome::Close;
    if (nameTaken(oldPath, newPath)) {
        tellUser(dialog, kFolderExists);
        return NameOutcome::KeepOpen;
    }
    if (!shellRename(dialog, oldPath, newPath, L"フォルダ名変更")) return NameOutcome::Close;
    treeAfterRename(oldPath.c_str(), newPath.c_str());
    return NameOutcome::Close;
}

// A name that cannot be made (empty, a separator, a name in use, an invalid character) is
// reported and the dialog stays open with the text, for the user to correct it.
NameOutcome createFolderNow(HWND dialog, const NameDialogState& s, const std::wstring& typed) {
    const std::wstring path = joinFolderAndName(s.folder, typed.c_str());
    bool made;
    {
        ModalScope modal;
        made = !typed.empty() && !hasSeparator(typed) && CreateDirectoryW(path.c_str(), nullptr);
    }
    if (!made) {
        ModalScope modal;
        showMessage(dialog, MsgFolderCreateFailed);
        return NameOutcome::KeepOpen;
    }
    treeAfterNewFolder(s.folder.c_str());
    return NameOutcome::Close;
}

INT_PTR CALLBACK nameDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: {
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        const auto* s = reinterpret_cast<const NameDialogState*>(lParam);
        SetWindowTextW(dialog, s->caption);
        SetDlgItemTextW(dialog, kNameFieldId, s->initial.c_str());
        HWND field = GetDlgItem(dialog, kNameFieldId);
        SendMessageW(field, EM_SETSEL, 0, -1);
        SetFocus(field);
        return FALSE;  // the focus is set
    }
    case WM_COMMAND: {
        const auto* s = reinterpret_cast<const NameDialogState*>(GetWindowLongPtrW(dialog, DWLP_USER));
        if (!s) return FALSE;
        if (LOWORD(wParam) == IDOK) {
            const std::wstring typed = fieldText(dialog);
            NameOutcome outcome;
            if (s->command == cmd::Rename) outcome = renameFileNow(dialog, *s, typed);
            else if (s->command == cmd::TreeRenameFolder) outcome = renameFolderNow(dialog, *s, typed);
            else outcome = createFolderNow(dialog, *s, typed);
            if (outcome == NameOutcome::KeepOpen) {
                HWND field = GetDlgItem(dialog, kNameFieldId);
                SetFocus(field);
                SendMessageW(field, EM_SETSEL, 0, -1);
                return TRUE;
            }
            EndDialog(dialog, 1);
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, 2);
            return TRUE;
        }
        return FALSE;
    }
    default: return FALSE;
    }
}

// Rename file: exactly one selected item of an idle pane whose folder the other pane does
// not load at the same time.
bool prepareFileRename(int pane, NameDialogState& s) {
    const int other = 1 - pane;
    if (paneBusy(pane)) return false;
    PaneSelection selection;
    if (!queryPaneSelection(pane, selection) || selection.selected.size() != 1 || selection.folder.empty())
        return false;
    if (paneBusy(other) && sameFolder(selection.folder, paneFolder(other))) return false;
    s.folder = selection.folder;
    s.oldName = selection.selected.front().item.name;
    if (s.oldName.empty()) return false;
    const size_t dot = s.oldName.rfind(L'.');
    s.initial = dot == std::wstring::npos ? s.oldName : s.oldName.substr(0, dot);
    s.extension = dot == std::wstring::npos ? std::wstring() : s.oldName.substr(dot);
    s.caption = L"ファイル名変更";
    return true;
}

bool prepareFolderRename(const wchar_t* folder, NameDialogState& s) {
    if (!folder || !*folder) return false;
    std::wstring path = folder;
    while (path.size() > 1 && path.back() == L'\\') path.pop_back();
    const size_t slash = path.rfind(L'\\');
    if (slash == std::wstring::npos || slash + 1 >= path.size()) return false;
    s.folder = path.substr(0, slash);
    if (s.folder.size() == 2 && s.folder[1] == L':') s.folder += L'\\';  // a folder of a drive's root
    s.oldName = path.substr(slash + 1);
    s.initial = s.oldName;
    s.caption = L"フォルダ名変更";
    return true;
}

}  // namespace

INT_PTR runNameDialog(HWND owner, int command, int pane, const wchar_t* folder) {
    NameDialogState s;
    s.command = command;
    s.pane = pane == 1 ? 1 : 0;
    switch (command) {
    case cmd::Rename:
        if (!prepareFileRename(s.pane, s)) return 0;
        break;
    case cmd::TreeRenameFolder:
        if (!prepareFolderRename(folder, s)) return 0;
        break;
    case cmd::TreeNewFolder:
        if (!folder || !*folder) return 0;
        s.folder = folder;
        s.caption = L"フォルダ新規作成";
        break;
    default: return 0;
    }
    ModalScope modal;
    const INT_PTR result = DialogBoxParamW(g_instance ? g_instance : GetModuleHandleW(nullptr),
                                           MAKEINTRESOURCEW(kNameDialogId), owner, nameDialogProc,
                                           reinterpret_cast<LPARAM>(&s));
    return result == 1 || result == 2 ? result : 0;
}

bool recycleList(HWND owner, const std::wstring& zeroList) {
    // A file that cannot go to the recycle bin (a network share, some removable drives) would
    // be destroyed: the shell asks about it first, whether or not deletes are confirmed.
    FILEOP_FLAGS flags = FOF_ALLOWUNDO | FOF_WANTNUKEWARNING;
    if (g_settings.noRecycleConfirm) flags |= FOF_NOCONFIRMATION;
    return shellDelete(owner, zeroList, flags);
}

bool recycleListSilently(const std::wstring& zeroList) {
    return shellDelete(g_mainWindow, zeroList, FOF_ALLOWUNDO | FOF_NOCONFIRMATION | FOF_SILENT | FOF_NOERRORUI);
}

// ---------------------------------------------------------------- copy and move

namespace {

constexpr int kCollisionDialogId = 2400;
constexpr int kCollisionTextId = 2410;
constexpr int kCollisionOverwriteId = 2411;
constexpr int kCollisionSkipId = 2412;

enum class Collision { Overwrite, Skip, Cancel };

struct CollisionQuestion {
    std::wstring text;
};

INT_PTR CALLBACK collisionDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        SetDlgItemTextW(dialog, kCollisionTextId, reinterpret_cast<const CollisionQuestion*>(lParam)->text.c_str());
        // Enter keeps the files: the focus starts on スキップ, not on the first button.
        SetFocus(GetDlgItem(dialog, kCollisionSkipId));
        return FALSE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case kCollisionOverwriteId: EndDialog(dialog, kCollisionOverwriteId); return TRUE;
        case kCollisionSkipId: EndDialog(dialog, kCollisionSkipId); return TRUE;
        case IDCANCEL: EndDialog(dialog, IDCANCEL); return TRUE;
        default: return FALSE;
        }
    default: return FALSE;
    }
}

// One question for all the names the target folder already holds. A dialog that cannot
// open is a cancel: nothing is replaced unasked.
Collision askAboutCollisions(HWND owner, bool move, const std::vector<std::wstring>& names) {
    CollisionQuestion q;
    q.text = std::wstring(move ? L"移動先" : L"コピー先") + L"のフォルダには同じ名前のファイルが " +
             std::to_wstring(names.size()) + L" 個あります (" + names.front() + (names.size() > 1 ? L" など" : L"") +
             L")。\r\n上書きすると置き換えられます。スキップすると、それらのファイルは" +
             (move ? L"移動しません。" : L"コピーしません。");
    INT_PTR answer;
    {
        ModalScope modal;
        answer = DialogBoxParamW(g_instance ? g_instance : GetModuleHandleW(nullptr),
                                 MAKEINTRESOURCEW(kCollisionDialogId), owner, collisionDialogProc,
                                 reinterpret_cast<LPARAM>(&q));
    }
    if (answer == kCollisionOverwriteId) return Collision::Overwrite;
    if (answer == kCollisionSkipId) return Collision::Skip;
    return Collision::Cancel;
}

}  // namespace

bool copyOrMoveSelection(HWND owner, int dragMode, int source, const wchar_t* target) {
    if ((dragMode != 1 && dragMode != 2) || (source != 0 && source != 1) || !target || !target[0]) return false;
    if (std::wcslen(target) >= size_t(kPathCapacity)) return false;
    PaneSelection selection;
    if (!queryPaneSelection(source, selection) || selection.selected.empty() || selection.folder.empty()) return false;
    if (sameFolder(selection.folder, target)) return false;
    const bool move = dragMode == 1;

    // The destination is checked here rather than left to the shell: shells differ, and one
    // that replaces without asking would lose the user's files.
    std::vector<std::wstring> taken;
    std::vector<const PaneItemCopy*> chosen;
    for (const PaneItemCopy& c : selection.selected) {
        if (pathExists(joinFolderAndName(target, c.item.name).c_str())) taken.push_back(c.item.name);
    }
    FILEOP_FLAGS flags = 0;
    bool skipTaken = false;
    if (!taken.empty()) {
        switch (askAboutCollisions(owner, move, taken)) {
        case Collision::Cancel: return false;
        case Collision::Skip: skipTaken = true; break;
        case Collision::Overwrite: flags |= FOF_NOCONFIRMATION; break;  // asked already, once
        }
    }
    for (const PaneItemCopy& c : selection.selected)
        if (!skipTaken || !pathExists(joinFolderAndName(target, c.item.name).c_str())) chosen.push_back(&c);
    if (chosen.empty()) return false;

    // A move names each file's destination: some shells refuse to move several files into
    // one folder named once (they report a cancel), while one destination per file moves
    // them everywhere. A copy names the folder once.
    std::wstring from, to;
    for (const PaneItemCopy* c : chosen) {
        from += joinFolderAndName(selection.folder, c->item.name);
        from.push_back(L'\0');
        if (move) {
            to += joinFolderAndName(target, c->item.name);
            to.push_back(L'\0');
        }
    }
    if (!move) {
        to.assign(target);
        to.push_back(L'\0');
    }
    SHFILEOPSTRUCTW op{};
    op.hwnd = owner;
    op.wFunc = move ? FO_MOVE : FO_COPY;
    op.pFrom = from.c_str();  // each list ends in two zeros: c_str() adds the second
    op.pTo = to.c_str();
    op.fFlags = flags | (move ? FOF_MULTIDESTFILES : 0);
    op.lpszProgressTitle = move ? L"移動" : L"コピー";
    int result;
    {
        ModalScope modal;
        result = SHFileOperationW(&op);
    }
    const bool ok = result == 0 && !op.fAnyOperationsAborted;

    // The panes list what is on the disk, whatever the shell reported: a move that stopped
    // part-way, was cancelled or left a file behind (one held open) has still moved others.
    const int other = 1 - source;
    if (move) {
        bool allGone = true;
        for (const PaneItemCopy& c : selection.selected)
            allGone = allGone && !pathExists(joinFolderAndName(selection.folder, c.item.name).c_str());
        if (allGone) paneRemoveSelected(source);
        else paneRefresh(source, false);
    }
    const std::wstring otherFolder = paneFolder(other);
    if (sameFolder(otherFolder, target) || (move && sameFolder(otherFolder, selection.folder)))
        paneRefresh(other, false);
    return ok;
}

// ---------------------------------------------------------------- the commands

void deleteSelectedFiles(HWND owner) {
    const int pane = activePane(), other = 1 - pane;
    if (paneBusy(pane)) return;
    PaneSelection selection;
    if (!queryPaneSelection(pane, selection) || selection.selected.empty() || selection.folder.empty()) return;
    const bool same = sameFolder(selection.folder, paneFolder(other));
    if (paneBusy(other) && same) return;
    if (!recycleList(owner, selectionZeroList(selection))) {
        // A delete that stopped part-way (a file in use, the user's "No" to one of several)
        // has still removed files: the panes would go on showing them. List the folder again.
        bool someGone = false;
        for (const PaneItemCopy& copy : selection.selected)
            someGone = someGone || !pathExists(joinFolderAndName(selection.folder, copy.item.name).c_str());
        if (!someGone) return;
        paneRefresh(pane, false);
        if (same && !paneBusy(other)) paneRefresh(other, false);
        return;
    }
    paneRemoveSelected(pane);
    if (same && !paneBusy(other)) paneRefresh(other, false);
}

void renameSelectedFile(HWND owner) { runNameDialog(owner, cmd::Rename, activePane(), nullptr); }
