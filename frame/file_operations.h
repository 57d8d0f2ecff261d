// Shell operations on files and folders shared by the commands, the folder tree and the
// metadata writers. Main thread only.
#pragma once

#include <windows.h>

#include <string>

// The commands Delete and Rename on the active pane's selection (the caller sets the modal
// flag around the rename).
void deleteSelectedFiles(HWND owner);
void renameSelectedFile(HWND owner);

// The name dialog (2000) for command cmd::Rename (rename the one selected file of `pane`),
// cmd::TreeNewFolder (new folder inside `folder`) or cmd::TreeRenameFolder (rename `folder`).
// For the folder variants the
// caller has already checked that the folder may be changed. Returns 1 after OK, 2 after
// Cancel and 0 when the dialog refused to open. The folder variants call treeAfterRename /
// treeAfterNewFolder themselves after a success.
INT_PTR runNameDialog(HWND owner, int command, int pane, const wchar_t* folder);

// Copies (dragMode 2) or moves (1) the selected files of pane `source` into folder `target`.
// When the target already holds some of the names, the user is asked once: replace them,
// skip those files, or cancel. Afterwards every pane that shows the source (after a move) or
// the target folder lists what is really there. True when the shell reported success.
bool copyOrMoveSelection(HWND owner, int dragMode, int source, const wchar_t* target);

// Sends a zero-separated list (each path ended by a zero, the list by a second zero) to the
// recycle bin with `owner` as the owner window, asking for confirmation unless "NoRecycMsg"
// is on. True only when the shell succeeded and the user aborted nothing. A list that is not
// longer than one character or does not end in two zeros is refused (false, nothing done).
bool recycleList(HWND owner, const std::wstring& zeroList);
// The same without any question, progress or error window (temporary files of the writers).
bool recycleListSilently(const std::wstring& zeroList);
