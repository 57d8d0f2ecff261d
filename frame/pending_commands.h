// Entry points that the main window calls for work owned by other subsystems (thumbnail panes,
// folder tree, file operations, dialogs). Each one has a do-nothing body in
// pending_commands.cpp until its owner supplies the real one; the owner replaces the body there
// (or deletes it and defines the function in its own file).
#pragma once

#include <windows.h>
#include <cstdint>

#include "thumbs/pane_access.h"

// The cell size of both panes changed (image cell width and height in pixels).
void setPaneCellSize(int cellWidth, int cellHeight);

// Folder tree.
struct TreeMenuState {
    bool canRegister = false, canUnregister = false;
    bool selectionIsFileFolder = false;  // a file-system folder that is no system folder
    bool selectionInBusyPane = false;    // is or contains a folder shown by a busy pane
};
bool queryTreeMenuState(TreeMenuState& out);
void folderTreeCommand(int commandId);          // 5500 .. 5530
void folderTreeSelectActivePaneFolder();        // code 141
void folderTreeDragBegins(bool autoTreeWasOn);  // code 142

// Dialogs and file operations (all run on the main thread; the caller sets the modal flag).
void showFileInfoDialog(HWND owner);
void showCommentDialog(HWND owner);
void showTextDataDialog(HWND owner);
void showFileProperties(HWND owner);
void deleteSelectedFiles(HWND owner);
void renameSelectedFile(HWND owner);
void showWallpaperDialog(HWND owner);
bool showDisplayInfoDialog(HWND owner);  // true when closed with OK
void showOptionsDialog(HWND owner);
bool showAboutBox(HWND owner);           // false when it could not be created
void openSelectionInViewer(HWND owner, const wchar_t* option);  // "/v", "/s", "/f"
void startSlideShow(HWND owner);
void openSelectionWithAssociation(HWND owner);
void runExternalTool(HWND owner, int toolIndex);  // 0 .. 7
void showViewerOptions(HWND owner);
void showProgramHelp(HWND owner);
void showViewerHelp(HWND owner);
void runDoubleClickAction(HWND owner, int pane);  // code 122

// Contents of the folder tree pane (its base window, "Pravel_trbase_class", belongs to the
// frame). Called once after the base window exists, to create the tree control and the
// pane's own controls below it.
void createFolderTreeContents(HWND treePane);
// The base window's size changed: place the controls in the bottom strip of `stripHeight`
// pixels (the tree control above it is sized by the frame).
void layoutFolderTreeContents(HWND treePane, int width, int height, int stripHeight);
// Every other message of the base window (tree notifications, drag and drop, custom draw);
// return true with *result set when handled.
bool folderTreePaneMessage(HWND treePane, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result);
