// What the rest of the main thread asks of the folder tree pane. Main thread only.
#pragma once

#include <windows.h>

// What the folder-tree context menu needs to know of the tree's selection.
struct TreeMenuState {
    bool canRegister = false, canUnregister = false;
    bool selectionIsFileFolder = false;  // a file-system folder that may be renamed or deleted
    bool selectionInBusyPane = false;    // is or contains a folder shown by a busy pane
};
bool queryTreeMenuState(TreeMenuState& out);
void folderTreeCommand(int commandId);          // cmd::TreeShowIn1 .. cmd::TreeExplorer
void folderTreeSelectActivePaneFolder();        // code 141
void folderTreeDragBegins(bool autoTreeWasOn);  // code 142

// Contents of the folder tree pane (its base window, "Pravel_trbase_class", belongs to the
// frame). Called once after the base window exists, to create the tree control and the
// pane's own controls below it.
void createFolderTreeContents(HWND treePane);
// The base window's client area is now width x height: sizes the tree control, which leaves
// `stripHeight` pixels of that height to the pane's own controls.
void layoutFolderTreeContents(int width, int height, int stripHeight);
// Every other message of the base window (tree notifications, drag and drop, custom draw);
// return true with *result set when handled.
bool folderTreePaneMessage(HWND treePane, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result);

// Opens a path the way a command-line argument is opened: a shell link is followed, a file is
// cut to its folder, the folder is registered and selected, and so listed in the active pane.
void treeOpenPath(const wchar_t* path);

// Called by the name dialog after it renamed the tree folder `oldPath` to `newPath`.
void treeAfterRename(const wchar_t* oldPath, const wchar_t* newPath);
// Called by the name dialog after it created a folder inside `parentFolder`.
void treeAfterNewFolder(const wchar_t* parentFolder);
